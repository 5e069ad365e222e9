#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QWidget;

// Maps the faces the window layouts name onto metric-compatible free fonts, for machines
// without the originals: Arial, Arial Narrow and Times New Roman to their Liberation clones,
// Arial Black (no free clone) to Liberation Sans drawn bold, MS Sans Serif and Tahoma to
// Liberation Sans. A machine that has the originals keeps using them. Call once, after the
// application object exists and before any window is built.
void SetUpFonts();

// The free family a layout face resolves to on this machine (after SetUpFonts).
QString ResolvedFamily(const QString& face);

// A layout font: face, character height in pixels, bold or not. Glyph advances are kept
// unhinted so text measures as the layouts' fixed label sizes expect.
QFont LayoutFont(const QString& face, int pixelSize, bool bold = false);

// Gives a label (or any widget) its layout font and text colour.
void StyleLabel(QWidget* widget, const QString& face, int pixelSize, bool bold,
                const QColor& colour);
