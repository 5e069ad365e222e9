#pragma once

#include "playback/OutputSink.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// Our own outputs for tests and machines without sound: a thread takes the playing device's
// frames in real time, as a sound card would, and writes them, with the volume applied and
// silence wherever nothing plays (corked, idle, or the decoder behind), to a raw file of 32-bit floats
// in the format asked for; without a file they are discarded. What is written counts as heard.
class TPacedSink final : public IOutputSink {
public:
    // An empty file name: the null output.
    explicit TPacedSink(QString fileName);
    ~TPacedSink() override;

    bool Open(IFrameSource* source, TOutputFormat& format, QString& reason) override;
    void Close() override;
    void Exclusive(const std::function<void()>& fn) override;
    void SetCorked(bool corked) override { mCorked.store(corked); }
    void Flush() override {}
    void SetVolume(int32_t volume) override { mVolume.store(volume); }
    int64_t PlayedFrames() override { return mPlayed.load(); }
    void Wake() override {}

private:
    void Run();

    QString mFileName;
    int mFd = -1;
    TOutputFormat mFormat;
    IFrameSource* mSource = nullptr;
    std::mutex mPullLock; // held by the thread around each pull
    std::atomic<bool> mCorked{true};
    std::atomic<int32_t> mVolume{1000};
    std::atomic<int64_t> mPlayed{0};
    std::mutex mStopLock;
    std::condition_variable mStopWake;
    bool mStop = false;
    std::thread mThread;
};
