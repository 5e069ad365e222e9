#include "app/TrackCaption.h"

#include "app/FormatTags.h"
#include "tags/ID3v2Library.h"

const QString FailedCaption = QStringLiteral("Track - Failed to get file information.");

TTrackTags ReadTrackTags(TID3v2Tag& tag, const QString& path) {
    // The reader never raises; a missing or tagless file simply leaves both texts empty.
    tag.LoadFromFile(path.toStdU16String());
    std::u16string title;
    std::u16string artist;
    tag.GetUnicodeText("TIT2", title);
    tag.GetUnicodeText("TPE1", artist);
    TTrackTags tags{path, QString::fromStdU16String(title), QString::fromStdU16String(artist)};
    // No ID3v2 title or artist: the file's own tags may still name it (other formats, and MPEG
    // tags our reader does not read).
    if (tags.Title.isEmpty() && tags.Artist.isEmpty())
        FormatTags::TitleArtist(path, tags.Title, tags.Artist);
    return tags;
}

QString TrackCaption(const TTrackTags& tags) {
    if (tags.Title.isEmpty() && tags.Artist.isEmpty())
        return FailedCaption;
    return tags.Artist + QLatin1String(" - ") + tags.Title;
}

QString TrackCaption(TID3v2Tag& tag, const QString& path) {
    return TrackCaption(ReadTrackTags(tag, path));
}
