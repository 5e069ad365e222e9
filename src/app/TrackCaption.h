#pragma once

#include <QString>

class TID3v2Tag;

// The caption the program names a track by: artist, " - ", title from the "TPE1" and "TIT2"
// frames; where the ID3v2 tag gives neither, from the file's own tags (app/FormatTags.h); or
// the failure text when the file yields neither. The path is loaded into `tag`, which is reused
// by the caller for many files.
QString TrackCaption(TID3v2Tag& tag, const QString& path);

// What a file without artist and title is shown as.
extern const QString FailedCaption;
