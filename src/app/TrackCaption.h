#pragma once

#include <QString>

class TID3v2Tag;

// What a track's tags say, read once for both the caption and the desktop's player controls.
// Where the ID3v2 tag gives neither title nor artist, both come from the file's own tags
// (app/FormatTags.h).
struct TTrackTags {
    QString Path;
    QString Title;  // "TIT2", empty when absent
    QString Artist; // "TPE1", empty when absent
};

// Loads `path` into `tag`, which the caller reuses for many files. Never raises: a missing or
// tagless file gives empty texts.
TTrackTags ReadTrackTags(TID3v2Tag& tag, const QString& path);

// The caption the program names a track by: artist, " - ", title, or the failure text when the
// file yields neither.
QString TrackCaption(const TTrackTags& tags);
QString TrackCaption(TID3v2Tag& tag, const QString& path);

// What a file without artist and title is shown as.
extern const QString FailedCaption;
