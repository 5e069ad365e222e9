#pragma once

#include "playback/AudioBackend.h"
#include "playback/audio/AudioOutput.h"
#include "playback/audio/SampleRing.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

struct TAvFormatCloser {
    void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
struct TAvCodecFreer {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct TAvPacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct TAvFrameFreer {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct TSwrFreer {
    void operator()(SwrContext* p) const { swr_free(&p); }
};
using TAvFormatPtr = std::unique_ptr<AVFormatContext, TAvFormatCloser>;
using TAvCodecPtr = std::unique_ptr<AVCodecContext, TAvCodecFreer>;
using TAvPacketPtr = std::unique_ptr<AVPacket, TAvPacketFreer>;
using TAvFramePtr = std::unique_ptr<AVFrame, TAvFrameFreer>;
using TSwrPtr = std::unique_ptr<SwrContext, TSwrFreer>;

// FFmpeg's text for an error code.
QString AvErrorText(int err);

// One open file: decoder, ring buffer and SDL output. Owned and driven by the media service
// on the GUI thread; see AudioDevice.cpp for the threads inside.
class TAudioDevice final : public IAudioDevice {
public:
    static std::unique_ptr<TAudioDevice> Open(const QString& fileName, int32_t volume,
                                              TOpenFailure& failure);
    ~TAudioDevice() override;
    TAudioDevice(const TAudioDevice&) = delete;
    TAudioDevice& operator=(const TAudioDevice&) = delete;

    void Play() override;
    void Pause() override;
    void Resume() override;
    void SeekToStart() override;

    int32_t LengthMs() const override { return mLengthMs; }
    int64_t LengthSamples() const override { return mLengthSamples; }
    int32_t PositionMs() override;
    EState State() override;

    void SetVolume(int32_t volume) override;
    int32_t Volume() const override { return mVolume; }

private:
    TAudioDevice() = default;
    bool OpenDecoder(const QString& fileName, TOpenFailure& failure);
    bool MeasureLength(const QString& fileName, TOpenFailure& failure);
    bool OpenOutput(const QString& fileName, TOpenFailure& failure);
    bool ConfigureResampler(const AVFrame* frame);
    bool RewindDemuxer();
    void StartDecoder();
    void StopDecoder();
    void DecodeLoop();
    bool ReceiveFrames();
    bool Push(const int16_t* samples, size_t count);
    bool WaitOrStop(std::chrono::milliseconds time);
    void FinishIfDrained();
    static void Fill(void* source, int16_t* out, size_t wanted);

    // Decoder side: the GUI thread while the decoder thread is not running, else that thread.
    TAvFormatPtr mFormat;
    TAvCodecPtr mCodec;
    TAvPacketPtr mPacket;
    TAvFramePtr mFrame;
    TSwrPtr mResampler;
    int mStreamIndex = -1;
    int mSwrRate = 0;
    int mSwrFormat = -1;
    AVChannelLayout mSwrLayout{};
    std::vector<int16_t> mConverted;

    int64_t mLengthSamples = 0;
    int32_t mLengthMs = 0;
    int mOutRate = 0;
    int mOutChannels = 0;
    int32_t mVolume = 1000;
    EState mState = EState::Stopped;

    std::unique_ptr<TSampleRing> mRing;
    std::unique_ptr<TAudioOutput> mOutput;
    std::thread mDecoder;
    std::mutex mStopLock; // decoder thread and GUI thread only, never the callback
    std::condition_variable mStopWake;
    bool mStop = false;

    // Shared with the audio callback.
    std::atomic<int32_t> mGain{65536};
    std::atomic<int64_t> mFramesOut{0};
    std::atomic<bool> mDecodeDone{false};
    std::atomic<bool> mDrained{false};
};
