#pragma once

#include "playback/MediaFile.h"

#include <cstdint>
#include <cstring>

// The audio stream of an Ogg file: the first of its streams' opening pages that starts Vorbis,
// Opus or FLAC. A film's Theora (or any other) stream may come first. Header-only: the program
// tells the file by it and the Xiph module opens the stream it names.
struct TOggAudio {
    enum class EKind { None, Vorbis, Opus, Flac };
    EKind Kind = EKind::None;
    uint32_t Serial = 0;
};

inline TOggAudio FindOggAudio(IByteReader& file) {
    // every stream's first page comes before any other page; a few dozen are plenty
    int64_t at = 0;
    for (int pages = 0; pages < 32; ++pages) {
        uint8_t page[27 + 255 + 8] = {};
        const int64_t got = file.ReadAt(at, page, sizeof page);
        if (got < 27 || std::memcmp(page, "OggS", 4) != 0 || (page[5] & 0x02) == 0)
            break;
        const int64_t packet = 27 + int64_t{page[26]};
        const auto starts = [&](const char* magic, int64_t size) {
            return packet + size <= got &&
                   std::memcmp(page + packet, magic, static_cast<size_t>(size)) == 0;
        };
        const uint32_t serial = uint32_t{page[14]} | uint32_t{page[15]} << 8 |
                                uint32_t{page[16]} << 16 | uint32_t{page[17]} << 24;
        if (starts("OpusHead", 8))
            return {TOggAudio::EKind::Opus, serial};
        if (starts("\x01vorbis", 7))
            return {TOggAudio::EKind::Vorbis, serial};
        if (starts("\x7F"
                   "FLAC",
                   5))
            return {TOggAudio::EKind::Flac, serial};
        if (packet > got)
            break;
        int64_t body = 0;
        for (int i = 0; i < page[26]; ++i)
            body += page[27 + i];
        at += packet + body;
    }
    return {};
}
