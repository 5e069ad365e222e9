#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

// Interleaved 16-bit samples passed from the decoder thread (the only writer) to the audio
// callback (the only reader). Neither side locks or allocates; the indices only grow and are
// masked on access, so full and empty never look alike.
class TSampleRing {
public:
    explicit TSampleRing(size_t minCapacity);

    size_t Capacity() const { return mMask + 1; }
    size_t Available() const;
    size_t Free() const;

    size_t Write(const int16_t* src, size_t count); // writer side
    size_t Read(int16_t* dst, size_t count);        // reader side

    // Only while neither side runs (the decoder joined, the callback paused).
    void Reset();

private:
    std::unique_ptr<int16_t[]> mData;
    size_t mMask = 0;
    alignas(64) std::atomic<size_t> mWritten{0};
    alignas(64) std::atomic<size_t> mRead{0};
};
