// The offscreen platform ignores window masks, so this one runs under Xvfb, where the X server
// applies the shape: the corners must show the window behind, the rest the skin. It runs at
// scale 1 and 2 (QT_SCALE_FACTOR): the X server counts in device pixels.
#include "ui/Compositing.h"
#include "ui/SkinnedForm.h"

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QTransform>
#include <gtest/gtest.h>

#include <xcb/shape.h>

#include <cstdlib>

namespace {

// The X server's input shape of a window: where clicks land.
QRegion InputShape(QWidget& window) {
    auto* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    xcb_shape_get_rectangles_reply_t* reply = xcb_shape_get_rectangles_reply(
        c, xcb_shape_get_rectangles(c, xcb_window_t(window.winId()), XCB_SHAPE_SK_INPUT), nullptr);
    QRegion region;
    if (!reply)
        return region;
    const xcb_rectangle_t* r = xcb_shape_get_rectangles_rectangles(reply);
    for (int i = 0; i < xcb_shape_get_rectangles_rectangles_length(reply); ++i)
        region += QRect(r[i].x, r[i].y, r[i].width, r[i].height);
    std::free(reply);
    return region;
}

// A whole scale factor: the tests look at the device pixel that starts each logical one.
int Scale() {
    return qRound(qGuiApp->devicePixelRatio());
}

} // namespace

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

    const int k = Scale();
    const QImage screen =
        QGuiApplication::primaryScreen()->grabWindow(0, 100, 100, 534, 227).toImage();
    ASSERT_EQ(screen.size(), QSize(534, 227) * k);
    auto isRed = [&](int x, int y) { return screen.pixel(x * k, y * k) == qRgb(255, 0, 0); };
    auto isGreen = [&](int x, int y) { return screen.pixel(x * k, y * k) == qRgb(0, 255, 0); };
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

// A compositing manager that starts while the window shows gets painted, soft corners (the
// window unmasked, clicks still limited to the shape); when it stops, the mask cuts them again.
TEST(SkinnedFormOnX11, FollowsACompositingManager) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server, runs under xvfb-run";
    ASSERT_FALSE(Compositing::Instance().Active()) << "a compositing manager already runs";

    QWidget backdrop(nullptr, Qt::FramelessWindowHint);
    backdrop.setAutoFillBackground(true);
    QPalette p = backdrop.palette();
    p.setColor(QPalette::Window, QColor(0, 255, 0));
    backdrop.setPalette(p);
    backdrop.setGeometry(0, 0, 700, 400);
    backdrop.show();
    SkinnedForm form(nullptr, Qt::Window);
    form.SetClientSize(534, 227);
    QImage red(10, 10, QImage::Format_RGB32);
    red.fill(qRgb(255, 0, 0));
    form.SetSkin(red);
    form.move(100, 100);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_FALSE(form.PaintsCorners());
    EXPECT_EQ(form.mask(), RoundRectRegion(534, 227));

    QProcess manager;
    manager.start(QStringLiteral("/usr/bin/xcompmgr"), {});
    ASSERT_TRUE(manager.waitForStarted(10000)) << "xcompmgr is not installed";
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.PaintsCorners(); }, 10000));
    EXPECT_TRUE(form.mask().isEmpty());
    // clicks land wherever the window shows, at any scale
    const int k = Scale();
    EXPECT_EQ(InputShape(form), QTransform::fromScale(k, k).map(RoundRectRegion(534, 227)));
    QTest::qWait(500);
    QImage shot = QGuiApplication::primaryScreen()->grabWindow(0, 100, 100, 534, 227).toImage();
    const auto at = [&](int x, int y) { return QColor(shot.pixel(x * k, y * k)); };
    EXPECT_EQ(at(0, 0), QColor(0, 255, 0));
    EXPECT_EQ(at(533, 226), QColor(0, 255, 0));
    EXPECT_EQ(at(7, 7), QColor(255, 0, 0));
    // on the corner's edge the two colours blend
    int blended = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            blended += at(x, y).red() > 20 && at(x, y).green() > 20;
    EXPECT_GT(blended, 0);

    manager.terminate();
    ASSERT_TRUE(manager.waitForFinished(10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form.PaintsCorners(); }, 10000));
    EXPECT_EQ(form.mask(), RoundRectRegion(534, 227));
    QTest::qWait(500);
    shot = QGuiApplication::primaryScreen()->grabWindow(0, 100, 100, 534, 227).toImage();
    EXPECT_EQ(at(0, 0), QColor(0, 255, 0));
    EXPECT_EQ(at(7, 7), QColor(255, 0, 0));
}
