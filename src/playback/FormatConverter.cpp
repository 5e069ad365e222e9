#include "playback/FormatConverter.h"

#include <algorithm>
#include <cmath>
#include <soxr.h>

namespace {

enum ESpeaker { FL, FR, FC, LFE, BL, BR, BC, SL, SR, Other };

// Where the channels of a file without a channel mask sit, in the WAVE order.
ESpeaker SpeakerOf(int channels, int index) {
    static const ESpeaker kLayouts[][8] = {
        {FC},
        {FL, FR},
        {FL, FR, FC},
        {FL, FR, BL, BR},
        {FL, FR, FC, BL, BR},
        {FL, FR, FC, LFE, BL, BR},
        {FL, FR, FC, LFE, BC, SL, SR},
        {FL, FR, FC, LFE, BL, BR, SL, SR},
    };
    if (channels >= 1 && channels <= 8)
        return kLayouts[channels - 1][index];
    return index == 0 ? FL : index == 1 ? FR : Other;
}

// How much of a speaker goes to the left and right of a stereo pair. The low-frequency channel
// is left out, as stereo down-mixes usually do.
void StereoWeights(ESpeaker speaker, float& left, float& right) {
    constexpr float kSide = 0.70710678f;
    switch (speaker) {
    case FL:
        left = 1, right = 0;
        break;
    case FR:
        left = 0, right = 1;
        break;
    case FC:
        left = right = kSide;
        break;
    case BL:
    case SL:
        left = kSide, right = 0;
        break;
    case BR:
    case SR:
        left = 0, right = kSide;
        break;
    case BC:
        left = right = 0.5f;
        break;
    case LFE:
        left = right = 0;
        break;
    case Other:
        left = right = 0.5f;
        break;
    }
}

} // namespace

TFormatConverter::TFormatConverter(int inRate, int inChannels, int outRate, int outChannels)
    : mInRate(inRate), mInChannels(inChannels), mOutRate(outRate), mOutChannels(outChannels) {
    if (mInChannels != mOutChannels) {
        mWeights.assign(static_cast<size_t>(mOutChannels * mInChannels), 0.0f);
        if (mInChannels == 1) {
            for (int o = 0; o < mOutChannels; ++o)
                mWeights[static_cast<size_t>(o)] = 1.0f; // mono on every speaker
        } else {
            std::vector<float> left(static_cast<size_t>(mInChannels));
            std::vector<float> right(static_cast<size_t>(mInChannels));
            for (int i = 0; i < mInChannels; ++i)
                StereoWeights(SpeakerOf(mInChannels, i), left[static_cast<size_t>(i)],
                              right[static_cast<size_t>(i)]);
            // Scaled so that no row sums above 1: a full-scale signal on every channel must not
            // clip.
            float leftSum = 0;
            float rightSum = 0;
            for (int i = 0; i < mInChannels; ++i) {
                leftSum += left[static_cast<size_t>(i)];
                rightSum += right[static_cast<size_t>(i)];
            }
            const float scale = 1.0f / std::max({1.0f, leftSum, rightSum});
            for (int i = 0; i < mInChannels; ++i) {
                const float l = left[static_cast<size_t>(i)] * scale;
                const float r = right[static_cast<size_t>(i)] * scale;
                if (mOutChannels == 1) {
                    mWeights[static_cast<size_t>(i)] = (l + r) / 2;
                } else {
                    mWeights[static_cast<size_t>(i)] = l;
                    mWeights[static_cast<size_t>(mInChannels + i)] = r;
                }
            }
        }
    }
    if (mInRate != mOutRate) {
        soxr_error_t error = nullptr;
        soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        // No dither: it would add noise of its own to each channel, so mono would not stay the
        // same on both sides, and the output would differ from run to run.
        io.flags |= SOXR_NO_DITHER;
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        // one thread: the decoder thread is the only one that should work for this file
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        mResampler = soxr_create(mInRate, mOutRate, static_cast<unsigned>(ResampledChannels()),
                                 &error, &io, &quality, &runtime);
        mValid = error == nullptr && mResampler != nullptr;
    }
}

TFormatConverter::~TFormatConverter() {
    if (mResampler != nullptr)
        soxr_delete(mResampler);
}

void TFormatConverter::Mix(const int16_t* in, size_t frames) {
    mMixed.resize(frames * static_cast<size_t>(mOutChannels));
    if (mInChannels == 1) {
        for (size_t f = 0; f < frames; ++f)
            for (int o = 0; o < mOutChannels; ++o)
                mMixed[f * mOutChannels + o] = in[f];
        return;
    }
    for (size_t f = 0; f < frames; ++f) {
        const int16_t* frame = in + f * mInChannels;
        for (int o = 0; o < mOutChannels; ++o) {
            const float* weights = mWeights.data() + static_cast<size_t>(o * mInChannels);
            float sum = 0;
            for (int i = 0; i < mInChannels; ++i)
                sum += weights[i] * frame[i];
            mMixed[f * mOutChannels + o] =
                static_cast<int16_t>(std::clamp(std::lrint(sum), -32768L, 32767L));
        }
    }
}

// Fewer channels go through the resampler: a down-mix comes before it, an up-mix after it.
int TFormatConverter::ResampledChannels() const {
    return std::min(mInChannels, mOutChannels);
}

const int16_t* TFormatConverter::Resample(const int16_t* in, size_t frames, size_t& outFrames) {
    const auto channels = static_cast<size_t>(ResampledChannels());
    // A little more room than the ratio asks for, so one call takes all of the input.
    const size_t room = static_cast<size_t>(static_cast<double>(frames) * mOutRate / mInRate) + 256;
    outFrames = 0;
    size_t consumed = 0;
    for (;;) {
        mResampled.resize((outFrames + room) * channels);
        size_t used = 0;
        size_t made = 0;
        const void* input = frames > 0 ? in + consumed * channels : nullptr;
        if (soxr_process(mResampler, input, frames - consumed, &used,
                         mResampled.data() + outFrames * channels, room, &made) != nullptr)
            break;
        consumed += used;
        outFrames += made;
        // Input all taken (or, when flushing, nothing more comes out).
        if ((frames > 0 && consumed >= frames && made < room) || made + used == 0)
            break;
    }
    return mResampled.data();
}

const int16_t* TFormatConverter::Convert(const int16_t* in, size_t frames, size_t& outFrames) {
    const bool mix = mInChannels != mOutChannels;
    if (mResampler == nullptr) {
        outFrames = frames;
        if (!mix || frames == 0)
            return in;
        Mix(in, frames);
        return mMixed.data();
    }
    if (mix && mInChannels > mOutChannels) {
        if (frames > 0)
            Mix(in, frames);
        return Resample(frames > 0 ? mMixed.data() : nullptr, frames, outFrames);
    }
    const int16_t* resampled = Resample(in, frames, outFrames);
    if (!mix || outFrames == 0)
        return resampled;
    Mix(resampled, outFrames);
    return mMixed.data();
}
