#pragma once

#include "playback/ChannelLayout.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct soxr;

// How much of each input channel goes to each output channel: out[o] = Σ w[o][i] in[i], rows of
// the input's channel count. A speaker the output has gets its channel whole; one it lacks is
// spread with the usual coefficients (centre and surrounds at −3 dB into the fronts, the back
// centre into both backs or fronts), the low-frequency channel is left out where the output has
// none, and a mono stream plays alike on the front pair.
std::vector<float> MixMatrix(const TLayout& in, const TLayout& out);

// Turns a decoder's frames into the output stream's format: channels mixed to the output's
// layout, then the rate changed with libsoxr when it differs (a down-mix before the resampler,
// an up-mix after it, so the resampler handles as few channels as it can). One per decoder
// thread; never shared.
class TFormatConverter {
public:
    TFormatConverter(int inRate, const TLayout& in, int outRate, const TLayout& out);
    ~TFormatConverter();
    TFormatConverter(const TFormatConverter&) = delete;
    TFormatConverter& operator=(const TFormatConverter&) = delete;

    // False when the resampler could not be made (the output then cannot take this file).
    bool Valid() const { return mValid; }
    int InRate() const { return mInRate; }
    // Output frames the resampler holds back (its filter's reach), heard only after more input
    // or the flush.
    int64_t Delay() const;
    const TLayout& InLayout() const { return mInLayout; }
    // The input's rate changes part-way (a FLAC stream's): a resampler from the new rate from
    // here on. The caller flushes the old one first, so nothing it held is lost.
    void SetInRate(int inRate);
    // The input's layout changes part-way (a FLAC stream's channel count): the mix follows,
    // the resampler (which sees the output's channels or fewer) goes on where it can.
    void SetInLayout(const TLayout& in);
    // Before SetInLayout(in): where the resampler cannot go on with `in`, the last frames the
    // old one holds, flushed out (valid until the next call), else nullptr; their count in
    // `frames`. The caller plays them first, so nothing is lost where the layout changes.
    const float* FlushBefore(const TLayout& in, size_t& frames);
    // Converts `frames` input frames; the result stays valid until the next call. With
    // frames == 0 the resampler's last frames are flushed out (at the end of the input).
    const float* Convert(const float* in, size_t frames, size_t& outFrames);

private:
    // The channels the resampler sees for input in `in`: the output's, or fewer before a mix.
    int ResampledChannels(const TLayout& in) const;
    void Mix(const float* in, size_t frames);
    const float* Resample(const float* in, size_t frames, size_t& outFrames);
    void MakeResampler();

    int mInRate;
    TLayout mInLayout;
    int mOutRate;
    TLayout mOutLayout;
    int mInChannels;
    int mOutChannels;
    bool mIdentity = true; // the layouts are the same: nothing to mix
    bool mValid = true;
    soxr* mResampler = nullptr;
    int mResamplerChannels = 0;
    std::vector<float> mWeights;
    std::vector<float> mMixed;
    std::vector<float> mResampled;
};
