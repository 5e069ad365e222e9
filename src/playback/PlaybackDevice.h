#pragma once

#include "playback/Decoder.h"
#include "playback/OutputStream.h"
#include "playback/TimeLine.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>

class TFormatConverter;

// What a device shares with its decoder thread and the output stream. See PlaybackDevice.cpp
// for the threads.
class TDeviceCore final : public IFeedOwner, public std::enable_shared_from_this<TDeviceCore> {
public:
    TDeviceCore(uint16_t id, QString fileName, std::unique_ptr<IDecoder> decoder,
                std::shared_ptr<TMediaFile> file);
    ~TDeviceCore();

    // The file's frames in time: its rate parts (most files have one).
    const TTimeLine& TimeLine() const { return mTimeLine; }
    int64_t LengthFrames() const { return mTimeLine.Frames(); }

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

    // GUI thread. `next` follows this device in the stream: once this one's last frame is
    // decoded, `next`'s first is queued right behind it, in the same feed. `pending`: it is
    // still being opened, and this one's decoder thread waits at the end for the answer.
    // True when the next device set before is let go after this one's feed went on with it
    // (the feed must then start anew, without its frames).
    bool SetNext(std::shared_ptr<TDeviceCore> next, bool pending);
    // GUI thread. Whether this device's feed goes on with `next`, and this one has ended.
    bool EndedInto(const TDeviceCore* next);

private:
    void Run();
    bool Push(TFeed& feed, const float* frames, size_t count);
    // The converter takes the decoder's layout; what its resampler held, where it cannot go on
    // with that layout, is pushed first. False where the push was cut short (Push).
    bool FollowLayout(TFeed& feed, TFormatConverter& converter);
    void Wake(const TFeed* writing);
    bool Stopping();
    // The predecessor's decoder thread: this device's frames follow from `start` on in `feed`,
    // through `converter` where the predecessor's resampler goes on.
    void Continue(const std::shared_ptr<TFeed>& feed, int64_t start,
                  std::unique_ptr<TFormatConverter> converter);
    // The decoder thread, at the end of the file: hands the feed on, or ends it.
    bool Finish(TFeed& feed, std::unique_ptr<TFormatConverter>& converter);

    const uint16_t mId;
    const QString mFileName;
    const TTimeLine mTimeLine;
    const std::shared_ptr<TMediaFile> mFile;
    const std::shared_ptr<TDoorbell> mDoorbell;
    std::unique_ptr<IDecoder> mDecoder; // the decoder thread's once it runs

    std::mutex mLock; // the fields below; never held while calling the output
    std::shared_ptr<TFeed> mFeed;
    int64_t mBase = 0;      // the file's frame where this device's part of mFeed starts
    int64_t mFeedStart = 0; // the feed's frame where that part starts
    int64_t mFeedEnd = -1;  // and where it ends, once the next device took over
    bool mStop = false;
    bool mThreadStarted = false;
    std::shared_ptr<TFeed> mRequest; // a feed for the decoder thread to fill from mRequestAt
    int64_t mRequestAt = 0;
    std::unique_ptr<TFormatConverter> mHandedConverter; // with a request from the predecessor
    std::shared_ptr<TDeviceCore> mNext;
    bool mNextPending = false;
    bool mHandedOver = false;
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

    // `next` plays right after this one, in the same stream (nullptr: nothing does); `pending`
    // while `next` is still being opened. A next device dropped after its frames were queued is
    // never heard: this one goes on from a new feed where it is heard.
    void SetNext(TPlaybackDevice* next, bool pending);
    TPlaybackDevice* Next() const { return mNext; }
    // This device has ended and `next` is heard from the stream already: it takes the output
    // over as the one that plays, nothing dropped.
    bool HandOverTo(TPlaybackDevice& next);

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
    TPlaybackDevice* mNext = nullptr;
};
