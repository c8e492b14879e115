#include "about_dlg.h"

#include <QLayout>

#include "ui_about_dlg.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CAboutDlg>()) {
    ui_->setupUi(this);
    // The version is the build's; the rest of the first lines stay as the form has them.
    QStringList lines = ui_->versionText->text().split('\n');
    lines[0] = QStringLiteral("Tamborex II " TBX_VERSION);
    ui_->versionText->setText(lines.join('\n'));
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    connect(ui_->okButton, &QPushButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::Open() {
    if (open_) {
        return;
    }
    show();
    open_ = true;
}

void CAboutDlg::done(int result) {
    open_ = false;
    QDialog::done(result);
}
