#include "prompter.h"

#include <QDialog>
#include <QMessageBox>

namespace corvane {

void QtPrompter::Warn(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QStringLiteral("Corvane"), text);
}

bool QtPrompter::Ask(QWidget* parent, const QString& title, const QString& text) {
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

int QtPrompter::Run(QDialog& dialog) {
    return dialog.exec();
}

}  // namespace corvane
