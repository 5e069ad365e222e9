#include "playback/audio/SampleRing.h"

#include <algorithm>
#include <cstring>

TSampleRing::TSampleRing(size_t minCapacity) {
    size_t capacity = 1024;
    while (capacity < minCapacity)
        capacity <<= 1;
    mData = std::make_unique<int16_t[]>(capacity);
    mMask = capacity - 1;
}

size_t TSampleRing::Available() const {
    return mWritten.load(std::memory_order_acquire) - mRead.load(std::memory_order_acquire);
}

size_t TSampleRing::Free() const {
    return Capacity() - Available();
}

size_t TSampleRing::Write(const int16_t* src, size_t count) {
    const size_t written = mWritten.load(std::memory_order_relaxed);
    const size_t read = mRead.load(std::memory_order_acquire);
    count = std::min(count, Capacity() - (written - read));
    const size_t start = written & mMask;
    const size_t first = std::min(count, Capacity() - start);
    std::memcpy(mData.get() + start, src, first * sizeof(int16_t));
    std::memcpy(mData.get(), src + first, (count - first) * sizeof(int16_t));
    mWritten.store(written + count, std::memory_order_release);
    return count;
}

size_t TSampleRing::Read(int16_t* dst, size_t count) {
    const size_t read = mRead.load(std::memory_order_relaxed);
    const size_t written = mWritten.load(std::memory_order_acquire);
    count = std::min(count, written - read);
    const size_t start = read & mMask;
    const size_t first = std::min(count, Capacity() - start);
    std::memcpy(dst, mData.get() + start, first * sizeof(int16_t));
    std::memcpy(dst + first, mData.get(), (count - first) * sizeof(int16_t));
    mRead.store(read + count, std::memory_order_release);
    return count;
}

void TSampleRing::Reset() {
    mWritten.store(0, std::memory_order_relaxed);
    mRead.store(0, std::memory_order_relaxed);
}
