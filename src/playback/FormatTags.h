#pragma once

#include "playback/formattags/FormatTagsModule.h"

#include <QString>

// Title and artist from a file's own tags, for the files whose ID3v2 tag (read by our reader)
// gives neither: Vorbis comments (FLAC, Ogg Vorbis, Opus), MP4 items, ASF's content
// description (WMA), RIFF INFO or an "id3 " chunk (WAV), and the MPEG tags our reader does not
// read (version 2.2, unsynchronised texts, sizes that are not sync-safe, a tag after other
// bytes, APE, ID3v1). Read with TagLib in the module libondrix-formattags.so, which is loaded
// on the first call, so a run whose files all have good ID3v2 tags never loads it.
namespace FormatTags {

// Of several values of one field, the first. False, with both empty, when the file names
// neither, cannot be read, or the module cannot be loaded. Never raises; any thread.
bool TitleArtist(const QString& path, QString& title, QString& artist);

// The loudness and album fields of a FLAC, Ogg, MP4 or ASF file (IFormatTags::Loudness). False,
// all empty, where there are none or the module cannot be loaded. Never raises; any thread.
bool Loudness(const QString& path, IFormatTags::TLoudnessTexts& texts);

} // namespace FormatTags
