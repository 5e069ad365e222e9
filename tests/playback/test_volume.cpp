// SetVolume and GetVolume, checked on the exact output of the file output.
#include "FileOutput.h"

#include "app/Volume.h"
#include "playback/MediaService.h"
#include "playback/pulse/PulseVolume.h"

#include <QTemporaryDir>
#include <cmath>

using namespace std::chrono_literals;

namespace {

// The curve we promise: 0 is silence, 1..1000 spans 60 dB, 1000 is the decoded signal itself.
float Gain(int32_t volume) {
    if (volume <= 0)
        return 0;
    return static_cast<float>(std::pow(10.0, 3.0 * (volume - 1000) / 1000.0));
}

std::vector<float> Scaled(std::vector<float> samples, int32_t volume) {
    if (volume >= 1000)
        return samples;
    const float gain = Gain(volume);
    for (auto& s : samples)
        s *= gain;
    return samples;
}

std::vector<float> PlayToEnd(const QString& raw, int32_t volumeBeforeOpen,
                             int32_t volumeAfterOpen) {
    UseFileOutput(raw);
    {
        TMediaPlayer player;
        player.SetFileName(Fixture("tone.wav"));
        SetVolume(player, volumeBeforeOpen);
        player.Open();
        if (volumeAfterOpen >= 0)
            SetVolume(player, volumeAfterOpen);
        player.Play();
        const int32_t length = player.Length();
        EXPECT_TRUE(WaitFor([&] { return player.Position() == length; }, 5s));
    }
    return ReadSamples(raw);
}

} // namespace

// Without a device nothing happens: no exception, ErrorCode untouched.
TEST(Volume, WithoutDeviceNothingHappens) {
    TMediaPlayer player;
    player.Position(); // leaves ErrorCode at the code of a refused query
    const int32_t code = player.ErrorCode();
    EXPECT_NO_THROW(SetVolume(player, 300));
    EXPECT_NO_THROW(GetVolume(player));
    EXPECT_EQ(player.ErrorCode(), code);
    EXPECT_EQ(GetVolume(player), 300) << "with no device: the volume the next one will get";
}

// Volume reads back what was set, clamped to 0..1000, and never disturbs ErrorCode.
TEST(Volume, ReadsBackAndClamps) {
    QTemporaryDir dir;
    UseFileOutput(dir.filePath(QStringLiteral("readback.raw")));
    TMediaPlayer player;
    player.SetFileName(Fixture("tone.wav"));
    player.Open();
    const int32_t code = player.ErrorCode();
    for (int32_t v : {0, 1, 500, 999, 1000}) {
        SetVolume(player, v);
        EXPECT_EQ(GetVolume(player), v);
    }
    SetVolume(player, 5000);
    EXPECT_EQ(GetVolume(player), 1000);
    SetVolume(player, -3);
    EXPECT_EQ(GetVolume(player), 0);
    EXPECT_EQ(player.ErrorCode(), code);
}

// A new device starts at the volume last set in this run: muting survives the next track.
TEST(Volume, NewDeviceStartsAtTheLastVolumeSet) {
    QTemporaryDir dir;
    UseFileOutput(dir.filePath(QStringLiteral("carry.raw")));
    TMediaPlayer player;
    player.SetFileName(Fixture("tone.wav"));
    player.Open();
    SetVolume(player, 0);
    player.Open();
    EXPECT_EQ(GetVolume(player), 0);
    SetVolume(player, 640);
    player.SetFileName(Fixture("track1.mp3"));
    player.Open();
    EXPECT_EQ(GetVolume(player), 640);
    int32_t onDevice = -1;
    ASSERT_EQ(MediaService::StatusVolume(player.DeviceId(), onDevice), 0);
    EXPECT_EQ(onDevice, 640);
}

// Every volume the player sets reads back as itself from the sound server, whose volume is cubic
// (PulseAudio keeps it as an integer, PipeWire as a float of the gain); one set elsewhere reads
// as the nearest of ours, any sound at all as at least 1 and more than full as 1000.
TEST(Volume, ServerVolumeReadsBackAsSet) {
    for (int32_t v = 0; v <= 1000; ++v) {
        SCOPED_TRACE(v);
        const pa_volume_t onServer = PulseVolume(v);
        EXPECT_EQ(VolumeOfPulse(onServer), v);
        const auto kept = static_cast<float>(pa_sw_volume_to_linear(onServer));
        EXPECT_EQ(VolumeOfPulse(pa_sw_volume_from_linear(kept)), v);
    }
    EXPECT_EQ(VolumeOfPulse(PA_VOLUME_NORM / 2), 699); // -18 dB
    EXPECT_EQ(VolumeOfPulse(PA_VOLUME_NORM / 10), 1);  // -60 dB
    EXPECT_EQ(VolumeOfPulse(PA_VOLUME_NORM / 20), 1);
    EXPECT_EQ(VolumeOfPulse(1), 1);
    EXPECT_EQ(VolumeOfPulse(PA_VOLUME_NORM * 3 / 2), 1000);
    EXPECT_EQ(VolumeOfPulse(PA_VOLUME_MUTED), 0);
}

// 1000 plays the decoded samples unchanged; 500 scales every sample by the curve's gain; 0 is
// silence while Position still runs to Length.
TEST(Volume, ScalesTheOutputExactly) {
    QTemporaryDir dir;
    const auto decoded = DecodeWithReference(Fixture("tone.wav"));
    for (int32_t v : {1000, 500, 10}) {
        SCOPED_TRACE(v);
        const auto output = PlayToEnd(dir.filePath(QStringLiteral("v%1.raw").arg(v)), 1000, v);
        size_t at = 0;
        EXPECT_TRUE(NextIsExactly(output, at, Scaled(decoded, v), 2));
        EXPECT_TRUE(RestIsSilent(output, at));
    }
    const auto muted = PlayToEnd(dir.filePath(QStringLiteral("muted.raw")), 0, -1);
    EXPECT_GT(muted.size(), decoded.size());
    EXPECT_TRUE(RestIsSilent(muted, 0));
}
