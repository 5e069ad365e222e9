#pragma once

#include "playback/Decoder.h"

// PCM WAV read directly: RIFF (or big-endian RIFX) chunks in any order before the samples, odd
// chunks padded, WAVE_FORMAT_EXTENSIBLE with its channel mask, integer samples of 1 to 64 bits
// (each in whole bytes, or in the low bytes of a wider container) and 32/64-bit float samples. The
// length is what the file really holds: a data size that claims more (a cut download, a 4 GB
// placeholder) is capped at the end of the file.
class TWavDecoder final : public IDecoder {
public:
    // True when the bytes start a RIFF or RIFX WAVE file.
    static bool Probe(const uint8_t* head, size_t size);
    // start: where the RIFF header lies (after the ID3v2 tags some taggers put before it).
    static std::unique_ptr<IDecoder> Open(std::shared_ptr<IByteReader> file,
                                          const QString& fileName, TOpenFailure& failure,
                                          int64_t start = 0);

    int Rate() const override { return mRate; }
    const TLayout& Layout() const override { return mLayout; }
    int64_t LengthFrames() const override { return mFrames; }
    size_t Read(float* out, size_t frames) override;
    bool Seek(int64_t frame) override;

private:
    enum class ESample { U8, Int, F32, F64 };

    TWavDecoder() = default;

    std::shared_ptr<IByteReader> mFile;
    int mRate = 0;
    int mChannels = 0;
    TLayout mLayout;
    ESample mSample = ESample::Int;
    int mBytesPerSample = 2;
    int mContainerBytes = 2;
    bool mBigEndian = false;
    int64_t mDataStart = 0;
    int64_t mFrames = 0;
    int64_t mPosition = 0;
    std::vector<uint8_t> mBuffer;
};
