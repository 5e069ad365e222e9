#include "ui/SkinnedForm.h"

#include "core/Errors.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

// Columns left out at the left end of row y (0 when the row starts at column 0).
int leftInset(const QRegion& region, int y, int width) {
    for (int x = 0; x < width; ++x)
        if (region.contains(QPoint(x, y)))
            return x;
    return width;
}

int outsideInRect(const QRegion& region, const QRect& r) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += region.contains(QPoint(x, y)) ? 0 : 1;
    return n;
}

} // namespace

// The region covers exactly the client area: columns 0..w-1, rows 0..h-1.
TEST(RoundRectRegion, SpansTheClientArea) {
    const QRegion r = RoundRectRegion(534, 227);
    EXPECT_EQ(r.boundingRect(), QRect(0, 0, 534, 227));
    EXPECT_TRUE(r.contains(QPoint(267, 113)));
    // the middle of each edge is inside
    EXPECT_TRUE(r.contains(QPoint(267, 0)));
    EXPECT_TRUE(r.contains(QPoint(267, 226)));
    EXPECT_TRUE(r.contains(QPoint(0, 113)));
    EXPECT_TRUE(r.contains(QPoint(533, 113)));
    EXPECT_FALSE(r.contains(QPoint(534, 113)));
    EXPECT_FALSE(r.contains(QPoint(267, 227)));
}

// Each corner loses the same quarter-ellipse notch of a 15 x 15 ellipse.
TEST(RoundRectRegion, CornersAreQuarterEllipses) {
    const int w = 534, h = 227;
    const QRegion r = RoundRectRegion(w, h);
    for (QPoint corner : {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1)})
        EXPECT_FALSE(r.contains(corner)) << corner.x() << "," << corner.y();
    // row by row from the top: the ellipse of radius 7.5 cuts 5, 3, 2, 1, 1, then nothing
    const int expected[] = {5, 3, 2, 1, 1, 0, 0, 0};
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(leftInset(r, y, w), expected[y]) << "row " << y;
        EXPECT_EQ(leftInset(r, h - 1 - y, w), expected[y]) << "row from bottom " << y;
    }
    const int topLeft = outsideInRect(r, QRect(0, 0, 8, 8));
    EXPECT_EQ(topLeft, 12);
    EXPECT_EQ(outsideInRect(r, QRect(w - 8, 0, 8, 8)), topLeft);
    EXPECT_EQ(outsideInRect(r, QRect(0, h - 8, 8, 8)), topLeft);
    EXPECT_EQ(outsideInRect(r, QRect(w - 8, h - 8, 8, 8)), topLeft);
    // nothing is cut away outside the corners
    EXPECT_EQ(outsideInRect(r, QRect(8, 0, w - 16, h)), 0);
    EXPECT_EQ(outsideInRect(r, QRect(0, 8, w, h - 16)), 0);
}

// Tiny and empty sizes neither crash nor spill outside the rectangle.
TEST(RoundRectRegion, SmallSizes) {
    EXPECT_TRUE(RoundRectRegion(0, 10).isEmpty());
    EXPECT_TRUE(RoundRectRegion(10, -1).isEmpty());
    const QRegion r = RoundRectRegion(6, 4);
    EXPECT_FALSE(r.isEmpty());
    EXPECT_TRUE(QRegion(0, 0, 6, 4).contains(r.boundingRect()));
    EXPECT_FALSE(r.contains(QPoint(0, 0)));
}

// The form is borderless, fixed-size, masked with the rounded region and paints its skin
// stretched over the whole client area.
TEST(SkinnedForm, ShapedAndSkinned) {
    SkinnedForm form;
    form.SetClientSize(534, 227);
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(form.size(), QSize(534, 227));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(form.mask(), RoundRectRegion(534, 227));

    QImage skin(100, 40, QImage::Format_RGB32);
    skin.fill(qRgb(200, 0, 0));
    for (int y = 0; y < 40; ++y)
        for (int x = 50; x < 100; ++x)
            skin.setPixel(x, y, qRgb(0, 0, 200));
    form.SetSkin(skin);
    const QImage shot = form.grab().toImage();
    ASSERT_EQ(shot.size(), QSize(534, 227));
    EXPECT_EQ(qRed(shot.pixel(20, 113)), 200);
    EXPECT_EQ(qBlue(shot.pixel(514, 113)), 200);
    EXPECT_EQ(qRed(shot.pixel(514, 113)), 0);
    EXPECT_EQ(qBlue(shot.pixel(20, 220)), 0);
}

// A missing skin is reported with the file-open error and leaves the form usable.
TEST(SkinnedForm, MissingSkinThrows) {
    SkinnedForm form;
    form.SetClientSize(100, 50);
    EXPECT_THROW(form.LoadSkin(QStringLiteral(":/no/such/skin.jpg")), EFOpenError);
    EXPECT_TRUE(form.Skin().isNull());
    EXPECT_EQ(form.grab().size(), QSize(100, 50));
}

// Escape does not close a skinned window.
TEST(SkinnedForm, EscapeKeepsItOpen) {
    SkinnedForm form;
    form.SetClientSize(120, 80);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.result(), 0);
}

// A main window keeps the frameless shape but is a plain top-level window, not a dialog.
TEST(SkinnedForm, MainWindowKind) {
    SkinnedForm form(nullptr, Qt::Window);
    EXPECT_EQ(form.windowType(), Qt::Window);
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
}
