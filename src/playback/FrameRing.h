#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

// Interleaved 32-bit float frames passed from a device's decoder thread (the only writer) to the output
// (the only reader). Counts are in whole frames, so however many channels there are, a read that
// comes up short never splits a frame and never swaps channels. Neither side locks or allocates;
// the indices only grow and are masked on access, so full and empty never look alike.
class TFrameRing {
public:
    TFrameRing(size_t minFrames, int channels);

    size_t Capacity() const { return mMask + 1; } // frames
    int Channels() const { return mChannels; }
    size_t Available() const;
    // Frames written since the ring was made (the writer's count).
    size_t Written() const { return mWritten.load(std::memory_order_acquire); }
    size_t Free() const;

    size_t Write(const float* src, size_t frames); // writer side
    size_t Read(float* dst, size_t frames);        // reader side

private:
    std::unique_ptr<float[]> mData;
    size_t mMask = 0;
    int mChannels = 1;
    alignas(64) std::atomic<size_t> mWritten{0};
    alignas(64) std::atomic<size_t> mRead{0};
};
