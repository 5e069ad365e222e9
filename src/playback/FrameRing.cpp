#include "playback/FrameRing.h"

#include <algorithm>
#include <cstring>

TFrameRing::TFrameRing(size_t minFrames, int channels) : mChannels(std::max(channels, 1)) {
    size_t capacity = 1024;
    while (capacity < minFrames)
        capacity <<= 1;
    mData = std::make_unique<float[]>(capacity * static_cast<size_t>(mChannels));
    mMask = capacity - 1;
}

size_t TFrameRing::Available() const {
    return mWritten.load(std::memory_order_acquire) - mRead.load(std::memory_order_acquire);
}

size_t TFrameRing::Free() const {
    return Capacity() - Available();
}

size_t TFrameRing::Write(const float* src, size_t frames) {
    const size_t written = mWritten.load(std::memory_order_relaxed);
    const size_t read = mRead.load(std::memory_order_acquire);
    frames = std::min(frames, Capacity() - (written - read));
    const size_t start = written & mMask;
    const size_t first = std::min(frames, Capacity() - start);
    const size_t frameBytes = sizeof(float) * static_cast<size_t>(mChannels);
    std::memcpy(mData.get() + start * mChannels, src, first * frameBytes);
    std::memcpy(mData.get(), src + first * mChannels, (frames - first) * frameBytes);
    mWritten.store(written + frames, std::memory_order_release);
    return frames;
}

size_t TFrameRing::Read(float* dst, size_t frames) {
    const size_t read = mRead.load(std::memory_order_relaxed);
    const size_t written = mWritten.load(std::memory_order_acquire);
    frames = std::min(frames, written - read);
    const size_t start = read & mMask;
    const size_t first = std::min(frames, Capacity() - start);
    const size_t frameBytes = sizeof(float) * static_cast<size_t>(mChannels);
    std::memcpy(dst, mData.get() + start * mChannels, first * frameBytes);
    std::memcpy(dst + first * mChannels, mData.get(), (frames - first) * frameBytes);
    mRead.store(read + frames, std::memory_order_release);
    return frames;
}
