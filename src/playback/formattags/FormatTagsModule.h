#pragma once

#include <string>

// The boundary between the program and libondrix-formattags.so, the module that reads the tags
// of other formats with TagLib, for the captions and for the loudness the player levels. TagLib
// is loaded only for a file our own readers cannot answer for (an MP3 with a good ID3v2 tag never
// needs it), so a start whose first track is a tagged MP3 never pays for it. Standard C++ on both
// sides; the module exports one C symbol.
class IFormatTags {
public:
    // Title and artist of the file at `path` (the file system's bytes) as UTF-8, of several
    // values the first. False, with both empty, when the file is not a regular file, cannot be
    // read, is of no format the module knows, or names neither. Never raises.
    virtual bool TitleArtist(const char* path, std::string& title, std::string& artist) = 0;

    // The texts of a file's loudness and album fields, as stored (UTF-8): REPLAYGAIN_TRACK_GAIN,
    // _TRACK_PEAK, _ALBUM_GAIN, _ALBUM_PEAK and Opus's R128_TRACK_GAIN and R128_ALBUM_GAIN in
    // Vorbis comments (FLAC, Ogg Vorbis, Opus, Ogg FLAC), MP4 freeform items
    // ("----:com.apple.iTunes:replaygain_track_gain") and ASF attributes, names in any case; the
    // album and album artist beside them. False, all empty, when the file cannot be read or is
    // of no such format. Never raises.
    struct TLoudnessTexts {
        std::string TrackGain, TrackPeak, AlbumGain, AlbumPeak, R128TrackGain, R128AlbumGain;
        std::string Album, AlbumArtist;
    };
    virtual bool Loudness(const char* path, TLoudnessTexts& out) = 0;

protected:
    ~IFormatTags() = default; // lives as long as the process; never deleted through this
};

// Raised when the boundary changes, so a stale module is refused rather than misused.
inline constexpr int kFormatTagsVersion = 2;
inline constexpr char kFormatTagsFile[] = "libondrix-formattags.so";
inline constexpr char kFormatTagsEntry[] = "OndrixFormatTags";
// The entry: the reader, or nullptr when the module was built for another version.
using TFormatTagsEntry = IFormatTags* (*)(int version);
