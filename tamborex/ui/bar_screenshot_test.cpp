// The bar as the X server shows it: the painted ground, its edge lines and the activity light.

#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "test_bar.h"

namespace {

QColor PixelOnScreen(QWidget& window, QPoint at) {
    const QPoint global = window.mapToGlobal(at);
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, global.x(), global.y(), 1, 1)
        .toImage()
        .pixelColor(0, 0);
}

TEST_F(BarTest, TheBarOnScreenHasItsGroundEdgesAndAWorkingLight) {
    Equip();
    CMainBar& b = Start();
    b.move(20, 20);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&b));
    QTest::qWait(100);

    EXPECT_EQ(PixelOnScreen(b, {282, 20}), QColor(0, 0, 0));       // the black ground
    EXPECT_EQ(PixelOnScreen(b, {200, 0}), QColor(187, 187, 187));  // light top edge
    EXPECT_EQ(PixelOnScreen(b, {200, 49}), QColor(85, 85, 85));    // dark bottom edge
    const QPoint light = Find<QLabel>(&b, "activityLight")->geometry().center();
    // Not lit. With no output chosen nothing can play, so the light at rest carries the red
    // tint that says so, darker than lit.
    const QColor off = PixelOnScreen(b, light);
    EXPECT_LT(off.red(), 180) << off.name().toStdString();

    // A note on button 1, played again and again so the light stays lit while it is looked at.
    CPatch& patch = b.Session().Engine().patches[0];
    patch.active = 1;
    patch.buttons[0].mode = MODE_NOTE;
    patch.buttons[0].data1 = 60;
    patch.buttons[0].data2 = 100;
    ASSERT_TRUE(b.Session().Engine().ReopenOutput(1));
    QTimer player;
    QObject::connect(&player, &QTimer::timeout, [&] {
        b.Session().Engine().ProcessButtonDown(0, 0);
        b.Session().Engine().ProcessButtonUp(0, 0);
    });
    player.start(10);
    EXPECT_TRUE(WaitFor([&] { return PixelOnScreen(b, light).red() > 200; }));
    player.stop();
    EXPECT_FALSE(midi.SentBytes().empty());
    EXPECT_TRUE(WaitFor([&] { return PixelOnScreen(b, light).red() < 180; }));  // and off again
}

}  // namespace
