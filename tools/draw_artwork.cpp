// Draws Tamborex's bitmaps into a folder as PNG files, and with a second folder its desktop icon
// there as a hicolor theme tree: draw-artwork tamborex/ui/bitmaps data/icons/hicolor
//
// The artwork is drawn rather than painted by hand so that every picture keeps its exact size
// and the whole set can be redone in one go when the look changes.

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor kPanelTop(58, 60, 66);
const QColor kPanelBottom(22, 23, 27);
const QColor kAmber(255, 170, 40);
const QColor kEmber(255, 96, 24);

QFont Font(int pixelSize, bool bold = true) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

// Brushed dark metal with a light top edge and a dark bottom edge.
void Metal(QPainter& p, const QRectF& r, bool raised = true) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, raised ? kPanelTop : kPanelBottom);
    g.setColorAt(1, raised ? kPanelBottom : kPanelTop.darker(130));
    p.fillRect(r, g);
    for (int y = int(r.top()); y < int(r.bottom()); y += 2) {
        p.setPen(QColor(255, 255, 255, 7));
        p.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
    }
}

void Screw(QPainter& p, QPointF c) {
    QRadialGradient g(c - QPointF(1, 1), 3.5);
    g.setColorAt(0, QColor(200, 200, 205));
    g.setColorAt(1, QColor(70, 70, 76));
    p.setPen(QColor(10, 10, 12));
    p.setBrush(g);
    p.drawEllipse(c, 2.6, 2.6);
    p.setPen(QPen(QColor(30, 30, 34), 0.9));
    p.drawLine(c + QPointF(-1.6, 1.0), c + QPointF(1.6, -1.0));
}

// The emblem: a drum head seen from above, struck by a stick, with a note mark.
void Emblem(QPainter& p, const QRectF& r) {
    const QPointF c = r.center();
    const qreal rad = r.width() / 2 - 1;
    QRadialGradient rim(c, rad);
    rim.setColorAt(0.80, QColor(120, 40, 10));
    rim.setColorAt(0.92, kEmber);
    rim.setColorAt(1.0, QColor(90, 25, 5));
    p.setPen(Qt::NoPen);
    p.setBrush(rim);
    p.drawEllipse(c, rad, rad);
    QRadialGradient head(c - QPointF(rad / 3, rad / 3), rad);
    head.setColorAt(0, QColor(255, 236, 190));
    head.setColorAt(1, QColor(205, 160, 95));
    p.setBrush(head);
    p.drawEllipse(c, rad * 0.78, rad * 0.78);
    p.setPen(QPen(QColor(60, 30, 10), rad * 0.14, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(-rad * 0.35, rad * 0.35), c + QPointF(rad * 0.95, -rad * 0.95));
    p.setBrush(QColor(60, 30, 10));
    p.setPen(Qt::NoPen);
    p.drawEllipse(c + QPointF(-rad * 0.35, rad * 0.35), rad * 0.16, rad * 0.16);
    p.setPen(QPen(QColor(40, 20, 8), rad * 0.09));
    p.drawLine(c + QPointF(-rad * 0.05, -rad * 0.45), c + QPointF(-rad * 0.05, rad * 0.05));
    p.drawEllipse(c + QPointF(-rad * 0.18, rad * 0.08), rad * 0.11, rad * 0.08);
}

void EndPiece(QPainter& p, bool left) {
    const QRectF r(0, 0, 12, 48);
    QLinearGradient g(r.topLeft(), r.topRight());
    g.setColorAt(left ? 0 : 1, QColor(20, 20, 22));
    g.setColorAt(0.5, QColor(96, 98, 106));
    g.setColorAt(left ? 1 : 0, QColor(40, 41, 46));
    p.fillRect(r, g);
    Screw(p, QPointF(6, 7));
    Screw(p, QPointF(6, 41));
    p.setPen(QColor(0, 0, 0));
    p.drawLine(left ? QPointF(11.5, 0) : QPointF(0.5, 0),
               left ? QPointF(11.5, 48) : QPointF(0.5, 48));
}

void Light(QPainter& p, bool lit) {
    p.fillRect(QRectF(0, 0, 24, 8), QColor(10, 10, 10));
    QLinearGradient g(0, 1, 0, 7);
    if (lit) {
        g.setColorAt(0, QColor(255, 240, 180));
        g.setColorAt(0.4, kAmber);
        g.setColorAt(1, kEmber);
    } else {
        g.setColorAt(0, QColor(90, 50, 20));
        g.setColorAt(1, QColor(45, 22, 8));
    }
    p.setPen(QColor(0, 0, 0));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(1.5, 1.5, 21, 5), 2, 2);
    p.setPen(QColor(255, 255, 255, lit ? 150 : 40));
    p.drawLine(QPointF(4, 2.5), QPointF(20, 2.5));
}

// A rubber pad; pressed pads sit lower and darker, with the shadow on top.
void Pad(QPainter& p, const QRectF& r, bool pressed, qreal radius) {
    p.fillRect(r, QColor(8, 8, 9));
    const QRectF face = r.adjusted(1, 1, -1, -1).translated(0, pressed ? 0.5 : 0);
    QLinearGradient g(face.topLeft(), face.bottomLeft());
    g.setColorAt(0, pressed ? QColor(40, 41, 45) : QColor(150, 152, 160));
    g.setColorAt(0.5, pressed ? QColor(58, 60, 66) : QColor(105, 107, 115));
    g.setColorAt(1, pressed ? QColor(78, 80, 88) : QColor(62, 64, 70));
    p.setPen(QColor(0, 0, 0));
    p.setBrush(g);
    p.drawRoundedRect(face, radius, radius);
    p.setPen(QColor(255, 255, 255, pressed ? 25 : 90));
    p.drawLine(face.topLeft() + QPointF(radius, 1), face.topRight() + QPointF(-radius, 1));
}

void Arrow(QPainter& p, bool right, bool pressed) {
    Pad(p, QRectF(0, 0, 16, 16), pressed, 4);
    const qreal d = pressed ? 0.5 : 0;
    QPainterPath path;
    if (right) {
        path.moveTo(6 + d, 4.5 + d);
        path.lineTo(11 + d, 8 + d);
        path.lineTo(6 + d, 11.5 + d);
    } else {
        path.moveTo(10 + d, 4.5 + d);
        path.lineTo(5 + d, 8 + d);
        path.lineTo(10 + d, 11.5 + d);
    }
    path.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(pressed ? kAmber : QColor(230, 230, 235));
    p.drawPath(path);
}

void KeyCap(QPainter& p, bool pressed) {
    const QRectF r(0, 0, 46, 20);
    p.fillRect(r, QColor(0, 0, 0));
    const QRectF face = r.adjusted(1, 1, -1, -1);
    QLinearGradient g(face.topLeft(), face.bottomLeft());
    g.setColorAt(0, pressed ? QColor(150, 110, 60) : QColor(226, 222, 212));
    g.setColorAt(0.55, pressed ? QColor(196, 140, 70) : QColor(196, 192, 182));
    g.setColorAt(1, pressed ? QColor(220, 160, 80) : QColor(150, 146, 138));
    p.setPen(QColor(20, 20, 20));
    p.setBrush(g);
    p.drawRoundedRect(face, 3, 3);
    p.setPen(QColor(255, 255, 255, pressed ? 40 : 160));
    p.drawLine(QPointF(4, 2.5), QPointF(41, 2.5));
    if (pressed) {
        p.setPen(QColor(0, 0, 0, 90));
        p.drawLine(QPointF(3, 2.5), QPointF(42, 2.5));
        p.drawLine(QPointF(2.5, 3), QPointF(2.5, 16));
    }
}

void LogoPanel(QPainter& p) {
    Metal(p, QRectF(0, 0, 75, 50));
    // Recessed well behind the emblem.
    p.setPen(QColor(0, 0, 0));
    p.setBrush(QColor(12, 12, 14));
    p.drawRoundedRect(QRectF(5.5, 5.5, 37, 37), 5, 5);
    p.setPen(QColor(255, 255, 255, 40));
    p.drawLine(QPointF(7, 43), QPointF(41, 43));
}

void LabelStrip(QPainter& p) {
    p.fillRect(QRectF(0, 0, 142, 11), QColor(0, 0, 0));
    p.setFont(Font(8));
    p.setPen(QColor(170, 170, 178));
    p.drawText(QRectF(0, 0, 36, 11), Qt::AlignCenter, QStringLiteral("PRESET"));
    for (int i = 0; i < 4; ++i) {
        p.setPen(QColor(200, 200, 206));
        p.drawText(QRectF(37 + 30 * i, 0, 24, 11), Qt::AlignCenter, QString::number(i + 1));
    }
}

void Wordmark(QPainter& p, const QRectF& r) {
    p.setFont(Font(int(r.height() * 0.55)));
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(255, 220, 140));
    g.setColorAt(1, kEmber);
    QPainterPath path;
    path.addText(r.left(), r.top() + r.height() * 0.72, p.font(), QStringLiteral("TAMBOREX"));
    p.setPen(QPen(QColor(40, 15, 0), 1));
    p.setBrush(g);
    p.drawPath(path);
}

void AboutLogo(QPainter& p) {
    Metal(p, QRectF(0, 0, 151, 50));
    Emblem(p, QRectF(5, 7, 36, 36));
    Wordmark(p, QRectF(45, 6, 104, 30));
    p.setFont(Font(9, false));
    p.setPen(QColor(200, 200, 206));
    p.drawText(QRectF(46, 34, 104, 12), Qt::AlignLeft, QStringLiteral("joystick  to  MIDI"));
}

void AboutPicture(QPainter& p) {
    QLinearGradient sky(0, 0, 0, 160);
    sky.setColorAt(0, QColor(30, 20, 40));
    sky.setColorAt(1, QColor(8, 6, 12));
    p.fillRect(QRectF(0, 0, 200, 160), sky);
    // Waves of sound leaving the drum.
    for (int i = 0; i < 5; ++i) {
        p.setPen(QPen(QColor(255, 150, 40, 160 - 28 * i), 2));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(40 - 18 * i, 20 - 18 * i, 120 + 36 * i, 120 + 36 * i), 20 * 16, 50 * 16);
    }
    Emblem(p, QRectF(52, 32, 96, 96));
    // A stick on a base, lower left: the controller.
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.setBrush(QColor(60, 62, 70));
    p.drawRoundedRect(QRectF(10, 128, 50, 18), 5, 5);
    p.setPen(QPen(QColor(150, 150, 160), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(35, 132), QPointF(28, 104));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 40, 30));
    p.drawEllipse(QPointF(28, 102), 7, 7);
    // Five-pin plug, lower right: the MIDI side.
    const QPointF c(172, 134);
    p.setBrush(QColor(60, 62, 70));
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.drawEllipse(c, 18, 18);
    p.setBrush(QColor(15, 15, 18));
    p.drawEllipse(c, 13, 13);
    p.setBrush(QColor(210, 190, 120));
    p.setPen(Qt::NoPen);
    for (int a : {180, 225, 270, 315, 0}) {
        const QPointF pin = c + QPointF(8 * std::cos(a * M_PI / 180), 8 * std::sin(a * M_PI / 180));
        p.drawEllipse(pin, 1.8, 1.8);
    }
}

void Icon(QPainter& p, int size) {
    p.setRenderHint(QPainter::Antialiasing);
    Emblem(p, QRectF(0, 0, size, size));
}

struct Picture {
    const char* name;
    int width;
    int height;
    bool transparent;
    std::function<void(QPainter&)> draw;
};

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: draw-artwork OUTPUT_FOLDER [ICON_THEME_FOLDER]\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const Picture pictures[] = {
        {"138_right_end", 12, 48, false, [](QPainter& p) { EndPiece(p, false); }},
        {"139_left_end", 12, 48, false, [](QPainter& p) { EndPiece(p, true); }},
        {"140_grip", 12, 48, false,
         [](QPainter& p) {
             Metal(p, QRectF(0, 0, 12, 48));
             for (int y = 6; y < 44; y += 4) {
                 p.setPen(QColor(0, 0, 0, 160));
                 p.drawLine(3, y, 9, y);
                 p.setPen(QColor(255, 255, 255, 40));
                 p.drawLine(3, y + 1, 9, y + 1);
             }
         }},
        {"141_light_on", 24, 8, false, [](QPainter& p) { Light(p, true); }},
        {"142_light_off", 24, 8, false, [](QPainter& p) { Light(p, false); }},
        {"143_preset_up", 24, 10, false,
         [](QPainter& p) { Pad(p, QRectF(0, 0, 24, 10), false, 2); }},
        {"144_preset_down", 24, 10, false,
         [](QPainter& p) { Pad(p, QRectF(0, 0, 24, 10), true, 2); }},
        {"145_labels", 142, 11, false, LabelStrip},
        {"146_previous_up", 16, 16, false, [](QPainter& p) { Arrow(p, false, false); }},
        {"147_previous_down", 16, 16, false, [](QPainter& p) { Arrow(p, false, true); }},
        {"148_next_up", 16, 16, false, [](QPainter& p) { Arrow(p, true, false); }},
        {"149_next_down", 16, 16, false, [](QPainter& p) { Arrow(p, true, true); }},
        {"152_emblem", 32, 32, false,
         [](QPainter& p) {
             p.fillRect(QRectF(0, 0, 32, 32), QColor(12, 12, 14));
             Emblem(p, QRectF(1, 1, 30, 30));
         }},
        {"163_logo_panel", 75, 50, false, LogoPanel},
        {"164_key_up", 46, 20, false, [](QPainter& p) { KeyCap(p, false); }},
        {"165_key_down", 46, 20, false, [](QPainter& p) { KeyCap(p, true); }},
        {"130_about_logo", 151, 50, false, AboutLogo},
        {"132_about_picture", 200, 160, false, AboutPicture},
        {"128_icon", 32, 32, true, [](QPainter& p) { Icon(p, 32); }},
        {"128_icon_64", 64, 64, true, [](QPainter& p) { Icon(p, 64); }},
    };
    for (const Picture& picture : pictures) {
        QImage image(picture.width, picture.height, QImage::Format_ARGB32);
        image.fill(picture.transparent ? Qt::transparent : Qt::black);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        picture.draw(painter);
        painter.end();
        if (!picture.transparent) {
            image = image.convertToFormat(QImage::Format_RGB32);
        }
        const QString path = out.filePath(QString::fromLatin1(picture.name) + ".png");
        if (!image.save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    if (argc == 3) {
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QDir folder(QString::fromLocal8Bit(argv[2]) +
                              QStringLiteral("/%1x%1/apps").arg(size));
            QImage image(size, size, QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            Icon(painter, size);
            painter.end();
            const QString path = folder.filePath(QStringLiteral("tamborex.png"));
            if (!folder.mkpath(QStringLiteral(".")) || !image.save(path)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
                return 1;
            }
        }
    }
    return 0;
}
