#include "app/TrackCaption.h"

#include "app/FormatTags.h"
#include "tags/ID3v2Library.h"

const QString FailedCaption = QStringLiteral("Track - Failed to get file information.");

QString TrackCaption(TID3v2Tag& tag, const QString& path) {
    // The reader never raises; a missing or tagless file simply leaves both texts empty.
    tag.LoadFromFile(path.toStdU16String());
    std::u16string title;
    std::u16string artist;
    tag.GetUnicodeText("TIT2", title);
    tag.GetUnicodeText("TPE1", artist);
    if (title.empty() && artist.empty()) {
        // No ID3v2 title or artist: the file's own tags may still name it (other formats, and
        // MPEG tags our reader does not read).
        QString otherTitle;
        QString otherArtist;
        if (FormatTags::TitleArtist(path, otherTitle, otherArtist))
            return otherArtist + QLatin1String(" - ") + otherTitle;
        return FailedCaption;
    }
    return QString::fromStdU16String(artist) + QLatin1String(" - ") +
           QString::fromStdU16String(title);
}
