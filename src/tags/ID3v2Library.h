#pragma once

// Reader of the ID3v2 tag at the start of a music file: header, extended header and the frames
// with their bodies as stored, plus the decoding of text frames. Standard C++ only, so it can be
// fuzzed and benchmarked on its own. A reader never throws: loads return a result code and text
// queries an empty string.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Four ID characters, no terminator.
using TID3v2FrameID = std::array<char, 4>;

// A readable byte stream with relative seeks, positioned where the tag must begin.
class TID3v2Stream {
public:
    virtual ~TID3v2Stream() = default;
    // Copies up to count bytes; fewer only at the end of the stream or on a read error.
    virtual std::size_t Read(uint8_t* buffer, std::size_t count) = 0;
    // Moves the position by offset bytes, clamped to the start and the end of the stream.
    virtual void Seek(int64_t offset) = 0;
    // Bytes between the position and the end; no buffer is ever made larger than this.
    virtual uint64_t Remaining() const = 0;
    // Replaces out with the next count bytes (fewer at the end); count is at most Remaining().
    virtual void ReadBuffer(std::vector<uint8_t>& out, std::size_t count);
};

// Bytes held in memory (not copied: they must outlive the stream).
class TID3v2MemoryStream : public TID3v2Stream {
public:
    TID3v2MemoryStream(const uint8_t* data, std::size_t size) : fData(data), fSize(size) {}
    std::size_t Read(uint8_t* buffer, std::size_t count) override;
    void Seek(int64_t offset) override;
    uint64_t Remaining() const override { return fSize - fPosition; }
    std::size_t Position() const { return fPosition; }

private:
    const uint8_t* fData;
    std::size_t fSize;
    std::size_t fPosition = 0;
};

class TID3v2Frame {
public:
    TID3v2FrameID ID{};
    uint32_t FrameSize = 0;
    std::vector<uint8_t> Data;
    uint16_t FrameFlags = 0;
    bool TagAlterPreservation = false;
    bool FileAlterPreservation = false;
    bool ReadOnly = false;
    bool Compressed = false;
    bool Encrypted = false;
    bool GroupingIdentity = false;
    bool Unsynchronised = false;
    bool DataLengthIndicator = false;
    uint8_t GroupId = 0;
    uint8_t EncryptionMethod = 0;
    uint32_t DataLength = 0;
};

struct TID3v2ExtendedHeader4 {
    uint8_t FlagByteCount = 0;
    std::vector<uint8_t> FlagBytes;
};

class TID3v2Tag {
public:
    // Result codes of the loads.
    static constexpr int32_t ResultOk = 0;
    static constexpr int32_t ResultCannotOpen = 3;
    static constexpr int32_t ResultNoTag = 65535;

    TID3v2Tag() = default;
    ~TID3v2Tag() { Reset(); }
    TID3v2Tag(const TID3v2Tag&) = delete;
    TID3v2Tag& operator=(const TID3v2Tag&) = delete;

    int32_t LoadFromFile(const std::u16string& fileName);
    int32_t LoadFromStream(TID3v2Stream& stream);
    void ClearFrames();
    void Reset();
    int32_t AddFrame(const TID3v2FrameID& id);
    void ReadExtendedHeader(TID3v2Stream& stream);
    bool ReadFrame(TID3v2Stream& stream);
    static void UndoUnsynchronisation(std::vector<uint8_t>& buffer);

    void GetUnicodeText(const std::string& id, std::u16string& out) const;
    int32_t FindFrame(const TID3v2FrameID& id) const;
    void GetFrameUnicodeText(int32_t index, std::u16string& out) const;
    // The value of the first user text frame (TXXX) whose description is `description`, ASCII
    // letters compared without regard to case; empty when there is none.
    void GetUserText(const std::string& description, std::u16string& out) const;

    std::array<uint8_t, 4> TagSizeBytes{};
    std::array<uint8_t, 4> ExtendedHeaderSizeBytes{};
    std::u16string LoadedFileName;
    bool Loaded = false;
    uint8_t MajorVersion = 3;
    uint8_t Revision = 0;
    uint8_t HeaderFlags = 0;
    bool Unsynchronisation = false;
    bool ExtendedHeader = false;
    bool Experimental = false;
    bool FooterPresent = false;
    uint32_t TagSize = 0;
    std::vector<std::unique_ptr<TID3v2Frame>> Frames;
    int32_t FrameCount = 0;
    uint32_t ExtendedHeaderSize = 0;
    // Version-3 extended header: its four size bytes, and the part whose length they give.
    std::vector<uint8_t> ExtendedHeader3Size;
    std::vector<uint8_t> ExtendedHeader3Data;
    TID3v2ExtendedHeader4 ExtendedHeader4;
};
