#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The 10 bytes that begin an ID3v2 tag (and end one that has a footer).
inline constexpr std::size_t kID3v2HeaderSize = 10;

// The bytes an ID3v2 tag takes in a file, from its header: the header itself, the body its
// sync-safe size counts and the footer its flags announce. 0 when the bytes are no header:
// another magic, a version byte of 0xFF or a size byte with its top bit set. A tag appended at
// the end is found by its footer, which repeats the header's fields after the magic "3DI".
// Header-only, so the playback code and the module that reads other tags (TagLib), which links
// nothing of ours, read the size alike.
inline int64_t ID3v2TagSize(const uint8_t* header, const char* magic = "ID3") {
    const uint8_t* h = header;
    if (std::memcmp(h, magic, 3) != 0 || h[3] == 0xFF || h[4] == 0xFF ||
        ((h[6] | h[7] | h[8] | h[9]) & 0x80) != 0)
        return 0;
    const int64_t body = int64_t{h[6]} << 21 | int64_t{h[7]} << 14 | int64_t{h[8]} << 7 | h[9];
    return int64_t{kID3v2HeaderSize} + body + ((h[5] & 0x10) != 0 ? int64_t{kID3v2HeaderSize} : 0);
}
