#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

// Where each channel of a stream is meant to sound. Header-only: the decoder and output modules
// use it too.

// The speakers, numbered as the bits of WAVE's channel mask (FFmpeg's native order too).
enum class ESpeaker : uint8_t {
    FL,  // front left
    FR,  // front right
    FC,  // front centre
    LFE, // low-frequency effects
    BL,  // back (rear) left
    BR,  // back right
    FLC, // front left of centre
    FRC, // front right of centre
    BC,  // back centre
    SL,  // side left
    SR,  // side right
    TC,  // top centre
    TFL, // top front left
    TFC, // top front centre
    TFR, // top front right
    TBL, // top back left
    TBC, // top back centre
    TBR, // top back right
    Mono, // the one channel of a mono stream: heard alike on the front pair
    None, // no position given (more channels than a layout names)
};

inline constexpr int kSpeakerMaskBits = 18;

// The speaker of each channel, in the stream's order.
using TLayout = std::vector<ESpeaker>;

// WAVE's (and FLAC's, and FFmpeg's) default order for a channel count.
inline TLayout DefaultLayout(int channels) {
    using S = ESpeaker;
    switch (channels) {
    case 1:
        return {S::Mono};
    case 2:
        return {S::FL, S::FR};
    case 3:
        return {S::FL, S::FR, S::FC};
    case 4:
        return {S::FL, S::FR, S::BL, S::BR};
    case 5:
        return {S::FL, S::FR, S::FC, S::BL, S::BR};
    case 6:
        return {S::FL, S::FR, S::FC, S::LFE, S::BL, S::BR};
    case 7:
        return {S::FL, S::FR, S::FC, S::LFE, S::BC, S::SL, S::SR};
    case 8:
        return {S::FL, S::FR, S::FC, S::LFE, S::BL, S::BR, S::SL, S::SR};
    default: {
        TLayout layout(static_cast<size_t>(channels < 0 ? 0 : channels), S::None);
        if (channels > 8) {
            const TLayout eight = DefaultLayout(8);
            std::copy(eight.begin(), eight.end(), layout.begin());
        }
        return layout;
    }
    }
}

// The order of Vorbis I, which Opus (mapping family 1) and Ogg FLAC's Vorbis-order files share.
inline TLayout VorbisLayout(int channels) {
    using S = ESpeaker;
    switch (channels) {
    case 3:
        return {S::FL, S::FC, S::FR};
    case 4:
        return {S::FL, S::FR, S::BL, S::BR};
    case 5:
        return {S::FL, S::FC, S::FR, S::BL, S::BR};
    case 6:
        return {S::FL, S::FC, S::FR, S::BL, S::BR, S::LFE};
    case 7:
        return {S::FL, S::FC, S::FR, S::SL, S::SR, S::BC, S::LFE};
    case 8:
        return {S::FL, S::FC, S::FR, S::SL, S::SR, S::BL, S::BR, S::LFE};
    default:
        return DefaultLayout(channels);
    }
}

// The layout a WAVE channel mask names: its speakers in the order of their bits, and no position
// for channels beyond them; the default order where the mask names none. A mono file marked
// as the centre is mono.
inline TLayout LayoutOfMask(uint32_t mask, int channels) {
    TLayout layout;
    for (int bit = 0; bit < kSpeakerMaskBits && static_cast<int>(layout.size()) < channels; ++bit)
        if ((mask & (1u << bit)) != 0)
            layout.push_back(static_cast<ESpeaker>(bit));
    if (layout.empty())
        return DefaultLayout(channels);
    if (channels == 1 && layout[0] == ESpeaker::FC)
        return {ESpeaker::Mono};
    layout.resize(static_cast<size_t>(channels), ESpeaker::None);
    return layout;
}
