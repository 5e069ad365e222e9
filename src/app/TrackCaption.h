#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class TID3v2Tag;

// What a track's tags say, read once for both the caption and the desktop's player controls.
// Where the ID3v2 tag gives neither title nor artist, both come from the file's own tags
// (playback/FormatTags.h).
struct TTrackTags {
    QString Path;
    QString Title;  // "TIT2", empty when absent
    QString Artist; // "TPE1", empty when absent
};

// Loads `path` into `tag`, which the caller reuses for many files. Never raises: a missing or
// tagless file gives empty texts.
TTrackTags ReadTrackTags(TID3v2Tag& tag, const QString& path);

// The same on a thread of its own, waited for as core/BoundedWait.h waits: a file whose reads
// make no progress for a while (a hung network share) gives empty texts, and `tag`, which that
// thread keeps, is replaced by a new reader.
TTrackTags ReadTrackTagsBounded(std::unique_ptr<TID3v2Tag>& tag, const QString& path);

// The captions of many files, read one after the other with `tag` on a thread of their own and
// waited for the same way; a file whose read stalls gets the failure text, and the rest are
// read on with a new reader.
QStringList TrackCaptions(std::unique_ptr<TID3v2Tag>& tag, const QStringList& paths);

// The caption the program names a track by: artist, " - ", title, or the failure text when the
// file yields neither.
QString TrackCaption(const TTrackTags& tags);
QString TrackCaption(TID3v2Tag& tag, const QString& path);

// Called on the reading thread before each file's tags are read; tests use it to make a read
// hang.
void SetTagReadHook(std::function<void(const QString& path)> hook);

// What a file without artist and title is shown as.
extern const QString FailedCaption;
