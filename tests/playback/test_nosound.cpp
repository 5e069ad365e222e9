// No sound card and no SDL_AUDIODRIVER: Open fails with a clear error instead of crashing.
#include "PlaybackTest.h"

#include "playback/MPlayer.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(NoSound, OpenFailsClearly) {
    // No driver chosen, no sound server reachable; only a real sound card could still answer.
    QTemporaryDir runtime;
    qunsetenv("SDL_AUDIODRIVER");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    qputenv("PULSE_SERVER", QFile::encodeName(runtime.filePath(QStringLiteral("none"))));
    if (QDir(QStringLiteral("/dev/snd")).exists())
        GTEST_SKIP() << "this machine has a sound card, so the open may succeed";

    TMediaPlayer player;
    player.SetFileName(Fixture("track1.mp3"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            player.Open();
            FAIL() << "opened without any audio output";
        } catch (const EMCIDeviceError& e) {
            EXPECT_TRUE(e.Message().startsWith(QStringLiteral("No audio output is available")))
                << e.what();
            EXPECT_TRUE(e.Message().contains(QStringLiteral("track1.mp3"))) << e.what();
        }
        EXPECT_EQ(player.DeviceId(), 0);
        EXPECT_THROW(player.Play(), EMCIDeviceError);
    }
}
