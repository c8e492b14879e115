#include "button_ctrl.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

// The window of a CNotifyCtrl: hands painting and the left button to the control object.
class CCtrlWindow final : public QWidget {
  public:
    CCtrlWindow(CNotifyCtrl& ctrl, QWidget* parent) : QWidget(parent), ctrl_(ctrl) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFocusPolicy(Qt::StrongFocus);
    }

  protected:
    void paintEvent(QPaintEvent*) override { ctrl_.OnPaint(*this); }
    // Qt keeps the mouse grabbed from the press to the release, as a captured window would.
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            setFocus(Qt::MouseFocusReason);
            ctrl_.OnLButtonDown(event->position().toPoint());
        }
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            ctrl_.OnLButtonUp(event->position().toPoint());
        }
    }
    // A quick second click is a second press, not something else.
    void mouseDoubleClickEvent(QMouseEvent* event) override { mousePressEvent(event); }
    // Space, Enter and Return press the control as a click in its corner does.
    void keyPressEvent(QKeyEvent* event) override {
        const int key = event->key();
        if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
            !event->isAutoRepeat()) {
            ctrl_.OnLButtonDown(QPoint(0, 0));
            ctrl_.OnLButtonUp(QPoint(0, 0));
            return;
        }
        QWidget::keyPressEvent(event);
    }
    void focusInEvent(QFocusEvent* event) override {
        QWidget::focusInEvent(event);
        update();
    }
    void focusOutEvent(QFocusEvent* event) override {
        QWidget::focusOutEvent(event);
        update();
    }

  private:
    CNotifyCtrl& ctrl_;
};

CNotifyCtrl::~CNotifyCtrl() {
    DestroyChild();
}

void CNotifyCtrl::CreateChild(const QRect& rect, QWidget* parent, int ctrlId) {
    if (window_) {
        window_->show();
        return;
    }
    window_ = new CCtrlWindow(*this, parent);
    window_->setObjectName(QStringLiteral("ctrl%1").arg(ctrlId));
    window_->setGeometry(rect);
    window_->show();
}

void CNotifyCtrl::DestroyChild() {
    delete window_.data();
}

void CNotifyCtrl::SetListener(CCtrlListener* newListener, int newCtrlIndex, int newValue) {
    listener = newListener;
    ctrlIndex = newCtrlIndex;
    value = newValue;
}

void CNotifyCtrl::Notify(int v) {
    if (listener) {
        listener->OnCtrlNotify(NOTIFY_CLICK, ctrlIndex, v, 0);
    }
}

int CButtonCtrl::instances_ = 0;
QFont* CButtonCtrl::font_ = nullptr;
std::unique_ptr<std::array<ButtonSkin, kButtonSkins>> CButtonCtrl::skins_;

std::array<ButtonSkin, kButtonSkins>& CButtonCtrl::Skins() {
    if (!skins_) {
        skins_ = std::make_unique<std::array<ButtonSkin, kButtonSkins>>();
    }
    return *skins_;
}

// The resources live in a static library, so the linker does not register them by itself.
static void RegisterResources() {
    Q_INIT_RESOURCE(tamborex);
}

QPixmap LoadBitmapResource(int id) {
    static const bool registered = (RegisterResources(), true);
    (void)registered;
    return QPixmap(QStringLiteral(":/bitmaps/%1").arg(id & 0xFFFF));
}

CButtonCtrl::CButtonCtrl() {
    if (instances_ == 0) {
        // 13 pixels high, narrow: fits six-letter captions on a 46-pixel face.
        font_ = new QFont(QStringLiteral("DejaVu Sans"));
        font_->setPixelSize(11);
        font_->setStretch(QFont::SemiCondensed);
        font_->setStyleHint(QFont::SansSerif);
    }
    ++instances_;
}

CButtonCtrl::~CButtonCtrl() {
    DestroyChild();
    if (--instances_ == 0) {
        // The pictures of every skin go with the last button.
        skins_.reset();
        delete font_;
        font_ = nullptr;
    }
}

namespace {

bool LoadBitmapFile(const QString& name, QPixmap& bitmap) {
    if (name.isEmpty()) {
        return false;
    }
    QPixmap loaded;
    if (!loaded.load(name)) {
        return false;
    }
    bitmap = loaded;
    return true;
}

// From the file if it loads, else from the resource.
bool LoadBitmap(const QString& file, int resource, QPixmap& bitmap) {
    if (LoadBitmapFile(file, bitmap)) {
        return true;
    }
    bitmap = LoadBitmapResource(resource);
    return !bitmap.isNull();
}

}  // namespace

bool CButtonCtrl::LoadButtonSkin(const QString& upFile, int upResource, const QString& downFile,
                                 int downResource, int index, QColor textColour) {
    ButtonSkin& entry = Skins()[index & (kButtonSkins - 1)];
    if (entry.loaded) {
        entry.up = QPixmap();
        entry.down = QPixmap();
        entry.loaded = false;
    }
    entry.textColour = textColour;
    entry.upResource = upResource;
    entry.downResource = downResource;
    const bool up = LoadBitmap(upFile, upResource, entry.up);
    const bool down = LoadBitmap(downFile, downResource, entry.down);
    entry.loaded = up && down;
    return entry.loaded;
}

void CButtonCtrl::CreateButton(int x, int y, QWidget* parent, int ctrlId, const QString& text,
                               bool onPress, int skinIndex, bool toggleMode) {
    toggle = toggleMode;
    skin = skinIndex & (kButtonSkins - 1);
    // A skin that failed to load leaves a button of the bar's size, drawn plain.
    const QPixmap& up = Skins()[skin].up;
    const QSize size = up.isNull() ? QSize(46, 20) : up.size();
    caption = text;
    notifyOnPress = onPress;
    CreateChild(QRect(QPoint(x, y), size), parent, ctrlId);
}

void CButtonCtrl::OnPaint(QWidget& window) {
    QPainter painter(&window);
    const ButtonSkin& entry = Skins()[skin];
    const QPixmap& face = pressed ? entry.down : entry.up;
    if (face.isNull()) {
        painter.fillRect(window.rect(), pressed ? QColor(90, 90, 90) : QColor(180, 180, 180));
    } else {
        painter.drawPixmap(0, 0, face, 0, 0, entry.up.width() + 1, entry.up.height() + 1);
    }
    if (font_) {
        painter.setFont(*font_);
    }
    const QFontMetrics metrics = painter.fontMetrics();
    int x = (window.width() - metrics.horizontalAdvance(caption)) / 2;
    int y = (window.height() - metrics.height()) / 2;
    if (pressed) {
        ++x;
        ++y;
    }
    painter.setPen(entry.textColour);
    painter.drawText(x, y + metrics.ascent(), caption);
    if (window.hasFocus()) {
        DrawFocusFrame(painter, window.rect().adjusted(2, 2, -2, -2));
    }
}

void DrawFocusFrame(QPainter& painter, QRect area) {
    painter.setPen(QPen(QColor(0xff, 0xb4, 0x3c), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(area.adjusted(0, 0, -1, -1));
}

void CButtonCtrl::OnLButtonDown(QPoint) {
    if (toggle) {
        pressed = !pressed;
        Notify(pressed ? value + 1 : value);
    } else {
        pressed = true;
        if (notifyOnPress) {
            Notify(value);
        }
    }
    if (Window()) {
        Window()->repaint();
    }
}

void CButtonCtrl::OnLButtonUp(QPoint point) {
    if (toggle || !pressed) {
        return;
    }
    // The mouse stayed grabbed, so the release may lie anywhere; only the click box counts.
    if (!notifyOnPress && point.x() >= 0 && point.x() < kClickWidth && point.y() >= 0 &&
        point.y() < kClickHeight) {
        Notify(value);
    }
    // With notify-on-press the face comes back up on release too, like any key.
    pressed = false;
    if (Window()) {
        Window()->update();
    }
}
