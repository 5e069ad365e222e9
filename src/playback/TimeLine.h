#pragma once

#include "playback/Decoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A stream's frames on the clock, across its rate parts: a stream whose rate changes part-way
// has its length, position and seek targets in real time. For one part it is frames × 1000 /
// rate, rounded as the device always did.
class TTimeLine {
public:
    // `parts` as a decoder gives them; a part that starts nowhere inside `frames` is left out.
    TTimeLine(std::vector<TRatePart> parts, int64_t frames);

    int64_t Frames() const { return mFrames; }
    int RateAt(int64_t frame) const { return mParts[PartOf(frame)].Rate; }
    // The length, to the nearest millisecond.
    int64_t LengthMs() const;
    // The millisecond in which `frame` is heard.
    int64_t MsAt(int64_t frame) const;
    // The first frame at or after `ms` (0..Frames), so that MsAt gives `ms` back.
    int64_t FrameAt(int64_t ms) const;
    // Where `outputFrames` frames of an output at `outputRate` lead from `frame`: each part is
    // resampled on its own, so a part's frames take their own share of the output.
    int64_t Advance(int64_t frame, int64_t outputFrames, int outputRate) const;

private:
    struct TPart {
        int64_t First;
        int Rate;
        int64_t StartNs; // when its first frame is heard, from the stream's start
    };
    size_t PartOf(int64_t frame) const;
    int64_t EndOf(size_t part) const;
    int64_t NsAt(int64_t frame) const;

    std::vector<TPart> mParts;
    int64_t mFrames;
};
