#include "playback/TimeLine.h"

#include <algorithm>

namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;
constexpr int64_t kNsPerMs = 1'000'000;

// floor(frames × 10⁹ / rate), without the product overflowing for long files.
int64_t FramesToNs(int64_t frames, int rate) {
    return frames / rate * kNsPerSecond + frames % rate * kNsPerSecond / rate;
}

// ceil(ns × rate / 10⁹), likewise.
int64_t NsToFramesUp(int64_t ns, int rate) {
    return ns / kNsPerSecond * rate + (ns % kNsPerSecond * rate + kNsPerSecond - 1) / kNsPerSecond;
}

} // namespace

TTimeLine::TTimeLine(std::vector<TRatePart> parts, int64_t frames)
    : mFrames(std::max<int64_t>(0, frames)) {
    for (const TRatePart& part : parts) {
        if (part.Rate <= 0 || (!mParts.empty() && part.First >= mFrames))
            continue;
        if (!mParts.empty() && part.First <= mParts.back().First)
            continue; // out of order: not a part
        if (!mParts.empty() && part.Rate == mParts.back().Rate)
            continue;
        const int64_t first = mParts.empty() ? 0 : part.First;
        const int64_t start = mParts.empty()
                                  ? 0
                                  : mParts.back().StartNs +
                                        FramesToNs(first - mParts.back().First, mParts.back().Rate);
        mParts.push_back({first, part.Rate, start});
    }
    if (mParts.empty())
        mParts.push_back({0, 1, 0}); // no rate at all: never played, but never divided by 0
}

size_t TTimeLine::PartOf(int64_t frame) const {
    const auto after =
        std::upper_bound(mParts.begin(), mParts.end(), frame,
                         [](int64_t f, const TPart& part) { return f < part.First; });
    return after == mParts.begin() ? 0 : static_cast<size_t>(after - mParts.begin()) - 1;
}

int64_t TTimeLine::EndOf(size_t part) const {
    return part + 1 < mParts.size() ? mParts[part + 1].First : mFrames;
}

int64_t TTimeLine::NsAt(int64_t frame) const {
    frame = std::clamp<int64_t>(frame, 0, mFrames);
    const TPart& part = mParts[PartOf(frame)];
    return part.StartNs + FramesToNs(frame - part.First, part.Rate);
}

int64_t TTimeLine::LengthMs() const {
    return (NsAt(mFrames) + kNsPerMs / 2) / kNsPerMs;
}

int64_t TTimeLine::MsAt(int64_t frame) const {
    return NsAt(frame) / kNsPerMs;
}

int64_t TTimeLine::FrameAt(int64_t ms) const {
    const int64_t ns = std::max<int64_t>(0, ms) * kNsPerMs;
    size_t at = mParts.size() - 1;
    while (at > 0 && mParts[at].StartNs > ns)
        --at;
    const TPart& part = mParts[at];
    return std::min(EndOf(at), part.First + NsToFramesUp(ns - part.StartNs, part.Rate));
}

int64_t TTimeLine::Advance(int64_t frame, int64_t outputFrames, int outputRate) const {
    frame = std::clamp<int64_t>(frame, 0, mFrames);
    outputFrames = std::max<int64_t>(0, outputFrames);
    for (size_t at = PartOf(frame);; ++at) {
        const int rate = mParts[at].Rate;
        const int64_t moved = rate == outputRate ? outputFrames : outputFrames * rate / outputRate;
        const int64_t end = EndOf(at);
        if (at + 1 == mParts.size() || frame + moved < end)
            return std::min(mFrames, frame + moved);
        // the rest of this part, as many output frames as it became
        outputFrames -= rate == outputRate ? end - frame : (end - frame) * outputRate / rate;
        frame = end;
        if (outputFrames <= 0)
            return frame;
    }
}
