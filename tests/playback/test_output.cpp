// What reaches the output stream, sample for sample, through the file output.
#include "FileOutput.h"

#include "playback/ChannelLayout.h"
#include "playback/MPlayer.h"
#include "playback/ReplayGain.h"

#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

using namespace std::chrono_literals;

namespace {

struct TCase {
    const char* Name;
    int Rate;
    int Channels;
};

// A stereo 16-bit WAV of `frames` frames at a steady level.
void WriteWav(const QString& path, uint32_t rate, uint32_t frames, int16_t level) {
    QByteArray data;
    const auto le = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            data.append(static_cast<char>((v >> (8 * i)) & 0xff));
    };
    data.append("RIFF");
    le(36 + frames * 4, 4);
    data.append("WAVEfmt ");
    le(16, 4);
    le(1, 2); // PCM
    le(2, 2);
    le(rate, 4);
    le(rate * 4, 4);
    le(4, 2);
    le(16, 2);
    data.append("data");
    le(frames * 4, 4);
    for (uint32_t i = 0; i < frames * 2; ++i)
        le(static_cast<uint16_t>(level), 2);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

// `file` played to its end into the file output at `raw` (set up by UseFileOutput), with the
// entries beside it in the list; empty when it did not end.
std::vector<float> PlayedWhole(const QString& raw, const QString& file, const QString& before = {},
                               const QString& after = {}) {
    bool ended = false;
    {
        TMediaPlayer player;
        player.SetFileName(file);
        player.SetNeighbours(before, after);
        player.Open();
        player.Play();
        ended = WaitFor([&] { return player.Position() == player.Length(); }, 5s);
    }
    MediaService::ReleaseIdleOutput();
    return ended ? ReadSamples(raw) : std::vector<float>();
}

size_t FirstSound(const std::vector<float>& out) {
    size_t first = 0;
    while (first < out.size() && out[first] == 0.0f)
        ++first;
    return first;
}

} // namespace

// Each format plays exactly its decoded samples, in 32-bit float with every bit of a 24-bit or
// float file: no gap, no cut, no tail of silence before Position reaches Length; and a Play after
// the end plays the same samples again.
TEST(Output, PlaysTheDecodedSamplesExactlyTwice) {
    // The output opens in each file's own format, so nothing is resampled or mixed.
    const TCase cases[] = {{"tone.wav", 44100, 2},          {"tone-440.mp3", 44100, 2},
                           {"vbr-noxing.mp3", 44100, 2},    {"vbr-xing.mp3", 44100, 2},
                           {"tone.wma", 44100, 2},          {"tone-mono-22k.mp3", 22050, 1},
                           {"tone-mono-48k.wav", 48000, 1}, {"ape-id3v1.mp3", 44100, 2},
                           {"junk-before.mp3", 44100, 2},   {"tone.flac", 44100, 2},
                           {"tone-alac.m4a", 44100, 2},     {"quiet-24.wav", 44100, 2},
                           {"quiet-24.flac", 44100, 2},     {"quiet-float.wav", 44100, 2}};
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
        // the mpg123 command's float output of a mono file differs from the library's in the
        // last bit
        const float tolerance =
            QString::fromUtf8(c.Name).endsWith(QStringLiteral(".mp3")) ? 1e-6f : 0.0f;
        EXPECT_TRUE(NextIsExactly(output, at, expected, c.Channels, tolerance)) << "first play";
        EXPECT_TRUE(NextIsExactly(output, at, expected, c.Channels, tolerance)) << "second play";
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
    const std::vector<float> head(expected.begin(), expected.begin() + before);
    const std::vector<float> tail(expected.begin() + before, expected.end());
    size_t at = 0;
    EXPECT_TRUE(NextIsExactly(output, at, head, 2));
    EXPECT_TRUE(NextIsExactly(output, at, tail, 2));
    EXPECT_TRUE(RestIsSilent(output, at));
}

// A seek in a WAV file plays from exactly the frame of the millisecond asked for.
TEST(Output, SeekPlaysFromTheExactFrame) {
    QTemporaryDir dir;
    const QString raw = dir.filePath(QStringLiteral("seek.raw"));
    UseFileOutput(raw);
    const auto decoded = DecodeWithReference(Fixture("tone.wav"));
    {
        TMediaPlayer player;
        player.SetFileName(Fixture("tone.wav"));
        player.Open();
        player.Seek(1234);
        player.Play();
        ASSERT_TRUE(WaitFor([&] { return player.Position() == player.Length(); }, 5s));
    }
    const size_t from = 2 * ((1234 * 44100 + 999) / 1000); // the first frame at or after 1234 ms
    const std::vector<float> tail(decoded.begin() + static_cast<std::ptrdiff_t>(from),
                                    decoded.end());
    const auto output = ReadSamples(raw);
    size_t at = 0;
    EXPECT_TRUE(NextIsExactly(output, at, tail, 2));
    EXPECT_TRUE(RestIsSilent(output, at));
}

// Tracks of different rates and channel counts (44.1 kHz stereo, 22.05 kHz mono, 48 kHz mono)
// play one after another through the one stream, resampled and mixed to its format: each at its
// pitch and length, mono alike on both sides. The slowest command on the calling thread is
// recorded.
TEST(Output, FormatChangesBetweenTracks) {
    QTemporaryDir dir;
    const QString raw = dir.filePath(QStringLiteral("formats.raw"));
    UseFileOutput(raw, 44100, 2);
    struct TTrack {
        const char* Name;
        double Hz;
        bool Mono;
    };
    const TTrack tracks[] = {{"tone-440.mp3", 440, false},
                             {"tone-mono-22k.mp3", 660, true},
                             {"tone-440.mp3", 440, false},
                             {"tone-mono-48k.wav", 660, true}};
    std::vector<int32_t> lengths;
    double slowest = 0;
    const auto timed = [&](const std::function<void()>& command) {
        const auto start = std::chrono::steady_clock::now();
        command();
        slowest = std::max(slowest, std::chrono::duration<double, std::milli>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
    };
    {
        TMediaPlayer player;
        for (const TTrack& track : tracks) {
            player.SetFileName(Fixture(track.Name));
            timed([&] { player.Open(); });
            timed([&] { player.Play(); });
            lengths.push_back(player.Length());
            int32_t last = 0;
            bool monotonic = true;
            ASSERT_TRUE(WaitFor(
                [&] {
                    int32_t now = 0;
                    timed([&] { now = player.Position(); });
                    monotonic = monotonic && now >= last && now <= lengths.back();
                    last = now;
                    return now == lengths.back();
                },
                std::chrono::milliseconds(lengths.back()) + 3s));
            EXPECT_TRUE(monotonic) << track.Name;
        }
        timed([&] { player.Close(); });
    }
    RecordProperty("slowest_command_ms", std::to_string(slowest));
    std::printf("slowest command on the calling thread: %.2f ms\n", slowest);

    // The recording's left channel in 50 ms blocks, joined into runs of one pitch.
    const auto output = ReadSamples(raw);
    const size_t block = 2205;
    const auto runs = ToneRuns(output, block, 0.03f, 60);
    std::string found;
    for (const TToneRun& run : runs)
        found += std::to_string(run.Hz) + " Hz from " + std::to_string(run.First) + " to " +
                 std::to_string(run.Last) + "; ";
    ASSERT_EQ(runs.size(), std::size(tracks)) << found;
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(tracks[i].Name);
        const TToneRun run = runs[i];
        EXPECT_NEAR(static_cast<double>(run.Last - run.First) * 1000 / 44100, lengths[i], 110);
        // the pitch over the run's inside, away from the blocks shared with its neighbours
        size_t crossings = 0;
        for (size_t f = run.First + block + 1; f < run.Last - block; ++f)
            crossings += output[2 * (f - 1)] < 0 && output[2 * f] >= 0;
        const double hz = static_cast<double>(crossings) * 44100 /
                          static_cast<double>(run.Last - run.First - 2 * block);
        EXPECT_NEAR(hz, tracks[i].Hz, tracks[i].Hz * 0.01);
        for (size_t f = run.First + block; tracks[i].Mono && f < run.Last - block; f += 97)
            ASSERT_EQ(output[2 * f], output[2 * f + 1]) << "mono is on both sides alike";
    }
}

// Any rate from 1 Hz to 768 kHz plays to its end at a 48 kHz output, however many output frames
// one of its frames becomes; a rate above that is refused at Open with a text that says why.
TEST(Output, EveryRatePlaysToItsEnd) {
    QTemporaryDir dir;
    const QString raw = dir.filePath(QStringLiteral("rates.raw"));
    UseFileOutput(raw, 48000, 2);
    struct TRate {
        uint32_t Rate;
        uint32_t Frames;
    };
    for (const TRate& r : {TRate{1, 2}, TRate{2000, 600}, TRate{3000, 900}, TRate{11025, 3308},
                           TRate{768000, 230400}}) {
        SCOPED_TRACE(r.Rate);
        const QString wav = dir.filePath(QStringLiteral("rate-%1.wav").arg(r.Rate));
        WriteWav(wav, r.Rate, r.Frames, 8000);
        const auto before = ReadSamples(raw).size();
        TMediaPlayer player;
        player.SetFileName(wav);
        ASSERT_NO_THROW(player.Open());
        const int32_t length = player.Length();
        EXPECT_EQ(length, RoundedMs(r.Frames, static_cast<int>(r.Rate)));
        player.Play();
        ASSERT_TRUE(WaitFor([&] { return player.Position() == length; },
                            std::chrono::milliseconds(length) + 3s))
            << "stalled at " << player.Position() << " of " << length;
        player.Close();
        // the level came out for about as long as the file lasts; the resampler softens each
        // edge by about one of the file's frames
        const auto output = ReadSamples(raw);
        size_t loud = 0;
        for (size_t i = before; i + 1 < output.size(); i += 2)
            loud += output[i] > 4000.0f / 32768;
        EXPECT_NEAR(static_cast<double>(loud) / 48, length, length * 0.05 + 15 + 1000 / r.Rate);
    }
    const QString tooHigh = dir.filePath(QStringLiteral("rate-800000.wav"));
    WriteWav(tooHigh, 800000, 8000, 8000);
    TMediaPlayer player;
    player.SetFileName(tooHigh);
    try {
        player.Open();
        ADD_FAILURE() << "opened an 800 kHz file";
    } catch (const EMCIDeviceError& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("768 kHz"))) << e.what();
    }
}

// A tone on each channel of a 5.1, 7.1, 4.0 or 2.1 file lands where its speaker is, at the level
// the standard down-mix gives it, on a stereo and on a 5.1 output (WAVE's order: FL FR FC LFE BL
// BR); nothing lands anywhere else.
TEST(Output, EveryChannelLandsInItsPlace) {
    using S = ESpeaker;
    const std::map<std::string, std::vector<S>> layouts = {
        {"51", {S::FL, S::FR, S::FC, S::LFE, S::BL, S::BR}},
        {"71", {S::FL, S::FR, S::FC, S::LFE, S::BL, S::BR, S::SL, S::SR}},
        {"40", {S::FL, S::FR, S::FC, S::BC}},
        {"21", {S::FL, S::FR, S::LFE}}};
    // where a speaker is heard, in dB: on a stereo output (left, right), and on a 5.1 one
    struct TLands {
        S Speaker;
        std::vector<std::pair<int, double>> Stereo, Surround;
    };
    const double side = -3.0103; // √½
    const std::vector<TLands> lands = {
        {S::FL, {{0, 0}}, {{0, 0}}},
        {S::FR, {{1, 0}}, {{1, 0}}},
        {S::FC, {{0, side}, {1, side}}, {{2, 0}}},
        {S::LFE, {}, {{3, 0}}},
        {S::BL, {{0, side}}, {{4, 0}}},
        {S::BR, {{1, side}}, {{5, 0}}},
        {S::SL, {{0, side}}, {{4, 0}}},
        {S::SR, {{1, side}}, {{5, 0}}},
        {S::BC, {{0, -6.0206}, {1, -6.0206}}, {{4, side}, {5, side}}},
    };
    // the level of one frequency, by a Goertzel filter over `count` frames of one channel
    const auto levelOf = [](const std::vector<float>& out, size_t at, size_t count, int channels,
                            int channel, double hz) {
        const double k = 2 * std::cos(2 * M_PI * hz / 48000);
        double s1 = 0, s2 = 0;
        for (size_t f = 0; f < count; ++f) {
            const double s0 = out[(at + f) * channels + channel] + k * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double amplitude = 2 * std::sqrt(s1 * s1 + s2 * s2 - k * s1 * s2) / count;
        return 20 * std::log10(std::max(amplitude, 1e-12));
    };
    QTemporaryDir dir;
    for (const int outChannels : {2, 6}) {
        for (const char* format : {".flac", ".ogg", ".opus", ".m4a", ".wav"}) {
            for (const auto& [name, speakers] : layouts) {
                const QString file =
                    QStringLiteral("ch%1%2").arg(QString::fromStdString(name), format);
                if (name != "51" && name != "71" && std::string(format) != ".wav")
                    continue; // 4.0 and 2.1 only as WAV, for their channel masks
                SCOPED_TRACE(file.toStdString() + " on " + std::to_string(outChannels) + " ch");
                const QString raw = dir.filePath(file + QString::number(outChannels));
                UseFileOutput(raw, 48000, outChannels);
                const auto out = PlayedWhole(raw, Fixture(file.toUtf8().constData()));
                ASSERT_FALSE(out.empty());
                const size_t first = FirstSound(out);
                const size_t at = first / outChannels + 4800; // past the start's transient
                ASSERT_GT(out.size() / outChannels, at + 19200);
                // each channel's level as the file holds it (a lossy codec is off by a dB or
                // two), from FFmpeg's decode, whose order is the layout's
                const auto reference = DecodeWithReference(Fixture(file.toUtf8().constData()));
                const auto channels = static_cast<int>(speakers.size());
                for (size_t k = 0; k < speakers.size(); ++k) {
                    const double hz = speakers[k] == S::LFE ? 80 : 400 + 150 * static_cast<int>(k);
                    const double full =
                        levelOf(reference, 4800, 19200, channels, static_cast<int>(k), hz);
                    const auto& where = std::find_if(lands.begin(), lands.end(), [&](const TLands& l) {
                        return l.Speaker == speakers[k];
                    });
                    const auto& expected = outChannels == 2 ? where->Stereo : where->Surround;
                    for (int o = 0; o < outChannels; ++o) {
                        const double level = levelOf(out, at, 19200, outChannels, o, hz) - full;
                        const auto it = std::find_if(expected.begin(), expected.end(),
                                                     [&](const auto& e) { return e.first == o; });
                        if (it != expected.end())
                            EXPECT_NEAR(level, it->second, 1.0)
                                << "channel " << k << " (" << hz << " Hz) on output " << o;
                        else
                            EXPECT_LT(level, -30.0)
                                << "channel " << k << " (" << hz << " Hz) on output " << o;
                    }
                }
            }
        }
    }
}

namespace {

// Where `window` (left channel) best matches `output` (left channel of stereo frames), within
// `reach` frames of `around`, by normalised cross-correlation.
int64_t Locate(const std::vector<float>& output, const std::vector<float>& window, int64_t around,
               int64_t reach) {
    double energy = 0;
    for (float x : window)
        energy += static_cast<double>(x) * x;
    int64_t best = -1;
    double bestScore = -2;
    const auto frames = static_cast<int64_t>(output.size() / 2);
    for (int64_t at = std::max<int64_t>(0, around - reach);
         at <= around + reach && at + static_cast<int64_t>(window.size()) <= frames; ++at) {
        double dot = 0;
        double power = 0;
        for (size_t i = 0; i < window.size(); ++i) {
            const double y = output[2 * (static_cast<size_t>(at) + i)];
            dot += y * window[i];
            power += y * y;
        }
        const double score = power > 0 ? dot / std::sqrt(power * energy) : -1;
        if (score > bestScore) {
            bestScore = score;
            best = at;
        }
    }
    return best;
}

} // namespace

// Four tracks cut at odd sample positions from one signal, each encoded on its own, play as that
// signal when each next one is prepared while the one before plays, as the main window does:
// the 50 ms before and after every join lie in the output exactly where the signal has them,
// for every format and lists mixing them (48 kHz Opus tracks among 44.1 kHz ones, a stereo one
// before a mono one), and a lossless list arrives sample for sample.
TEST(Output, JoinsLoseAndAddNothing) {
    const int64_t cuts[] = {0, 30135, 63357, 88935, 114660};
    const auto source = DecodeWithReference(Fixture("join-source.wav"));
    ASSERT_EQ(source.size(), 2u * 114660);
    const std::vector<std::vector<const char*>> lists = {
        {"wav", "wav", "wav", "wav"},   {"flac", "flac", "flac", "flac"},
        {"mp3", "mp3", "mp3", "mp3"},   {"m4a", "m4a", "m4a", "m4a"},
        {"ogg", "ogg", "ogg", "ogg"},   {"opus", "opus", "opus", "opus"},
        {"wav", "mp3", "opus", "flac"}, {"wav", "opus", "mono.opus", "flac"}};
    QTemporaryDir dir;
    for (const auto& list : lists) {
        std::string name;
        for (const char* ext : list)
            name += std::string(ext) + " ";
        SCOPED_TRACE(name);
        const QString raw = dir.filePath(QString::fromStdString(name).simplified() + ".raw");
        UseFileOutput(raw, 44100, 2);
        const auto track = [&](size_t i) {
            return Fixture(QStringLiteral("join-%1.%2").arg(i + 1).arg(list[i]).toUtf8().constData());
        };
        {
            TMediaPlayer player;
            player.SetFileName(track(0));
            player.Open();
            player.Prepare(track(1));
            player.Play();
            for (size_t i = 1; i <= list.size(); ++i) {
                const int32_t length = player.Length();
                ASSERT_TRUE(WaitFor([&] { return player.Position() == length; }, 5s));
                if (i == list.size())
                    break;
                player.SetFileName(track(i));
                player.Open();
                player.Play();
                player.Prepare(i + 1 < list.size() ? track(i + 1) : QString());
                EXPECT_EQ(player.Length(), RoundedMs(cuts[i + 1] - cuts[i], 44100)) << i + 1;
                EXPECT_LT(player.Position(), player.Length() / 2) << "track " << i + 1;
            }
        }
        MediaService::ReleaseIdleOutput();
        const auto output = ReadSamples(raw);
        if (std::string(list[0]) == "wav" || std::string(list[0]) == "flac") {
            if (list[1] == list[0]) {
                size_t at = 0;
                EXPECT_TRUE(NextIsExactly(output, at, source, 2));
                EXPECT_TRUE(RestIsSilent(output, at));
            }
        }
        std::vector<float> left(source.size() / 2);
        for (size_t f = 0; f < left.size(); ++f)
            left[f] = source[2 * f];
        const auto piece = [&](int64_t from) {
            return std::vector<float>(left.begin() + from, left.begin() + from + 2205);
        };
        // where the signal starts in the output, from the middle of the first track (its first
        // milliseconds are an encoder's least faithful)
        size_t first = 0;
        while (first < output.size() && std::abs(output[first]) < 1e-4f)
            ++first;
        const int64_t anchor = cuts[1] / 2;
        const int64_t start =
            Locate(output, piece(anchor), static_cast<int64_t>(first / 2) + anchor, 3000) - anchor;
        for (int j = 1; j <= 3; ++j) {
            const int64_t after = cuts[j];
            EXPECT_EQ(Locate(output, piece(cuts[j] - 2205), start + cuts[j] - 2205, 2000),
                      start + cuts[j] - 2205)
                << "the 50 ms before join " << j;
            EXPECT_EQ(Locate(output, piece(after), start + after, 2000), start + after)
                << "the 50 ms after join " << j;
        }
    }
}

// A stream whose rate or layout changes part-way (440 Hz for 24576 frames, then 880 Hz for 29672:
// a FLAC stream from 44.1 to 48 kHz, and chained Ogg streams whose second link has another rate
// or channel count) plays each part at its own rate, the second right after the first: Length
// is the two parts' durations, the output holds as many frames as they last and each tone at
// its pitch, and a seek into the second part plays from that moment of it.
TEST(Output, RatePartsPlayEachAtItsRate) {
    struct TParts {
        const char* File;
        int FirstRate;
        int SecondRate;
    };
    const std::vector<TParts> files = {{"two-rates.flac", 44100, 48000},
                                       {"two-rates.ogg", 44100, 48000},
                                       {"two-layouts.opus", 48000, 48000}};
    QTemporaryDir dir;
    // the sound's frames in the output, from its first to its last sample that is not silence,
    // with nothing silent between them
    const auto sounding = [](const std::vector<float>& output, size_t& first) {
        first = FirstSound(output) / 2;
        size_t last = output.size() / 2;
        while (last > first && output[2 * last - 2] == 0.0f && output[2 * last - 1] == 0.0f)
            --last;
        size_t silent = 0;
        for (size_t f = first; f < last; ++f) {
            silent = output[2 * f] == 0.0f && output[2 * f + 1] == 0.0f ? silent + 1 : 0;
            EXPECT_LT(silent, 3u) << "a gap at frame " << f;
            if (silent >= 3)
                break;
        }
        return static_cast<double>(last - first);
    };
    // the pitch of the left channel over frames [from, to)
    const auto pitch = [](const std::vector<float>& output, size_t from, size_t to) {
        size_t crossings = 0;
        for (size_t f = from + 1; f < to; ++f)
            crossings += output[2 * (f - 1)] < 0 && output[2 * f] >= 0;
        return static_cast<double>(crossings) * 44100 / static_cast<double>(to - from);
    };
    const auto play = [&](const TParts& parts, const QString& raw, int32_t seekTo) {
        UseFileOutput(raw, 44100, 2);
        {
            TMediaPlayer player;
            player.SetFileName(Fixture(parts.File));
            EXPECT_NO_THROW(player.Open());
            const double seconds = 24576.0 / parts.FirstRate + 29672.0 / parts.SecondRate;
            EXPECT_EQ(player.Length(), std::lround(seconds * 1000));
            if (seekTo > 0) {
                player.Seek(seekTo);
                EXPECT_EQ(player.Position(), seekTo);
            }
            player.Play();
            EXPECT_TRUE(WaitFor([&] { return player.Position() == player.Length(); }, 5s))
                << "stalled at " << player.Position();
        }
        MediaService::ReleaseIdleOutput();
        return ReadSamples(raw);
    };

    for (const TParts& parts : files) {
        SCOPED_TRACE(parts.File);
        const double first = 24576.0 * 44100 / parts.FirstRate;
        const double second = 29672.0 * 44100 / parts.SecondRate;
        const QString name = QString::fromLatin1(parts.File);
        auto output = play(parts, dir.filePath(name + QStringLiteral(".raw")), 0);
        size_t at = 0;
        EXPECT_NEAR(sounding(output, at), first + second, 22);
        const size_t change = at + static_cast<size_t>(first);
        EXPECT_NEAR(pitch(output, at + 2205, change - 2205), 440, 4.4);
        EXPECT_NEAR(pitch(output, change + 2205, change + static_cast<size_t>(second) - 2205), 880,
                    8.8);

        output = play(parts, dir.filePath(name + QStringLiteral("-seek.raw")), 900);
        const double rest = sounding(output, at);
        EXPECT_NEAR(rest, first + second - 0.9 * 44100, 22);
        EXPECT_NEAR(pitch(output, at + 1000, at + static_cast<size_t>(rest) - 1000), 880, 8.8);
    }
}

// ReplayGain as the file's tags say it, before the volume: each kind of tag, album or track gain
// as the neighbours in the list decide, the peak's guard against clipping, and Opus's R128 gains
// on the same reference as everyone else's. The fixtures are one steady tone, each measured
// against its own file decoded by a reference decoder, which applies no gain (a lossy encoder
// changes the level by a little).
TEST(Output, ReplayGainLevelsEachTagKind) {
    struct TLevel {
        const char* File;
        const char* Before; // the list's entries beside it
        const char* After;
        double Db; // what it must sound like against the untagged tone
    };
    const std::vector<TLevel> levels = {
        {"rg-none.flac", "", "", 0},
        {"rg-track.flac", "", "", -6},
        {"rg-album.flac", "", "", -6},                           // alone: its track gain
        {"rg-album.flac", "rg-none.flac", "rg-trackonly.flac", -3}, // beside its album
        {"rg-album.flac", "rg-other.flac", "", -6},              // same name, other artist
        {"rg-trackonly.flac", "rg-album.flac", "", -6},          // no album gain of its own
        {"rg-peak.flac", "", "", 20 * std::log10(2.0)},          // +12 dB held to 1 / 0.5
        {"rg-zero.flac", "", "", -20 * std::log10(2.0)},         // 0 dB is a gain: its peak holds
        {"rg-peakonly.flac", "", "", 0},                         // a peak alone changes nothing
        {"rg-track.ogg", "", "", -6},
        {"rg-track.opus", "", "", -6},
        {"rg-album.opus", "rg-album.flac", "", -3},
        {"rg-track.mp3", "", "", -6},
        {"rg-ape.mp3", "", "", -6},
        {"rg-track.m4a", "", "", -6},
    };
    // the power of the middle half of interleaved stereo samples, in dB
    const auto powerDb = [](const std::vector<float>& samples, size_t from, size_t count) {
        double power = 0;
        for (size_t i = from; i < from + count; ++i)
            power += static_cast<double>(samples[i]) * samples[i];
        return 10 * std::log10(power / static_cast<double>(count));
    };
    QTemporaryDir dir;
    std::map<std::string, double> heard;
    for (const TLevel& level : levels) {
        const std::string name = std::string(level.File) + " beside " + level.Before + "," + level.After;
        SCOPED_TRACE(name);
        const QString raw = dir.filePath(QString::number(heard.size()) + QStringLiteral(".raw"));
        UseFileOutput(raw, 44100, 2);
        const auto fixture = [](const char* file) {
            return *file != 0 ? Fixture(QString::fromLatin1(file)) : QString();
        };
        const auto out =
            PlayedWhole(raw, fixture(level.File), fixture(level.Before), fixture(level.After));
        ASSERT_FALSE(out.empty());
        const size_t first = FirstSound(out);
        // the middle half second, past the codecs' first and last frames
        const size_t from = first + 2 * 11025;
        ASSERT_GT(out.size(), from + 2 * 22050);
        const auto reference = DecodeWithReference(fixture(level.File));
        ASSERT_GT(reference.size(), 4u);
        const size_t quarter = reference.size() / 4 & ~size_t{1};
        heard[name] = powerDb(out, from, 2 * 22050);
        EXPECT_NEAR(heard[name] - powerDb(reference, quarter, 2 * quarter), level.Db, 0.1);
    }
    // an Opus file and a FLAC file of one album play equally loud
    EXPECT_NEAR(heard["rg-album.opus beside rg-album.flac,"],
                heard["rg-album.flac beside rg-none.flac,rg-trackonly.flac"], 0.1);
}

// What taggers write, read as they mean it; anything else is no gain at all.
TEST(ReplayGain, ReadsTheTextsTaggersWrite) {
    const std::vector<std::pair<const char*, std::optional<double>>> gains = {
        {"-6.00 dB", -6.0}, {"+1.5 dB", 1.5}, {"-6.5", -6.5}, {" -3,25 dB ", -3.25},
        {"0.00 dB", 0.0},   {"-7.1 DB", -7.1}, {"", {}},       {"dB", {}},
        {"-6 dBFS", {}},    {"loud", {}},      {"-99 dB", {}}, {"1e3 dB", {}}};
    for (const auto& [text, value] : gains) {
        const auto parsed = ParseGain(text);
        EXPECT_EQ(parsed.has_value(), value.has_value()) << text;
        if (parsed && value) {
            EXPECT_NEAR(*parsed, *value, 1e-9) << text;
        }
    }
    EXPECT_EQ(ParsePeak("0.988"), 0.988);
    EXPECT_EQ(ParsePeak("0"), std::nullopt); // no guard from a peak of nothing
    EXPECT_EQ(ParsePeak("-1"), std::nullopt);
    EXPECT_EQ(ParseR128Gain("-2816"), -6.0); // -11 dB from -23 LUFS, 5 dB under ReplayGain's
    EXPECT_EQ(ParseR128Gain("0"), 5.0);
    EXPECT_EQ(ParseR128Gain("-6.5"), std::nullopt);
    EXPECT_EQ(ParseR128Gain("40000"), std::nullopt);
    TReplayGain tags;
    tags.TrackGain = -10;
    tags.AlbumGain = 3;
    tags.AlbumPeak = 1.2;
    EXPECT_FLOAT_EQ(GainFactor(tags, false), std::pow(10.0f, -0.5f));
    EXPECT_FLOAT_EQ(GainFactor(tags, true), 1 / 1.2f); // +3 dB would clip: the peak holds it
    EXPECT_FLOAT_EQ(GainFactor(TReplayGain{}, true), 1.0f);
}
