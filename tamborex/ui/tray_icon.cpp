#include "tray_icon.h"

CTrayIcon::CTrayIcon(QObject* parent)
    : QObject(parent), available(QSystemTrayIcon::isSystemTrayAvailable()) {
    connect(&icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    emit LeftButtonDown();
                }
            });
}

void CTrayIcon::Add(const QIcon& icon, const QString& tip) {
    icon_.setIcon(icon);
    icon_.setToolTip(tip.left(127));
    icon_.show();
    added_ = true;
}

void CTrayIcon::Remove() {
    icon_.hide();
    added_ = false;
}

void CTrayIcon::SetTip(const QString& tip) {
    icon_.setToolTip(tip.left(127));
}
