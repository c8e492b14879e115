#pragma once

#include <QColor>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <array>
#include <memory>

inline constexpr int NOTIFY_CLICK = 200;

// Whoever owns a control and wants its notifications.
class CCtrlListener {
  public:
    virtual ~CCtrlListener() = default;
    virtual int OnCtrlNotify(int code, int ctrlIndex, int value, int extra) = 0;
};

// A control object that gets its window later, from CreateChild, and reports to a listener.
class CNotifyCtrl {
  public:
    CNotifyCtrl() = default;
    CNotifyCtrl(const CNotifyCtrl&) = delete;
    CNotifyCtrl& operator=(const CNotifyCtrl&) = delete;
    virtual ~CNotifyCtrl();

    // Creates the control's window as a visible child of parent, unless it has one already.
    virtual void CreateChild(const QRect& rect, QWidget* parent, int ctrlId);
    virtual void DestroyChild();
    void SetListener(CCtrlListener* newListener, int newCtrlIndex, int newValue);

    QWidget* Window() const { return window_; }

    CCtrlListener* listener = nullptr;
    int ctrlIndex = 0;
    int value = 0;

  protected:
    friend class CCtrlWindow;
    void Notify(int v);
    virtual void OnPaint(QWidget&) {}
    virtual void OnLButtonDown(QPoint) {}
    virtual void OnLButtonUp(QPoint) {}

  private:
    QPointer<QWidget> window_;
};

// One pair of button faces with the caption colour.
struct ButtonSkin {
    QPixmap up;
    QPixmap down;
    QColor textColour;
    int upResource = 0;
    int downResource = 0;
    bool loaded = false;
};

inline constexpr int kButtonSkins = 16;

// A push or toggle button painted from a skin, with a centred caption.
class CButtonCtrl final : public CNotifyCtrl {
  public:
    CButtonCtrl();
    ~CButtonCtrl() override;

    // Fills skin entry index from the files, or else from the bitmap resources. True when both
    // faces were obtained.
    static bool LoadButtonSkin(const QString& upFile, int upResource, const QString& downFile,
                               int downResource, int index, QColor textColour);
    static const ButtonSkin& Skin(int index) { return Skins()[index & (kButtonSkins - 1)]; }
    static const QFont* Font() { return font_; }

    void CreateButton(int x, int y, QWidget* parent, int ctrlId, const QString& caption,
                      bool notifyOnPress, int skin, bool toggle);

    bool toggle = false;
    bool pressed = false;
    bool notifyOnPress = false;
    QString caption = QStringLiteral("?");
    int skin = 0;

    // Releases farther than this from the top-left corner do not count as clicks.
    static constexpr int kClickWidth = 60;
    static constexpr int kClickHeight = 20;

  private:
    void OnPaint(QWidget& window) override;
    void OnLButtonDown(QPoint point) override;
    void OnLButtonUp(QPoint point) override;

    static int instances_;
    static QFont* font_;
    // Made at first use, once the application exists: pictures cannot be made before it.
    static std::array<ButtonSkin, kButtonSkins>& Skins();
    static std::unique_ptr<std::array<ButtonSkin, kButtonSkins>> skins_;
};

// The bar's own controls show the keyboard focus as a thin dotted frame in the amber of its
// display.
void DrawFocusFrame(QPainter& painter, QRect area);

// The resource picture of a bitmap identifier, or a null pixmap.
QPixmap LoadBitmapResource(int id);
