#include "prompter.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

void CQtPrompter::Warn(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QString::fromLatin1(kProgramName), text);
}

bool CQtPrompter::Ask(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kProgramName), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setEscapeButton(QMessageBox::No);  // so that a close request can end the question
    return box.exec() == QMessageBox::Yes;
}

bool CQtPrompter::ChooseFile(QWidget* parent, bool save, std::string_view filter,
                             std::string_view defaultExtension, const std::string& initial,
                             std::string& chosen) {
    // "Name (*.ext) | *.ext": Qt wants only the part before the bar.
    const std::string label(filter.substr(0, filter.find('|')));
    const QString qtFilter = QString::fromStdString(label).trimmed();
    QFileDialog dialog(parent, QString(), QString::fromStdString(initial), qtFilter);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    const std::string_view extension = defaultExtension.substr(defaultExtension.find('.') + 1);
    dialog.setDefaultSuffix(QString::fromStdString(std::string(extension)));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    chosen = dialog.selectedFiles().front().toStdString();
    return true;
}

int CQtPrompter::Run(QDialog& dialog) {
    return dialog.exec();
}
