#include "sysex_editor.h"

#include <algorithm>

#include "dialog_fit.h"
#include "prompter.h"
#include "tamborex/storage/sysex_text.h"
#include "ui_sysex_editor.h"

CSysExEditor::CSysExEditor(CPatch::SysExTable& messages, CPrompter& prompter, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CSysExEditor>()),
      messages_(messages),
      prompter_(prompter) {
    ui_->setupUi(this);
    FitToScreen(*this);
    QLineEdit* const edits[] = {ui_->sysexEdit0, ui_->sysexEdit1, ui_->sysexEdit2, ui_->sysexEdit3};
    for (int k = 0; k < kSysExCount; ++k) {
        const int length = std::clamp(messages_.lengths[k], 0, kSysExBufferSize);
        edits[k]->setText(QString::fromStdString(FormatSysEx(messages_.buffers[k].data(), length)));
    }
    connect(ui_->okButton, &QPushButton::clicked, this, &CSysExEditor::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

CSysExEditor::~CSysExEditor() = default;

void CSysExEditor::accept() {
    QLineEdit* const edits[] = {ui_->sysexEdit0, ui_->sysexEdit1, ui_->sysexEdit2, ui_->sysexEdit3};
    std::string texts[kSysExCount];
    for (int k = 0; k < kSysExCount; ++k) {
        texts[k] = edits[k]->text().toStdString();
        std::string first;
        std::string second;
        if (!CheckSysEx(texts[k], k + 1, first, second) || SysExTooLong(texts[k], k + 1, first) ||
            SysExUnframed(texts[k], k + 1, first)) {
            for (const std::string& message : {first, second}) {
                if (!message.empty()) {
                    prompter_.Warn(this, QString::fromStdString(message));
                }
            }
            return;  // nothing stored, the texts stay as typed
        }
    }
    for (int k = 0; k < kSysExCount; ++k) {
        messages_.lengths[k] = ParseSysEx(texts[k], messages_.buffers[k].data());
    }
    QDialog::accept();
}
