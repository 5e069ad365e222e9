#pragma once

#include "playback/FrameRing.h"
#include "playback/OutputSink.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

// Wakes a device's decoder thread: for more room in its ring, a seek, or the end.
class TDoorbell {
public:
    uint32_t Seen() const { return mRings.load(); }
    // Returns once rung after `seen` was read (at once if it was rung meanwhile).
    void Wait(uint32_t seen) const { mRings.wait(seen); }
    // Every thread waiting is woken: a device's own thread, and the next device's writing into
    // the feed it made, may both wait on it.
    void Ring() {
        mRings.fetch_add(1);
        mRings.notify_all();
    }

private:
    std::atomic<uint32_t> mRings{0};
};

// One stretch of one device's sound in the output's format, from a start position on: what its
// decoder thread has decoded and the sink has not yet taken. A seek, or an output opened anew,
// starts a new feed. Fields without a note are set once when it is made.
struct TFeed {
    TFeed(uint64_t id, TOutputFormat format, std::shared_ptr<TDoorbell> doorbell);

    const uint64_t Id;
    const TOutputFormat Format;
    TFrameRing Ring;
    const std::shared_ptr<TDoorbell> Doorbell;
    std::atomic<bool> DecodeDone{false}; // decoder thread: every frame is in the ring
    std::atomic<bool> WantsRoom{false};  // decoder thread: waits for the ring to empty
    std::atomic<bool> Hungry{false};     // sink thread: found the ring empty
    std::atomic<int64_t> Pulled{0};      // sink thread: frames taken from the ring
    std::atomic<bool> EndTaken{false};   // sink thread: the end was reported to the sink
    std::atomic<int64_t> Heard{0};       // frames heard, never going back
    std::atomic<bool> HeardEnd{false};   // at the end: at most a tick of sound left to hear
    // Under the output's lock: the sink it is bound to and where on that sink's time line
    // (frames pulled) its first frame lies.
    uint64_t Epoch = 0;
    int64_t Origin = 0;
};

// The device that plays, as the output sees it. Thread-safe.
class IFeedOwner {
public:
    // A new feed in `format`, from where the device has been heard up to now; its decoder
    // thread is told to fill it. Called under the output's lock.
    virtual std::shared_ptr<TFeed> NewFeed(const TOutputFormat& format) = 0;
    // No output could be opened: the device stops where it was heard, with this reason.
    virtual void OutputFailed(const QString& reason) = 0;

protected:
    ~IFeedOwner() = default;
};

// The program's one output stream (see OutputStream.cpp for the threads). The device that plays
// feeds it; it opens its sink at the first Play, keeps it across tracks, Pause and Stop, closes
// it after a few idle seconds so the sound server can suspend, and opens a new one when the
// server goes away or its default output changes.
class TOutputStream final : public IFrameSource {
public:
    static TOutputStream& Instance();

    // GUI thread. `owner` plays from now on; the one that played before is detached. Returns at
    // once; the sink opens on the output's own thread if needed.
    void Play(const std::shared_ptr<IFeedOwner>& owner, int32_t volume);
    // GUI thread. Pauses (true) or resumes (false) `owner` if it is the one that plays.
    void SetPaused(const IFeedOwner* owner, bool paused);
    // GUI thread. `owner` no longer plays; what of it is queued is dropped.
    void Detach(const IFeedOwner* owner);
    // GUI thread. `owner` goes on from a new feed (after a seek): the old one is dropped.
    void Replace(const IFeedOwner* owner);
    // GUI thread. `owner` has ended and `next`, whose frames follow its last in the same feed,
    // plays from now on: nothing is dropped. False when `owner` is not the one that plays.
    bool HandOver(const IFeedOwner* owner, const std::shared_ptr<IFeedOwner>& next);
    void SetVolume(const IFeedOwner* owner, int32_t volume);
    // GUI thread. The sink's volume was changed from outside: kept for the sinks opened later,
    // not sent back.
    void FollowVolume(int32_t volume);
    // Frames of `feed` heard so far.
    int64_t Heard(TFeed& feed);
    // Decoder threads: more of `feed` is decoded.
    void Wake(const TFeed& feed);

    // Closes the sink now when nothing plays, and waits (up to a few seconds) until it is
    // closed. For tests that switch outputs, and for a clean exit.
    void ReleaseIdle();

    // IFrameSource, the sink's thread
    size_t Pull(float* out, size_t frames) override;
    uint64_t EndToken() override;
    void Finished(uint64_t token) override;
    void SinkLost(bool serverGone) override;
    void VolumeChanged(int32_t volume) override;

private:
    TOutputStream();
    ~TOutputStream() = default;
    void Shutdown();
    void Run();
    void Notify();
    bool OpenSink(std::unique_lock<std::mutex>& lock, bool serverOnly, QString& reason);
    void CloseSink(std::unique_lock<std::mutex>& lock);
    void Bind(std::unique_lock<std::mutex>& lock);
    void RefreshHeard(TFeed& feed);
    void SetActive(std::shared_ptr<TFeed> feed);
    bool Playing() const;
    void DropActive();

    using TClock = std::chrono::steady_clock;

    // Taken by the GUI thread, the decoder threads and the manager thread; never by the sink's
    // thread, which may hold its own lock (the sound server's main loop) inside the source. Order:
    // mLock, then a sink's exclusion, then mEventLock.
    std::mutex mLock;
    std::shared_ptr<IOutputSink> mSink;
    bool mSinkOpen = false;
    TOutputFormat mFormat;
    uint64_t mEpoch = 0;
    std::shared_ptr<IFeedOwner> mOwner;
    std::shared_ptr<TFeed> mFeed;
    bool mPaused = false;
    int32_t mVolume = 1000;
    bool mWanted = false;         // the owner wants to be heard
    bool mWasPlaying = false;     // the manager's view, for the idle time
    bool mCloseRequested = false; // ReleaseIdle
    bool mLost = false;           // the sink went away while playing: a new one is sought
    bool mQuit = false;           // the program ends: close the sink and stop
    bool mStopped = false;
    TClock::time_point mIdleSince;
    TClock::time_point mLostSince;
    TClock::time_point mRetryAt;
    std::condition_variable mClosed; // with mLock

    // The manager thread sleeps on mWake; anyone may kick it, from any thread.
    std::mutex mEventLock;
    std::condition_variable mWake;
    bool mKick = false;
    std::atomic<bool> mSinkGone{false}; // set by the sink's thread, taken by the manager
    std::atomic<bool> mServerGone{false};

    // The sink's thread: the feed it pulls from and the frames pulled since the sink opened.
    std::atomic<TFeed*> mActive{nullptr};
    std::atomic<int64_t> mPulled{0};

    std::thread mManager;
};
