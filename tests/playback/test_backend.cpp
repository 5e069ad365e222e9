// The audio back end is a module loaded on the first open: when it cannot be loaded, Open fails
// with a text that names the module and the reason, and a later open can still succeed.
#include "PlaybackTest.h"

#include "playback/AudioBackend.h"
#include "playback/MPlayer.h"
#include "playback/MediaService.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString OpenError(TMediaPlayer& player) {
    try {
        player.Open();
    } catch (const EMCIDeviceError& e) {
        return e.Message();
    }
    return QStringLiteral("<opened>");
}

} // namespace

TEST(AudioBackend, UnloadableModuleFailsOpenClearlyAndLaterLoads) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TMediaPlayer player;
    player.SetFileName(Fixture("track1.mp3"));

    AudioBackend::SetSearchDirs({dir.path()});
    const QString missing = OpenError(player);
    EXPECT_TRUE(missing.startsWith(QStringLiteral("No audio output is available to play \"")))
        << missing.toStdString();
    EXPECT_TRUE(missing.contains(QStringLiteral("track1.mp3"))) << missing.toStdString();
    EXPECT_TRUE(missing.contains(
        QStringLiteral("cannot load the audio back end libondrix-audio.so: not found in %1")
            .arg(dir.path())))
        << missing.toStdString();
    EXPECT_EQ(player.DeviceId(), 0);
    EXPECT_EQ(MediaService::OpenDeviceCount(), 0u);
    EXPECT_THROW(player.Play(), EMCIDeviceError);
    MediaService::ReleaseIdleOutput(); // nothing loaded: must not load or crash

    // A file of that name that is no module: the loader's own reason is passed on.
    QFile broken(dir.filePath(QStringLiteral("libondrix-audio.so")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not an ELF file, just some bytes to refuse");
    broken.close();
    AudioBackend::SetSearchDirs({dir.path()});
    const QString refused = OpenError(player);
    EXPECT_TRUE(refused.contains(QStringLiteral("cannot load the audio back end "
                                                "libondrix-audio.so: %1")
                                     .arg(broken.fileName())))
        << refused.toStdString();
    EXPECT_FALSE(refused.contains(QStringLiteral("not found"))) << refused.toStdString();

    // The usual places find the module of this build tree.
    AudioBackend::SetSearchDirs({});
    EXPECT_EQ(OpenError(player), QStringLiteral("<opened>"));
    EXPECT_NE(player.DeviceId(), 0);
    EXPECT_EQ(player.Length(), 1000);
    player.Close();
}
