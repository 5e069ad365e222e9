#include "ui/Fonts.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <gtest/gtest.h>

namespace {

struct Case {
    const char* text;
    const char* face;
    int pixels;
    bool bold;
    int width;
    int height;
};

// The fixed-size labels of the three windows: text, face, pixel height, bold, label size.
const Case Labels[] = {
    {"X", "Arial Black", 16, true, 12, 23},
    {"+", "Arial Black", 16, true, 11, 23},
    {"?", "Arial", 19, true, 12, 22},
    {"\u2500", "Arial", 19, true, 13, 22},
    {"OPEN FILE", "Arial", 19, true, 101, 22},
    {"PLAYLIST", "Arial", 19, true, 92, 22},
    {"Open", "Arial", 19, true, 50, 22},
    {"Add tracks", "Arial", 19, true, 100, 22},
    {"Save", "Arial", 19, true, 46, 22},
    {"Ondrix ", "Arial Narrow", 35, true, 168, 42},
    {"Version 3.0", "Arial Narrow", 16, true, 70, 20},
    {"Version information:", "Arial Narrow", 13, true, 108, 16},
    // one-line texts for the about window's credit labels that fit their sizes
    {"The Ondrix 3 authors", "Arial Narrow", 13, true, 171, 16},
    {"ondrix.example", "Arial Narrow", 13, true, 135, 16},
    {"info@ondrix.example", "Arial Narrow", 13, true, 110, 16},
    {"(c) 2010 Ondrix 3", "Arial Narrow", 13, true, 96, 16},
};

class Fonts : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SetUpFonts(); }
};

} // namespace

// Every face the layouts name resolves to an installed free family.
TEST_F(Fonts, FacesResolveToInstalledFamilies) {
    const QStringList installed = QFontDatabase::families();
    const std::pair<const char*, const char*> expected[] = {
        {"Arial", "Liberation Sans"},         {"Arial Narrow", "Liberation Sans Narrow"},
        {"Arial Black", "Liberation Sans"},   {"Times New Roman", "Liberation Serif"},
        {"MS Sans Serif", "Liberation Sans"}, {"Tahoma", "Liberation Sans"},
    };
    for (const auto& [face, free] : expected) {
        const QString family = ResolvedFamily(QString::fromLatin1(face));
        EXPECT_TRUE(installed.contains(family)) << face << " -> " << family.toStdString();
        // a machine with the original fonts keeps them
        if (!installed.contains(QString::fromLatin1(face))) {
            EXPECT_EQ(family, QString::fromLatin1(free)) << face;
        }
    }
    EXPECT_TRUE(LayoutFont(QStringLiteral("Arial Black"), 16, false).bold());
    EXPECT_EQ(LayoutFont(QStringLiteral("Arial"), 19, true).pixelSize(), 19);
}

// No fixed-size label clips its text: advance, ink and line height fit the label.
TEST_F(Fonts, LayoutLabelsFit) {
    for (const Case& c : Labels) {
        const QString text = QString::fromUtf8(c.text);
        const QFontMetrics fm(LayoutFont(QString::fromLatin1(c.face), c.pixels, c.bold));
        const int advance = fm.horizontalAdvance(text);
        const QRect ink = fm.boundingRect(text);
        std::printf("%-22s %-14s %2dpx  advance %3d  ink %3d..%3d  height %2d   label %3d x %2d\n",
                    c.text, c.face, c.pixels, advance, ink.left(), ink.right(), fm.height(),
                    c.width, c.height);
        SCOPED_TRACE(c.text);
        EXPECT_LE(advance, c.width);
        // box-drawing lines run one pixel past their cell on purpose, to join their neighbours
        const int overhang = text == QStringLiteral("\u2500") ? 1 : 0;
        EXPECT_GE(ink.left(), -overhang);
        EXPECT_LT(ink.right(), c.width + overhang);
        EXPECT_LE(fm.height(), c.height);
    }
}

// 11 px "MS Sans Serif" text fits the 13 px information label and list rows, and "Repeat"
// with its box fits the 97 x 17 check box.
TEST_F(Fonts, SmallTextFits) {
    const QFont small = LayoutFont(QStringLiteral("MS Sans Serif"), 11);
    const QFontMetrics fm(small);
    std::printf("MS Sans Serif 11px: height %d ascent %d descent %d\n", fm.height(), fm.ascent(),
                fm.descent());
    EXPECT_LE(fm.height(), 13);

    QCheckBox repeat(QStringLiteral("Repeat"));
    repeat.setFont(small);
    repeat.setGeometry(8, 165, 97, 17);
    QStyleOptionButton option;
    option.initFrom(&repeat);
    option.text = repeat.text();
    const QRect box =
        repeat.style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, &repeat);
    const QRect label =
        repeat.style()->subElementRect(QStyle::SE_CheckBoxContents, &option, &repeat);
    const int textWidth = fm.horizontalAdvance(repeat.text());
    std::printf("Repeat: box %d,%d %dx%d, text area %d,%d %dx%d, text %d x %d\n", box.x(), box.y(),
                box.width(), box.height(), label.x(), label.y(), label.width(), label.height(),
                textWidth, fm.height());
    EXPECT_TRUE(repeat.rect().contains(box));
    EXPECT_LE(textWidth, label.width());
    EXPECT_LE(fm.height(), 17);
}

// The about window's buttons (Tahoma 11 px) hold their captions.
TEST_F(Fonts, ButtonCaptionsFit) {
    const QFont tahoma = LayoutFont(QStringLiteral("Tahoma"), 11);
    for (auto [caption, width] : {std::pair{"Contact us", 113}, {"Check for new version", 127}}) {
        QPushButton button(QString::fromLatin1(caption));
        button.setFont(tahoma);
        const int textWidth = QFontMetrics(tahoma).horizontalAdvance(button.text());
        std::printf("%-22s text %3d  size hint %3d x %2d  button %3d x 25\n", caption, textWidth,
                    button.sizeHint().width(), button.sizeHint().height(), width);
        EXPECT_LE(textWidth + 8, width) << caption;
    }
}
