#include "playback/FormatConverter.h"

#include <algorithm>
#include <cmath>
#include <soxr.h>

namespace {

using S = ESpeaker;
constexpr float kSide = 0.70710678f; // −3 dB

struct TShare {
    int Channel;
    float Weight;
};

int IndexOf(const TLayout& layout, ESpeaker speaker) {
    const auto it = std::find(layout.begin(), layout.end(), speaker);
    return it == layout.end() ? -1 : static_cast<int>(it - layout.begin());
}

// Where a speaker of the input sounds on an output of two or more channels.
void Route(ESpeaker speaker, const TLayout& out, float weight, std::vector<TShare>& shares,
           int depth = 0) {
    if (weight == 0.0f || depth > 4)
        return;
    if (speaker != S::Mono && speaker != S::None) {
        if (const int at = IndexOf(out, speaker); at >= 0) {
            shares.push_back({at, weight});
            return;
        }
    }
    const bool fronts = IndexOf(out, S::FL) >= 0 && IndexOf(out, S::FR) >= 0;
    const auto both = [&](ESpeaker left, ESpeaker right, float w) {
        Route(left, out, weight * w, shares, depth + 1);
        Route(right, out, weight * w, shares, depth + 1);
    };
    switch (speaker) {
    case S::Mono:
        if (fronts)
            both(S::FL, S::FR, 1.0f);
        else
            Route(S::FC, out, weight, shares, depth + 1);
        break;
    case S::FC:
        if (fronts)
            both(S::FL, S::FR, kSide);
        break;
    case S::FL:
    case S::FR:
        // an output without its own front speaker: the centre, else nothing fits
        if (IndexOf(out, S::FC) >= 0)
            Route(S::FC, out, weight * kSide, shares, depth + 1);
        break;
    case S::LFE:
        break; // a down-mix without a low-frequency speaker leaves it out
    case S::BL:
    case S::BR: {
        const bool left = speaker == S::BL;
        if (IndexOf(out, left ? S::SL : S::SR) >= 0)
            Route(left ? S::SL : S::SR, out, weight, shares, depth + 1);
        else
            Route(left ? S::FL : S::FR, out, weight * kSide, shares, depth + 1);
        break;
    }
    case S::SL:
    case S::SR: {
        const bool left = speaker == S::SL;
        if (IndexOf(out, left ? S::BL : S::BR) >= 0)
            Route(left ? S::BL : S::BR, out, weight, shares, depth + 1);
        else
            Route(left ? S::FL : S::FR, out, weight * kSide, shares, depth + 1);
        break;
    }
    case S::BC:
        if (IndexOf(out, S::BL) >= 0 && IndexOf(out, S::BR) >= 0)
            both(S::BL, S::BR, kSide);
        else if (IndexOf(out, S::SL) >= 0 && IndexOf(out, S::SR) >= 0)
            both(S::SL, S::SR, kSide);
        else
            both(S::FL, S::FR, 0.5f);
        break;
    case S::FLC:
        Route(S::FL, out, weight, shares, depth + 1);
        break;
    case S::FRC:
        Route(S::FR, out, weight, shares, depth + 1);
        break;
    case S::TFL:
        Route(S::FL, out, weight, shares, depth + 1);
        break;
    case S::TFR:
        Route(S::FR, out, weight, shares, depth + 1);
        break;
    case S::TFC:
    case S::TC:
        Route(S::FC, out, weight, shares, depth + 1);
        break;
    case S::TBL:
        Route(S::BL, out, weight, shares, depth + 1);
        break;
    case S::TBR:
        Route(S::BR, out, weight, shares, depth + 1);
        break;
    case S::TBC:
        Route(S::BC, out, weight, shares, depth + 1);
        break;
    case S::None:
        break; // placed by its index, below
    }
}

} // namespace

std::vector<float> MixMatrix(const TLayout& in, const TLayout& out) {
    const size_t inChannels = in.size();
    const size_t outChannels = out.size();
    std::vector<float> weights(outChannels * inChannels, 0.0f);
    const auto add = [&](size_t o, size_t i, float w) { weights[o * inChannels + i] += w; };
    if (outChannels == 1) {
        // mono: what a stereo down-mix would put on the two sides, halved
        const TLayout stereo{S::FL, S::FR};
        for (size_t i = 0; i < inChannels; ++i) {
            if (in[i] == S::Mono || in[i] == S::FC || (in[i] == S::None && i == 0) ||
                (inChannels == 1)) {
                add(0, i, 1.0f);
                continue;
            }
            std::vector<TShare> shares;
            Route(in[i], stereo, 1.0f, shares);
            for (const TShare& share : shares)
                add(0, i, share.Weight / 2);
        }
        return weights;
    }
    for (size_t i = 0; i < inChannels; ++i) {
        if (in[i] == S::None) {
            // no position: the output channel of the same number, if there is one
            if (i < outChannels)
                add(i, i, 1.0f);
            continue;
        }
        std::vector<TShare> shares;
        Route(in[i], out, 1.0f, shares);
        for (const TShare& share : shares)
            add(static_cast<size_t>(share.Channel), i, share.Weight);
    }
    return weights;
}

TFormatConverter::TFormatConverter(int inRate, const TLayout& in, int outRate, const TLayout& out)
    : mInRate(inRate), mOutRate(outRate), mOutLayout(out),
      mOutChannels(static_cast<int>(out.size())) {
    SetInLayout(in);
    MakeResampler();
}

TFormatConverter::~TFormatConverter() {
    if (mResampler != nullptr)
        soxr_delete(mResampler);
}

int64_t TFormatConverter::Delay() const {
    return mResampler != nullptr ? std::llround(soxr_delay(mResampler)) : 0;
}

void TFormatConverter::SetInLayout(const TLayout& in) {
    mInLayout = in;
    mInChannels = static_cast<int>(in.size());
    mIdentity = in == mOutLayout;
    mWeights = mIdentity ? std::vector<float>() : MixMatrix(in, mOutLayout);
    if (mResampler != nullptr && ResampledChannels(in) != mResamplerChannels)
        MakeResampler();
}

const float* TFormatConverter::FlushBefore(const TLayout& in, size_t& frames) {
    frames = 0;
    if (mResampler == nullptr || ResampledChannels(in) == mResamplerChannels)
        return nullptr;
    return Convert(nullptr, 0, frames);
}

void TFormatConverter::SetInRate(int inRate) {
    if (inRate == mInRate)
        return;
    mInRate = inRate;
    MakeResampler();
}

void TFormatConverter::MakeResampler() {
    if (mResampler != nullptr) {
        soxr_delete(mResampler);
        mResampler = nullptr;
    }
    mValid = true;
    if (mInRate == mOutRate)
        return;
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    // one thread: the decoder thread is the only one that should work for this file
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    mResamplerChannels = ResampledChannels(mInLayout);
    mResampler = soxr_create(mInRate, mOutRate, static_cast<unsigned>(mResamplerChannels), &error,
                             &io, &quality, &runtime);
    mValid = error == nullptr && mResampler != nullptr;
}

void TFormatConverter::Mix(const float* in, size_t frames) {
    const auto inChannels = static_cast<size_t>(mInChannels);
    const auto outChannels = static_cast<size_t>(mOutChannels);
    mMixed.resize(frames * outChannels);
    for (size_t f = 0; f < frames; ++f) {
        const float* frame = in + f * inChannels;
        for (size_t o = 0; o < outChannels; ++o) {
            const float* weights = mWeights.data() + o * inChannels;
            float sum = 0;
            for (size_t i = 0; i < inChannels; ++i)
                sum += weights[i] * frame[i];
            mMixed[f * outChannels + o] = sum;
        }
    }
}

// Fewer channels go through the resampler: a down-mix comes before it, an up-mix after it.
int TFormatConverter::ResampledChannels(const TLayout& in) const {
    return in == mOutLayout ? mOutChannels : std::min(static_cast<int>(in.size()), mOutChannels);
}

const float* TFormatConverter::Resample(const float* in, size_t frames, size_t& outFrames) {
    const auto channels = static_cast<size_t>(mResamplerChannels);
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

const float* TFormatConverter::Convert(const float* in, size_t frames, size_t& outFrames) {
    if (mResampler == nullptr) {
        outFrames = frames;
        if (mIdentity || frames == 0)
            return in;
        Mix(in, frames);
        return mMixed.data();
    }
    if (!mIdentity && mInChannels > mOutChannels) {
        if (frames > 0)
            Mix(in, frames);
        return Resample(frames > 0 ? mMixed.data() : nullptr, frames, outFrames);
    }
    const float* resampled = Resample(in, frames, outFrames);
    if (mIdentity || outFrames == 0)
        return resampled;
    Mix(resampled, outFrames);
    return mMixed.data();
}
