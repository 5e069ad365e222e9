#include "ID3v2Library.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <system_error>

namespace {

bool IsFrameIDByte(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
}

bool IsFrameID(const std::array<uint8_t, 4>& b) {
    return IsFrameIDByte(b[0]) && IsFrameIDByte(b[1]) && IsFrameIDByte(b[2]) && IsFrameIDByte(b[3]);
}

// The top bit of each byte is ignored, not checked.
uint32_t SyncSafe(const uint8_t* b) {
    return (uint32_t(b[0] & 0x7F) << 21) | (uint32_t(b[1] & 0x7F) << 14) |
           (uint32_t(b[2] & 0x7F) << 7) | uint32_t(b[3] & 0x7F);
}

uint32_t BigEndian32(const uint8_t* b) {
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

// Copies up to count bytes into out, never allocating more than the stream still holds, so a
// size field claiming gigabytes in a small file costs only the bytes that are there. A body cut
// off by the end of the file keeps what was read.
void ReadBody(TID3v2Stream& stream, uint64_t count, std::vector<uint8_t>& out) {
    const uint64_t available = std::min(count, stream.Remaining());
    try {
        stream.ReadBuffer(out, static_cast<std::size_t>(available));
    } catch (const std::bad_alloc&) {
        out.clear();
        stream.Seek(static_cast<int64_t>(available));
    }
}

// Drops every 0x00 that directly follows a 0xFF in buffer from index from on; afterFF carries
// whether the byte before from was 0xFF, and is left telling the same of the last byte.
void UndoUnsynchronisationFrom(std::vector<uint8_t>& buffer, std::size_t from, bool& afterFF) {
    std::size_t out = from;
    for (std::size_t i = from; i < buffer.size(); ++i) {
        const uint8_t b = buffer[i];
        if (!(afterFF && b == 0x00))
            buffer[out++] = b;
        afterFF = b == 0xFF;
    }
    buffer.resize(out);
}

// Fills out to count bytes with the stored bytes that follow, less their inserted zeros,
// consuming exactly the stored bytes that make them up: each read asks for no more than is still
// missing, and taking zeros out only shortens it.
void ReadUnsynchronised(TID3v2Stream& stream, uint64_t count, std::vector<uint8_t>& out,
                        bool& afterFF) {
    std::vector<uint8_t> part;
    while (out.size() < count) {
        ReadBody(stream, count - out.size(), part);
        if (part.empty())
            return;
        const std::size_t from = out.size();
        out.insert(out.end(), part.begin(), part.end());
        UndoUnsynchronisationFrom(out, from, afterFF);
    }
}

// A file read through the C library in blocks: the player loads the tag of every track of its
// play list, so small fields are served from one block in memory and a large body is read
// straight into its own buffer together with a look at what follows it, one read each. Plain
// reads rather than a memory map, because a file cut short while mapped would kill the process
// instead of ending the walk.
class TFileStream : public TID3v2Stream {
public:
    TFileStream(std::FILE* file, uint64_t size) : fFile(file), fSize(size) {}

    std::size_t Read(uint8_t* buffer, std::size_t count) override {
        std::size_t done = TakeFromBlock(buffer, count);
        while (done < count) {
            if (count - done >= fBlock.size()) {
                const std::size_t n = ReadAt(buffer + done, count - done);
                if (n == 0)
                    break;
                done += n;
                fPosition += n;
            } else if (Fill()) {
                done += TakeFromBlock(buffer + done, count - done);
            } else {
                break;
            }
        }
        return done;
    }

    void ReadBuffer(std::vector<uint8_t>& out, std::size_t count) override {
        const std::size_t inBlock = std::min(count, BlockBytesAhead());
        if (count - inBlock < fBlock.size()) {
            TID3v2Stream::ReadBuffer(out, count);
            return;
        }
        // The bytes after the body (the next frame header, or padding) come in the same read
        // and move to the block; the buffer keeps the spare capacity.
        const uint64_t after = Remaining() > count ? Remaining() - count : 0;
        const std::size_t lookAhead =
            static_cast<std::size_t>(std::min<uint64_t>(after, fBlock.size()));
        out.resize(count + lookAhead);
        TakeFromBlock(out.data(), inBlock);
        const std::size_t total = inBlock + ReadAt(out.data() + inBlock, out.size() - inBlock);
        const std::size_t body = std::min(total, count);
        fPosition += body - inBlock;
        if (total > count) {
            fBlockStart = fPosition;
            fBlockLength = total - count;
            std::memcpy(fBlock.data(), out.data() + count, fBlockLength);
        }
        out.resize(body);
    }

    void Seek(int64_t offset) override {
        if (offset < 0)
            fPosition -= std::min<uint64_t>(fPosition, uint64_t(-(offset + 1)) + 1);
        else
            fPosition = std::min<uint64_t>(fSize, fPosition + uint64_t(offset));
    }

    uint64_t Remaining() const override { return fPosition < fSize ? fSize - fPosition : 0; }

private:
    std::size_t BlockBytesAhead() const {
        if (fPosition < fBlockStart || fPosition >= fBlockStart + fBlockLength)
            return 0;
        return static_cast<std::size_t>(fBlockStart + fBlockLength - fPosition);
    }

    std::size_t TakeFromBlock(uint8_t* buffer, std::size_t count) {
        const std::size_t n = std::min(count, BlockBytesAhead());
        if (n != 0) {
            std::memcpy(buffer, fBlock.data() + (fPosition - fBlockStart), n);
            fPosition += n;
        }
        return n;
    }

    // A read error or a file truncated meanwhile delivers fewer bytes, which ends the walk.
    std::size_t ReadAt(uint8_t* buffer, std::size_t count) {
        if (fFilePosition != fPosition) {
            if (fPosition > uint64_t(std::numeric_limits<long>::max()) ||
                std::fseek(fFile, static_cast<long>(fPosition), SEEK_SET) != 0)
                return 0;
            fFilePosition = fPosition;
        }
        const std::size_t n = std::fread(buffer, 1, count, fFile);
        fFilePosition += n;
        return n;
    }

    bool Fill() {
        fBlockStart = fPosition;
        fBlockLength = ReadAt(fBlock.data(), fBlock.size());
        return fBlockLength > 0;
    }

    std::FILE* fFile;
    uint64_t fSize;
    uint64_t fPosition = 0;
    uint64_t fFilePosition = 0;
    uint64_t fBlockStart = 0;
    std::size_t fBlockLength = 0;
    // one page holds a typical tag's header and text frames
    std::array<uint8_t, 4096> fBlock;
};

// UTF-16 to UTF-8. A name whose bytes are not valid UTF-8 comes with each such byte as a lone
// surrogate U+DC80..U+DCFF, which stands for that byte; any other lone surrogate or a zero
// character cannot be part of any file name, so such a path names no file.
bool PathToUtf8(const std::u16string& path, std::string& out) {
    out.reserve(path.size() * 3);
    for (std::size_t i = 0; i < path.size(); ++i) {
        uint32_t c = path[i];
        if (c == 0)
            return false;
        if (c >= 0xDC80 && c <= 0xDCFF) {
            out += char(c - 0xDC00);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            if (c >= 0xDC00 || i + 1 >= path.size() || path[i + 1] < 0xDC00 || path[i + 1] > 0xDFFF)
                return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (path[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return !out.empty();
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

void AppendCodePoint(std::u16string& out, uint32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out += char16_t(0xD800 + (c >> 10));
        out += char16_t(0xDC00 + (c & 0x3FF));
    } else {
        out += char16_t(c);
    }
}

// Encoding 0 has to stand for the system's 8-bit code page, which Linux does not have; the tags
// of the player's home platform were written in Windows-1252, so that is the page used: ASCII and
// Latin-1 as usual, 0x80-0x9F as Windows-1252's characters, and its five unassigned bytes as the
// control characters of the same value, as Windows itself converts them.
constexpr char16_t kWindows1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void DecodeWindows1252(const uint8_t* p, const uint8_t* end, std::u16string& out) {
    out.reserve(static_cast<std::size_t>(end - p));
    for (; p != end; ++p)
        out += (*p >= 0x80 && *p < 0xA0) ? kWindows1252[*p - 0x80] : char16_t(*p);
}

// Malformed UTF-8 gives one U+FFFD per bad sequence (each maximal ill-formed part), the way
// browsers and the Unicode standard recommend; overlong forms, surrogates and values above
// U+10FFFF count as malformed.
void DecodeUtf8(const uint8_t* p, const uint8_t* end, std::u16string& out) {
    out.reserve(static_cast<std::size_t>(end - p));
    uint32_t code = 0;
    int needed = 0;
    uint8_t lower = 0x80, upper = 0xBF;
    while (p != end) {
        const uint8_t b = *p;
        if (needed == 0) {
            ++p;
            if (b < 0x80) {
                out += char16_t(b);
            } else if (b >= 0xC2 && b <= 0xDF) {
                needed = 1;
                code = b & 0x1F;
            } else if (b >= 0xE0 && b <= 0xEF) {
                lower = b == 0xE0 ? 0xA0 : 0x80;
                upper = b == 0xED ? 0x9F : 0xBF;
                needed = 2;
                code = b & 0x0F;
            } else if (b >= 0xF0 && b <= 0xF4) {
                lower = b == 0xF0 ? 0x90 : 0x80;
                upper = b == 0xF4 ? 0x8F : 0xBF;
                needed = 3;
                code = b & 0x07;
            } else {
                out += u'\uFFFD';
            }
            continue;
        }
        if (b < lower || b > upper) {
            // the byte that broke the sequence starts afresh
            needed = 0;
            lower = 0x80;
            upper = 0xBF;
            out += u'\uFFFD';
            continue;
        }
        ++p;
        lower = 0x80;
        upper = 0xBF;
        code = (code << 6) | (b & 0x3F);
        if (--needed == 0)
            AppendCodePoint(out, code);
    }
    if (needed != 0)
        out += u'\uFFFD';
}

// UTF-16 units counted from begin up to the first zero unit. Under encoding 1 an odd last byte is
// the low byte of a final unit; under encoding 2 it is dropped, since half a big-endian unit
// carries no character.
void DecodeUtf16(const uint8_t* p, const uint8_t* end, bool bigEndian, std::u16string& out) {
    out.reserve(static_cast<std::size_t>(end - p) / 2 + 1);
    for (; end - p >= 2; p += 2) {
        const char16_t unit =
            bigEndian ? char16_t((p[0] << 8) | p[1]) : char16_t(p[0] | (p[1] << 8));
        if (unit == 0)
            return;
        out += unit;
    }
    if (p != end && !bigEndian && *p != 0)
        out += char16_t(*p);
}

} // namespace

void TID3v2Stream::ReadBuffer(std::vector<uint8_t>& out, std::size_t count) {
    out.resize(count);
    const std::size_t got = count ? Read(out.data(), count) : 0;
    if (got < count)
        out.resize(got);
}

std::size_t TID3v2MemoryStream::Read(uint8_t* buffer, std::size_t count) {
    const std::size_t n = std::min(count, fSize - fPosition);
    if (n != 0)
        std::memcpy(buffer, fData + fPosition, n);
    fPosition += n;
    return n;
}

void TID3v2MemoryStream::Seek(int64_t offset) {
    if (offset < 0)
        fPosition -=
            static_cast<std::size_t>(std::min<uint64_t>(fPosition, uint64_t(-(offset + 1)) + 1));
    else
        fPosition += static_cast<std::size_t>(std::min<uint64_t>(fSize - fPosition, offset));
}

int32_t TID3v2Tag::LoadFromFile(const std::u16string& fileName) {
    ClearFrames();
    Loaded = false;
    std::string path;
    std::uintmax_t size = 0;
    try {
        if (!PathToUtf8(fileName, path))
            return ResultCannotOpen;
        // Only a regular file counts as existing: a directory, a device or a pipe gives the
        // same answer as a missing file rather than a read that fails or never returns. The
        // size found here bounds every buffer; a file that shrinks later delivers fewer bytes.
        std::error_code error;
        size = std::filesystem::file_size(path, error);
        if (error)
            return ResultCannotOpen;
    } catch (const std::bad_alloc&) {
        return ResultCannotOpen;
    }
    // Windows lets a reader deny other programs write access while it reads; Linux has no such
    // lock on regular files, so the file is simply opened read-only.
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return ResultCannotOpen;
    // The stream does its own blocks, so the C library's buffer would only add a copy.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);

    TFileStream stream(file.get(), uint64_t(size));
    const int32_t result = LoadFromStream(stream);
    if (result == ResultOk) {
        try {
            LoadedFileName = fileName;
        } catch (const std::bad_alloc&) {
            // the frames are read; only the remembered name is stale
        }
    }
    return result;
}

int32_t TID3v2Tag::LoadFromStream(TID3v2Stream& stream) {
    Loaded = false;
    ClearFrames();

    // No scan further on and no look at the end of the file: the tag starts here or not at all.
    uint8_t magic[3] = {};
    if (stream.Read(magic, 3) != 3 || std::memcmp(magic, "ID3", 3) != 0)
        return ResultNoTag;

    uint8_t version[2];
    if (stream.Read(version, 2) != 2)
        return ResultNoTag;
    MajorVersion = version[0];
    Revision = version[1];
    if (MajorVersion > 4)
        return ResultNoTag;

    uint8_t flags;
    if (stream.Read(&flags, 1) != 1)
        return ResultNoTag;
    HeaderFlags = flags;
    Unsynchronisation = (flags & 0x80) != 0;
    ExtendedHeader = (flags & 0x40) != 0;
    Experimental = (flags & 0x20) != 0;
    FooterPresent = (flags & 0x10) != 0;

    std::array<uint8_t, 4> size{};
    if (stream.Read(size.data(), 4) != 4)
        return ResultNoTag;
    TagSizeBytes = size;
    TagSize = SyncSafe(size.data());

    if (ExtendedHeader)
        ReadExtendedHeader(stream);
    // TagSize does not bound the walk; padding, audio or the end of the stream ends it.
    while (ReadFrame(stream)) {
    }
    Loaded = true;
    return ResultOk;
}

void TID3v2Tag::ClearFrames() {
    Frames.clear();
    FrameCount = 0;
}

void TID3v2Tag::Reset() {
    ClearFrames();
    Frames.shrink_to_fit();
    TagSizeBytes = {};
    ExtendedHeaderSizeBytes = {};
    LoadedFileName.clear();
    LoadedFileName.shrink_to_fit();
    Loaded = false;
    MajorVersion = 3;
    Revision = 0;
    HeaderFlags = 0;
    Unsynchronisation = false;
    ExtendedHeader = false;
    Experimental = false;
    FooterPresent = false;
    TagSize = 0;
    ExtendedHeaderSize = 0;
    ExtendedHeader3Size = {};
    ExtendedHeader3Data = {};
    ExtendedHeader4 = {};
}

int32_t TID3v2Tag::AddFrame(const TID3v2FrameID& id) {
    if (FrameCount == std::numeric_limits<int32_t>::max())
        return -1;
    try {
        auto frame = std::make_unique<TID3v2Frame>();
        frame->ID = id;
        Frames.push_back(std::move(frame));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return FrameCount++;
}

void TID3v2Tag::ReadExtendedHeader(TID3v2Stream& stream) {
    std::array<uint8_t, 4> size{};
    const std::size_t got = stream.Read(size.data(), 4);
    if (IsFrameID(size)) {
        ExtendedHeader = false;
        stream.Seek(-4);
        return;
    }
    // A damaged extended header is read as far as it goes; the frames start wherever that
    // leaves the stream, and the load's result does not depend on it.
    ExtendedHeaderSizeBytes = size;
    ExtendedHeaderSize = SyncSafe(size.data());
    if (got < 4)
        return;
    try {
        if (MajorVersion >= 4) {
            // The size counts the whole extended header, its own four bytes included.
            uint8_t count = 0;
            if (stream.Read(&count, 1) != 1)
                return;
            ExtendedHeader4.FlagByteCount = count;
            ReadBody(stream, count, ExtendedHeader4.FlagBytes);
            const uint64_t consumed = 5 + ExtendedHeader4.FlagBytes.size();
            if (ExtendedHeaderSize > consumed)
                stream.Seek(int64_t(ExtendedHeaderSize - consumed));
        } else {
            // Version 3 stores this size as a plain number that leaves out its own four bytes.
            // Under unsynchronisation it counts the bytes with the inserted zeros taken out, so
            // a CRC holding 0xFF 0x00 takes one stored byte more than the size says.
            ExtendedHeader3Size.assign(size.begin(), size.end());
            if (!Unsynchronisation) {
                ReadBody(stream, BigEndian32(size.data()), ExtendedHeader3Data);
                return;
            }
            bool afterFF = false;
            UndoUnsynchronisationFrom(ExtendedHeader3Size, 0, afterFF);
            ReadUnsynchronised(stream, 4, ExtendedHeader3Size, afterFF);
            if (ExtendedHeader3Size.size() < 4)
                return;
            ExtendedHeader3Data.clear();
            ReadUnsynchronised(stream, BigEndian32(ExtendedHeader3Size.data()), ExtendedHeader3Data,
                               afterFF);
        }
    } catch (const std::bad_alloc&) {
    }
}

bool TID3v2Tag::ReadFrame(TID3v2Stream& stream) {
    std::array<uint8_t, 4> idBytes{};
    stream.Read(idBytes.data(), 4);
    if (!IsFrameID(idBytes))
        return false;
    TID3v2FrameID id;
    std::copy(idBytes.begin(), idBytes.end(), id.begin());
    const int32_t index = AddFrame(id);
    if (index < 0)
        return false;
    TID3v2Frame& frame = *Frames[static_cast<std::size_t>(index)];

    // Size and flag bytes cut off by the end of the stream count as zero.
    uint8_t header[6] = {};
    stream.Read(header, 6);
    if (MajorVersion < 3)
        return true;

    const uint16_t flags = uint16_t((header[4] << 8) | header[5]);
    frame.FrameFlags = flags;
    uint32_t extra = 0;
    if (MajorVersion == 3) {
        frame.FrameSize = BigEndian32(header);
        frame.TagAlterPreservation = (flags & 0x8000) != 0;
        frame.FileAlterPreservation = (flags & 0x4000) != 0;
        frame.ReadOnly = (flags & 0x2000) != 0;
        frame.Compressed = (flags & 0x0080) != 0;
        frame.Encrypted = (flags & 0x0040) != 0;
        frame.GroupingIdentity = (flags & 0x0020) != 0;
        frame.Unsynchronised = Unsynchronisation;
        // Group and method bytes of version 3 are not taken out: they stay at the start of Data.
        extra = frame.Compressed ? 4 : 0;
    } else {
        frame.FrameSize = SyncSafe(header);
        frame.TagAlterPreservation = (flags & 0x4000) != 0;
        frame.FileAlterPreservation = (flags & 0x2000) != 0;
        frame.ReadOnly = (flags & 0x1000) != 0;
        frame.GroupingIdentity = (flags & 0x0040) != 0;
        frame.Compressed = (flags & 0x0008) != 0;
        frame.Encrypted = (flags & 0x0004) != 0;
        frame.Unsynchronised = (flags & 0x0002) != 0;
        frame.DataLengthIndicator = (flags & 0x0001) != 0;
        extra = (frame.GroupingIdentity ? 1 : 0) + (frame.Encrypted ? 1 : 0) +
                (frame.DataLengthIndicator ? 4 : 0);
    }

    // A frame too small for the extra fields its flags announce is not picked apart: it keeps
    // an empty Data and zero extra fields, and the walk goes on after its declared size.
    if (frame.FrameSize < extra) {
        stream.Seek(frame.FrameSize);
        return true;
    }

    uint8_t field[4] = {};
    if (MajorVersion == 3) {
        if (frame.Compressed) {
            stream.Read(field, 4);
            frame.DataLength = SyncSafe(field);
        }
    } else {
        if (frame.GroupingIdentity)
            stream.Read(&frame.GroupId, 1);
        if (frame.Encrypted)
            stream.Read(&frame.EncryptionMethod, 1);
        if (frame.DataLengthIndicator) {
            stream.Read(field, 4);
            frame.DataLength = SyncSafe(field);
        }
    }
    ReadBody(stream, frame.FrameSize - extra, frame.Data);
    return true;
}

void TID3v2Tag::UndoUnsynchronisation(std::vector<uint8_t>& buffer) {
    // Done in place: the copy is never longer than what has been read. The byte before counts
    // even when it was itself dropped, so 0xFF 0x00 0x00 becomes 0xFF 0x00.
    bool afterFF = false;
    UndoUnsynchronisationFrom(buffer, 0, afterFF);
}

void TID3v2Tag::GetUnicodeText(const std::string& id, std::u16string& out) const {
    out.clear();
    // An ID shorter than four characters is padded with zero bytes, so it matches no frame read
    // from a file.
    TID3v2FrameID bytes{};
    std::copy_n(id.begin(), std::min<std::size_t>(id.size(), 4), bytes.begin());
    const int32_t index = FindFrame(bytes);
    if (index >= 0)
        GetFrameUnicodeText(index, out);
}

int32_t TID3v2Tag::FindFrame(const TID3v2FrameID& id) const {
    for (int32_t i = 0; i < FrameCount; ++i) {
        if (Frames[static_cast<std::size_t>(i)]->ID == id)
            return i;
    }
    return -1;
}

namespace {

// One string of a frame in `encoding` from `p`: decoded into `out`, and the position after its
// terminator returned (`end` when it has none). Encoding 1 takes either byte-order mark here:
// what the string after it uses is its own.
const uint8_t* DecodeString(uint8_t encoding, const uint8_t* p, const uint8_t* end,
                            std::u16string& out) {
    out.clear();
    if (encoding == 0 || encoding == 3) {
        const uint8_t* stop = std::find(p, end, uint8_t(0));
        if (encoding == 0)
            DecodeWindows1252(p, stop, out);
        else
            DecodeUtf8(p, stop, out);
        return stop == end ? end : stop + 1;
    }
    if (encoding != 1 && encoding != 2)
        return end;
    const uint8_t* stop = p;
    while (end - stop >= 2 && (stop[0] != 0 || stop[1] != 0))
        stop += 2;
    bool bigEndian = encoding == 2;
    const uint8_t* text = p;
    if (encoding == 1 && stop - p >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
        bigEndian = p[0] == 0xFE;
        text += 2;
    } else if (encoding == 1) {
        return end - stop >= 2 ? stop + 2 : end; // no mark: the string is not read
    }
    DecodeUtf16(text, stop, bigEndian, out);
    return end - stop >= 2 ? stop + 2 : end;
}

bool SameAsciiText(const std::u16string& text, const std::string& ascii) {
    if (text.size() != ascii.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
        if (lower(text[i]) != lower(char16_t(static_cast<unsigned char>(ascii[i]))))
            return false;
    }
    return true;
}

} // namespace

void TID3v2Tag::GetUserText(const std::string& description, std::u16string& out) const {
    out.clear();
    constexpr TID3v2FrameID kUserText{'T', 'X', 'X', 'X'};
    try {
        for (int32_t i = 0; i < FrameCount; ++i) {
            const TID3v2Frame& frame = *Frames[static_cast<std::size_t>(i)];
            if (frame.ID != kUserText || frame.Data.empty() || frame.Compressed || frame.Encrypted)
                continue;
            const uint8_t* p = frame.Data.data() + 1;
            const uint8_t* end = frame.Data.data() + frame.Data.size();
            std::u16string name;
            p = DecodeString(frame.Data[0], p, end, name);
            if (!SameAsciiText(name, description))
                continue;
            DecodeString(frame.Data[0], p, end, out);
            return;
        }
    } catch (const std::bad_alloc&) {
        out.clear();
    }
}

void TID3v2Tag::GetFrameUnicodeText(int32_t index, std::u16string& out) const {
    out.clear();
    if (index < 0 || index >= FrameCount)
        return;
    const std::vector<uint8_t>& data = Frames[static_cast<std::size_t>(index)]->Data;
    if (data.empty())
        return;
    const uint8_t* p = data.data() + 1;
    const uint8_t* end = data.data() + data.size();
    try {
        switch (data[0]) {
        case 0:
            DecodeWindows1252(p, std::find(p, end, uint8_t(0)), out);
            break;
        case 1:
            // Only the little-endian mark is accepted; a big-endian or missing one gives nothing.
            if (end - p < 2 || p[0] != 0xFF || p[1] != 0xFE)
                return;
            DecodeUtf16(p + 2, end, false, out);
            break;
        case 2:
            // No mark is looked for: 0xFE 0xFF at the start stays in the text as U+FEFF.
            DecodeUtf16(p, end, true, out);
            break;
        case 3:
            DecodeUtf8(p, std::find(p, end, uint8_t(0)), out);
            break;
        default:
            break;
        }
    } catch (const std::bad_alloc&) {
        out.clear();
    }
}
