#pragma once

#include "playback/Decoder.h"
#include "playback/OutputStream.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>

// What a device shares with its decoder thread and the output stream. See PlaybackDevice.cpp
// for the threads.
class TDeviceCore final : public IFeedOwner, public std::enable_shared_from_this<TDeviceCore> {
public:
    TDeviceCore(uint16_t id, QString fileName, std::unique_ptr<IDecoder> decoder,
                std::shared_ptr<TMediaFile> file);

    int Rate() const { return mRate; }
    int64_t LengthFrames() const { return mLength; }

    std::shared_ptr<TFeed> NewFeed(const TOutputFormat& format) override;
    void OutputFailed(const QString& reason) override;

    // GUI thread. Where the device stands, in the file's frames; `ended` once its last frame
    // was heard.
    int64_t PositionFrames(bool& ended);
    // GUI thread. From `frame` on; the feed that played is dropped.
    void MoveTo(int64_t frame);
    // GUI thread. The decoder thread is told to end and the file to give up; neither is waited
    // for (a read hung on a network file system keeps its thread, not the GUI).
    void Stop();

private:
    void Run();
    void Push(TFeed& feed, const float* frames, size_t count, uint32_t& seen);
    bool Stopping();

    const uint16_t mId;
    const QString mFileName;
    const int mRate;
    const int64_t mLength;
    const std::shared_ptr<TMediaFile> mFile;
    const std::shared_ptr<TDoorbell> mDoorbell;
    std::unique_ptr<IDecoder> mDecoder; // the decoder thread's once it runs

    std::mutex mLock; // the fields below; never held while calling the output
    std::shared_ptr<TFeed> mFeed;
    int64_t mBase = 0; // the file's frame where mFeed starts
    bool mStop = false;
    bool mThreadStarted = false;
    std::shared_ptr<TFeed> mRequest; // a feed for the decoder thread to fill from mRequestAt
    int64_t mRequestAt = 0;
};

// One open file, addressed by the media service through its id. GUI thread only. A device is a
// decoder and a position: opening one never touches the output; Play hands it to the output
// stream, which the device that played before gives up.
class TPlaybackDevice {
public:
    enum class EState { Stopped, Playing, Paused };

    TPlaybackDevice(uint16_t id, QString fileName, std::unique_ptr<IDecoder> decoder,
                    std::shared_ptr<TMediaFile> file, int32_t volume);
    // Stops at once; the decoder thread ends by itself.
    ~TPlaybackDevice();
    TPlaybackDevice(const TPlaybackDevice&) = delete;
    TPlaybackDevice& operator=(const TPlaybackDevice&) = delete;

    // From the current position; returns at once. `notify` hears of a failure to play.
    void Play(QObject* notify);
    void Pause();
    void Resume();
    // To `ms` (clamped to 0..Length), keeping the mode.
    void Seek(int64_t ms);
    // Stops and moves to the start.
    void Rewind();
    // No output could play it: stopped where it was heard.
    void OutputFailed();

    int32_t LengthMs() const { return mLengthMs; }
    int32_t PositionMs();
    EState State();
    void SetVolume(int32_t volume);
    // The output's volume changed from outside: reported, not sent back.
    void FollowVolume(int32_t volume) { mVolume = volume; }
    int32_t Volume() const { return mVolume; }
    QObject* NotifyTarget() const { return mNotify.data(); }

private:
    void CheckEnded();

    std::shared_ptr<TDeviceCore> mCore;
    int32_t mLengthMs = 0;
    EState mState = EState::Stopped;
    int32_t mVolume = 1000;
    QPointer<QObject> mNotify;
};
