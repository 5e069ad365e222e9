// Milliseconds and frames across a stream's rate parts.
#include "playback/TimeLine.h"

#include <cmath>
#include <gtest/gtest.h>

// A stream of one rate keeps the arithmetic of frames × 1000 / rate: Length rounded to the
// nearest millisecond, a position rounded down, a seek target rounded up and the output's frames
// scaled by the two rates; a stream of two parts (1 s at 44.1 kHz, then 29672 frames at 48 kHz)
// adds their durations, and an output's frames carry on into the second part at its rate.
TEST(TimeLine, OnePartAsBeforeAndPartsInTurn) {
    for (const int rate : {1, 8000, 11025, 22050, 44100, 48000, 96000, 768000}) {
        // up to ten hours
        for (const int64_t frames :
             {int64_t{1}, int64_t{2}, int64_t{57368}, int64_t{13230000}, int64_t{36000} * rate}) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(frames) + " frames");
            const TTimeLine line({{0, rate}}, frames);
            EXPECT_EQ(line.LengthMs(), (frames * 1000 + rate / 2) / rate);
            for (const int64_t frame : {int64_t{0}, frames / 3, frames - 1, frames})
                EXPECT_EQ(line.MsAt(frame), frame * 1000 / rate);
            for (const int64_t ms : {int64_t{0}, int64_t{1}, line.LengthMs() / 2, line.LengthMs()})
                EXPECT_EQ(line.FrameAt(ms), std::min(frames, (ms * rate + 999) / 1000));
            for (const int out : {44100, 48000})
                EXPECT_EQ(line.Advance(frames / 4, 12345, out),
                          std::min(frames, frames / 4 + 12345 * int64_t{rate} / out));
        }
    }
    const TTimeLine parts({{0, 44100}, {44100, 48000}}, 44100 + 29672);
    EXPECT_EQ(parts.RateAt(44099), 44100);
    EXPECT_EQ(parts.RateAt(44100), 48000);
    EXPECT_EQ(parts.LengthMs(), std::lround(1000 + 29672 / 48.0));
    EXPECT_EQ(parts.MsAt(44100 + 4800), 1100);
    EXPECT_EQ(parts.FrameAt(1100), 44100 + 4800);
    EXPECT_EQ(parts.FrameAt(1618), 44100 + 618 * 48);
    // 1.1 s of a 44.1 kHz output from the start: the first part, then 0.1 s of the second
    EXPECT_EQ(parts.Advance(0, 48510, 44100), 44100 + 4800);
    EXPECT_EQ(parts.Advance(22050, 48510, 44100), 44100 + 4800 + 24000);
}
