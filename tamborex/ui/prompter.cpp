#include "prompter.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <filesystem>

namespace {

// Qt holds file names as Unicode text and turns them into bytes as UTF-8, so a folder whose name
// is in another encoding cannot be named to the chooser: given as it is, it opened another
// folder with the same file name filled in, and one "Yes" there wrote over that folder's file.
// Such a folder is opened here and shown to the chooser as /proc/self/fd/N, which is the same
// folder; what is chosen inside it is given back under the folder's own name.
class CChooserPath {
  public:
    explicit CChooserPath(const std::string& initial) {
        namespace fs = std::filesystem;
        std::error_code ignored;
        fs::path path = initial.empty() ? fs::current_path(ignored) / "" : fs::path(initial);
        if (path.is_relative()) {
            path = fs::current_path(ignored) / path;
        }
        const bool isFolder = !path.has_filename() || fs::is_directory(path, ignored);
        std::string folder = (isFolder ? path : path.parent_path()).string();
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
        const std::string file = isFolder ? std::string() : path.filename().string();
        QString shownFolder = QFile::decodeName(QByteArray::fromStdString(folder));
        if (!IsText(folder)) {
            folderFd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (folderFd_ < 0) {
                return;  // the chooser's own choice of folder, and no file name filled in
            }
            folder_ = folder;
            alias_ = "/proc/self/fd/" + std::to_string(folderFd_);
            shownFolder = QString::fromStdString(alias_);
        }
        // A file name that cannot be shown is not filled in: the user types one.
        initial_ = shownFolder + "/" +
                   (IsText(file) ? QFile::decodeName(QByteArray::fromStdString(file)) : QString());
    }
    ~CChooserPath() {
        if (folderFd_ >= 0) {
            close(folderFd_);
        }
    }
    CChooserPath(const CChooserPath&) = delete;
    CChooserPath& operator=(const CChooserPath&) = delete;

    QString Initial() const { return initial_; }
    std::string Chosen(const QString& selected) const {
        const std::string path = QFile::encodeName(selected).toStdString();
        if (!alias_.empty() && (path == alias_ || path.starts_with(alias_ + "/"))) {
            return folder_ + path.substr(alias_.size());
        }
        return path;
    }

  private:
    static bool IsText(const std::string& name) {
        const QByteArray bytes = QByteArray::fromStdString(name);
        return QFile::encodeName(QFile::decodeName(bytes)) == bytes;
    }

    int folderFd_ = -1;
    std::string folder_;
    std::string alias_;
    QString initial_;
};

}  // namespace

void CQtPrompter::Warn(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QString::fromLatin1(kProgramName), text);
}

bool CQtPrompter::Ask(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kProgramName), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setEscapeButton(QMessageBox::No);  // so that a close request can end the question
    return box.exec() == QMessageBox::Yes;
}

std::optional<bool> CQtPrompter::AskOrCancel(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kProgramName), text,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
    box.setEscapeButton(QMessageBox::Cancel);
    box.button(QMessageBox::Cancel)->setToolTip(QStringLiteral("Go back; nothing is changed"));
    switch (box.exec()) {
        case QMessageBox::Yes:
            return true;
        case QMessageBox::No:
            return false;
        default:
            return std::nullopt;
    }
}

bool CQtPrompter::ChooseFile(QWidget* parent, bool save, std::string_view filter,
                             std::string_view defaultExtension, const std::string& initial,
                             std::string& chosen) {
    // "Name (*.ext) | *.ext": Qt wants only the part before the bar.
    const std::string label(filter.substr(0, filter.find('|')));
    const QString qtFilter = QString::fromStdString(label).trimmed();
    const CChooserPath path(initial);
    QFileDialog dialog(parent, QString(), path.Initial(), qtFilter);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    const std::string_view extension = defaultExtension.substr(defaultExtension.find('.') + 1);
    dialog.setDefaultSuffix(QString::fromStdString(std::string(extension)));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    chosen = path.Chosen(dialog.selectedFiles().front());
    return true;
}

int CQtPrompter::Run(QDialog& dialog) {
    return dialog.exec();
}
