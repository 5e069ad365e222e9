#include "playback/Mp3Decoder.h"

#include "playback/AudioFormats.h"
#include "playback/MediaService.h"
#include "tags/ID3v2Size.h"

#include <array>
#include <cstdio>

namespace {

// How far past the tags junk may reach before the first frame.
constexpr int64_t kJunkLimit = 4 * 1024 * 1024;
// Frames in a row that make a start believable; a shorter file must end right after its last.
constexpr int kChainFrames = 3;

struct THeader {
    int Version = 0; // the header's two version bits: 0 MPEG 2.5, 2 MPEG 2, 3 MPEG 1
    int Layer = 0;
    int Rate = 0;
    int Length = 0;
    bool Mono = false;

    int SamplesPerFrame() const {
        return Layer == 1 ? 384 : Layer == 3 && Version != 3 ? 576 : 1152;
    }
};

bool ParseHeader(const uint8_t* h, THeader& out) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return false;
    const int version = (h[1] >> 3) & 3;
    const int layer = 4 - ((h[1] >> 1) & 3);
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    const int padding = (h[2] >> 1) & 1;
    // reserved values; free-format bit rates are not played
    if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3 ||
        (h[3] & 3) == 2)
        return false;
    static constexpr std::array<std::array<int, 15>, 5> kBitrates{{
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // MPEG 1 layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // MPEG 1 layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // MPEG 1 layer III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // MPEG 2 layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // MPEG 2 II, III
    }};
    static constexpr std::array<int, 3> kRates{44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int table = mpeg1 ? layer - 1 : (layer == 1 ? 3 : 4);
    const int bitrate =
        kBitrates[static_cast<size_t>(table)][static_cast<size_t>(bitrateIndex)] * 1000;
    const int rate = kRates[static_cast<size_t>(rateIndex)] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    out.Version = version;
    out.Layer = layer;
    out.Rate = rate;
    out.Mono = (h[3] >> 6) == 3;
    if (layer == 1)
        out.Length = (12 * bitrate / rate + padding) * 4;
    else
        out.Length = ((layer == 3 && !mpeg1) ? 72 : 144) * bitrate / rate + padding;
    return out.Length > 4;
}

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint32_t Be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

bool ReadExactly(IByteReader& file, int64_t at, void* out, size_t size) {
    return at >= 0 && file.ReadAt(at, out, size) == static_cast<int64_t>(size);
}

// What a Xing/Info (LAME) or VBRI header in the first frame says: the audio frames after it
// and the bytes of the whole stream, its own frame included; -1 where it says nothing.
struct TVbrHeader {
    bool Found = false;
    bool Vbri = false;
    int64_t Frames = -1;
    int64_t Bytes = -1;
};

TVbrHeader ReadVbrHeader(IByteReader& file, int64_t at, const THeader& first) {
    TVbrHeader vbr;
    if (first.Layer != 3)
        return vbr;
    // Xing and Info sit after the side information, VBRI 32 bytes after the header
    const int side = first.Version == 3 ? (first.Mono ? 17 : 32) : (first.Mono ? 9 : 17);
    uint8_t x[16];
    if (first.Length >= 4 + side + 16 && ReadExactly(file, at + 4 + side, x, sizeof x) &&
        (std::memcmp(x, "Xing", 4) == 0 || std::memcmp(x, "Info", 4) == 0)) {
        vbr.Found = true;
        const uint32_t flags = Be32(x + 4);
        const uint8_t* field = x + 8;
        if ((flags & 1) != 0) {
            vbr.Frames = Be32(field);
            field += 4;
        }
        if ((flags & 2) != 0)
            vbr.Bytes = Be32(field);
        return vbr;
    }
    uint8_t v[18];
    if (first.Length >= 36 + 18 && ReadExactly(file, at + 36, v, sizeof v) &&
        std::memcmp(v, "VBRI", 4) == 0) {
        vbr.Found = vbr.Vbri = true;
        vbr.Bytes = Be32(v + 10);
        vbr.Frames = Be32(v + 14);
    }
    return vbr;
}

// The size of an ID3v2 tag whose header is at `at`, or 0 when there is none.
int64_t Id3v2Size(IByteReader& file, int64_t at, const char* magic) {
    uint8_t h[kID3v2HeaderSize];
    return ReadExactly(file, at, h, sizeof h) ? ID3v2TagSize(h, magic) : 0;
}

// Cuts ID3v1, APE, Lyrics3 and appended ID3v2 tags off the end, in any order they are stacked.
int64_t AudioEnd(IByteReader& file, int64_t begin, int64_t end) {
    for (int tags = 0; tags < 8; ++tags) {
        uint8_t tail[32];
        if (end - begin >= 128 && ReadExactly(file, end - 128, tail, 3) &&
            std::memcmp(tail, "TAG", 3) == 0) {
            end -= 128;
            continue;
        }
        if (end - begin >= 32 && ReadExactly(file, end - 32, tail, 32) &&
            std::memcmp(tail, "APETAGEX", 8) == 0) {
            const int64_t size = Le32(tail + 12) + ((Le32(tail + 20) & 0x80000000u) ? 32 : 0);
            if (size >= 32 && size <= end - begin) {
                end -= size;
                continue;
            }
        }
        if (end - begin >= 15 && ReadExactly(file, end - 15, tail, 15) &&
            std::memcmp(tail + 6, "LYRICS200", 9) == 0) {
            int64_t size = 0;
            bool digits = true;
            for (int i = 0; i < 6; ++i) {
                digits = digits && tail[i] >= '0' && tail[i] <= '9';
                size = size * 10 + (tail[i] - '0');
            }
            uint8_t mark[11];
            if (digits && size + 15 <= end - begin &&
                ReadExactly(file, end - 15 - size, mark, sizeof mark) &&
                std::memcmp(mark, "LYRICSBEGIN", 11) == 0) {
                end -= size + 15;
                continue;
            }
        }
        if (end - begin >= 9 && ReadExactly(file, end - 9, tail, 9) &&
            std::memcmp(tail, "LYRICSEND", 9) == 0) {
            // version 1 has no size: its start is looked for in the 5100 bytes it may hold
            const int64_t from = std::max(begin, end - 9 - 5100);
            std::vector<uint8_t> block(static_cast<size_t>(end - from));
            if (ReadExactly(file, from, block.data(), block.size())) {
                const std::string text(block.begin(), block.end());
                const size_t at = text.rfind("LYRICSBEGIN");
                if (at != std::string::npos) {
                    end = from + static_cast<int64_t>(at);
                    continue;
                }
            }
        }
        if (end - begin >= 20) {
            const int64_t size = Id3v2Size(file, end - 10, "3DI");
            if (size > 0 && size + 10 <= end - begin) {
                end -= size + 10;
                continue;
            }
        }
        break;
    }
    return end;
}

// True when a run of frames starts at `at`: kChainFrames alike in a row, or fewer that end
// exactly where the audio ends.
bool ChainAt(IByteReader& file, int64_t at, int64_t end, const THeader& first) {
    int64_t pos = at + first.Length;
    for (int count = 1; count < kChainFrames; ++count) {
        if (pos == end)
            return true;
        uint8_t h[4];
        THeader next;
        if (pos + 4 > end || !ReadExactly(file, pos, h, sizeof h) || !ParseHeader(h, next) ||
            next.Version != first.Version || next.Layer != first.Layer || next.Rate != first.Rate)
            return false;
        pos += next.Length;
    }
    return pos <= end;
}

// The first frame of a run at or after `from`, within the junk limit.
int64_t FirstFrame(IByteReader& file, int64_t from, int64_t end) {
    const int64_t limit = std::min(end, from + kJunkLimit);
    std::vector<uint8_t> block(64 * 1024);
    for (int64_t at = from; at < limit;) {
        const size_t want = static_cast<size_t>(
            std::min<int64_t>(static_cast<int64_t>(block.size()), std::min(end, limit + 3) - at));
        const int64_t got = file.ReadAt(at, block.data(), want);
        if (got < 4)
            return -1;
        for (int64_t i = 0; i + 4 <= got && at + i < limit; ++i) {
            if (block[static_cast<size_t>(i)] != 0xFF)
                continue;
            THeader header;
            if (ParseHeader(block.data() + i, header) && at + i + header.Length <= end &&
                ChainAt(file, at + i, end, header))
                return at + i;
        }
        at += got - 3; // a header may straddle two blocks
    }
    return -1;
}

bool FindFrames(IByteReader& file, int64_t& begin, int64_t& end) {
    int64_t afterTags = 0;
    for (int tags = 0; tags < 16; ++tags) {
        const int64_t size = Id3v2Size(file, afterTags, "ID3");
        if (size == 0)
            break;
        afterTags += size;
    }
    end = AudioEnd(file, afterTags, file.Size());
    // A Xing, Info or VBRI frame right after the tags starts the stream even when a damaged
    // frame follows it (the decoder skips that): its delay and padding are the stream's.
    uint8_t h[4];
    THeader first;
    if (afterTags < end && ReadExactly(file, afterTags, h, sizeof h) && ParseHeader(h, first) &&
        afterTags + first.Length < end && ReadVbrHeader(file, afterTags, first).Found) {
        begin = afterTags;
        return true;
    }
    begin = afterTags < end ? FirstFrame(file, afterTags, end) : -1;
    // A tag whose size is wrong hides the frames behind it: look again from the start.
    if (begin < 0 && afterTags > 0) {
        end = AudioEnd(file, 0, file.Size());
        begin = FirstFrame(file, 0, end);
    }
    return begin >= 0;
}

// The bytes of zeros that complete a layer III frame cut short by a tag written over its tail
// when all the audio data it needs lies before the tag: the bit reservoir lets a frame's data
// sit in the frames before it, and the rest of its bytes then belong to frames that never came.
// The decoder drops an incomplete frame at the end; padded, it plays what the frame holds. 0
// when there is no such frame.
int64_t CutFrameZeros(IByteReader& file, int64_t begin, int64_t end, const THeader& first) {
    constexpr int64_t kMaxFrame = 1441 + 4; // layer III at 320 kb/s and 32 kHz, and a header
    const int64_t from = std::max(begin, end - 2 * kMaxFrame);
    std::vector<uint8_t> block(static_cast<size_t>(end - from));
    if (first.Layer != 3 || block.size() < 8 ||
        !ReadExactly(file, from, block.data(), block.size()))
        return 0;
    const auto alike = [&](int64_t at, THeader& header) {
        return at >= from && at + 4 <= end && ParseHeader(block.data() + (at - from), header) &&
               header.Version == first.Version && header.Layer == 3 && header.Rate == first.Rate;
    };
    for (int64_t at = end - 4; at >= from; --at) {
        THeader cut;
        if (block[static_cast<size_t>(at - from)] != 0xFF || !alike(at, cut) ||
            at + cut.Length < end)
            continue;
        if (at + cut.Length == end)
            return 0; // the last frame is whole
        // a frame must end exactly where this one starts, or it is junk that looks like one
        bool joined = at == begin;
        for (int64_t before = at - 5; !joined && before >= std::max(from, at - kMaxFrame);
             --before) {
            THeader previous;
            joined = alike(before, previous) && before + previous.Length == at;
        }
        const uint8_t* h = block.data() + (at - from);
        const bool mpeg1 = cut.Version == 3;
        const int side = (mpeg1 ? (cut.Mono ? 17 : 32) : (cut.Mono ? 9 : 17)) +
                         ((h[1] & 1) == 0 ? 2 : 0); // the CRC
        if (!joined || at + 4 + side > end)
            continue;
        // the side information: where the frame's data begins and how many bits it takes
        const uint8_t* bits = h + 4 + ((h[1] & 1) == 0 ? 2 : 0);
        size_t pos = 0;
        const auto take = [&](int count) {
            uint32_t value = 0;
            for (int i = 0; i < count; ++i, ++pos)
                value = value << 1 | ((bits[pos >> 3] >> (7 - (pos & 7))) & 1u);
            return value;
        };
        const int channels = cut.Mono ? 1 : 2;
        const int64_t reservoir = take(mpeg1 ? 9 : 8);
        take(mpeg1 ? (cut.Mono ? 5 : 3) + 4 * channels : (cut.Mono ? 1 : 2));
        int64_t needed = 0;
        for (int granule = 0; granule < (mpeg1 ? 2 : 1); ++granule) {
            for (int channel = 0; channel < channels; ++channel) {
                needed += take(12);
                take(9 + 8 + (mpeg1 ? 4 : 9));
                take(take(1) != 0 ? 2 + 1 + 2 * 5 + 3 * 3 : 3 * 5 + 4 + 3);
                take(mpeg1 ? 3 : 2);
            }
        }
        const int64_t present = end - (at + 4 + side);
        return (needed + 7) / 8 <= reservoir + present ? at + cut.Length - end : 0;
    }
    return 0;
}

// Streams up to this size are decoded whole at Open (about 16 s at 128 kb/s).
constexpr int64_t kDecodedWhole = 256 * 1024;

ssize_t ReadCallback(void* handle, void* buffer, size_t size) {
    return static_cast<ssize_t>(static_cast<TByteCursor*>(handle)->Read(buffer, size));
}

off_t SeekCallback(void* handle, off_t offset, int whence) {
    return static_cast<off_t>(static_cast<TByteCursor*>(handle)->Seek(offset, whence));
}

// A handle reading the cursor; float output at the stream's own rate and channel count.
TMpg123Ptr OpenHandle(TByteCursor& cursor, long flags) {
    static const bool initialised = mpg123_init() == MPG123_OK;
    (void)initialised;
    TMpg123Ptr handle(mpg123_new(nullptr, nullptr));
    if (!handle)
        return nullptr;
    // No read-ahead: the last frame (the only one of a one-frame file) is taken without a next
    // header to confirm it; our own scan has already checked where the frames are.
    mpg123_param(handle.get(), MPG123_FLAGS, flags | MPG123_QUIET | MPG123_NO_READAHEAD, 0);
    mpg123_format_none(handle.get());
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        mpg123_format(handle.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    if (mpg123_replace_reader_handle(handle.get(), &ReadCallback, &SeekCallback, nullptr) !=
            MPG123_OK ||
        mpg123_open_handle(handle.get(), &cursor) != MPG123_OK)
        return nullptr;
    return handle;
}

long State(mpg123_handle* handle, int key) {
    long value = -1;
    double ignored = 0;
    if (mpg123_getstate(handle, static_cast<mpg123_state>(key), &value, &ignored) != MPG123_OK)
        return -1;
    return value;
}

} // namespace

bool TMp3Decoder::Probe(IByteReader& file) {
    int64_t begin = 0;
    int64_t end = 0;
    return FindFrames(file, begin, end);
}

std::unique_ptr<IDecoder> TMp3Decoder::Open(std::shared_ptr<IByteReader> file,
                                            const QString& fileName, bool named,
                                            TOpenFailure& failure) {
    const QString name = QuotedFileName(fileName);
    const auto undecodable = [&] {
        return Failed(failure, MediaService::mseDecoderFailed,
                      QStringLiteral("The audio of %1 cannot be decoded.").arg(name));
    };
    int64_t begin = 0;
    int64_t end = 0;
    if (!FindFrames(*file, begin, end))
        return Failed(failure, MediaService::mseUnsupportedFile,
                      named
                          ? QStringLiteral("The file %1 is not a supported audio file: no MP3 data "
                                           "was found in it.")
                                .arg(name)
                          : AudioFormats::NotSupported(name) + QLatin1Char('.'));

    // Every frame counted, without the encoder delay and padding left out: the raw length. A
    // header's frame count is taken when its byte count is the stream's, so the common file is
    // not read whole at Open (on a slow medium that took as long as copying it); a file cut
    // short or grown since is counted frame by frame. The decoder takes a Xing or Info frame
    // for what it is, but would play a VBRI frame as silence: the audio starts after it.
    uint8_t h[4] = {};
    THeader first;
    ReadExactly(*file, begin, h, sizeof h);
    const TVbrHeader vbr =
        ParseHeader(h, first) ? ReadVbrHeader(*file, begin, first) : TVbrHeader{};
    const int64_t streamBytes = end - begin;
    if (vbr.Vbri && first.Length < streamBytes)
        begin += first.Length;
    // A file that simply ends inside a frame is damaged there, and that frame is not played.
    const int64_t zeros = end < file->Size() ? CutFrameZeros(*file, begin, end, first) : 0;
    int64_t raw = 0;
    if (vbr.Frames > 0 && vbr.Bytes == streamBytes) {
        raw = vbr.Frames * first.SamplesPerFrame();
    } else {
        TByteCursor cursor(*file, begin, end, zeros);
        TMpg123Ptr scan = OpenHandle(cursor, 0);
        if (!scan || mpg123_scan(scan.get()) != MPG123_OK)
            return undecodable();
        raw = mpg123_length(scan.get());
    }

    std::unique_ptr<TMp3Decoder> mp3(new TMp3Decoder());
    mp3->mCursor = std::make_unique<TByteCursor>(*file, begin, end, zeros);
    mp3->mHandle = OpenHandle(*mp3->mCursor, MPG123_GAPLESS);
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (!mp3->mHandle)
        return undecodable();
    // No whole frame of audio after the header frame (a stream cut short inside its first one):
    // nothing to play, which says more than a failure.
    if (mpg123_getformat(mp3->mHandle.get(), &rate, &channels, &encoding) != MPG123_OK ||
        rate <= 0 || channels <= 0)
        return Failed(failure, MediaService::mseNoAudio, NoAudioText(name));
    mp3->mRate = static_cast<int>(rate);
    mp3->mChannels = channels;
    mp3->mLayout = DefaultLayout(channels);
    mp3->mStreamChannels = channels;

    // With a LAME/Info header the decoder skips the encoder delay (and its own) at the start and
    // the padding at the end. A file cut short keeps the skip at the start but never reaches the
    // padding, so it plays every frame it has less the skip.
    int64_t frames = raw;
    const long delay = State(mp3->mHandle.get(), MPG123_ENC_DELAY);
    if (delay >= 0) {
        const int64_t skip = delay + std::max(0L, State(mp3->mHandle.get(), MPG123_DEC_DELAY));
        const int64_t tagged = mpg123_length(mp3->mHandle.get());
        frames = std::max<int64_t>(0, raw - skip);
        if (tagged > 0)
            frames = std::min(frames, tagged);
    }
    if (frames <= 0)
        return Failed(failure, MediaService::mseNoAudio, NoAudioText(name));
    mp3->mFrames = frames;
    // A short stream is decoded whole to measure it, since the decoder may drop a damaged frame
    // the count included or find less after its gapless skip than a tiny file's header claims
    // (milliseconds of work at this size); what it gives is what plays.
    if (streamBytes <= kDecodedWhole) {
        std::vector<float> buffer(4096 * 2);
        int64_t counted = 0;
        while (const size_t got = mp3->Read(buffer.data(), 4096))
            counted += static_cast<int64_t>(got);
        if (counted == 0)
            return Failed(failure, MediaService::mseNoAudio, NoAudioText(name));
        mp3->mCursor = std::make_unique<TByteCursor>(*file, begin, end, zeros);
        mp3->mHandle = OpenHandle(*mp3->mCursor, MPG123_GAPLESS);
        if (!mp3->mHandle)
            return undecodable();
        mp3->mFrames = counted;
        mp3->mPosition = 0;
        mp3->mEnded = false;
        mp3->mStreamChannels = channels;
    }
    mp3->mFile = std::move(file);
    return mp3;
}

size_t TMp3Decoder::Read(float* out, size_t frames) {
    frames =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(frames), mFrames - mPosition));
    size_t got = 0;
    for (int idle = 0; got < frames && !mEnded && idle < 64;) {
        const size_t wanted = frames - got;
        size_t done = 0;
        int err;
        size_t n;
        if (mStreamChannels == mChannels) {
            err =
                mpg123_read(mHandle.get(), reinterpret_cast<unsigned char*>(out + got * mChannels),
                            wanted * mChannels * sizeof(float), &done);
            n = done / (sizeof(float) * mChannels);
        } else {
            // A stream that switches between mono and stereo frames keeps its first layout.
            mConvert.resize(wanted * mStreamChannels);
            err = mpg123_read(mHandle.get(), reinterpret_cast<unsigned char*>(mConvert.data()),
                              mConvert.size() * sizeof(float), &done);
            n = done / (sizeof(float) * mStreamChannels);
            for (size_t i = 0; i < n; ++i) {
                float* dst = out + (got + i) * mChannels;
                const float* src = mConvert.data() + i * mStreamChannels;
                if (mChannels == 1)
                    dst[0] = (src[0] + src[1]) * 0.5f;
                else
                    dst[0] = dst[1] = src[0];
            }
        }
        got += n;
        idle = n > 0 ? 0 : idle + 1;
        if (err == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            mpg123_getformat(mHandle.get(), &rate, &channels, &encoding);
            if (rate != mRate || channels < 1 || channels > 2)
                mEnded = true; // another stream glued on; ours has ended
            else
                mStreamChannels = channels;
        } else if (err != MPG123_OK) {
            mEnded = true; // the end, or a rest that cannot be decoded
        }
    }
    mPosition += static_cast<int64_t>(got);
    return got;
}

bool TMp3Decoder::Seek(int64_t frame) {
    frame = std::clamp<int64_t>(frame, 0, mFrames);
    if (mpg123_seek(mHandle.get(), static_cast<off_t>(frame), SEEK_SET) < 0)
        return false;
    mPosition = frame;
    mEnded = false;
    return true;
}
