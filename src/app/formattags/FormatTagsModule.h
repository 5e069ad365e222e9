#pragma once

#include <string>

// The boundary between the captions and libondrix-formattags.so, the module that reads the tags
// of other formats with TagLib. TagLib is loaded only when a file's ID3v2 tag gives no title or
// artist, so a start whose first track is a tagged MP3 never pays for it. Standard C++ on both
// sides; the module exports one C symbol.
class IFormatTags {
public:
    // Title and artist of the file at `path` (the file system's bytes) as UTF-8, of several
    // values the first. False, with both empty, when the file is not a regular file, cannot be
    // read, is of no format the module knows, or names neither. Never raises.
    virtual bool TitleArtist(const char* path, std::string& title, std::string& artist) = 0;

protected:
    ~IFormatTags() = default; // lives as long as the process; never deleted through this
};

// Raised when the boundary changes, so a stale module is refused rather than misused.
inline constexpr int kFormatTagsVersion = 1;
inline constexpr char kFormatTagsFile[] = "libondrix-formattags.so";
inline constexpr char kFormatTagsEntry[] = "OndrixFormatTags";
// The entry: the reader, or nullptr when the module was built for another version.
using TFormatTagsEntry = IFormatTags* (*)(int version);
