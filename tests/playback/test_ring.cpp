// The frame ring between a device's decoder thread and the output.
#include "playback/FrameRing.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

// Capacity is a power of two of at least what was asked; full and empty are told apart.
TEST(FrameRing, CapacityFullAndEmpty) {
    TFrameRing ring(88200, 1);
    EXPECT_EQ(ring.Capacity(), 131072u);
    std::vector<int16_t> block(ring.Capacity() + 10, 7);
    EXPECT_EQ(ring.Write(block.data(), block.size()), ring.Capacity());
    EXPECT_EQ(ring.Free(), 0u);
    EXPECT_EQ(ring.Write(block.data(), 1), 0u);
    std::vector<int16_t> out(ring.Capacity() + 10);
    EXPECT_EQ(ring.Read(out.data(), out.size()), ring.Capacity());
    EXPECT_EQ(ring.Available(), 0u);
    EXPECT_EQ(ring.Read(out.data(), 1), 0u);
}

// A writer and a reader on two threads, in uneven pieces across many wraps: every sample
// arrives once and in order.
TEST(FrameRing, ConcurrentTransferKeepsOrder) {
    TFrameRing ring(1000, 1);
    constexpr int64_t kTotal = 3'000'000;
    std::thread writer([&] {
        std::vector<int16_t> piece(977);
        int64_t next = 0;
        while (next < kTotal) {
            const size_t n = static_cast<size_t>(std::min<int64_t>(
                kTotal - next, static_cast<int64_t>(1 + (next * 7919) % piece.size())));
            for (size_t i = 0; i < n; ++i)
                piece[i] = static_cast<int16_t>((next + static_cast<int64_t>(i)) & 0x7fff);
            size_t done = 0;
            while (done < n) {
                done += ring.Write(piece.data() + done, n - done);
                if (done < n)
                    std::this_thread::yield();
            }
            next += static_cast<int64_t>(n);
        }
    });
    std::vector<int16_t> out(613);
    int64_t expected = 0;
    int64_t wrong = 0;
    while (expected < kTotal) {
        const size_t got = ring.Read(out.data(), 1 + static_cast<size_t>(expected % out.size()));
        for (size_t i = 0; i < got; ++i, ++expected)
            wrong += out[i] != static_cast<int16_t>(expected & 0x7fff);
        if (got == 0)
            std::this_thread::yield();
    }
    writer.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(ring.Available(), 0u);
}
