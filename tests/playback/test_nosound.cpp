// No sound server and no sound card: Open works (it never touches the output), and Play reports
// "No audio output is available ..." once, from the player's completion notice, while nothing
// moves; the player stays usable.
#include "PlaybackTest.h"

#include "playback/MPlayer.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Shows what escapes an event as the program's application object does, by recording it.
class TRecordingApp : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QCoreApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            Boxes << QString::fromUtf8(e.what());
        }
        return true;
    }
    QStringList Boxes;
};

TRecordingApp* App() {
    return static_cast<TRecordingApp*>(QCoreApplication::instance());
}

} // namespace

TEST(NoSound, PlayReportsOnceAndNothingMoves) {
    // No output chosen, no sound server reachable; only a real sound card could still answer.
    QTemporaryDir runtime;
    qunsetenv("ONDRIX_AUDIO_OUTPUT");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    qputenv("PULSE_SERVER", QFile::encodeName(runtime.filePath(QStringLiteral("none"))));
    if (QDir(QStringLiteral("/dev/snd")).exists())
        GTEST_SKIP() << "this machine has a sound card, so the output may open";

    TMediaPlayer player;
    player.SetFileName(Fixture("track1.mp3"));
    ASSERT_NO_THROW(player.Open());
    for (int attempt = 1; attempt <= 2; ++attempt) {
        ASSERT_NO_THROW(player.Play());
        ASSERT_TRUE(WaitFor(
            [&] {
                QCoreApplication::processEvents();
                return App()->Boxes.size() >= attempt;
            },
            std::chrono::seconds(20)));
        const QString box = App()->Boxes.back();
        EXPECT_TRUE(box.startsWith(QStringLiteral("No audio output is available to play \"")))
            << box.toStdString();
        EXPECT_TRUE(box.contains(QStringLiteral("track1.mp3"))) << box.toStdString();
        EXPECT_EQ(player.NotifyResult(), nrFailure);
        EXPECT_EQ(player.Mode(), pmStopped);
        EXPECT_EQ(player.Position(), 0) << "nothing was heard";
    }
    // Once per Play, not on every poll.
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        player.Position();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(App()->Boxes.size(), 2);
    EXPECT_NE(player.DeviceId(), 0) << "the player stays usable";
}

int main(int argc, char** argv) {
    TRecordingApp app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
