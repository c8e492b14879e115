#pragma once

#include <QDialog>
#include <memory>

#include "tamborex/model/patch.h"

namespace Ui {
class CSysExEditor;
}
class CPrompter;

// "SysEx Editor": the patch's four system-exclusive messages as hexadecimal text. OK stores all
// four, and only when every one of them is good.
class CSysExEditor final : public QDialog {
    Q_OBJECT

  public:
    CSysExEditor(CPatch::SysExTable& messages, CPrompter& prompter, QWidget* parent);
    ~CSysExEditor() override;

    void accept() override;

  private:
    std::unique_ptr<Ui::CSysExEditor> ui_;
    CPatch::SysExTable& messages_;
    CPrompter& prompter_;
};
