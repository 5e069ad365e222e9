#pragma once

#include <QColor>
#include <QString>

// The files the windows hand each other, named without a folder: they live in the working
// directory.
inline const QString kPatch = QStringLiteral("patch.dat"); // the persisted play list
inline const QString kTracklist =
    QStringLiteral("tracklist.dat"); // a saved list opened in the editor
inline const QString kKontrola = QStringLiteral("kontrola.tmp"); // tracks were added in the editor

// The skins' text colours.
inline const QColor kNavy{0, 0, 128};
inline const QColor kWhite{255, 255, 255};
inline const QColor kBlue{0, 0, 255};
