#include "AppTestSupport.h"

#include "app/frmIndex.h"

#include <QPainter>
#include <QScreen>

// On a real X server the rounded region cuts the corners: what lies behind the window shows
// through them, while the skin covers the rest. (The offscreen platform ignores masks.)
TEST_F(AppTest, CornersShowWhatLiesBehindTheWindow) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    QWidget backdrop;
    backdrop.setWindowFlags(Qt::FramelessWindowHint);
    backdrop.setGeometry(0, 0, 800, 600);
    QPalette pal;
    pal.setColor(QPalette::Window, QColor(255, 0, 255));
    backdrop.setPalette(pal);
    backdrop.setAutoFillBackground(true);
    backdrop.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&backdrop));

    TfrmIndex w;
    w.move(100, 100);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.raise();
    QTest::qWait(300);

    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const QPoint o = w.geometry().topLeft();
    const QColor magenta(255, 0, 255);
    const auto at = [&](int x, int y) { return screen.pixelColor(o + QPoint(x, y)); };
    // the four corner pixels are outside the region
    EXPECT_EQ(at(0, 0), magenta);
    EXPECT_EQ(at(533, 0), magenta);
    EXPECT_EQ(at(0, 226), magenta);
    EXPECT_EQ(at(533, 226), magenta);
    // the middles of the edges and the centre are the window's
    EXPECT_NE(at(267, 0), magenta);
    EXPECT_NE(at(0, 113), magenta);
    EXPECT_NE(at(267, 113), magenta);
    EXPECT_NE(at(533, 113), magenta);
    EXPECT_NE(at(267, 226), magenta);
    // 7 pixels in along the diagonal lies inside the 15 x 15 corner ellipse
    EXPECT_NE(at(7, 7), magenta);
    EXPECT_EQ(at(1, 1), magenta);
}
