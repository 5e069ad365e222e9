#pragma once

#include <QImage>

// The artwork of the three windows and the program icon. Each picture is drawn in the client
// coordinates of the window (or control) that shows it, scaled to the stored image size, so
// circles stay round once the window stretches the image back to its client area.
namespace Art {

QImage MainPanel();              // 1000 x 400, shown at 534 x 227
QImage Speaker(bool crossedOut); // 175 x 150, shown at 24 x 27 on the main panel
QImage EditorPanel();            // 1000 x 1000, shown at 540 x 519
QImage AboutPanel();             // 1000 x 1000, shown at 266 x 426
QImage Logo();                   // 146 x 146, shown at 79 x 74 on the about panel
QImage Icon(int size);           // square, transparent corners

} // namespace Art
