// libFuzzer target of the WAV reader, the MP3 decoder's search for its frames and the FLAC, Ogg
// Vorbis and Opus decoders (the module's code compiled in): any bytes,
// opened as a file, decoded for a while, sought into and decoded again. Neither may read out of
// bounds, loop for ever or crash; a file they refuse only returns a reason.
#include "playback/Mp3Decoder.h"
#include "playback/WavDecoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" IDecoderModule* OndrixDecoderModule(int version);

namespace {

class TMemoryReader final : public IByteReader {
public:
    TMemoryReader(const uint8_t* data, size_t size) : mData(data, data + size) {}
    int64_t ReadAt(int64_t offset, void* buffer, size_t size) override {
        if (offset < 0 || offset >= static_cast<int64_t>(mData.size()))
            return 0;
        const size_t n = std::min(size, mData.size() - static_cast<size_t>(offset));
        std::memcpy(buffer, mData.data() + offset, n);
        return static_cast<int64_t>(n);
    }
    int64_t Size() const override { return static_cast<int64_t>(mData.size()); }
    bool Abandoned() const override { return false; }

private:
    std::vector<uint8_t> mData;
};

void Exercise(IDecoder& decoder) {
    if (decoder.Rate() <= 0 || decoder.Channels() <= 0 || decoder.LengthFrames() <= 0)
        __builtin_trap(); // an open decoder always has a format and some length
    std::vector<float> frames(1024 * static_cast<size_t>(decoder.MaxChannels()));
    int64_t total = 0;
    for (int i = 0; i < 64; ++i) {
        const size_t got = decoder.Read(frames.data(), 1024);
        if (got == 0)
            break;
        total += static_cast<int64_t>(got);
    }
    if (total > decoder.LengthFrames())
        __builtin_trap(); // never more than the length it measured
    if (decoder.Seek(decoder.LengthFrames() / 2))
        decoder.Read(frames.data(), 1024);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto file = std::make_shared<TMemoryReader>(data, size);
    TOpenFailure failure;
    std::unique_ptr<IDecoder> decoder;
    if (size >= 4 && (std::memcmp(data, "OggS", 4) == 0 || std::memcmp(data, "fLaC", 4) == 0))
        decoder = OndrixDecoderModule(kDecoderModuleVersion)
                      ->Open(file, QStringLiteral("fuzz.flac"), failure);
    else if (TWavDecoder::Probe(data, size))
        decoder = TWavDecoder::Open(file, QStringLiteral("fuzz.wav"), failure);
    else
        decoder = TMp3Decoder::Open(file, QStringLiteral("fuzz.mp3"), true, failure);
    if (decoder)
        Exercise(*decoder);
    else if (failure.Code == 0 || failure.Text.isEmpty())
        __builtin_trap(); // a refusal always says why
    return 0;
}
