#include "ui/BalloonHint.h"

#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QTest>
#include <QToolTip>
#include <gtest/gtest.h>

namespace {

void requestTip(QWidget* w) {
    const QPoint local = w->rect().center();
    QHelpEvent e(QEvent::ToolTip, local, w->mapToGlobal(local));
    QApplication::sendEvent(w, &e);
}

struct Window {
    QWidget form;
    QLabel* close;
    QLabel* plain;
    Window() {
        form.resize(300, 200);
        form.move(200, 200);
        close = new QLabel(QStringLiteral("X"), &form);
        close->setGeometry(250, 0, 12, 23);
        close->setToolTip(QStringLiteral("Close"));
        plain = new QLabel(QStringLiteral("no hint"), &form);
        plain->setGeometry(10, 100, 80, 20);
        form.show();
    }
};

} // namespace

// A tooltip request on a control with a hint shows our bubble, not Qt's plain tooltip, with
// the pointer touching the control.
TEST(BalloonHint, ShowsBubbleForHint) {
    BalloonHint hint;
    hint.Install();
    Window w;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.form));

    requestTip(w.close);
    BalloonTip* tip = hint.Tip();
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(tip->Text(), QStringLiteral("Close"));
    EXPECT_FALSE(QToolTip::isVisible());
    EXPECT_TRUE(tip->windowFlags().testFlag(Qt::ToolTip));

    // the pointer's tip sits just below the middle of the control's lower edge
    const QPoint anchor = w.close->mapToGlobal(QPoint(w.close->width() / 2, w.close->height()));
    if (tip->PointsUp())
        EXPECT_EQ(tip->geometry().top(), anchor.y());
    else
        EXPECT_EQ(tip->geometry().bottom() + 1, anchor.y());
    const QPoint tipLocal = tip->mapFromGlobal(anchor);
    EXPECT_TRUE(
        tip->mask().contains(QPoint(tipLocal.x(), tip->PointsUp() ? 3 : tip->height() - 4)));
}

// The bubble is rounded: its corners are cut away by the mask, its middle is inside, and the
// pointer sticks out of the body.
TEST(BalloonHint, BubbleIsRoundedWithPointer) {
    BalloonHint hint;
    Window w;
    hint.ShowHint(w.close, QStringLiteral("Show About form"));
    BalloonTip* tip = hint.Tip();
    ASSERT_NE(tip, nullptr);
    const QRegion mask = tip->mask();
    const int wd = tip->width(), ht = tip->height();
    const int bodyTop = tip->PointsUp() ? BalloonTip::PointerHeight : 0;
    const int bodyBottom = tip->PointsUp() ? ht - 1 : ht - 1 - BalloonTip::PointerHeight;
    EXPECT_FALSE(mask.contains(QPoint(0, bodyTop)));
    EXPECT_FALSE(mask.contains(QPoint(wd - 1, bodyTop)));
    EXPECT_FALSE(mask.contains(QPoint(0, bodyBottom)));
    EXPECT_FALSE(mask.contains(QPoint(wd - 1, bodyBottom)));
    EXPECT_TRUE(mask.contains(QPoint(wd / 2, (bodyTop + bodyBottom) / 2)));
    EXPECT_TRUE(mask.contains(QPoint(wd / 2, bodyTop + 1)));
    // some row outside the body belongs to the pointer
    const int pointerRow =
        tip->PointsUp() ? BalloonTip::PointerHeight / 2 : ht - 1 - BalloonTip::PointerHeight / 2;
    EXPECT_FALSE(mask.intersected(QRect(0, pointerRow, wd, 1)).isEmpty());
    EXPECT_LT(mask.intersected(QRect(0, pointerRow, wd, 1)).boundingRect().width(),
              BalloonTip::PointerWidth);

    // drawn anti-aliased: the grab holds in-between shades along the curved border
    const QImage img = tip->grab().toImage();
    QSet<QRgb> shades;
    for (int x = 0; x < 10; ++x)
        for (int y = bodyTop; y < bodyTop + 10; ++y)
            shades.insert(img.pixel(x, y));
    EXPECT_GT(shades.size(), 3);
}

// Widgets without a hint get no bubble; leaving the control, a click or the timeout hide it.
TEST(BalloonHint, HidesOnLeaveClickAndTimeout) {
    BalloonHint hint;
    hint.Install();
    Window w;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.form));

    requestTip(w.plain);
    EXPECT_EQ(hint.Tip(), nullptr);

    requestTip(w.close);
    ASSERT_NE(hint.Tip(), nullptr);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(w.close, &leave);
    EXPECT_EQ(hint.Tip(), nullptr);

    requestTip(w.close);
    ASSERT_NE(hint.Tip(), nullptr);
    QTest::mouseClick(w.plain, Qt::LeftButton);
    EXPECT_EQ(hint.Tip(), nullptr);

    hint.SetHideTimeout(50);
    requestTip(w.close);
    ASSERT_NE(hint.Tip(), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return hint.Tip() == nullptr; }, 2000));
}

// A widget without a hint still gets the tooltip request, for tips it makes up itself.
TEST(BalloonHint, WidgetsWithoutHintAnswerThemselves) {
    struct Probe : QWidget {
        int requests = 0;
        bool event(QEvent* e) override {
            if (e->type() == QEvent::ToolTip)
                ++requests;
            return QWidget::event(e);
        }
    };
    BalloonHint hint;
    hint.Install();
    Probe probe;
    probe.resize(50, 50);
    probe.show();
    requestTip(&probe);
    EXPECT_EQ(probe.requests, 1);
    EXPECT_EQ(hint.Tip(), nullptr);
}

// A hint set on a parent shows over its children too, and a deleted control hides the bubble.
TEST(BalloonHint, ParentHintAndDeletedControl) {
    BalloonHint hint;
    hint.Install();
    auto* w = new Window;
    auto* inner = new QLabel(QStringLiteral("i"), w->close);
    inner->setGeometry(0, 0, 5, 5);
    requestTip(inner);
    ASSERT_NE(hint.Tip(), nullptr);
    EXPECT_EQ(hint.Tip()->Text(), QStringLiteral("Close"));
    delete w;
    EXPECT_EQ(hint.Tip(), nullptr);
}
