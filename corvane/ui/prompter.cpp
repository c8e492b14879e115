#include "prompter.h"

#include <QDialog>
#include <QMessageBox>

namespace corvane {

void QtPrompter::Warn(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QStringLiteral("Corvane"), text);
}

bool QtPrompter::Ask(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    // A short question makes a box narrower than its title: widen it so the title shows whole.
    const int titleWidth = box.fontMetrics().horizontalAdvance(title) + 120;
    box.setStyleSheet(
        QStringLiteral("QLabel#qt_msgbox_label { min-width: %1px; }").arg(titleWidth));
    return box.exec() == QMessageBox::Yes;
}

int QtPrompter::Run(QDialog& dialog) {
    return dialog.exec();
}

}  // namespace corvane
