// Open latency per format, the cost of Position, CPU per minute of playback next to the
// decode-only floor, how long each command holds the calling (GUI) thread, and an Open on a slow
// medium. Media:
// ONDRIX_BENCH_MEDIA (run.sh makes 5-minute files there).
#include "playback/MPlayer.h"
#include "playback/MediaFile.h"
#include "playback/MediaService.h"

#include <QCoreApplication>
#include <QTimer>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

QString Media(const char* name) {
    const char* dir = std::getenv("ONDRIX_BENCH_MEDIA");
    return QDir(QString::fromLocal8Bit(dir ? dir : "bench-media"))
        .filePath(QString::fromUtf8(name));
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// The value below which `share` of the values lie (nearest rank).
double Percentile(std::vector<double> values, double share) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(share * static_cast<double>(values.size()) + 0.999999);
    return values[std::min(values.size(), std::max<size_t>(rank, 1)) - 1];
}

// Milliseconds the command held the calling thread.
template <typename F> double TimedMs(F&& command) {
    const auto start = std::chrono::steady_clock::now();
    command();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

const char* const kFiles[] = {
    "cbr-5min.mp3", "vbr-noxing-5min.mp3", "vbr-xing-5min.mp3", "5min.wma",
    "5min.wav",     "5min.flac",           "5min.ogg",          "5min.opus",
    "5min-aac.m4a", "5min-alac.m4a"};
constexpr int kLastFile = static_cast<int>(std::size(kFiles)) - 1;

// Open as the stop button and the step to the next track use it: the player's device is closed
// and a new one opened, probed, measured and given its paused output.
void BM_Open(benchmark::State& state) {
    TMediaPlayer player;
    player.SetFileName(Media(kFiles[state.range(0)]));
    player.Open();
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        player.Open();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    state.SetLabel(kFiles[state.range(0)]);
    state.counters["median_ms"] = Median(times);
    state.counters["length_ms"] = player.Length();
}
BENCHMARK(BM_Open)->DenseRange(0, kLastFile)->Iterations(40)->Unit(benchmark::kMillisecond);

// The plain way to get a decoder: open the input, analyse the streams, open the first one's.
void OpenPlainly(const QByteArray& path, AVFormatContext*& format, AVCodecContext*& context) {
    avformat_open_input(&format, path.constData(), nullptr, nullptr);
    avformat_find_stream_info(format, nullptr);
    const AVCodec* codec = avcodec_find_decoder(format->streams[0]->codecpar->codec_id);
    context = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(context, format->streams[0]->codecpar);
    avcodec_open2(context, codec, nullptr);
}

// What a plain probe costs: open the input, analyse the streams, open the decoder.
void BM_ProbeWithStreamInfo(benchmark::State& state) {
    const QByteArray path = QFile::encodeName(Media(kFiles[state.range(0)]));
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        AVFormatContext* format = nullptr;
        AVCodecContext* context = nullptr;
        OpenPlainly(path, format, context);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        avcodec_free_context(&context);
        avformat_close_input(&format);
    }
    state.SetLabel(kFiles[state.range(0)]);
    state.counters["median_ms"] = Median(times);
}
BENCHMARK(BM_ProbeWithStreamInfo)
    ->DenseRange(0, kLastFile)
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);

// One Position call on a playing device, as the 100 ms status timer makes it.
void BM_Position(benchmark::State& state) {
    TMediaPlayer player;
    player.SetFileName(Media("cbr-5min.mp3"));
    player.Open();
    player.Play();
    int32_t position = 0;
    for (auto _ : state) {
        position = player.Position();
        benchmark::DoNotOptimize(position);
    }
}
BENCHMARK(BM_Position)->Unit(benchmark::kMicrosecond);

// CPU seconds of the whole process per minute of playback (decoder thread, SDL's audio thread,
// the callback), from real-time playback on the running audio driver.
void BM_PlaybackCpu(benchmark::State& state) {
    const auto seconds = std::chrono::seconds(state.range(0));
    for (auto _ : state) {
        TMediaPlayer player;
        player.SetFileName(Media(kFiles[state.range(1)]));
        player.Open();
        const double cpuBefore = CpuSeconds();
        const int32_t positionBefore = player.Position();
        player.Play();
        const auto end = std::chrono::steady_clock::now() + seconds;
        while (std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            benchmark::DoNotOptimize(player.Position()); // as the status timer does
        }
        const double minutes = (player.Position() - positionBefore) / 60000.0;
        state.counters["cpu_s_per_min"] = (CpuSeconds() - cpuBefore) / minutes;
        state.counters["played_s"] = minutes * 60;
    }
    state.SetLabel(kFiles[state.range(1)]);
}
BENCHMARK(BM_PlaybackCpu)
    ->Args({20, 0})
    ->Args({20, 1})
    ->Args({20, 5})
    ->Args({20, 6})
    ->Args({20, 7})
    ->Args({20, 8})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// The floor: decoding the whole file with libavcodec and nothing else, per minute of audio.
void BM_DecodeOnly(benchmark::State& state) {
    const QByteArray path = QFile::encodeName(Media(kFiles[state.range(0)]));
    for (auto _ : state) {
        const double cpuBefore = CpuSeconds();
        AVFormatContext* format = nullptr;
        AVCodecContext* context = nullptr;
        OpenPlainly(path, format, context);
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        int64_t samples = 0;
        while (av_read_frame(format, packet) >= 0) {
            avcodec_send_packet(context, packet);
            av_packet_unref(packet);
            while (avcodec_receive_frame(context, frame) >= 0) {
                samples += frame->nb_samples;
                av_frame_unref(frame);
            }
        }
        const double minutes = static_cast<double>(samples) / context->sample_rate / 60.0;
        state.counters["cpu_s_per_min"] = (CpuSeconds() - cpuBefore) / minutes;
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&context);
        avformat_close_input(&format);
    }
    state.SetLabel(kFiles[state.range(0)]);
}
BENCHMARK(BM_DecodeOnly)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

// Every command as the main window sends it, timed on the calling thread, the way a user meets
// them: open a 5-minute MP3 (with its exact-length scan), play, pause, resume, seek, stop (the
// stop button re-opens the file), tracks one after another whose rate and channel count differ
// (44.1 kHz stereo, 22.05 kHz mono, 48 kHz stereo, 8 kHz mono), Close, and the player's
// destruction at exit while a track plays. Reports the median, p99 and maximum per command.
void BM_CommandTimes(benchmark::State& state) {
    const char* const formats[] = {"cbr-5min.mp3", "mono-22k.mp3", "48k.wav", "mono-8k.wav"};
    std::map<std::string, std::vector<double>> times;
    const auto pause = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    for (auto _ : state) {
        for (int round = 0; round < 25; ++round) {
            auto player = std::make_unique<TMediaPlayer>();
            player->SetFileName(Media("vbr-noxing-5min.mp3"));
            times["Open (5 min VBR MP3, no header)"].push_back(TimedMs([&] { player->Open(); }));
            times["Play"].push_back(TimedMs([&] { player->Play(); }));
            pause(150);
            times["Pause"].push_back(TimedMs([&] { player->Pause(); }));
            pause(50);
            times["Pause (resume)"].push_back(TimedMs([&] { player->Pause(); }));
            pause(100);
            // a drag on the bar seeks up to ten times a second
            times["Seek (playing)"].push_back(
                TimedMs([&] { player->Seek(120000 + round * 1000); }));
            pause(100);
            times["Stop (re-Open)"].push_back(TimedMs([&] { player->Open(); }));
            for (const char* name : formats) {
                player->SetFileName(Media(name));
                times["next track: Open"].push_back(TimedMs([&] { player->Open(); }));
                times["next track: Play"].push_back(TimedMs([&] { player->Play(); }));
                pause(120);
            }
            times["Close"].push_back(TimedMs([&] { player->Close(); }));
            player->SetFileName(Media("cbr-5min.mp3"));
            player->Open();
            player->Play();
            pause(100);
            times["destruction while playing (exit)"].push_back(TimedMs([&] { player.reset(); }));
        }
    }
    for (const auto& [name, values] : times)
        std::printf("%-36s median %7.2f ms   p99 %7.2f ms   max %7.2f ms   (%zu)\n", name.c_str(),
                    Median(values), Percentile(values, 0.99),
                    *std::max_element(values.begin(), values.end()), values.size());
}
BENCHMARK(BM_CommandTimes)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// A 200 MB MP3 (83 minutes at 320 kb/s) on a slow medium: every read of the player's throttled
// to 5 MB/s, as a USB 2 stick or a NAS over Wi-Fi gives it. Open waits in the calling thread's
// event loop, as the main window's does: reports how long Open took, how much it read, and the
// longest the event loop went without running a 1 ms timer (the window's longest freeze). With
// its Info header the file is measured from the header; without, every frame is read.
void BM_SlowMediumOpen(benchmark::State& state) {
    const char* name = state.range(0) == 0 ? "200mb.mp3" : "200mb-noxing.mp3";
    int argc = 1;
    char arg0[] = "bench_playback";
    char* argv[] = {arg0, nullptr};
    QCoreApplication app(argc, argv);
    const auto read = std::make_shared<std::atomic<int64_t>>(0);
    TMediaFile::SetReadHook([read](const std::string&, size_t size) {
        *read += static_cast<int64_t>(size);
        std::this_thread::sleep_for(std::chrono::microseconds(size / 5));
    });
    for (auto _ : state) {
        *read = 0;
        QTimer tick;
        auto last = std::chrono::steady_clock::now();
        double longest = 0;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const auto now = std::chrono::steady_clock::now();
            longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
        });
        tick.start(1);
        TMediaPlayer player;
        player.SetFileName(Media(name));
        last = std::chrono::steady_clock::now();
        const double ms = TimedMs([&] { player.Open(); });
        state.counters["open_ms"] = ms;
        state.counters["read_MB"] = static_cast<double>(*read) / 1e6;
        state.counters["longest_stall_ms"] = longest;
        state.counters["length_ms"] = player.Length();
    }
    TMediaFile::SetReadHook(nullptr);
    state.SetLabel(name);
}
BENCHMARK(BM_SlowMediumOpen)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
