// FFmpeg's decoders are a module loaded on the first open of a WMA file: when it cannot be
// loaded, Open fails with a text that names the module and the reason, and a later open can
// still succeed.
#include "PlaybackTest.h"

#include "playback/MPlayer.h"
#include "playback/MediaService.h"
#include "playback/ModuleLoader.h"

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

TEST(ModuleLoader, UnloadableModuleFailsOpenClearlyAndLaterLoads) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TMediaPlayer player;
    player.SetFileName(Fixture("track5.wma"));

    ModuleLoader::SetSearchDirs({dir.path()});
    const QString missing = OpenError(player);
    EXPECT_TRUE(missing.startsWith(QStringLiteral("The file \""))) << missing.toStdString();
    EXPECT_TRUE(missing.contains(QStringLiteral("track5.wma"))) << missing.toStdString();
    EXPECT_TRUE(missing.contains(
        QStringLiteral("cannot load the module libondrix-ffmpeg.so: not found in %1")
            .arg(dir.path())))
        << missing.toStdString();
    EXPECT_EQ(player.DeviceId(), 0);
    EXPECT_EQ(MediaService::OpenDeviceCount(), 0u);
    EXPECT_THROW(player.Play(), EMCIDeviceError);

    // An MP3 needs no module: it opens all the same.
    player.SetFileName(Fixture("track1.mp3"));
    EXPECT_EQ(OpenError(player), QStringLiteral("<opened>"));
    player.Close();
    player.SetFileName(Fixture("track5.wma"));

    // A file of that name that is no module: the loader's own reason is passed on.
    QFile broken(dir.filePath(QStringLiteral("libondrix-ffmpeg.so")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not an ELF file, just some bytes to refuse");
    broken.close();
    ModuleLoader::SetSearchDirs({dir.path()});
    const QString refused = OpenError(player);
    EXPECT_TRUE(refused.contains(
        QStringLiteral("cannot load the module libondrix-ffmpeg.so: %1").arg(broken.fileName())))
        << refused.toStdString();
    EXPECT_FALSE(refused.contains(QStringLiteral("not found"))) << refused.toStdString();

    // The usual places find the module of this build tree.
    ModuleLoader::SetSearchDirs({});
    EXPECT_EQ(OpenError(player), QStringLiteral("<opened>"));
    EXPECT_NE(player.DeviceId(), 0);
    EXPECT_EQ(player.Length(), 975);
    player.Close();
}
