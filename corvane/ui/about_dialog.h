#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutDialog;
}

namespace corvane {

class AboutDialog final : public QDialog {
    Q_OBJECT

  public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

  private:
    std::unique_ptr<Ui::AboutDialog> ui_;
};

}  // namespace corvane
