// What reaches the output stream, sample for sample, through the file output.
#include "FileOutput.h"

#include "playback/MPlayer.h"

#include <QTemporaryDir>

using namespace std::chrono_literals;

namespace {

struct TCase {
    const char* Name;
    int Rate;
    int Channels;
};

} // namespace

// Each format plays exactly its decoded samples: no gap, no cut, no tail of silence before
// Position reaches Length; and a Play after the end plays the same samples again.
TEST(Output, PlaysTheDecodedSamplesExactlyTwice) {
    // The output opens in each file's own format, so nothing is resampled or mixed.
    const TCase cases[] = {{"tone.wav", 44100, 2},         {"tone-440.mp3", 44100, 2},
                           {"vbr-noxing.mp3", 44100, 2},   {"vbr-xing.mp3", 44100, 2},
                           {"tone.wma", 44100, 2},         {"tone-mono-22k.mp3", 22050, 1},
                           {"tone-mono-48k.wav", 48000, 1}};
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString raw = dir.filePath(QString::fromUtf8(c.Name) + QStringLiteral(".raw"));
        UseFileOutput(raw, c.Rate, c.Channels);
        const auto expected = DecodeWithReference(Fixture(c.Name));
        ASSERT_FALSE(expected.empty());
        {
            TMediaPlayer player;
            player.SetFileName(Fixture(c.Name));
            player.Open();
            const int32_t length = player.Length();
            for (int round = 0; round < 2; ++round) {
                player.Play();
                ASSERT_TRUE(WaitFor([&] { return player.Position() == length; },
                                    std::chrono::milliseconds(length) + 3s));
                EXPECT_EQ(player.Mode(), pmStopped);
            }
        }
        const auto output = ReadSamples(raw);
        size_t at = 0;
        EXPECT_TRUE(NextIsExactly(output, at, expected, c.Channels)) << "first play";
        EXPECT_TRUE(NextIsExactly(output, at, expected, c.Channels)) << "second play";
        EXPECT_TRUE(RestIsSilent(output, at));
    }
}

// Pausing in the middle and resuming loses and repeats nothing.
TEST(Output, PauseAndResumeKeepEverySample) {
    QTemporaryDir dir;
    const QString raw = dir.filePath(QStringLiteral("pause.raw"));
    UseFileOutput(raw);
    const auto expected = DecodeWithReference(Fixture("tone-440.mp3"));
    {
        TMediaPlayer player;
        player.SetFileName(Fixture("tone-440.mp3"));
        player.Open();
        player.Play();
        ASSERT_TRUE(WaitFor([&] { return player.Position() >= 700; }, 3s));
        player.Pause();
        std::this_thread::sleep_for(300ms);
        player.Pause();
        ASSERT_TRUE(WaitFor([&] { return player.Position() == player.Length(); }, 5s));
    }
    const auto output = ReadSamples(raw);
    // The pause shows as silence inside the tone: compare the two halves around it.
    size_t firstSound = 0;
    while (firstSound < output.size() && output[firstSound] == 0)
        ++firstSound;
    size_t gap = firstSound;
    size_t silentRun = 0;
    for (; gap < output.size(); ++gap) {
        silentRun = output[gap] == 0 ? silentRun + 1 : 0;
        if (silentRun > 4410) // 50 ms of silence in a 440 Hz tone: the pause
            break;
    }
    ASSERT_LT(gap, output.size());
    size_t expectedFirst = 0;
    while (expected[expectedFirst] == 0)
        ++expectedFirst;
    const size_t before = gap + 1 - silentRun - (firstSound - expectedFirst);
    ASSERT_LT(before, expected.size());
    const std::vector<int16_t> head(expected.begin(), expected.begin() + before);
    const std::vector<int16_t> tail(expected.begin() + before, expected.end());
    size_t at = 0;
    EXPECT_TRUE(NextIsExactly(output, at, head, 2));
    EXPECT_TRUE(NextIsExactly(output, at, tail, 2));
    EXPECT_TRUE(RestIsSilent(output, at));
}
