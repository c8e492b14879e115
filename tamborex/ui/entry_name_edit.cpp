#include "entry_name_edit.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

void CEntryNameEdit::SetDecoration(bool mark, const QString& note) {
    if (mark == mark_ && note == note_) {
        return;
    }
    mark_ = mark;
    note_ = note;
    update();
}

void CEntryNameEdit::paintEvent(QPaintEvent* event) {
    QLineEdit::paintEvent(event);
    if ((!mark_ && note_.isEmpty()) || hasFocus()) {
        return;
    }
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect inside = style()
                             ->subElementRect(QStyle::SE_LineEditContents, &option, this)
                             .marginsRemoved(textMargins());
    // QLineEdit keeps a two-pixel margin inside its contents; the name starts there when the
    // field shows its beginning, which it does while not being edited.
    constexpr int kTextMargin = 2;
    int x = inside.left() + kTextMargin + fontMetrics().horizontalAdvance(text());
    QPainter painter(this);
    painter.setClipRect(inside);
    if (mark_) {
        painter.setPen(QColor(255, 90, 60));
        painter.setFont(font());
        const QString star = QStringLiteral("*");
        painter.drawText(QRect(x, inside.top(), inside.right() - x, inside.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, star);
        x += fontMetrics().horizontalAdvance(star);
    }
    if (!note_.isEmpty()) {
        QFont small = font();
        small.setBold(false);
        small.setPixelSize(std::max(8, fontInfo().pixelSize() - 2));
        painter.setFont(small);
        painter.setPen(QColor(200, 150, 70));
        const QFontMetrics metrics(small);
        const QString shown = metrics.elidedText(QStringLiteral(" \u00b7 ") + note_, Qt::ElideRight,
                                                 inside.right() - x);
        painter.drawText(QRect(x, inside.top(), inside.right() - x, inside.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, shown);
    }
}
