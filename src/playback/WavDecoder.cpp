#include "playback/WavDecoder.h"

#include "playback/MediaService.h"

#include <cmath>

namespace {

constexpr uint16_t kFormatPcm = 0x0001;
constexpr uint16_t kFormatFloat = 0x0003;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr int kMaxChannels = 64;

// RIFF stores every number little-endian, RIFX big-endian.
uint16_t Get16(const uint8_t* p, bool big) {
    return static_cast<uint16_t>(big ? p[0] << 8 | p[1] : p[0] | p[1] << 8);
}

uint32_t Get32(const uint8_t* p, bool big) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(p[big ? 3 - i : i]) << (8 * i);
    return value;
}

uint64_t Get64(const uint8_t* p, bool big) {
    return big ? static_cast<uint64_t>(Get32(p, true)) << 32 | Get32(p + 4, true)
               : Get32(p, false) | static_cast<uint64_t>(Get32(p + 4, false)) << 32;
}

// Signed integer samples of 1 to 8 bytes, valid bits left-justified as WAVE stores them; the
// four most significant bytes are more than a float holds.
float IntSample(const uint8_t* p, int bytes, bool big) {
    uint32_t value = 0;
    const int used = std::min(bytes, 4);
    for (int i = 0; i < used; ++i) {
        const int byte = big ? used - 1 - i : bytes - used + i; // i-th from the least significant
        value |= static_cast<uint32_t>(p[byte]) << (8 * (4 - used + i));
    }
    return static_cast<float>(static_cast<int32_t>(value)) * (1.0f / 2147483648.0f);
}

} // namespace

bool TWavDecoder::Probe(const uint8_t* head, size_t size) {
    return size >= 12 && (std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RIFX", 4) == 0) &&
           std::memcmp(head + 8, "WAVE", 4) == 0;
}

std::unique_ptr<IDecoder> TWavDecoder::Open(std::shared_ptr<IByteReader> file,
                                            const QString& fileName, TOpenFailure& failure,
                                            int64_t start) {
    std::unique_ptr<TWavDecoder> wav(new TWavDecoder());
    const QString name = QuotedFileName(fileName);
    const auto damaged = [&](const QString& why) {
        return Failed(
            failure, MediaService::mseUnsupportedFile,
            QStringLiteral("The file %1 is not a supported audio file: %2.").arg(name, why));
    };
    const int64_t size = file->Size();
    uint8_t riff[4] = {};
    file->ReadAt(start, riff, sizeof riff);
    const bool big = std::memcmp(riff, "RIFX", 4) == 0;
    wav->mBigEndian = big;
    int64_t at = start + 12;
    bool haveFormat = false;
    uint16_t format = 0;
    int bits = 0;
    uint32_t mask = 0;
    int blockAlign = 0;
    int64_t dataSize = -1;
    // The samples come last in practice; a header chunk after them is not looked for.
    while (at + 8 <= size) {
        uint8_t chunk[8];
        if (file->ReadAt(at, chunk, sizeof chunk) != sizeof chunk)
            break;
        const uint32_t declared = Get32(chunk + 4, big);
        const int64_t body = at + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            uint8_t fmt[40] = {};
            const int64_t want = std::min<int64_t>(declared, sizeof fmt);
            if (declared < 16 || file->ReadAt(body, fmt, static_cast<size_t>(want)) != want)
                return damaged(QStringLiteral("its WAV format header is damaged"));
            format = Get16(fmt, big);
            wav->mChannels = Get16(fmt + 2, big);
            wav->mRate = static_cast<int>(std::min<uint32_t>(Get32(fmt + 4, big), INT32_MAX));
            blockAlign = Get16(fmt + 12, big);
            bits = Get16(fmt + 14, big);
            if (format == kFormatExtensible && declared >= 40) {
                // a writer that left the container size 0 still names the valid bits
                if (bits == 0)
                    bits = Get16(fmt + 18, big);
                mask = Get32(fmt + 20, big);
                format = Get16(fmt + 24, big); // the sub-format GUID starts with the format code
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            // 0 and 0xFFFFFFFF are what a recorder that never finished leaves: all that follows.
            const int64_t left = size - body;
            dataSize =
                declared == 0 || declared == 0xFFFFFFFF ? left : std::min<int64_t>(declared, left);
            wav->mDataStart = body;
            break;
        }
        at = body + declared + (declared & 1);
    }
    if (!haveFormat)
        return damaged(QStringLiteral("it has no WAV format header"));
    if (dataSize < 0)
        return damaged(QStringLiteral("it holds no WAV sample data"));
    if (wav->mChannels <= 0 || wav->mChannels > kMaxChannels || wav->mRate <= 0)
        return damaged(QStringLiteral("its WAV format header is damaged"));
    // Integer samples of any depth are stored in whole bytes (12 bits in two, 20 in three).
    if (format == kFormatPcm && bits >= 1 && bits <= 8)
        wav->mSample = ESample::U8;
    else if (format == kFormatPcm && bits > 8 && bits <= 64)
        wav->mSample = ESample::Int;
    else if (format == kFormatFloat && bits == 32)
        wav->mSample = ESample::F32;
    else if (format == kFormatFloat && bits == 64)
        wav->mSample = ESample::F64;
    else {
        return Failed(failure, MediaService::mseUnsupportedFile,
                      QStringLiteral("The file %1 holds WAV audio in a format that cannot be "
                                     "played (format 0x%2, %3 bits).")
                          .arg(name)
                          .arg(format, 4, 16, QLatin1Char('0'))
                          .arg(bits));
    }
    wav->mBytesPerSample = (bits + 7) / 8;
    wav->mLayout = LayoutOfMask(mask, wav->mChannels);
    // The header's block size is trusted only when it fits the sample size. A larger one that
    // gives each sample a wider container (24 bits in four bytes) holds it in the low bytes.
    const int sampleBytes = wav->mBytesPerSample * wav->mChannels;
    if (blockAlign < sampleBytes)
        blockAlign = sampleBytes;
    if (blockAlign % wav->mChannels != 0 || blockAlign / wav->mChannels > 8 ||
        (blockAlign != sampleBytes && wav->mSample != ESample::Int))
        return damaged(QStringLiteral("its WAV block size does not match its samples"));
    wav->mContainerBytes = blockAlign / wav->mChannels;
    wav->mFrames = dataSize / blockAlign;
    if (wav->mFrames <= 0)
        return Failed(failure, MediaService::mseNoAudio, NoAudioText(name));
    wav->mFile = std::move(file);
    return wav;
}

size_t TWavDecoder::Read(float* out, size_t frames) {
    const size_t frameBytes = static_cast<size_t>(mContainerBytes) * mChannels;
    frames =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(frames), mFrames - mPosition));
    if (frames == 0)
        return 0;
    mBuffer.resize(frames * frameBytes);
    const int64_t got = mFile->ReadAt(mDataStart + mPosition * static_cast<int64_t>(frameBytes),
                                      mBuffer.data(), mBuffer.size());
    if (got <= 0)
        return 0; // a file that shrank or cannot be read: what was read has played
    frames = static_cast<size_t>(got) / frameBytes;
    const size_t samples = frames * mChannels;
    const uint8_t* in = mBuffer.data();
    switch (mSample) {
    case ESample::U8:
        for (size_t i = 0; i < samples; ++i)
            out[i] = static_cast<float>(in[i] - 128) * (1.0f / 128.0f);
        break;
    case ESample::Int:
        for (size_t i = 0; i < samples; ++i)
            out[i] = IntSample(in + static_cast<size_t>(mContainerBytes) * i +
                                   (mBigEndian ? mContainerBytes - mBytesPerSample : 0),
                               mBytesPerSample, mBigEndian);
        break;
    case ESample::F32:
        for (size_t i = 0; i < samples; ++i) {
            const uint32_t bitsOf = Get32(in + 4 * i, mBigEndian);
            float value;
            std::memcpy(&value, &bitsOf, sizeof value);
            out[i] = std::isfinite(value) ? value : 0.0f;
        }
        break;
    case ESample::F64:
        for (size_t i = 0; i < samples; ++i) {
            const uint64_t bitsOf = Get64(in + 8 * i, mBigEndian);
            double value;
            std::memcpy(&value, &bitsOf, sizeof value);
            out[i] = std::isfinite(value) ? static_cast<float>(value) : 0.0f;
        }
        break;
    }
    mPosition += static_cast<int64_t>(frames);
    return frames;
}

bool TWavDecoder::Seek(int64_t frame) {
    mPosition = std::clamp<int64_t>(frame, 0, mFrames);
    return true;
}
