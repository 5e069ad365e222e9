#include "TagTestSupport.h"

#include <gtest/gtest.h>

using namespace tagbytes;

namespace {

// Encoding 0: first string only, nothing trimmed, Windows-1252 for the upper half.
TEST(ID3v2Text, Encoding0) {
    EXPECT_EQ(DecodeBody(Text(0, B(std::string_view("Song\0Extra", 10)))), u"Song");
    EXPECT_EQ(DecodeBody(Text(0, "Song")), u"Song");
    EXPECT_EQ(DecodeBody(Text(0, " ")), u" ");
    EXPECT_EQ(DecodeBody(Text(0, "  two  ")), u"  two  ");
    EXPECT_EQ(DecodeBody(Bytes{0}), u"");
    EXPECT_EQ(DecodeBody(Bytes{0, 0, 'A'}), u"");
    EXPECT_EQ(DecodeBody(Text(0, Bytes{'C', 0xE9, 0x80, 0x9F, 0x81, 0xFF})),
              u"C\u00E9\u20AC\u0178\u0081\u00FF");
}

// Encoding 1 needs the little-endian mark; an odd last byte is a final unit's low byte.
TEST(ID3v2Text, Encoding1) {
    EXPECT_EQ(DecodeBody(Text(1, Cat({{0xFF, 0xFE}, Utf16LE(u"Song")}))), u"Song");
    EXPECT_EQ(DecodeBody(Text(1, Cat({{0xFE, 0xFF}, Utf16BE(u"Song")}))), u"");
    EXPECT_EQ(DecodeBody(Text(1, Utf16LE(u"Song"))), u"");
    EXPECT_EQ(DecodeBody(Bytes{1, 0xFF}), u"");
    EXPECT_EQ(DecodeBody(Bytes{1, 0xFF, 0xFE}), u"");
    EXPECT_EQ(DecodeBody(Text(1, Cat({{0xFF, 0xFE}, Utf16LE(u"Ab\u010D"), {0, 0}, Utf16LE(u"x")}))),
              u"Ab\u010D");
    EXPECT_EQ(DecodeBody(Text(1, Cat({{0xFF, 0xFE}, Utf16LE(u"Ab"), {'c'}}))), u"Abc");
    // a surrogate pair passes through as two units
    EXPECT_EQ(DecodeBody(Text(1, Cat({{0xFF, 0xFE}, Utf16LE(u"\U0001F3B5")}))), u"\U0001F3B5");
}

// Encoding 2 is big-endian with no mark looked for; an odd last byte is dropped.
TEST(ID3v2Text, Encoding2) {
    EXPECT_EQ(DecodeBody(Text(2, Utf16BE(u"Song"))), u"Song");
    EXPECT_EQ(DecodeBody(Text(2, Cat({{0xFE, 0xFF}, Utf16BE(u"Song")}))), u"\uFEFFSong");
    EXPECT_EQ(DecodeBody(Text(2, Cat({Utf16BE(u"Ab"), {'c'}}))), u"Ab");
    EXPECT_EQ(DecodeBody(Text(2, Cat({Utf16BE(u"Ab"), {0, 0}, Utf16BE(u"Cd")}))), u"Ab");
    // zero bytes that straddle two units are not a terminator
    EXPECT_EQ(DecodeBody(Text(2, Bytes{0x01, 0x00, 0x00, 0x41})), u"\u0100A");
}

// Encoding 3 is UTF-8; malformed sequences become one U+FFFD each.
TEST(ID3v2Text, Encoding3) {
    EXPECT_EQ(DecodeBody(Text(3, "P\xC5\x99\xC3\xADli\xC5\xA1")), u"P\u0159\u00EDli\u0161");
    EXPECT_EQ(DecodeBody(Text(3, B(std::string_view("Song\0Extra", 10)))), u"Song");
    EXPECT_EQ(DecodeBody(Text(3, "\xF0\x9F\x8E\xB5!")), u"\U0001F3B5!");
    EXPECT_EQ(DecodeBody(Text(3, "a\xC3(b")), u"a\uFFFD(b");
    EXPECT_EQ(DecodeBody(Text(3, "a\xE2\x82")), u"a\uFFFD");
    EXPECT_EQ(DecodeBody(Text(3, "\xC0\xAF")), u"\uFFFD\uFFFD");
    EXPECT_EQ(DecodeBody(Text(3, "\xED\xA0\x80")), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(DecodeBody(Text(3, "\xF4\x90\x80\x80")), u"\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(DecodeBody(Text(3, "\xFF")), u"\uFFFD");
}

// An unknown encoding byte gives nothing.
TEST(ID3v2Text, UnknownEncoding) {
    EXPECT_EQ(DecodeBody(Text(4, "Song")), u"");
    EXPECT_EQ(DecodeBody(Text(0xFF, "Song")), u"");
}

// Frame data is not de-unsynchronised, so an inserted zero breaks the mark of encoding 1.
TEST(ID3v2Text, UnsynchronisedMarkGivesNothing) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::UnsynchronisedV3()), 0);
    EXPECT_EQ(TextOf(tag, "TIT2"), u"");
}

// Title and artist as the caption asks for them, in every encoding.
TEST(ID3v2Lookup, TitleAndArtist) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::Utf16Texts()), 0);
    EXPECT_EQ(TextOf(tag, "TIT2"), u"Song");
    EXPECT_EQ(TextOf(tag, "TPE1"), u"Band");
    EXPECT_EQ(TextOf(tag, "TALB"), u"");
    ASSERT_EQ(LoadBytes(tag, sample::TitleArtistV4Utf8()), 0);
    EXPECT_EQ(TextOf(tag, "TIT2"), u"P\u0159\u00EDli\u0161");
    EXPECT_EQ(TextOf(tag, "TPE1"), u"Kapela");
}

// The first of two frames with one ID is the one found.
TEST(ID3v2Lookup, FirstOfTwo) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::TwoTitles()), 0);
    EXPECT_EQ(tag.FindFrame({'T', 'I', 'T', '2'}), 0);
    EXPECT_EQ(TextOf(tag, "TIT2"), u"First");
    std::u16string out;
    tag.GetFrameUnicodeText(1, out);
    EXPECT_EQ(out, u"Second");
}

// IDs compare byte by byte: small letters, short IDs and extra characters.
TEST(ID3v2Lookup, IdMatching) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::TitleArtistV3()), 0);
    EXPECT_EQ(TextOf(tag, "tit2"), u"");
    EXPECT_EQ(TextOf(tag, "TIT"), u"");
    EXPECT_EQ(TextOf(tag, ""), u"");
    EXPECT_EQ(TextOf(tag, "TIT2 and more"), u"Song");
    EXPECT_EQ(tag.FindFrame({'T', 'I', 'T', '3'}), -1);
}

// A user text is found by its description in any case; its value is the string after it, in
// the frame's encoding (each UTF-16 string with its own mark).
TEST(ID3v2Lookup, UserTexts) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::UserTexts()), 0);
    const auto user = [&tag](const std::string& description) {
        std::u16string out = u"x";
        tag.GetUserText(description, out);
        return out;
    };
    EXPECT_EQ(user("REPLAYGAIN_TRACK_GAIN"), u"-6.00 dB");
    EXPECT_EQ(user("replaygain_album_gain"), u"-3 dB");
    EXPECT_EQ(user("PEAK"), u"0.5");
    EXPECT_EQ(user("no value"), u"");
    EXPECT_EQ(user("REPLAYGAIN_TRACK"), u"");
    EXPECT_EQ(user("-6.00 dB"), u""); // a value is not a description
}

// Indexes outside the list and empty bodies give an empty string.
TEST(ID3v2Lookup, IndexOutOfRange) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::TitleArtistV3()), 0);
    std::u16string out = u"x";
    tag.GetFrameUnicodeText(-1, out);
    EXPECT_EQ(out, u"");
    out = u"x";
    tag.GetFrameUnicodeText(2, out);
    EXPECT_EQ(out, u"");
    out = u"x";
    tag.GetFrameUnicodeText(1, out);
    EXPECT_EQ(out, u"Band");
    ASSERT_EQ(LoadBytes(tag, Tag(3, {Frame(3, "TIT2", {})})), 0);
    EXPECT_EQ(TextOf(tag, "TIT2"), u"");
}

// A file without a tag after one with a tag shows none of the old texts.
TEST(ID3v2Lookup, NoTagAfterTag) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::TitleArtistV3()), 0);
    ASSERT_EQ(LoadBytes(tag, AudioStart()), 65535);
    EXPECT_EQ(TextOf(tag, "TIT2"), u"");
    EXPECT_EQ(TextOf(tag, "TPE1"), u"");
}

} // namespace
