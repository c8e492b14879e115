#include "about_dialog.h"

#include <QPushButton>

#include "ui_about_dialog.h"

namespace corvane {

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::AboutDialog>()) {
    ui_->setupUi(this);
    ui_->versionLabel->setText(QStringLiteral("Corvane Version " TBX_VERSION));
    ui_->iconLabel->setPixmap(QPixmap(QStringLiteral(":/corvane/corvane.png")));
    ui_->buttonBox->button(QDialogButtonBox::Ok)->setToolTip(tr("Closes this window."));
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &AboutDialog::accept);
}

AboutDialog::~AboutDialog() = default;

}  // namespace corvane
