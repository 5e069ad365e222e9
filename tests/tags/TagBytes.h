#pragma once

// Builds ID3v2 tags byte by byte for the tag tests (and the ID3v1 and APE tags the captions fall
// back to), and names the tags that quirks are tested with so that the fuzzer starts from the
// same inputs (fuzz/CorpusMain.cpp writes them out). Standard C++ only.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tagbytes {

using Bytes = std::vector<uint8_t>;

inline Bytes B(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes Zeros(std::size_t n) {
    return Bytes(n, 0);
}

inline Bytes SyncSafe(uint32_t v) {
    return {uint8_t((v >> 21) & 0x7F), uint8_t((v >> 14) & 0x7F), uint8_t((v >> 7) & 0x7F),
            uint8_t(v & 0x7F)};
}

inline Bytes Plain32(uint32_t v) {
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

// The ten-byte tag header; size is the sync-safe tag size after the header.
inline Bytes Header(uint8_t major, uint32_t size, uint8_t flags = 0, uint8_t revision = 0) {
    return Cat({B("ID3"), {major, revision, flags}, SyncSafe(size)});
}

// A frame with its size field written as the version demands (plain in 3, sync-safe in 4).
inline Bytes Frame(uint8_t major, std::string_view id, const Bytes& body, uint16_t flags = 0) {
    const uint32_t size = uint32_t(body.size());
    return Cat({B(id),
                major >= 4 ? SyncSafe(size) : Plain32(size),
                {uint8_t(flags >> 8), uint8_t(flags)},
                body});
}

// A frame whose size field is given as raw bytes, whatever the body really holds.
inline Bytes RawFrame(std::string_view id, const Bytes& sizeBytes, uint16_t flags,
                      const Bytes& body) {
    return Cat({B(id), sizeBytes, {uint8_t(flags >> 8), uint8_t(flags)}, body});
}

// A text frame body: the encoding byte, then the bytes as given.
inline Bytes Text(uint8_t encoding, const Bytes& text) {
    return Cat({{encoding}, text});
}
inline Bytes Text(uint8_t encoding, std::string_view text) {
    return Text(encoding, B(text));
}

inline Bytes Utf16LE(std::u16string_view s) {
    Bytes out;
    for (char16_t c : s) {
        out.push_back(uint8_t(c));
        out.push_back(uint8_t(c >> 8));
    }
    return out;
}

inline Bytes Utf16BE(std::u16string_view s) {
    Bytes out;
    for (char16_t c : s) {
        out.push_back(uint8_t(c >> 8));
        out.push_back(uint8_t(c));
    }
    return out;
}

// A whole tag: header with the right size, the frames, then padding.
inline Bytes Tag(uint8_t major, std::initializer_list<Bytes> frames, std::size_t padding = 0,
                 uint8_t flags = 0) {
    Bytes body;
    for (const Bytes& f : frames)
        body.insert(body.end(), f.begin(), f.end());
    body.resize(body.size() + padding, 0);
    return Cat({Header(major, uint32_t(body.size()), flags), body});
}

// MPEG audio as it follows a tag: frame sync 0xFF first.
inline Bytes AudioStart() {
    return {0xFF, 0xFB, 0x90, 0x64, 0x00, 0x0F, 0xF0, 0x00};
}

inline Bytes Plain32LE(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// The 128-byte ID3v1 tag that ends a file; texts are cut or zero-padded to 30 bytes.
inline Bytes Id3v1(std::string_view title, std::string_view artist) {
    const auto field = [](std::string_view text) {
        Bytes b = B(text.substr(0, 30));
        b.resize(30, 0);
        return b;
    };
    return Cat({B("TAG"), field(title), field(artist), Zeros(30 + 4 + 30), {0xFF}});
}

// An APE tag version 2 as it ends a file: the items (key, value) and the footer. Values of a
// list are separated by a zero byte.
inline Bytes Ape(std::initializer_list<std::pair<std::string_view, std::string_view>> items) {
    Bytes body;
    for (const auto& [key, value] : items) {
        const Bytes item =
            Cat({Plain32LE(uint32_t(value.size())), Zeros(4), B(key), {0}, B(value)});
        body.insert(body.end(), item.begin(), item.end());
    }
    const auto size = uint32_t(body.size() + 32);
    return Cat({body, B("APETAGEX"), Plain32LE(2000), Plain32LE(size),
                Plain32LE(uint32_t(items.size())), Zeros(12)});
}

// The tags the quirks are tested with.
namespace sample {

inline Bytes TitleArtistV3() {
    return Tag(3, {Frame(3, "TIT2", Text(0, "Song")), Frame(3, "TPE1", Text(0, "Band"))}, 1000);
}

inline Bytes TitleArtistV4Utf8() {
    return Tag(4,
               {Frame(4, "TIT2", Text(3, "P\xC5\x99\xC3\xADli\xC5\xA1")),
                Frame(4, "TPE1", Text(3, "Kapela"))},
               100);
}

inline Bytes NoPaddingThenAudio() {
    return Cat({Tag(3, {Frame(3, "TIT2", Text(0, "Song")), Frame(3, "TPE1", Text(0, "Band"))}),
                AudioStart()});
}

inline Bytes SmallLetterStopsWalk() {
    return Tag(3, {Frame(3, "TIT2", Text(0, "Song")), Frame(3, "Tit2", Text(0, "x")),
                   Frame(3, "TPE1", Text(0, "Band"))});
}

inline Bytes TwoTitles() {
    return Tag(3, {Frame(3, "TIT2", Text(0, "First")), Frame(3, "TIT2", Text(0, "Second"))});
}

inline Bytes Utf16Texts() {
    return Tag(3, {Frame(3, "TIT2", Text(1, Cat({{0xFF, 0xFE}, Utf16LE(u"Song")}))),
                   Frame(3, "TPE1", Text(2, Utf16BE(u"Band"))),
                   Frame(3, "TALB", Text(1, Cat({{0xFE, 0xFF}, Utf16BE(u"Album")})))});
}

// Version 4 frame with grouping, encryption and data length indicator: 6 extra bytes.
inline Bytes V4AllExtraFields() {
    return Tag(4, {Frame(4, "TIT2", Cat({{0x07, 0x02}, SyncSafe(5), Text(0, "Song")}), 0x4047),
                   Frame(4, "TPE1", Text(0, "Band"))});
}

// Version 3 compressed frame: four decompressed-size bytes, then the body.
inline Bytes V3Compressed() {
    return Tag(3, {Frame(3, "TIT2", Cat({SyncSafe(300), Text(0, "Song")}), 0x0080),
                   Frame(3, "TPE1", Text(0, "Band"))});
}

// A length indicator announced in a frame of two bytes.
inline Bytes V4FrameSmallerThanExtras() {
    return Tag(4, {RawFrame("TIT2", SyncSafe(2), 0x0001, {0xAA, 0xBB}),
                   Frame(4, "TPE1", Text(0, "Band"))});
}

inline Bytes V3ExtendedHeader() {
    return Tag(3,
               {Cat({Plain32(6), {0x00, 0x00}, Plain32(0)}), Frame(3, "TIT2", Text(0, "Song")),
                Frame(3, "TPE1", Text(0, "Band"))},
               10, 0x40);
}

// Under unsynchronisation the CRC's 0xFF 0x00 is stored as 0xFF 0x00 0x00, one byte more than
// the extended header's size says.
inline Bytes UnsynchronisedV3ExtendedHeaderCrc() {
    return Tag(3,
               {Cat({Plain32(10), {0x80, 0x00}, Plain32(0), {0x12, 0xFF, 0x00, 0x00, 0x34}}),
                Frame(3, "TIT2", Text(0, "Song"))},
               0, 0xC0);
}

inline Bytes V4ExtendedHeader() {
    return Tag(4,
               {Cat({SyncSafe(12), {0x01, 0x20}, Zeros(6)}), Frame(4, "TIT2", Text(0, "Song")),
                Frame(4, "TPE1", Text(0, "Band"))},
               10, 0x40);
}

inline Bytes ExtendedFlagButFrameFollows() {
    return Tag(3, {Frame(3, "TIT2", Text(0, "Song"))}, 10, 0x40);
}

inline Bytes UnsynchronisedV3() {
    return Tag(3, {Frame(3, "TIT2", Cat({{0x01, 0xFF, 0x00, 0xFE}, Utf16LE(u"Song")}))}, 0, 0x80);
}

// A size field of 4 GB in a tag of a few bytes.
inline Bytes HugeFrameSize() {
    return Cat({Header(3, 100), RawFrame("TIT2", {0xFF, 0xFF, 0xFF, 0xFF}, 0, Text(0, "Song"))});
}

inline Bytes VersionTwo() {
    return Cat({Header(2, 20), B("TT2"), {0x00, 0x00, 0x05}, Text(0, "Song"), Zeros(8)});
}

// User texts (TXXX): a description and a value, each terminated in its encoding.
inline Bytes UserTexts() {
    const Bytes le = {0xFF, 0xFE};
    return Tag(3, {Frame(3, "TXXX", Text(0, B(std::string_view("replaygain_track_gain\0-6.00 dB", 30)))),
                   Frame(3, "TXXX", Text(1, Cat({le, Utf16LE(u"REPLAYGAIN_ALBUM_GAIN"), {0, 0}, le,
                                                 Utf16LE(u"-3 dB")}))),
                   Frame(3, "TXXX", Text(2, Cat({Utf16BE(u"Peak"), {0, 0}, Utf16BE(u"0.5")}))),
                   Frame(3, "TXXX", Text(3, "no value"))});
}

inline std::vector<std::pair<std::string, Bytes>> All() {
    return {{"title-artist-v3", TitleArtistV3()},
            {"title-artist-v4-utf8", TitleArtistV4Utf8()},
            {"no-padding-then-audio", NoPaddingThenAudio()},
            {"small-letter-stops-walk", SmallLetterStopsWalk()},
            {"two-titles", TwoTitles()},
            {"utf16-texts", Utf16Texts()},
            {"v4-all-extra-fields", V4AllExtraFields()},
            {"v3-compressed", V3Compressed()},
            {"v4-frame-smaller-than-extras", V4FrameSmallerThanExtras()},
            {"v3-extended-header", V3ExtendedHeader()},
            {"unsynchronised-v3-extended-header-crc", UnsynchronisedV3ExtendedHeaderCrc()},
            {"v4-extended-header", V4ExtendedHeader()},
            {"extended-flag-but-frame-follows", ExtendedFlagButFrameFollows()},
            {"unsynchronised-v3", UnsynchronisedV3()},
            {"huge-frame-size", HugeFrameSize()},
            {"version-two", VersionTwo()},
            {"user-texts", UserTexts()}};
}

} // namespace sample
} // namespace tagbytes
