#include "ui/Fonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QPalette>
#include <QStringList>
#include <QWidget>

namespace {

struct Substitute {
    const char* face;
    const char* substitutes[2];
};

// First choice, then a fallback that is installed wherever Qt runs.
constexpr Substitute Table[] = {
    {"Arial", {"Liberation Sans", "DejaVu Sans"}},
    {"Arial Narrow", {"Liberation Sans Narrow", "DejaVu Sans Condensed"}},
    {"Arial Black", {"Liberation Sans", "DejaVu Sans"}},
    {"Times New Roman", {"Liberation Serif", "DejaVu Serif"}},
    // Liberation Sans keeps 11 px text inside the 13 px rows of the lists and labels, which the
    // taller DejaVu Sans does not.
    {"MS Sans Serif", {"Liberation Sans", "DejaVu Sans"}},
    {"Tahoma", {"Liberation Sans", "DejaVu Sans"}},
};

} // namespace

void SetUpFonts() {
    for (const Substitute& s : Table) {
        QStringList list;
        for (const char* name : s.substitutes)
            list << QString::fromLatin1(name);
        QFont::insertSubstitutions(QString::fromLatin1(s.face), list);
    }
}

QString ResolvedFamily(const QString& face) {
    return QFontInfo(LayoutFont(face, 12)).family();
}

QFont LayoutFont(const QString& face, int pixelSize, bool bold) {
    QFont font(face);
    font.setPixelSize(pixelSize);
    // Arial Black has no free clone; its stand-in is drawn bold whatever the layout says.
    font.setBold(bold || face == QLatin1String("Arial Black"));
    // Hinted advances are rounded per glyph and make bold labels a pixel or two wider than
    // the sizes the layouts were made for.
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

void StyleLabel(QWidget* widget, const QString& face, int pixelSize, bool bold,
                const QColor& colour) {
    widget->setFont(LayoutFont(face, pixelSize, bold));
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget->setPalette(palette);
}
