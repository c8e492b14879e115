#pragma once

#include <QObject>
#include <QSystemTrayIcon>

// The bar's icon in the desktop's notification area. Turns Qt's activation reasons into the one
// event the bar needs, a left click, and knows whether the desktop has such an area at all.
class CTrayIcon final : public QObject {
    Q_OBJECT

  public:
    explicit CTrayIcon(QObject* parent = nullptr);

    // Shows the icon with its tip (at most 127 characters kept).
    void Add(const QIcon& icon, const QString& tip);
    void Remove();
    void SetTip(const QString& tip);
    bool Added() const { return added_; }

    // Whether hiding the bar leaves a way back. Decided once at start; tests may set it.
    bool available;

  signals:
    void LeftButtonDown();

  private:
    QSystemTrayIcon icon_;
    bool added_ = false;
};
