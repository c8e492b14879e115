#include "window_checks.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QWidget>
#include <set>

namespace {

std::string Text(const QRect& r) {
    return QStringLiteral("%1x%2+%3+%4")
        .arg(r.width())
        .arg(r.height())
        .arg(r.x())
        .arg(r.y())
        .toStdString();
}

std::string Text(const QSize& s) {
    return QStringLiteral("%1x%2").arg(s.width()).arg(s.height()).toStdString();
}

// The body a scroll area moves about: it may stand outside the area's viewport.
bool IsScrolledBody(const QWidget& widget) {
    const QWidget* viewport = widget.parentWidget();
    const auto* area =
        viewport != nullptr ? qobject_cast<const QScrollArea*>(viewport->parentWidget()) : nullptr;
    return area != nullptr && area->widget() == &widget;
}

// Parts Qt makes inside its own widgets (a spin box's field, a list's scroll bars): they belong
// to their owner, which is checked instead.
bool IsPartOfAnother(const QWidget& widget) {
    if (widget.objectName().startsWith(QLatin1String("qt_"))) {
        return true;
    }
    const QWidget* parent = widget.parentWidget();
    return parent != nullptr && (qobject_cast<const QComboBox*>(parent) != nullptr ||
                                 qobject_cast<const QAbstractSpinBox*>(parent) != nullptr);
}

void CheckTextRoom(const QWidget& widget, std::vector<std::string>& faults) {
    const QSize has = widget.size();
    QSize needs;
    if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
        if (label->text().isEmpty() && label->pixmap().isNull()) {
            return;
        }
        if (label->wordWrap() && !label->text().isEmpty()) {
            needs = QSize(0, label->heightForWidth(has.width()));
        } else {
            needs = label->sizeHint();
        }
    } else if (const auto* button = qobject_cast<const QAbstractButton*>(&widget)) {
        if (button->text().isEmpty()) {
            return;
        }
        needs = button->sizeHint();
    } else if (const auto* group = qobject_cast<const QGroupBox*>(&widget)) {
        if (group->title().isEmpty()) {
            return;
        }
        needs = group->minimumSizeHint();
    } else if (const auto* list = qobject_cast<const QComboBox*>(&widget)) {
        if (list->currentText().isEmpty()) {
            return;
        }
        // The field the closed list shows its entry in must hold the entry's whole text.
        QStyleOptionComboBox option;
        option.initFrom(list);
        option.editable = list->isEditable();
        option.currentText = list->currentText();
        const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                          QStyle::SC_ComboBoxEditField, list);
        const int text = list->fontMetrics().horizontalAdvance(list->currentText());
        if (field.width() < text) {
            faults.push_back(Describe(widget) + " shows its entry in " +
                             std::to_string(field.width()) + " pixels; the text needs " +
                             std::to_string(text));
        }
        return;
    } else if (const auto* field = qobject_cast<const QLineEdit*>(&widget)) {
        // A field nobody types into must show what it holds whole.
        if (!field->isReadOnly() || field->text().isEmpty()) {
            return;
        }
        const QMargins margins = field->textMargins();
        const int frame = field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, field);
        const int room = field->width() - margins.left() - margins.right() - 2 * frame - 2 * 2;
        const int text = field->fontMetrics().horizontalAdvance(field->text());
        if (room < text) {
            faults.push_back(Describe(widget) + " shows \"" + field->text().toStdString() +
                             "\" in " + std::to_string(room) + " pixels; it needs " +
                             std::to_string(text));
        }
        return;
    } else {
        return;
    }
    if (has.width() < needs.width() || has.height() < needs.height()) {
        faults.push_back(Describe(widget) + " is " + Text(has) + "; its text needs " + Text(needs));
    }
}

bool TabStop(const QWidget& widget, const QWidget& window) {
    return widget.isVisibleTo(&window) && widget.isEnabled() &&
           (widget.focusPolicy() & Qt::TabFocus) != 0 && widget.focusProxy() == nullptr;
}

}  // namespace

std::string Describe(const QWidget& widget) {
    std::string text = widget.metaObject()->className();
    text += " " + widget.objectName().toStdString();
    QString caption;
    if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
        caption = label->text();
    } else if (const auto* button = qobject_cast<const QAbstractButton*>(&widget)) {
        caption = button->text();
    } else if (const auto* group = qobject_cast<const QGroupBox*>(&widget)) {
        caption = group->title();
    } else if (const auto* list = qobject_cast<const QComboBox*>(&widget)) {
        caption = list->currentText();
    }
    if (!caption.isEmpty()) {
        text += " \"" + caption.toStdString() + "\"";
    }
    return text;
}

std::vector<std::string> LayoutFaults(const QWidget& window) {
    std::vector<std::string> faults;
    const std::string name = Describe(window);
    const QScreen* screen = window.screen();
    if (screen != nullptr && !screen->availableGeometry().contains(window.frameGeometry())) {
        faults.push_back(name + " stands at " + Text(window.frameGeometry()) +
                         ", beyond the free screen " + Text(screen->availableGeometry()));
    }
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (widget->isWindow() || !widget->isVisibleTo(&window)) {
            continue;
        }
        const QWidget* parent = widget->parentWidget();
        if (!IsScrolledBody(*widget) && !parent->rect().contains(widget->geometry())) {
            faults.push_back(Describe(*widget) + " at " + Text(widget->geometry()) +
                             " lies outside " + Describe(*parent) + ", " + Text(parent->rect()));
        }
        if (!IsPartOfAnother(*widget)) {
            CheckTextRoom(*widget, faults);
        }
    }
    return faults;
}

std::vector<std::string> ScrolledAway(const QWidget& window) {
    std::vector<std::string> faults;
    for (const QScrollArea* area : window.findChildren<QScrollArea*>()) {
        if (!area->isVisibleTo(&window) || area->widget() == nullptr) {
            continue;
        }
        if (area->verticalScrollBar()->maximum() > 0 ||
            area->horizontalScrollBar()->maximum() > 0) {
            faults.push_back(Describe(*area) + " shows " + Text(area->viewport()->size()) + " of " +
                             Text(area->widget()->size()));
        }
    }
    return faults;
}

std::vector<std::string> ControlsWithoutToolTip(const QWidget& window) {
    std::vector<std::string> faults;
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (widget->window() != &window || (widget->focusPolicy() & Qt::TabFocus) == 0 ||
            IsPartOfAnother(*widget)) {
            continue;
        }
        if (widget->toolTip().trimmed().isEmpty()) {
            faults.push_back(Describe(*widget) + " has no tool tip");
        }
    }
    return faults;
}

std::vector<std::string> TabFaults(QWidget& window) {
    std::vector<std::string> faults;
    std::vector<QWidget*> stops;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (widget->window() == &window && TabStop(*widget, window)) {
            stops.push_back(widget);
        }
    }
    if (stops.empty()) {
        return faults;
    }
    QWidget* first = stops.front();
    first->setFocus(Qt::TabFocusReason);
    std::set<const QWidget*> reached;
    QWidget* at = window.focusWidget();
    for (std::size_t step = 0; at != nullptr && step <= stops.size() + 1; ++step) {
        if (!reached.insert(at).second) {
            break;  // round once
        }
        QTest::keyClick(at, Qt::Key_Tab);
        at = window.focusWidget();
    }
    for (const QWidget* widget : reached) {
        if (widget != &window && !window.isAncestorOf(widget)) {
            faults.push_back(Describe(*widget) + " takes Tab away from the window");
        }
    }
    // Tab enters a group of radio buttons at its chosen one; the arrow keys choose within it.
    auto groupReached = [&](const QWidget& widget) {
        const auto* radio = qobject_cast<const QRadioButton*>(&widget);
        if (radio == nullptr || !radio->autoExclusive()) {
            return false;
        }
        for (const QRadioButton* other :
             widget.parentWidget()->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly)) {
            if (other->autoExclusive() && reached.count(other) != 0) {
                return true;
            }
        }
        return false;
    };
    for (const QWidget* widget : stops) {
        if (reached.count(widget) == 0 && !groupReached(*widget)) {
            faults.push_back(Describe(*widget) + " is never reached with Tab");
        }
    }
    return faults;
}
