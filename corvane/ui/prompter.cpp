#include "prompter.h"

#include <QDialog>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace corvane {
namespace {
const QString kTitle = QStringLiteral("Corvane");

// Where nobody is left to click a box away, the text still goes somewhere a log keeps it.
void Print(const QString& text) {
    std::fprintf(stderr, "corvane: %s\n", text.toLocal8Bit().constData());
}
}  // namespace

int QtPrompter::Exec(QDialog& dialog) {
    if (ending_) {
        return QDialog::Rejected;
    }
    running_.emplace_back(&dialog);
    const int result = dialog.exec();
    std::erase_if(running_, [&](const QPointer<QDialog>& d) { return d.isNull() || d == &dialog; });
    return result;
}

void QtPrompter::Warn(QWidget* parent, const QString& text) {
    if (ending_) {
        Print(text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, kTitle, text, QMessageBox::Ok, parent);
    Exec(box);
}

void QtPrompter::Tell(QWidget* parent, const QString& text) {
    if (!nothingWaits_) {
        Warn(parent, text);
        return;
    }
    QTimer::singleShot(0, this, [this, text, owner = QPointer<QWidget>(parent)] {
        if (ending_) {
            Print(text);
            return;
        }
        auto* box = new QMessageBox(QMessageBox::Warning, kTitle, text, QMessageBox::Ok, owner);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        told_.emplace_back(box);
        box->show();
    });
}

bool QtPrompter::Ask(QWidget* parent, const QString& title, const QString& text) {
    if (ending_) {
        return false;
    }
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    // A short question makes a box narrower than its title: widen it so the title shows whole.
    const int titleWidth = box.fontMetrics().horizontalAdvance(title) + 120;
    box.setStyleSheet(
        QStringLiteral("QLabel#qt_msgbox_label { min-width: %1px; }").arg(titleWidth));
    return Exec(box) == QMessageBox::Yes;
}

QMessageBox::StandardButton QtPrompter::AskSave(QWidget* parent, const QString& text) {
    if (ending_) {
        return QMessageBox::Discard;
    }
    QMessageBox box(QMessageBox::Warning, kTitle, text,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    box.button(QMessageBox::Save)
        ->setToolTip(
            QStringLiteral("Saves the assignments under the configuration name shown, then exits"));
    box.button(QMessageBox::Discard)
        ->setToolTip(QStringLiteral("Exits without saving the changed assignments"));
    box.button(QMessageBox::Cancel)->setToolTip(QStringLiteral("Goes back to the window"));
    const int answer = Exec(box);
    return answer == QMessageBox::Save || answer == QMessageBox::Discard
               ? static_cast<QMessageBox::StandardButton>(answer)
               : QMessageBox::Cancel;
}

int QtPrompter::Run(QDialog& dialog) {
    return Exec(dialog);
}

void QtPrompter::EndAll(bool forGood) {
    ending_ = ending_ || forGood;
    // Each reject ends its dialog's loop; the loops return one after another as the calls that
    // ran them unwind, every caller taking the Cancel path it already has.
    const auto running = running_;
    for (auto dialog = running.rbegin(); dialog != running.rend(); ++dialog) {
        if (!dialog->isNull()) {
            (*dialog)->reject();
        }
    }
    for (const QPointer<QMessageBox>& box : told_) {
        if (!box.isNull()) {
            box->close();
        }
    }
    told_.clear();
}

}  // namespace corvane
