#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct soxr;

// Turns a decoder's frames into the output stream's format: channels mixed (mono doubled, more
// than two down-mixed, or down to mono), then the rate changed with libsoxr when it differs.
// One per decoder thread; never shared.
class TFormatConverter {
public:
    TFormatConverter(int inRate, int inChannels, int outRate, int outChannels);
    ~TFormatConverter();
    TFormatConverter(const TFormatConverter&) = delete;
    TFormatConverter& operator=(const TFormatConverter&) = delete;

    // False when the resampler could not be made (the output then cannot take this file).
    bool Valid() const { return mValid; }
    // Converts `frames` input frames; the result stays valid until the next call. With
    // frames == 0 the resampler's last frames are flushed out (at the end of the input).
    const int16_t* Convert(const int16_t* in, size_t frames, size_t& outFrames);

private:
    int ResampledChannels() const;
    void Mix(const int16_t* in, size_t frames);
    const int16_t* Resample(const int16_t* in, size_t frames, size_t& outFrames);

    int mInRate;
    int mInChannels;
    int mOutRate;
    int mOutChannels;
    bool mValid = true;
    soxr* mResampler = nullptr;
    std::vector<float> mWeights; // mOutChannels rows of mInChannels
    std::vector<int16_t> mMixed;
    std::vector<int16_t> mResampled;
};
