#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class CAboutDlg;
}

// The About window: modeless, one at a time.
class CAboutDlg final : public QDialog {
    Q_OBJECT

  public:
    explicit CAboutDlg(QWidget* parent);
    ~CAboutDlg() override;

    // Shows the window unless it is showing already (then it is left where it is).
    void Open();
    bool IsOpen() const { return open_; }

    // OK, the close box and Escape all end here.
    void done(int result) override;

  private:
    std::unique_ptr<Ui::CAboutDlg> ui_;
    bool open_ = false;
};
