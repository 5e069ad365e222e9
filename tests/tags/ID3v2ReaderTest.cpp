#include "TagTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace tagbytes;

namespace {

// Header and version handling

// A file whose only tag is an ID3v1 tag at its end has no ID3v2 tag.
TEST(ID3v2Header, Id3v1OnlyFileHasNoTag) {
    TID3v2Tag tag;
    const Bytes file = Cat({AudioStart(), Zeros(500), B("TAG"), B("Song"), Zeros(121)});
    EXPECT_EQ(LoadBytes(tag, file), 65535);
    EXPECT_EQ(tag.FrameCount, 0);
    EXPECT_FALSE(tag.Loaded);
}

// The tag must start at the stream's position: no scan further on.
TEST(ID3v2Header, TagAfterOtherBytesIsNotFound) {
    TID3v2Tag tag;
    EXPECT_EQ(LoadBytes(tag, Cat({Zeros(1), sample::TitleArtistV3()})), 65535);
    EXPECT_EQ(tag.FrameCount, 0);
}

// Versions above 4 are rejected; versions below 3 load without frame bodies.
TEST(ID3v2Header, MajorVersions) {
    TID3v2Tag tag;
    EXPECT_EQ(LoadBytes(tag, Tag(5, {Frame(4, "TIT2", Text(0, "Song"))})), 65535);
    EXPECT_EQ(tag.FrameCount, 0);

    EXPECT_EQ(LoadBytes(tag, sample::VersionTwo()), 0);
    EXPECT_EQ(tag.FrameCount, 0);
    EXPECT_EQ(tag.MajorVersion, 2);

    // a four-character frame in a version-0 tag keeps its ID and nothing else
    EXPECT_EQ(LoadBytes(tag, Tag(0, {Frame(3, "TIT2", Text(0, "Song")),
                                     Frame(3, "TPE1", Text(0, "Band"))})),
              0);
    ASSERT_EQ(tag.FrameCount, 1);
    EXPECT_EQ(tag.Frames[0]->FrameSize, 0u);
    EXPECT_TRUE(tag.Frames[0]->Data.empty());
}

// A header cut short anywhere gives 65535; ten bytes are enough for result 0.
TEST(ID3v2Header, TruncatedHeader) {
    const Bytes header = Header(4, 0x1234, 0x80, 7);
    for (std::size_t n = 0; n < header.size(); ++n) {
        TID3v2Tag tag;
        EXPECT_EQ(LoadBytes(tag, Bytes(header.begin(), header.begin() + long(n))), 65535)
            << n << " bytes";
        EXPECT_FALSE(tag.Loaded);
    }
    TID3v2Tag tag;
    EXPECT_EQ(LoadBytes(tag, header), 0);
    EXPECT_TRUE(tag.Loaded);
    EXPECT_EQ(tag.FrameCount, 0);
}

// Header fields and flags are decoded; sync-safe sizes ignore the top bits.
TEST(ID3v2Header, FieldsAndSyncSafeSize) {
    TID3v2Tag tag;
    const Bytes file = Cat({B("ID3"), {4, 9, 0xF0}, {0xFF, 0xFF, 0xFF, 0xFF}});
    ASSERT_EQ(LoadBytes(tag, file), 0);
    EXPECT_EQ(tag.MajorVersion, 4);
    EXPECT_EQ(tag.Revision, 9);
    EXPECT_EQ(tag.HeaderFlags, 0xF0);
    EXPECT_TRUE(tag.Unsynchronisation);
    EXPECT_TRUE(tag.ExtendedHeader);
    EXPECT_TRUE(tag.Experimental);
    EXPECT_TRUE(tag.FooterPresent);
    EXPECT_EQ(tag.TagSize, 268435455u);
    EXPECT_EQ(tag.TagSizeBytes, (std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));

    ASSERT_EQ(LoadBytes(tag, Header(3, 0x0FEDCBA, 0x10)), 0);
    EXPECT_EQ(tag.TagSize, 0x0FEDCBAu);
    EXPECT_FALSE(tag.Unsynchronisation);
    EXPECT_TRUE(tag.FooterPresent);
}

// The frame walk

// Padding ends the walk after the two frames.
TEST(ID3v2Walk, PaddingEndsWalk) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::TitleArtistV3()), 0);
    ASSERT_EQ(tag.FrameCount, 2);
    EXPECT_EQ(tag.Frames.size(), 2u);
    EXPECT_EQ(IdOf(tag, 0), "TIT2");
    EXPECT_EQ(IdOf(tag, 1), "TPE1");
    EXPECT_EQ(tag.Frames[0]->FrameSize, 5u);
    EXPECT_EQ(tag.Frames[0]->Data, Text(0, "Song"));
}

// The first byte of MPEG audio ends a tag that has no padding.
TEST(ID3v2Walk, AudioEndsWalk) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::NoPaddingThenAudio()), 0);
    EXPECT_EQ(tag.FrameCount, 2);
}

// A small letter in an ID ends the walk; later frames are not read.
TEST(ID3v2Walk, InvalidIdEndsWalk) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::SmallLetterStopsWalk()), 0);
    ASSERT_EQ(tag.FrameCount, 1);
    EXPECT_EQ(IdOf(tag, 0), "TIT2");
}

// The declared tag size does not bound the walk.
TEST(ID3v2Walk, WalkGoesBeyondTagSize) {
    TID3v2Tag tag;
    const Bytes file = Cat({Header(3, 0), Frame(3, "TIT2", Text(0, "Song")),
                            Frame(3, "TPE1", Text(0, "Band")), AudioStart()});
    ASSERT_EQ(LoadBytes(tag, file), 0);
    EXPECT_EQ(tag.FrameCount, 2);
}

// A frame of size 0 has an empty body and the next frame is read normally.
TEST(ID3v2Walk, ZeroSizeFrame) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, Tag(3, {Frame(3, "TIT2", {}), Frame(3, "TPE1", Text(0, "Band"))}, 4)),
              0);
    ASSERT_EQ(tag.FrameCount, 2);
    EXPECT_TRUE(tag.Frames[0]->Data.empty());
    EXPECT_EQ(tag.Frames[1]->Data, Text(0, "Band"));
}

// A size field far beyond the end of the stream gives the bytes that are there, then the end.
TEST(ID3v2Walk, SizeBeyondEndKeepsWhatIsThere) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::HugeFrameSize()), 0);
    ASSERT_EQ(tag.FrameCount, 1);
    EXPECT_EQ(tag.Frames[0]->FrameSize, 0xFFFFFFFFu);
    EXPECT_EQ(tag.Frames[0]->Data, Text(0, "Song"));

    const Bytes v4 = Cat({Header(4, 100), RawFrame("TPE1", {0x7F, 0x7F, 0x7F, 0x7F}, 0, B("ab"))});
    ASSERT_EQ(LoadBytes(tag, v4), 0);
    ASSERT_EQ(tag.FrameCount, 1);
    EXPECT_EQ(tag.Frames[0]->FrameSize, 268435455u);
    EXPECT_EQ(tag.Frames[0]->Data, B("ab"));
}

// Size and flag bytes cut off by the end count as zero; the frame stays in the list.
TEST(ID3v2Walk, CutOffFrameHeaderKeepsFrame) {
    TID3v2Tag tag;
    ASSERT_EQ(
        LoadBytes(
            tag,
            Cat({Header(3, 50), Frame(3, "TIT2", Text(0, "Song")), B("TPE1"), {0x00, 0x00, 0x01}})),
        0);
    ASSERT_EQ(tag.FrameCount, 2);
    EXPECT_EQ(IdOf(tag, 1), "TPE1");
    EXPECT_EQ(tag.Frames[1]->FrameSize, 0x100u);
    EXPECT_EQ(tag.Frames[1]->FrameFlags, 0);
    EXPECT_TRUE(tag.Frames[1]->Data.empty());
}

// A stream that stops delivering part-way while still counting the bytes it was meant to have,
// like a file cut short during the read.
class CutShortStream : public TID3v2Stream {
public:
    CutShortStream(const Bytes& bytes, std::size_t deliver) : fBytes(bytes), fDeliver(deliver) {}
    std::size_t Read(uint8_t* buffer, std::size_t count) override {
        const std::size_t n = fPosition < fDeliver ? std::min(count, fDeliver - fPosition) : 0;
        std::copy_n(fBytes.begin() + long(fPosition), n, buffer);
        fPosition += n;
        return n;
    }
    void Seek(int64_t offset) override {
        fPosition = std::size_t(
            std::clamp<int64_t>(int64_t(fPosition) + offset, 0, int64_t(fBytes.size())));
    }
    uint64_t Remaining() const override { return fBytes.size() - fPosition; }

private:
    const Bytes& fBytes;
    std::size_t fDeliver;
    std::size_t fPosition = 0;
};

// A body cut off during the read keeps what arrived; the walk then ends with result 0.
TEST(ID3v2Walk, StreamCutShortDuringBody) {
    const Bytes file = sample::TitleArtistV3();
    TID3v2Tag tag;
    CutShortStream stream(file, 10 + 10 + 5 + 10 + 2);
    ASSERT_EQ(tag.LoadFromStream(stream), 0);
    ASSERT_EQ(tag.FrameCount, 2);
    EXPECT_EQ(tag.Frames[0]->Data, Text(0, "Song"));
    EXPECT_EQ(tag.Frames[1]->Data, (Bytes{0, 'B'}));
    EXPECT_EQ(TextOf(tag, "TPE1"), u"B");
}

// Flags and extra fields per version

// Version 3 flag bits; the tag's unsynchronisation is copied; no length indicator exists.
TEST(ID3v2Flags, Version3Bits) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, Tag(3, {Frame(3, "TIT2", Text(0, "A"), 0xE060)}, 0, 0x80)), 0);
    ASSERT_EQ(tag.FrameCount, 1);
    const TID3v2Frame& f = *tag.Frames[0];
    EXPECT_EQ(f.FrameFlags, 0xE060);
    EXPECT_TRUE(f.TagAlterPreservation);
    EXPECT_TRUE(f.FileAlterPreservation);
    EXPECT_TRUE(f.ReadOnly);
    EXPECT_FALSE(f.Compressed);
    EXPECT_TRUE(f.Encrypted);
    EXPECT_TRUE(f.GroupingIdentity);
    EXPECT_TRUE(f.Unsynchronised);
    EXPECT_FALSE(f.DataLengthIndicator);
    // version 3 leaves group and method bytes inside the body
    EXPECT_EQ(f.Data, Text(0, "A"));
    EXPECT_EQ(f.GroupId, 0);
    EXPECT_EQ(f.EncryptionMethod, 0);

    // version 4 moves the alter and read-only bits one lower and grouping to bit 6
    ASSERT_EQ(LoadBytes(tag, Tag(4, {Frame(4, "TIT2", Cat({{0x09}, Text(0, "A")}), 0x7040)})), 0);
    const TID3v2Frame& g = *tag.Frames[0];
    EXPECT_TRUE(g.TagAlterPreservation);
    EXPECT_TRUE(g.FileAlterPreservation);
    EXPECT_TRUE(g.ReadOnly);
    EXPECT_TRUE(g.GroupingIdentity);
    EXPECT_FALSE(g.Encrypted);
    EXPECT_FALSE(g.Unsynchronised);
    EXPECT_EQ(g.GroupId, 9);
    EXPECT_EQ(g.Data, Text(0, "A"));
}

// A compressed version-3 frame loses its four size bytes into DataLength.
TEST(ID3v2Flags, Version3Compressed) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::V3Compressed()), 0);
    ASSERT_EQ(tag.FrameCount, 2);
    EXPECT_TRUE(tag.Frames[0]->Compressed);
    EXPECT_EQ(tag.Frames[0]->DataLength, 300u);
    EXPECT_EQ(tag.Frames[0]->FrameSize, 9u);
    EXPECT_EQ(tag.Frames[0]->Data, Text(0, "Song"));
    EXPECT_EQ(TextOf(tag, "TPE1"), u"Band");
}

// Group, method and length indicator are taken out of a version-4 body in that order.
TEST(ID3v2Flags, Version4ExtraFields) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::V4AllExtraFields()), 0);
    ASSERT_EQ(tag.FrameCount, 2);
    const TID3v2Frame& f = *tag.Frames[0];
    EXPECT_TRUE(f.GroupingIdentity);
    EXPECT_TRUE(f.Encrypted);
    EXPECT_TRUE(f.Unsynchronised);
    EXPECT_TRUE(f.DataLengthIndicator);
    EXPECT_EQ(f.GroupId, 7);
    EXPECT_EQ(f.EncryptionMethod, 2);
    EXPECT_EQ(f.DataLength, 5u);
    EXPECT_EQ(f.FrameSize, 11u);
    EXPECT_EQ(f.Data, Text(0, "Song"));
    EXPECT_EQ(TextOf(tag, "TPE1"), u"Band");

    // the length indicator alone: Data is FrameSize - 4 bytes
    ASSERT_EQ(LoadBytes(tag, Tag(4, {Frame(4, "TIT2", Cat({SyncSafe(200), Text(0, "X")}), 1)})), 0);
    EXPECT_EQ(tag.Frames[0]->DataLength, 200u);
    EXPECT_EQ(tag.Frames[0]->Data, Text(0, "X"));
}

// A frame smaller than its announced extra fields keeps an empty body; the walk goes on after
// its declared size.
TEST(ID3v2Flags, FrameSmallerThanExtras) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::V4FrameSmallerThanExtras()), 0);
    ASSERT_EQ(tag.FrameCount, 2);
    EXPECT_TRUE(tag.Frames[0]->Data.empty());
    EXPECT_EQ(tag.Frames[0]->DataLength, 0u);
    EXPECT_EQ(TextOf(tag, "TPE1"), u"Band");

    ASSERT_EQ(LoadBytes(tag, Tag(3, {RawFrame("TIT2", Plain32(3), 0x0080, {1, 2, 3}),
                                     Frame(3, "TPE1", Text(0, "Band"))})),
              0);
    ASSERT_EQ(tag.FrameCount, 2);
    EXPECT_TRUE(tag.Frames[0]->Data.empty());
    EXPECT_EQ(TextOf(tag, "TPE1"), u"Band");
}

// Extended headers

// The flag is set but a frame ID follows: there is no extended header after all.
TEST(ID3v2ExtendedHeader, FrameIdInsteadOfHeader) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::ExtendedFlagButFrameFollows()), 0);
    EXPECT_FALSE(tag.ExtendedHeader);
    EXPECT_EQ(tag.HeaderFlags, 0x40);
    ASSERT_EQ(tag.FrameCount, 1);
    EXPECT_EQ(TextOf(tag, "TIT2"), u"Song");
}

// A version-3 extended header is kept and the frames start right after it.
TEST(ID3v2ExtendedHeader, Version3) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::V3ExtendedHeader()), 0);
    EXPECT_TRUE(tag.ExtendedHeader);
    EXPECT_EQ(tag.ExtendedHeaderSize, 6u);
    EXPECT_EQ(tag.ExtendedHeader3Size, Plain32(6));
    EXPECT_EQ(tag.ExtendedHeader3Data, Zeros(6));
    EXPECT_EQ(tag.FrameCount, 2);
    EXPECT_EQ(TextOf(tag, "TPE1"), u"Band");

    // under unsynchronisation the size counts the bytes with the inserted zeros taken out
    ASSERT_EQ(LoadBytes(tag, sample::UnsynchronisedV3ExtendedHeaderCrc()), 0);
    EXPECT_EQ(tag.ExtendedHeader3Data,
              (Bytes{0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x12, 0xFF, 0x00, 0x34}));
    ASSERT_EQ(tag.FrameCount, 1);
    EXPECT_EQ(TextOf(tag, "TIT2"), u"Song");
}

// A version-4 extended header: its size counts itself; the flag bytes are kept.
TEST(ID3v2ExtendedHeader, Version4) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::V4ExtendedHeader()), 0);
    EXPECT_EQ(tag.ExtendedHeaderSize, 12u);
    EXPECT_EQ(tag.ExtendedHeader4.FlagByteCount, 1);
    EXPECT_EQ(tag.ExtendedHeader4.FlagBytes, Bytes{0x20});
    EXPECT_EQ(tag.FrameCount, 2);
    EXPECT_EQ(TextOf(tag, "TIT2"), u"Song");
}

// A damaged extended header never changes the result.
TEST(ID3v2ExtendedHeader, DamagedHeaderStillLoads) {
    TID3v2Tag tag;
    EXPECT_EQ(LoadBytes(tag, Cat({Header(4, 10, 0x40), {0x7F, 0x7F, 0x7F, 0x7F, 0xFF}})), 0);
    EXPECT_EQ(tag.FrameCount, 0);
    EXPECT_EQ(tag.ExtendedHeader4.FlagByteCount, 0xFF);
    EXPECT_TRUE(tag.ExtendedHeader4.FlagBytes.empty());
    EXPECT_EQ(LoadBytes(tag, Cat({Header(3, 10, 0x40), {0xFF, 0xFF, 0xFF, 0xFF, 1, 2}})), 0);
    EXPECT_EQ(tag.ExtendedHeader3Data, (Bytes{1, 2}));
    EXPECT_EQ(LoadBytes(tag, Cat({Header(3, 10, 0x40), {0x00, 0x00}})), 0);
    EXPECT_TRUE(tag.Loaded);
}

// Unsynchronisation

// Frame data keeps its inserted zero bytes; only the extended header is undone.
TEST(ID3v2Unsynchronisation, FrameDataKeepsInsertedZeros) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::UnsynchronisedV3()), 0);
    ASSERT_EQ(tag.FrameCount, 1);
    EXPECT_TRUE(tag.Frames[0]->Unsynchronised);
    EXPECT_EQ(Bytes(tag.Frames[0]->Data.begin(), tag.Frames[0]->Data.begin() + 4),
              (Bytes{0x01, 0xFF, 0x00, 0xFE}));
}

// A zero directly after 0xFF is dropped; one after a dropped zero is kept.
TEST(ID3v2Unsynchronisation, Undo) {
    auto undo = [](Bytes b) {
        TID3v2Tag::UndoUnsynchronisation(b);
        return b;
    };
    EXPECT_EQ(undo({0xFF, 0x00, 0x00}), (Bytes{0xFF, 0x00}));
    EXPECT_EQ(undo({0xFF, 0xFF, 0x00}), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(undo({0xFF, 0x00, 0xFF, 0x00, 0xE0}), (Bytes{0xFF, 0xFF, 0xE0}));
    EXPECT_EQ(undo({0x00, 0xFF}), (Bytes{0x00, 0xFF}));
    EXPECT_EQ(undo({}), Bytes{});

    // pairs that straddle 61,440-byte boundaries are undone like any other
    Bytes big(200000, 0x11);
    big[61439] = 0xFF;
    big[61440] = 0x00;
    big[122879] = 0xFF;
    big[122880] = 0x00;
    const Bytes result = undo(big);
    EXPECT_EQ(result.size(), big.size() - 2);
    EXPECT_EQ(result[61439], 0xFF);
    EXPECT_EQ(result[61440], 0x11);
}

// Reuse and state

// A new reader is in its initial state; Reset brings a used one back to it.
TEST(ID3v2State, CreateAndReset) {
    TID3v2Tag tag;
    EXPECT_EQ(tag.MajorVersion, 3);
    EXPECT_EQ(tag.FrameCount, 0);
    EXPECT_FALSE(tag.Loaded);
    ASSERT_EQ(LoadBytes(tag, sample::V4ExtendedHeader()), 0);
    tag.Reset();
    EXPECT_EQ(tag.MajorVersion, 3);
    EXPECT_EQ(tag.Revision, 0);
    EXPECT_EQ(tag.HeaderFlags, 0);
    EXPECT_FALSE(tag.ExtendedHeader);
    EXPECT_EQ(tag.TagSize, 0u);
    EXPECT_EQ(tag.ExtendedHeaderSize, 0u);
    EXPECT_EQ(tag.ExtendedHeader4.FlagByteCount, 0);
    EXPECT_TRUE(tag.ExtendedHeader4.FlagBytes.empty());
    EXPECT_TRUE(tag.Frames.empty());
    EXPECT_EQ(tag.FrameCount, 0);
    EXPECT_FALSE(tag.Loaded);
}

// Every load starts with an empty list; header fields survive a load that fails at the magic;
// extended-header fields survive until Reset.
TEST(ID3v2State, ReuseAcrossLoads) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, sample::V4ExtendedHeader()), 0);
    ASSERT_EQ(tag.FrameCount, 2);
    EXPECT_EQ(LoadBytes(tag, B("RIFF....WAVE")), 65535);
    EXPECT_EQ(tag.FrameCount, 0);
    EXPECT_TRUE(tag.Frames.empty());
    EXPECT_FALSE(tag.Loaded);
    EXPECT_EQ(tag.MajorVersion, 4);
    EXPECT_EQ(tag.ExtendedHeaderSize, 12u);
    EXPECT_EQ(TextOf(tag, "TIT2"), u"");

    ASSERT_EQ(LoadBytes(tag, sample::TitleArtistV3()), 0);
    EXPECT_EQ(tag.MajorVersion, 3);
    EXPECT_EQ(TextOf(tag, "TIT2"), u"Song");
    EXPECT_EQ(LoadBytes(tag, Tag(9, {})), 65535);
    EXPECT_EQ(tag.FrameCount, 0);
}

// AddFrame appends and returns the new index.
TEST(ID3v2State, AddFrame) {
    TID3v2Tag tag;
    EXPECT_EQ(tag.AddFrame({'T', 'I', 'T', '2'}), 0);
    EXPECT_EQ(tag.AddFrame({'T', 'P', 'E', '1'}), 1);
    EXPECT_EQ(tag.FrameCount, 2);
    EXPECT_EQ(IdOf(tag, 1), "TPE1");
    EXPECT_TRUE(tag.Frames[1]->Data.empty());
    EXPECT_EQ(tag.FindFrame({'T', 'P', 'E', '1'}), 1);
    tag.ClearFrames();
    EXPECT_EQ(tag.FrameCount, 0);
    EXPECT_EQ(tag.FindFrame({'T', 'P', 'E', '1'}), -1);
}

} // namespace
