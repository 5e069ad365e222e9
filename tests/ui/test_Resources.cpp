#include "ui/JpegImage.h"

#include <QImage>
#include <gtest/gtest.h>

namespace {

// Average colour of a rectangle.
QColor mean(const QImage& img, const QRect& r) {
    long long red = 0, green = 0, blue = 0, n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb c = img.pixel(x, y);
            red += qRed(c);
            green += qGreen(c);
            blue += qBlue(c);
            ++n;
        }
    return QColor(int(red / n), int(green / n), int(blue / n));
}

int distance(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue());
}

} // namespace

// Every skin decodes through our loader at the size the windows stretch from.
TEST(Resources, SkinsDecodeAtTheirSizes) {
    const std::pair<const char*, QSize> skins[] = {
        {":/skins/main.jpg", {1000, 400}},         {":/skins/speaker.jpg", {175, 150}},
        {":/skins/speaker-muted.jpg", {175, 150}}, {":/skins/tracklist.jpg", {1000, 1000}},
        {":/skins/about.jpg", {1000, 1000}},       {":/skins/logo.jpg", {146, 146}},
    };
    for (const auto& [name, size] : skins)
        EXPECT_EQ(LoadJpeg(QString::fromLatin1(name)).size(), size) << name;
}

// The speakers are drawn on the panel as it lies under them, so their edges blend with it.
TEST(Resources, SpeakersBlendWithThePanel) {
    const QImage panel = LoadJpeg(QStringLiteral(":/skins/main.jpg"))
                             .scaled(534, 227, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (const char* name : {":/skins/speaker.jpg", ":/skins/speaker-muted.jpg"}) {
        const QImage speaker = LoadJpeg(QString::fromLatin1(name))
                                   .scaled(24, 27, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        // top rows and left column of the control against the panel at 440, 155
        EXPECT_LT(distance(mean(speaker, QRect(0, 0, 24, 3)), mean(panel, QRect(440, 155, 24, 3))),
                  24)
            << name;
        EXPECT_LT(distance(mean(speaker, QRect(0, 0, 2, 27)), mean(panel, QRect(440, 155, 2, 27))),
                  24)
            << name;
    }
    const QImage on = LoadJpeg(QStringLiteral(":/skins/speaker.jpg"));
    const QImage off = LoadJpeg(QStringLiteral(":/skins/speaker-muted.jpg"));
    // the crossed-out symbol carries red where the waves of the other one are
    EXPECT_GT(mean(off, QRect(110, 50, 50, 50)).red() - mean(on, QRect(110, 50, 50, 50)).red(), 20);
}

// The transport buttons are drawn where the click areas lie once the panel is stretched: the
// steel bezel is light at the top of each area, the panel around it dark blue.
TEST(Resources, ButtonsUnderTheirClickAreas) {
    const QImage panel = LoadJpeg(QStringLiteral(":/skins/main.jpg"))
                             .scaled(534, 227, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QRect areas[] = {{140, 94, 70, 59}, {216, 76, 105, 88}, {325, 94, 68, 56}};
    for (const QRect& a : areas) {
        const QPoint c = a.center();
        const int radius = std::min(a.width(), a.height()) / 2;
        const QColor bezelTop = mean(panel, QRect(c.x() - 1, a.top() + 2, 3, 2));
        EXPECT_GT(bezelTop.lightness(), 150) << a.x();
        const QColor face = mean(panel, QRect(c.x() - 2, c.y() - radius / 2, 5, 3));
        EXPECT_GT(face.blue(), face.red() + 60) << a.x();
    }
}

// The program icon comes in every size with transparent corners.
TEST(Resources, IconSizes) {
    for (int size : {16, 24, 32, 48, 256}) {
        const QImage icon(QStringLiteral(":/icons/ondrix-%1.png").arg(size));
        ASSERT_EQ(icon.size(), QSize(size, size)) << size;
        EXPECT_TRUE(icon.hasAlphaChannel());
        EXPECT_LT(qAlpha(icon.pixel(0, 0)), 64) << size;
        EXPECT_EQ(qAlpha(icon.pixel(size / 2, size / 2)), 255) << size;
    }
}
