// TMediaPlayer against the null output, which takes samples at real-time pace.
#include "PlaybackTest.h"

#include "playback/Decoder.h"
#include "playback/MPlayer.h"
#include "playback/MediaFile.h"
#include "playback/MediaService.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <set>

using namespace std::chrono_literals;

namespace {

struct TExactCase {
    const char* Name;
    int Rate;
    int Channels;
};

void ExpectNoDevice(TMediaPlayer& player) {
    EXPECT_EQ(player.DeviceId(), 0);
    for (auto command : {&TMediaPlayer::Play, &TMediaPlayer::Pause}) {
        try {
            (player.*command)();
            ADD_FAILURE() << "a command without a device did not raise";
        } catch (const EMCIDeviceError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("No MCI device open"));
        }
    }
    EXPECT_THROW(player.Length(), EMCIDeviceError);
    EXPECT_NO_THROW(player.Position());
}

bool PlaysToEnd(TMediaPlayer& player, std::chrono::milliseconds extra = 3s) {
    const int32_t length = player.Length();
    return WaitFor([&] { return player.Position() == length; },
                   std::chrono::milliseconds(length) + extra);
}

} // namespace

// Open leaves the device stopped at 0 with its length known and no error recorded.
TEST(Player, OpenStandsStoppedAtZero) {
    TMediaPlayer player;
    player.SetFileName(Fixture("tone-440.mp3"));
    player.Open();
    EXPECT_NE(player.DeviceId(), 0);
    EXPECT_EQ(player.Mode(), pmStopped);
    EXPECT_EQ(player.Position(), 0);
    EXPECT_EQ(player.Length(), 2000);
    EXPECT_EQ(player.ErrorCode(), 0);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(player.Position(), 0) << "nothing plays before Play";
}

// Length is what the decoder really delivers, for every format and header variant.
TEST(Player, LengthIsTheDecodedSampleCount) {
    const TExactCase cases[] = {
        {"tone-440.mp3", 44100, 2},      {"vbr-xing.mp3", 44100, 2},
        {"vbr-noxing.mp3", 44100, 2},    {"tone-mono-22k.mp3", 22050, 1},
        {"tone.wma", 44100, 2},          {"tone-22k.wma", 22050, 1},
        {"track5.wma", 44100, 2},        {"tone.wav", 44100, 2},
        {"tone-mono-48k.wav", 48000, 1}, {"truncated.wav", 44100, 2},
        {"huge-header.wav", 44100, 2},   {"truncated.mp3", 44100, 2},
        {"big-tag.mp3", 44100, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto samples = DecodeWithReference(Fixture(c.Name));
        ASSERT_FALSE(samples.empty());
        TMediaPlayer player;
        player.SetFileName(Fixture(c.Name));
        player.Open();
        EXPECT_EQ(player.Length(),
                  RoundedMs(static_cast<int64_t>(samples.size()) / c.Channels, c.Rate));
    }
}

// MP3s with more than frames in them open and measure the frames alone: a run of ID3v2 tags or
// junk before the first frame, APE, Lyrics3 and ID3v1 tags after the last, and files of one or
// two frames (an MPEG-1 layer III frame holds 1152 samples). Random bytes named .mp3 are still
// refused (DamagedInputFailsClearlyOrPlaysToTheEnd).
TEST(Player, OddMp3FilesMeasureTheirFramesAlone) {
    const auto clean = static_cast<int64_t>(DecodeWithReference(Fixture("track1.mp3")).size()) / 2;
    ASSERT_GT(clean, 0);
    const struct {
        const char* Name;
        int64_t Frames;
    } cases[] = {
        {"two-id3v2.mp3", clean},     {"junk-before.mp3", clean}, {"ape-id3v1.mp3", clean},
        {"lyrics3-id3v1.mp3", clean}, {"one-frame.mp3", 1152},    {"two-frames.mp3", 2 * 1152},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TMediaPlayer player;
        player.SetFileName(Fixture(c.Name));
        ASSERT_NO_THROW(player.Open());
        EXPECT_EQ(player.Length(), RoundedMs(c.Frames, 44100));
        player.Play();
        EXPECT_TRUE(PlaysToEnd(player));
    }
}

// FLAC, Ogg Vorbis, Opus (also named .ogg), AAC and ALAC in M4A give back exactly the frames
// their encoder was fed: no priming, padding or pre-skip counted, and a FLAC header whose count
// is unknown or lies does not decide. A seek lands on its target and the end reaches Length.
TEST(Player, NewFormatsAreExactAndSeek) {
    const struct {
        const char* Name;
        const char* Source;
    } cases[] = {
        {"tone.flac", "source-44k.wav"},         {"tone.ogg", "source-44k.wav"},
        {"tone.opus", "source-48k.wav"},         {"opus-named.ogg", "source-48k.wav"},
        {"tone-aac.m4a", "source-44k.wav"},      {"faststart.m4a", "source-44k.wav"},
        {"tone-alac.m4a", "source-44k.wav"},     {"untold-length.flac", "source-44k.wav"},
        {"lying-length.flac", "source-44k.wav"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto source = static_cast<int64_t>(DecodeWithReference(Fixture(c.Source)).size()) / 2;
        ASSERT_GT(source, 0);
        const int rate =
            QString::fromUtf8(c.Source).contains(QStringLiteral("48k")) ? 48000 : 44100;
        TMediaPlayer player;
        player.SetFileName(Fixture(c.Name));
        ASSERT_NO_THROW(player.Open());
        const int32_t length = player.Length();
        EXPECT_EQ(length, RoundedMs(source, rate));
        player.Seek(length - 400);
        EXPECT_EQ(player.Position(), length - 400);
        player.Play();
        EXPECT_TRUE(PlaysToEnd(player));
        EXPECT_EQ(player.Mode(), pmStopped);
    }
}

// An AAC track played from its start or from a seek sounds as FFmpeg's own decode of it from
// the first sample: the frame before the first one heard is decoded (and dropped), which a
// frame needs for what it overlaps; without it the first frame was half silent and faded in.
TEST(Player, AacTrackStartsWithItsSound) {
    for (const char* name : {"tone-aac.m4a", "faststart.m4a"}) {
        SCOPED_TRACE(name);
        const std::vector<float> reference = DecodeWithReference(Fixture(name));
        std::shared_ptr<TMediaFile> file;
        TOpenFailure failure;
        const auto decoder = OpenDecoder(Fixture(name), file, failure);
        ASSERT_NE(decoder, nullptr) << failure.Text.toStdString();
        // from the start, and from a seek into a frame (1000 frames past it, 20000 in all)
        for (const int64_t at : {int64_t{0}, int64_t{1000}, int64_t{20000}}) {
            ASSERT_TRUE(decoder->Seek(at));
            std::vector<float> got(4096 * 2);
            ASSERT_EQ(decoder->Read(got.data(), 4096), 4096u);
            ASSERT_GE(reference.size(), got.size() + static_cast<size_t>(at) * 2);
            float worst = 0;
            for (size_t i = 0; i < got.size(); ++i)
                worst = std::max(worst, std::abs(got[i] - reference[i + at * 2]));
            // after a seek FFmpeg's decoder state is its own to within -80 dB, not bit for bit
            EXPECT_LT(worst, at == 0 ? 1e-6f : 1e-4f) << "from frame " << at;
        }
    }
}

// Files as real-world encoders and taggers leave them: the length a decoder reports is the
// frames it gives to the end and what the file itself says (an M4A without an edit list: its
// iTunSMPB, else its sample table, here the source and FFmpeg's 1024 frames of priming; WMA:
// what FFmpeg decodes, also from a file shorter than the trial decode that measures it or cut
// inside its last packet; a short MP3 whose last frame the decoder does not play: without it;
// one whose last frame a tag cuts short but leaves its data whole: with it; an Info frame before
// a damaged one: its delay applies), and audio nothing can decode is refused at Open instead of
// playing nothing (an MP3 cut inside its first audio frame as holding no audio). The sound of an
// Ogg film is found behind its video stream.
TEST(Player, RealWorldFilesDecodeTheirLength) {
    const auto source = static_cast<int64_t>(
                            DecodeWithReference(Fixture(QStringLiteral("source-44k.wav"))).size()) /
                        2;
    ASSERT_GT(source, 0);
    const struct {
        const char* Name;
        int64_t Frames; // 0: refused; -1: as the reference decodes `Text`, or the file itself
        const char* Text;
    } cases[] = {
        {"short.wma", -1, nullptr},
        {"cut-packet.wma", -1, nullptr},
        {"other-rate-tail.mp3", -1, "plain.mp3"},
        {"ape-over-frame.mp3", -1, nullptr},
        {"info-damaged-next.mp3", -1, nullptr},
        {"smpb-no-edits.m4a", source, nullptr},
        {"no-edits.m4a", source + 1024, nullptr},
        {"undecodable.m4a", 0, "cannot be decoded"},
        {"info-cut.mp3", 0, "contains no audio"},
        {"video-vorbis.ogg", source, nullptr},
        {"video-flac.ogg", source, nullptr},
        {"frames-only.flac", source, nullptr},
        {"junk-then-frames.flac", source, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::shared_ptr<TMediaFile> file;
        TOpenFailure failure;
        const auto decoder = OpenDecoder(Fixture(QString::fromUtf8(c.Name)), file, failure);
        if (c.Frames == 0) {
            EXPECT_EQ(decoder, nullptr);
            EXPECT_TRUE(failure.Text.contains(QString::fromUtf8(c.Text)))
                << failure.Text.toStdString();
            continue;
        }
        ASSERT_NE(decoder, nullptr) << failure.Text.toStdString();
        const int64_t frames =
            c.Frames > 0
                ? c.Frames
                : static_cast<int64_t>(
                      DecodeWithReference(Fixture(QString::fromUtf8(c.Text ? c.Text : c.Name)))
                          .size()) /
                      decoder->Channels();
        EXPECT_EQ(decoder->LengthFrames(), frames);
        std::vector<float> buffer(4096 * static_cast<size_t>(decoder->MaxChannels()));
        int64_t decoded = 0;
        while (const size_t got = decoder->Read(buffer.data(), 4096))
            decoded += static_cast<int64_t>(got);
        EXPECT_EQ(decoded, decoder->LengthFrames());
    }
}

// WAV as other writers store it: big-endian RIFX, 12 bits in two bytes, 64-bit integers, 24 bits
// in four-byte containers, an extensible header whose only sample size is its valid bits, an
// ID3v2 tag before the RIFF header. Each holds the same values.
TEST(Player, WavLayoutsGiveTheirSamples) {
    const float expected[] = {0x1230, -0x4000, 0x7FF0, -0x8000, 0};
    for (const char* name :
         {"rifx-16", "rifx-24", "int-64", "int-12", "24-in-4", "ext-no-size", "id3-first"}) {
        SCOPED_TRACE(name);
        std::shared_ptr<TMediaFile> file;
        TOpenFailure failure;
        const auto decoder = OpenDecoder(
            Fixture(QStringLiteral("wavs-%1.wav").arg(QString::fromUtf8(name))), file, failure);
        ASSERT_NE(decoder, nullptr) << failure.Text.toStdString();
        ASSERT_EQ(decoder->LengthFrames(), 5);
        float got[8] = {};
        ASSERT_EQ(decoder->Read(got, 8), 5u);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(got[i], expected[i] / 32768.0f) << "sample " << i;
    }
}

// Play returns while the sound goes on; Length after Play is what it was before.
TEST(Player, PlayReturnsAtOnceAndPositionAdvances) {
    TMediaPlayer player;
    player.SetFileName(Fixture("tone-440.mp3"));
    player.Open();
    const int32_t length = player.Length();
    player.Play();
    EXPECT_EQ(player.Mode(), pmPlaying);
    EXPECT_LT(player.Position(), length);
    EXPECT_EQ(player.Length(), length);
    EXPECT_TRUE(WaitFor([&] { return player.Position() >= 300; }, 3s));
    EXPECT_LT(player.Position(), length);
}

// Pause on a stopped device does nothing; twice while playing pauses, then resumes.
TEST(Player, PauseToggles) {
    TMediaPlayer player;
    player.SetFileName(Fixture("tone-440.mp3"));
    player.Open();
    player.Pause();
    EXPECT_EQ(player.Mode(), pmStopped);
    EXPECT_EQ(player.Position(), 0);

    player.Play();
    ASSERT_TRUE(WaitFor([&] { return player.Position() >= 200; }, 3s));
    player.Pause();
    EXPECT_EQ(player.Mode(), pmPaused);
    const int32_t paused = player.Position();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(player.Position(), paused) << "the position stands still while paused";

    player.Pause();
    EXPECT_EQ(player.Mode(), pmPlaying);
    EXPECT_TRUE(WaitFor([&] { return player.Position() > paused + 100; }, 3s));
}

// Play while playing goes on without a jump; Play while paused continues from there.
TEST(Player, PlayWhilePlayingOrPausedContinues) {
    TMediaPlayer player;
    player.SetFileName(Fixture("tone-440.mp3"));
    player.Open();
    player.Play();
    ASSERT_TRUE(WaitFor([&] { return player.Position() >= 300; }, 3s));
    const int32_t before = player.Position();
    player.Play();
    EXPECT_GE(player.Position(), before);
    EXPECT_EQ(player.Mode(), pmPlaying);

    player.Pause();
    const int32_t paused = player.Position();
    player.Play();
    EXPECT_EQ(player.Mode(), pmPlaying);
    EXPECT_GE(player.Position(), paused);
}

// After a natural end the device stops and Position equals Length, again and again; Play then
// starts from the beginning.
TEST(Player, NaturalEndHoldsLengthAndPlayRewinds) {
    for (const char* name : {"track1.mp3", "vbr-noxing.mp3", "track4.wav", "track5.wma"}) {
        SCOPED_TRACE(name);
        TMediaPlayer player;
        player.SetFileName(Fixture(name));
        player.Open();
        const int32_t length = player.Length();
        player.Play();
        int32_t last = 0;
        bool monotonic = true;
        ASSERT_TRUE(WaitFor(
            [&] {
                const int32_t now = player.Position();
                monotonic = monotonic && now >= last && now <= length;
                last = now;
                return now == length;
            },
            std::chrono::milliseconds(length) + 3s));
        EXPECT_TRUE(monotonic) << "Position went back or beyond Length";
        EXPECT_EQ(player.Mode(), pmStopped);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(player.Position(), length);
            std::this_thread::sleep_for(30ms);
        }
        EXPECT_EQ(player.Length(), length);

        player.Play();
        EXPECT_EQ(player.Mode(), pmPlaying);
        EXPECT_LT(player.Position(), length / 2);
        EXPECT_TRUE(WaitFor([&] { return player.Position() > 100; }, 3s));
    }
}

// Seek keeps the mode and puts Position on the target at once; playing goes on from there to the
// exact end, paused stays there until resumed.
TEST(Player, SeekKeepsTheModeAndLandsOnTheTarget) {
    for (const char* name : {"tone.wav", "tone-440.mp3", "tone.wma"}) {
        SCOPED_TRACE(name);
        TMediaPlayer player;
        player.SetFileName(Fixture(name));
        player.Open();
        player.Seek(1234);
        EXPECT_EQ(player.Mode(), pmStopped);
        EXPECT_EQ(player.Position(), 1234);
        player.Seek(-50);
        EXPECT_EQ(player.Position(), 0);

        player.Play();
        ASSERT_TRUE(WaitFor([&] { return player.Position() >= 400; }, 3s));
        player.Seek(1500);
        EXPECT_EQ(player.Mode(), pmPlaying);
        EXPECT_EQ(player.Position(), 1500);
        EXPECT_TRUE(PlaysToEnd(player));

        player.Seek(300);
        player.Play();
        ASSERT_TRUE(WaitFor([&] { return player.Position() >= 400; }, 3s));
        player.Pause();
        player.Seek(800);
        EXPECT_EQ(player.Mode(), pmPaused);
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(player.Position(), 800);
        player.Pause();
        EXPECT_EQ(player.Mode(), pmPlaying);
        EXPECT_TRUE(WaitFor([&] { return player.Position() > 900; }, 3s));
    }
}

// A read that hangs (a network file system that stopped answering) holds a thread of its own
// only: the next track, the player's destruction and a Stop (which reopens the hung file, and
// gives up on it) all return.
TEST(Player, HungReadHoldsNoCommand) {
    QTemporaryDir dir;
    const QString hung = dir.filePath(QStringLiteral("hung.wav"));
    ASSERT_TRUE(QFile::copy(Fixture("tone.wav"), hung));
    // Shared with the hook, which threads that outlive this test may still call.
    struct TGate {
        std::mutex Lock;
        std::condition_variable Wake;
        bool Hang = false;
        int Waiting = 0;
    };
    const auto gate = std::make_shared<TGate>();
    TMediaFile::SetReadHook([gate](const std::string& path, size_t) {
        if (path.find("hung.wav") == std::string::npos)
            return;
        std::unique_lock lock(gate->Lock);
        ++gate->Waiting;
        gate->Wake.notify_all();
        gate->Wake.wait(lock, [&] { return !gate->Hang; });
        --gate->Waiting;
    });
    const auto hang = [&](bool on) {
        std::unique_lock lock(gate->Lock);
        gate->Hang = on;
        gate->Wake.notify_all();
        return !on || gate->Wake.wait_for(lock, 5s, [&] { return gate->Waiting > 0; });
    };
    {
        TMediaPlayer player;
        player.SetFileName(hung);
        player.Open();
        player.Play();
        ASSERT_TRUE(hang(true)) << "the decoder thread never read again";
        player.SetFileName(Fixture("track1.mp3"));
        player.Open(); // the next track
        player.Play();
        EXPECT_TRUE(PlaysToEnd(player));

        player.SetFileName(hung);
        try {
            player.Open(); // Stop, which reopens the hung file
            ADD_FAILURE() << "opened a file that does not answer";
        } catch (const EMCIDeviceError& e) {
            EXPECT_TRUE(e.Message().contains(QStringLiteral("does not answer"))) << e.what();
        }
        EXPECT_EQ(player.DeviceId(), 0);
    }
    hang(false);
    {
        TMediaPlayer player;
        player.SetFileName(hung);
        player.Open();
        player.Play();
        ASSERT_TRUE(hang(true));
    } // destroyed while its decoder thread hangs
    hang(false);
    TMediaFile::SetReadHook(nullptr);
}

// On a slow medium (every read here throttled to 0.5 MB/s) an Open waits for as long as the file
// is being read, with the caller's event loop running meanwhile; a header that states the frame
// count is trusted, so the common file is not read whole.
TEST(Player, SlowMediumOpensWithoutReadingTheWholeFile) {
    // shared with the hook, which a thread that outlives the test may still call
    const auto read = std::make_shared<std::atomic<int64_t>>(0);
    TMediaFile::SetReadHook([read](const std::string& path, size_t size) {
        if (path.find("long-") == std::string::npos)
            return;
        *read += static_cast<int64_t>(size);
        std::this_thread::sleep_for(std::chrono::microseconds(2 * size));
    });
    QTimer tick;
    int ticks = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(10);
    TMediaPlayer player;
    player.SetFileName(Fixture("long-noxing.mp3")); // no header: every frame is counted
    EXPECT_NO_THROW(player.Open());
    EXPECT_GT(*read, 1'900'000);
    EXPECT_GT(ticks, 100) << "the event loop stood still while the file was read";
    EXPECT_NEAR(player.Length(), 120000, 100);

    *read = 0;
    player.SetFileName(Fixture("long-xing.mp3"));
    player.Open();
    EXPECT_LT(*read, 200'000) << "read to measure a file whose header says its length";
    EXPECT_EQ(player.Length(), 120000);
    TMediaFile::SetReadHook(nullptr);
}

// Open while playing closes the old device; the new one stands stopped at 0.
TEST(Player, OpenWhilePlayingStopsTheOldDevice) {
    TMediaPlayer player;
    player.SetFileName(Fixture("tone-440.mp3"));
    player.Open();
    const uint16_t first = player.DeviceId();
    player.Play();
    ASSERT_TRUE(WaitFor([&] { return player.Position() >= 200; }, 3s));
    player.Open();
    EXPECT_NE(player.DeviceId(), first);
    EXPECT_EQ(MediaService::OpenDeviceCount(), 1u);
    EXPECT_EQ(player.Mode(), pmStopped);
    EXPECT_EQ(player.Position(), 0);
    int32_t volume = 0;
    EXPECT_EQ(MediaService::StatusVolume(first, volume), MediaService::mseInvalidDevice);
}

// A new FileName takes effect only at the next Open.
TEST(Player, SettingFileNameWhilePlayingChangesNothing) {
    TMediaPlayer player;
    player.SetFileName(Fixture("tone-440.mp3"));
    player.Open();
    player.Play();
    ASSERT_TRUE(WaitFor([&] { return player.Position() >= 200; }, 3s));
    player.SetFileName(Fixture("track1.mp3"));
    EXPECT_EQ(player.FileName(), Fixture("track1.mp3"));
    EXPECT_EQ(player.Length(), 2000);
    EXPECT_EQ(player.Mode(), pmPlaying);
    player.Open();
    EXPECT_EQ(player.Length(), 1000);
}

// A failed open raises with a text naming the file and the reason; afterwards Play, Pause and
// Length raise "No MCI device open" and Position raises nothing.
TEST(Player, FailedOpenLeavesNoDevice) {
    TMediaPlayer player;
    player.SetFileName(Fixture("tone-440.mp3"));
    player.Open();
    player.Play();
    player.SetFileName(Fixture("no-such-file.mp3"));
    try {
        player.Open();
        FAIL() << "opening a missing file did not raise";
    } catch (const EMCIDeviceError& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("no-such-file.mp3"))) << e.what();
        EXPECT_TRUE(e.Message().contains(QStringLiteral("not found"))) << e.what();
        EXPECT_EQ(e.Message(), player.ErrorText());
    }
    EXPECT_EQ(player.ErrorCode(), MediaService::mseFileNotFound);
    EXPECT_EQ(MediaService::OpenDeviceCount(), 0u);
    ExpectNoDevice(player);
    EXPECT_EQ(player.ErrorCode(), MediaService::mseInvalidDevice)
        << "Position on a closed player queries device 0, which fails";
}

// Damaged or unsuitable files raise a clear error at Open, or play what they hold and end.
TEST(Player, DamagedInputFailsClearlyOrPlaysToTheEnd) {
    struct TCase {
        const char* Name;
        const char* Reason; // expected in the error text; nullptr: must open and play to the end
    };
    const TCase cases[] = {
        {"empty.wav", "empty"},
        {"folder.mp3", "folder"},
        {"random.mp3", "not a supported audio file"},
        {"not-audio.wma", "not a supported audio file"},
        {"random.flac", "not a supported audio file"},
        {"random.ogg", "not a supported audio file"},
        {"random.opus", "not a supported audio file"},
        {"random.m4a", "not a supported audio file"},
        {"cut-tone-aac.m4a", "not a supported audio file"}, // its index was at the end
        {"cut-tone.flac", nullptr},
        {"cut-tone.ogg", nullptr},
        {"cut-tone.opus", nullptr},
        {"cut-faststart.m4a", nullptr}, // the index names more than the file holds
        {"bad-last-page.ogg", nullptr},
        {"truncated.mp3", nullptr},
        {"truncated.wav", nullptr},
        {"huge-header.wav", nullptr},
        {"Píseň – ünïcode ✓.mp3", nullptr},
    };
    for (const auto& c : cases) {
        const QString name = QString::fromUtf8(c.Name);
        SCOPED_TRACE(c.Name);
        TMediaPlayer player;
        player.SetFileName(Fixture(name));
        if (c.Reason != nullptr) {
            try {
                player.Open();
                ADD_FAILURE() << "opened";
            } catch (const EMCIDeviceError& e) {
                EXPECT_TRUE(e.Message().contains(name)) << e.what();
                EXPECT_TRUE(e.Message().contains(QString::fromUtf8(c.Reason))) << e.what();
            }
            ExpectNoDevice(player);
            continue;
        }
        ASSERT_NO_THROW(player.Open());
        EXPECT_GT(player.Length(), 0);
        player.Play();
        EXPECT_TRUE(PlaysToEnd(player));
    }
}

// The file is held open from Open on: deleting it before Play still plays it all.
TEST(Player, FileDeletedBetweenOpenAndPlay) {
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("gone.mp3"));
    ASSERT_TRUE(QFile::copy(Fixture("track1.mp3"), copy));
    TMediaPlayer player;
    player.SetFileName(copy);
    player.Open();
    ASSERT_TRUE(QFile::remove(copy));
    player.Play();
    EXPECT_TRUE(PlaysToEnd(player));
}

// Destroying a playing player closes its device without raising.
TEST(Player, DestructionWhilePlayingCloses) {
    {
        auto player = std::make_unique<TMediaPlayer>();
        player->SetFileName(Fixture("tone-440.mp3"));
        player->Open();
        player->Play();
        ASSERT_TRUE(WaitFor([&] { return player->Position() > 100; }, 3s));
        EXPECT_NO_THROW(player.reset());
    }
    EXPECT_EQ(MediaService::OpenDeviceCount(), 0u);
}

// Commands to device 0 or to an id that is not open fail and only record the code.
TEST(MediaService, UnknownDevicesRefuseCommands) {
    int32_t value = 0;
    for (uint16_t id : {uint16_t{0}, uint16_t{4242}}) {
        EXPECT_EQ(MediaService::PlayDevice(id), MediaService::mseInvalidDevice);
        EXPECT_EQ(MediaService::PauseDevice(id), MediaService::mseInvalidDevice);
        EXPECT_EQ(MediaService::StatusPosition(id, value), MediaService::mseInvalidDevice);
        EXPECT_EQ(MediaService::CloseDevice(id), MediaService::mseInvalidDevice);
    }
    TMediaPlayer player;
    EXPECT_EQ(player.Mode(), pmNotReady);
    EXPECT_EQ(player.ErrorCode(), MediaService::mseInvalidDevice);
    EXPECT_FALSE(player.ErrorText().isEmpty());
    EXPECT_NE(player.ErrorText(), QStringLiteral("Unknown error code"));
    QString text;
    EXPECT_FALSE(MediaService::ErrorString(12345, text));
    EXPECT_EQ(MediaService::ErrorText(12345), QStringLiteral("Unknown error code"));
}

// A closed id is not handed out again until the counter wraps; 0 never is.
TEST(MediaService, DeviceIdsAreNotReusedEarly) {
    TMediaPlayer player;
    player.SetFileName(Fixture("track1.mp3"));
    MediaService::SetNextDeviceId(1);
    player.Open();
    EXPECT_EQ(player.DeviceId(), 1);
    player.Open();
    EXPECT_EQ(player.DeviceId(), 2) << "the id just closed is not handed out again";
    MediaService::SetNextDeviceId(65535);
    player.Open();
    EXPECT_EQ(player.DeviceId(), 65535);
    player.Open();
    EXPECT_EQ(player.DeviceId(), 1) << "wraps past 0";
}

// Ids still open are skipped at the wrap (the test drivers allow one SDL device at a time, so
// the table is stood in for by a set).
TEST(MediaService, TakeDeviceIdSkipsOpenIds) {
    static std::set<uint16_t> open;
    open = {1, 2, 65535};
    const auto isOpen = [](uint16_t id) { return open.count(id) > 0; };
    uint16_t next = 65534;
    EXPECT_EQ(MediaService::TakeDeviceId(next, isOpen), 65534);
    EXPECT_EQ(MediaService::TakeDeviceId(next, isOpen), 3);
    EXPECT_EQ(next, 4);
    for (int id = 1; id <= 65535; ++id)
        open.insert(static_cast<uint16_t>(id));
    EXPECT_EQ(MediaService::TakeDeviceId(next, isOpen), 0) << "all taken";
}
