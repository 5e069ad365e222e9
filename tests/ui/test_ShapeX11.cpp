// The offscreen platform ignores window masks, so this one runs under Xvfb, where the X server
// applies the shape: the corners must show the window behind, the rest the skin.
#include "ui/SkinnedForm.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

TEST(SkinnedFormOnX11, CornersShowWhatLiesBehind) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server, runs under xvfb-run";

    QWidget backdrop(nullptr, Qt::FramelessWindowHint);
    backdrop.setAutoFillBackground(true);
    QPalette p = backdrop.palette();
    p.setColor(QPalette::Window, QColor(0, 255, 0));
    backdrop.setPalette(p);
    backdrop.setGeometry(0, 0, 700, 400);
    backdrop.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&backdrop));

    SkinnedForm form(nullptr, Qt::Window);
    form.SetClientSize(534, 227);
    QImage red(10, 10, QImage::Format_RGB32);
    red.fill(qRgb(255, 0, 0));
    form.SetSkin(red);
    form.move(100, 100);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTest::qWait(300);

    const QImage screen =
        QGuiApplication::primaryScreen()->grabWindow(0, 100, 100, 534, 227).toImage();
    ASSERT_EQ(screen.size(), QSize(534, 227));
    auto isRed = [&](int x, int y) { return screen.pixel(x, y) == qRgb(255, 0, 0); };
    auto isGreen = [&](int x, int y) { return screen.pixel(x, y) == qRgb(0, 255, 0); };
    // every corner: outside the ellipse shows the backdrop, the first pixel inside is skin
    for (auto [x, y, dx, dy] : {std::array{0, 0, 1, 1}, std::array{533, 0, -1, 1},
                                std::array{0, 226, 1, -1}, std::array{533, 226, -1, -1}}) {
        SCOPED_TRACE(testing::Message() << x << "," << y);
        EXPECT_TRUE(isGreen(x, y));
        EXPECT_TRUE(isGreen(x + 4 * dx, y));
        EXPECT_TRUE(isRed(x + 5 * dx, y));
        EXPECT_TRUE(isGreen(x, y + 4 * dy));
        EXPECT_TRUE(isRed(x, y + 5 * dy));
        EXPECT_TRUE(isRed(x + 7 * dx, y + 7 * dy));
    }
    EXPECT_TRUE(isRed(267, 0));
    EXPECT_TRUE(isRed(0, 113));
    EXPECT_TRUE(isRed(533, 113));
    EXPECT_TRUE(isRed(267, 226));
}
