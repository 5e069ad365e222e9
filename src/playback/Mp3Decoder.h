#pragma once

#include "playback/Decoder.h"

#include <mpg123.h>

struct TMpg123Deleter {
    void operator()(mpg123_handle* h) const { mpg123_delete(h); }
};
using TMpg123Ptr = std::unique_ptr<mpg123_handle, TMpg123Deleter>;

// MPEG audio (MP3, and layers I and II) through libmpg123. Our own scan finds where the frames
// begin and end: any run of ID3v2 tags and junk before the first sequence of valid frames is
// skipped, and APE, Lyrics3 and ID3v1 tags at the end are cut off, so libmpg123 sees only frames.
// Gapless: the encoder delay and padding of a LAME/Info header are left out, as the encoder meant.
// The length comes from counting every frame, so it is exact for VBR files without a header and
// for cut files too.
class TMp3Decoder final : public IDecoder {
public:
    // nullptr with the reason when no MPEG audio is found; `named` says whether the file's name
    // promises MP3 (for the error text).
    static std::unique_ptr<IDecoder> Open(std::shared_ptr<IByteReader> file,
                                          const QString& fileName, bool named,
                                          TOpenFailure& failure);

    // True when the file holds MPEG audio frames where Open would find them.
    static bool Probe(IByteReader& file);

    int Rate() const override { return mRate; }
    const TLayout& Layout() const override { return mLayout; }
    int64_t LengthFrames() const override { return mFrames; }
    size_t Read(float* out, size_t frames) override;
    bool Seek(int64_t frame) override;

private:
    TMp3Decoder() = default;

    std::shared_ptr<IByteReader> mFile;
    std::unique_ptr<TByteCursor> mCursor;
    TMpg123Ptr mHandle;
    int mRate = 0;
    int mChannels = 0;
    TLayout mLayout;
    int64_t mFrames = 0;
    int64_t mPosition = 0;
    int mStreamChannels = 0; // a stream may switch between mono and stereo frames
    bool mEnded = false;
    std::vector<float> mConvert;
};
