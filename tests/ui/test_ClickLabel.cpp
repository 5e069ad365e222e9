#include "ui/ClickLabel.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

// clicked() comes on a left release inside after a press inside; pressed/released for any button.
TEST(ClickLabel, ClickPressRelease) {
    QWidget form;
    form.resize(200, 100);
    auto* label = new ClickLabel(QStringLiteral("+"), &form);
    label->setGeometry(10, 10, 30, 20);
    form.show();
    QSignalSpy clicks(label, &ClickLabel::clicked);
    QSignalSpy presses(label, &ClickLabel::pressed);
    QSignalSpy releases(label, &ClickLabel::released);

    QTest::mouseClick(label, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(presses.count(), 1);
    EXPECT_EQ(releases.count(), 1);

    QTest::mouseClick(label, Qt::RightButton);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(presses.count(), 2);
    EXPECT_EQ(presses.last().at(0).value<Qt::MouseButton>(), Qt::RightButton);

    // released outside the label: no click
    QTest::mousePress(label, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(100, 5));
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(releases.count(), 3);
}

// The invisible area clicks like a button and paints nothing of its own.
TEST(ClickArea, ClicksAndStaysInvisible) {
    QWidget form;
    form.resize(200, 100);
    form.setAutoFillBackground(true);
    QPalette p = form.palette();
    p.setColor(QPalette::Window, QColor(10, 20, 200));
    form.setPalette(p);
    auto* area = new ClickArea(&form);
    area->setGeometry(50, 20, 70, 59);
    form.show();
    QSignalSpy clicks(area, &ClickArea::clicked);
    QTest::mouseClick(area, Qt::LeftButton, {}, QPoint(35, 30));
    QTest::mouseClick(area, Qt::MiddleButton);
    EXPECT_EQ(clicks.count(), 1);
    const QImage shot = form.grab().toImage();
    EXPECT_EQ(shot.pixel(80, 50), qRgb(10, 20, 200));
}

// A picture given to the label is stretched over it.
TEST(ClickLabel, ImageStretched) {
    QImage img(175, 150, QImage::Format_RGB32);
    img.fill(qRgb(0, 200, 0));
    ClickLabel label;
    label.resize(24, 27);
    label.SetImage(img);
    const QImage shot = label.grab().toImage();
    EXPECT_EQ(shot.pixel(1, 1), qRgb(0, 200, 0));
    EXPECT_EQ(shot.pixel(22, 25), qRgb(0, 200, 0));
}
