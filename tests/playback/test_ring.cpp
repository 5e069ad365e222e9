// The frame ring between a device's decoder thread and the output.
#include "playback/FrameRing.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

// Capacity is a power of two of at least what was asked; full and empty are told apart.
TEST(FrameRing, CapacityFullAndEmpty) {
    TFrameRing ring(88200, 1);
    EXPECT_EQ(ring.Capacity(), 131072u);
    std::vector<float> block(ring.Capacity() + 10, 7);
    EXPECT_EQ(ring.Write(block.data(), block.size()), ring.Capacity());
    EXPECT_EQ(ring.Free(), 0u);
    EXPECT_EQ(ring.Write(block.data(), 1), 0u);
    std::vector<float> out(ring.Capacity() + 10);
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
        std::vector<float> piece(977);
        int64_t next = 0;
        while (next < kTotal) {
            const size_t n = static_cast<size_t>(std::min<int64_t>(
                kTotal - next, static_cast<int64_t>(1 + (next * 7919) % piece.size())));
            for (size_t i = 0; i < n; ++i)
                piece[i] = static_cast<float>((next + static_cast<int64_t>(i)) & 0x7fff);
            size_t done = 0;
            while (done < n) {
                done += ring.Write(piece.data() + done, n - done);
                if (done < n)
                    std::this_thread::yield();
            }
            next += static_cast<int64_t>(n);
        }
    });
    std::vector<float> out(613);
    int64_t expected = 0;
    int64_t wrong = 0;
    while (expected < kTotal) {
        const size_t got = ring.Read(out.data(), 1 + static_cast<size_t>(expected % out.size()));
        for (size_t i = 0; i < got; ++i, ++expected)
            wrong += out[i] != static_cast<float>(expected & 0x7fff);
        if (got == 0)
            std::this_thread::yield();
    }
    writer.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(ring.Available(), 0u);
}

// With three channels, a reader that finds the ring nearly empty gets whole frames only, so
// the channels never swap after an underrun.
TEST(FrameRing, ShortReadsKeepWholeFrames) {
    TFrameRing ring(1024, 3);
    std::vector<float> frames(3 * 2000);
    for (size_t f = 0; f < 2000; ++f)
        for (int c = 0; c < 3; ++c)
            frames[3 * f + c] = static_cast<float>(c);
    std::vector<float> out(3 * 700);
    size_t written = 0;
    int expected = 0;
    for (int round = 0; round < 50; ++round) {
        written += ring.Write(frames.data(), 1 + (round * 37) % 400) * 3;
        const size_t got = ring.Read(out.data(), 1 + (round * 53) % 700);
        for (size_t i = 0; i < got * 3; ++i, expected = (expected + 1) % 3)
            ASSERT_EQ(out[i], expected) << "round " << round;
    }
    EXPECT_GT(written, 0u);
}
