#include "dialog_fit.h"

#include <QDialog>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>

namespace {

// Room left for the title bar and borders a window manager adds around the dialog.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 48;

// Keeps a scrolled body at least as large as it asks to be, so that a small screen scrolls it
// instead of squeezing its lists and labels until their texts are cut.
class BodyMinimum final : public QObject {
  public:
    explicit BodyMinimum(QWidget& body) : QObject(&body), body_(body) {
        setObjectName(QStringLiteral("bodyMinimum"));
        body.installEventFilter(this);
        Update();
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &body_ && event->type() == QEvent::LayoutRequest) {
            Update();
        }
        return false;
    }

  private:
    void Update() {
        const QSize wanted = body_.layout() != nullptr ? body_.layout()->sizeHint() : QSize();
        if (wanted.isValid() && body_.minimumSize() != wanted) {
            body_.setMinimumSize(wanted);
        }
    }

    QWidget& body_;
};

QRect FreeArea(const QWidget& window) {
    const QScreen* screen = window.screen();
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

}  // namespace

QSize WantedSize(QDialog& dialog, QScrollArea* body) {
    dialog.ensurePolished();
    // Lists filled and texts set since the layouts last looked have asked for new sizes in
    // events not handled yet: the layouts measure again now.
    for (QLayout* layout : dialog.findChildren<QLayout*>()) {
        layout->invalidate();
    }
    if (body != nullptr && body->widget() != nullptr && body->widget()->layout() != nullptr) {
        body->widget()->layout()->activate();
    }
    if (dialog.layout() != nullptr) {
        dialog.layout()->activate();
    }
    QSize want = dialog.sizeHint();
    if (body != nullptr && body->widget() != nullptr) {
        // A scroll area asks for no more than a few dozen lines; the dialog asks for the whole
        // body instead.
        const int frame = 2 * body->frameWidth();
        const QSize whole = body->widget()->sizeHint() + QSize(frame, frame);
        const QSize asked = body->sizeHint();
        want += QSize(std::max(0, whole.width() - asked.width()),
                      std::max(0, whole.height() - asked.height()));
    }
    return want;
}

QSize ScreenRoom(const QWidget& window) {
    const QRect free = FreeArea(window);
    if (free.isEmpty()) {
        return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    return QSize(std::max(1, free.width() - kFrameWidth),
                 std::max(1, free.height() - kFrameHeight));
}

void FitToScreen(QDialog& dialog, QScrollArea* body) {
    if (body != nullptr && body->widget() != nullptr &&
        body->widget()->findChild<QObject*>(QStringLiteral("bodyMinimum"),
                                            Qt::FindDirectChildrenOnly) == nullptr) {
        new BodyMinimum(*body->widget());
    }
    QSize want = WantedSize(dialog, body);
    const QSize room = ScreenRoom(dialog);
    if (body != nullptr) {
        // A body cut short grows a scroll bar beside it, which takes room of its own.
        const int bar = dialog.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, body);
        if (want.height() > room.height()) {
            want.rwidth() += bar;
        }
        if (want.width() > room.width()) {
            want.rheight() += bar;
        }
    }
    dialog.resize(
        want.boundedTo(room).expandedTo(dialog.minimumSize()).boundedTo(dialog.maximumSize()));
}

void KeepOnScreen(QWidget& window) {
    // The screen the window's place lies on, with several side by side; a place off every
    // screen comes back onto the window's own.
    const QScreen* screen = QGuiApplication::screenAt(window.frameGeometry().center());
    if (screen == nullptr) {
        screen = QGuiApplication::screenAt(window.frameGeometry().topLeft());
    }
    const QRect free = screen != nullptr ? screen->availableGeometry() : FreeArea(window);
    if (free.isEmpty()) {
        return;
    }
    const QSize size = window.frameGeometry().size();
    const int x =
        std::clamp(window.x(), free.left(), std::max(free.left(), free.right() + 1 - size.width()));
    const int y =
        std::clamp(window.y(), free.top(), std::max(free.top(), free.bottom() + 1 - size.height()));
    if (x != window.x() || y != window.y()) {
        window.move(x, y);
    }
}

void SizeForDigits(QLineEdit& field, int digits) {
    // The field's own size hint is for 17 'x's; keep its margins and frame, change the text.
    const QFontMetrics metrics = field.fontMetrics();
    const int text = metrics.horizontalAdvance(QString(digits + 1, QLatin1Char('0')));
    const int plain = metrics.horizontalAdvance(QLatin1Char('x')) * 17;
    field.setFixedWidth(std::max(text, field.sizeHint().width() - plain + text));
}

void SizeForText(QLineEdit& field) {
    // Around its text a field has its frame, its text margins and two pixels on either side.
    const QMargins margins = field.textMargins();
    const int frame = field.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &field);
    const int needs = field.fontMetrics().horizontalAdvance(field.text()) + margins.left() +
                      margins.right() + 2 * frame + 2 * 2 + 1;
    field.setMinimumWidth(std::max(field.minimumWidth(), needs));
}
