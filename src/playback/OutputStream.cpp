// Threads of the output stream:
// - GUI thread: Play, SetPaused, Detach, Replace, SetVolume, Heard, through the devices. It
//   never waits for the sound system: opening and closing sinks is the manager thread's work
//   (ReleaseIdle, for tests, and the exit wait for it, briefly).
// - Manager thread (Run): opens the sink when a device wants to be heard, binds the device's
//   feed to it, closes it after kIdleClose with nothing playing, and replaces a sink that was
//   lost. It is the only thread that calls IOutputSink::Open and Close.
// - The sink's thread (a sound server's main loop, SDL's audio thread, or TPacedSink's): Pull,
//   EndToken, Finished, SinkLost and VolumeChanged, inside the sink's exclusion and without
//   mLock. It reads the active feed's ring, which only the device's decoder thread writes; a
//   volume changed from outside goes to the GUI thread as a posted event (the media service's).
// - Decoder threads: Wake, when frames arrive for a sink that found the ring empty.
// mLock guards the state; the active feed pointer changes only under the sink's exclusion, so
// once Exclusive returns no pull uses the old feed any more. The output object is never
// destroyed; at exit its manager closes the sink and ends.
#include "playback/OutputStream.h"

#include "playback/MediaService.h"
#include "playback/ModuleLoader.h"
#include "playback/PacedSink.h"

#include <QStringList>
#include <cstdlib>
#include <pthread.h>

using namespace std::chrono_literals;

namespace {

// Nothing heard for this long (paused, stopped, closed, or after the end): the sink closes, so
// the sound server can suspend.
constexpr auto kIdleClose = 3s;
// A sound server that went away while a track played is looked for again this often, and for
// this long before the output gives up (its restart takes a second or so).
constexpr auto kRetryEvery = 250ms;
constexpr auto kRetryFor = 6s;
// A feed holds this much decoded sound ahead of the sink (rounded up to a power of two).
constexpr double kFeedSeconds = 1.0;
// A device's end is reported when no more than this is left to be heard, one period of the
// window's status tick: the next track then starts as its predecessor's last sound fades
// rather than a tick later. What is left always plays out; the next track queues behind it.
constexpr int kEndAheadPerSecond = 10; // 1/10 s

enum class EKind { Auto, Server, Sdl, Null, File };

struct TChoice {
    EKind Kind = EKind::Auto;
    QString File;
    TOutputFormat Format; // 0: the sink's choice
};

// ONDRIX_AUDIO_OUTPUT picks the output: unset or "auto" (the sound server, else SDL), "pulse",
// "sdl", "null", or "file:PATH"; ONDRIX_AUDIO_FORMAT ("RATE:CHANNELS") sets the format of the
// null and file outputs (default 44100:2) and of SDL's. Read at every open, so tests can switch
// between runs.
TChoice Choice() {
    TChoice choice;
    const QString output = qEnvironmentVariable("ONDRIX_AUDIO_OUTPUT");
    if (output == QLatin1String("pulse"))
        choice.Kind = EKind::Server;
    else if (output == QLatin1String("sdl"))
        choice.Kind = EKind::Sdl;
    else if (output == QLatin1String("null"))
        choice.Kind = EKind::Null;
    else if (output.startsWith(QLatin1String("file:"))) {
        choice.Kind = EKind::File;
        choice.File = output.mid(5);
    }
    const QStringList format = qEnvironmentVariable("ONDRIX_AUDIO_FORMAT").split(QLatin1Char(':'));
    if (format.size() == 2) {
        choice.Format.Rate = format[0].toInt();
        choice.Format.Channels = format[1].toInt();
        choice.Format.Layout = DefaultLayout(choice.Format.Channels);
    }
    return choice;
}

std::shared_ptr<IOutputSink> CreateModuleSink(const char* file, QString& reason) {
    auto* module = static_cast<IOutputModule*>(
        ModuleLoader::Load(file, kOutputModuleEntry, kOutputModuleVersion, reason));
    if (module == nullptr)
        return nullptr;
    return module->CreateSink();
}

} // namespace

TFeed::TFeed(uint64_t id, TOutputFormat format, std::shared_ptr<TDoorbell> doorbell)
    : Id(id), Format(format),
      Ring(static_cast<size_t>(kFeedSeconds * format.Rate), format.Channels),
      Doorbell(std::move(doorbell)) {}

TOutputStream& TOutputStream::Instance() {
    // Never destroyed, so no thread ever meets a dead object; at exit the sink is closed, so
    // the sound server sees the stream end rather than the connection drop.
    static auto* instance = new TOutputStream();
    static const struct TAtExit {
        ~TAtExit() { instance->Shutdown(); }
    } atExit;
    return *instance;
}

void TOutputStream::Shutdown() {
    std::unique_lock lock(mLock);
    mQuit = true;
    Notify();
    mClosed.wait_for(lock, 500ms, [this] { return mStopped; });
}

TOutputStream::TOutputStream() {
    mIdleSince = TClock::now();
    mManager = std::thread([this] { Run(); });
    mManager.detach();
}

void TOutputStream::Notify() {
    {
        std::lock_guard lock(mEventLock);
        mKick = true;
    }
    mWake.notify_one();
}

bool TOutputStream::Playing() const {
    return mOwner && mWanted && !mPaused && !(mFeed && mFeed->HeardEnd.load());
}

void TOutputStream::SetActive(std::shared_ptr<TFeed> feed) {
    TFeed* raw = feed.get();
    mFeed = std::move(feed);
    if (mSink && mSinkOpen)
        mSink->Exclusive([&] {
            if (raw != nullptr) {
                raw->Epoch = mEpoch;
                raw->Origin = mPulled.load();
            }
            mActive.store(raw);
        });
}

void TOutputStream::RefreshHeard(TFeed& feed) {
    if (!mSinkOpen || feed.Epoch != mEpoch || &feed != mFeed.get())
        return;
    // The end flag first: once it is seen, every frame has been pulled.
    const bool allPulled = feed.EndTaken.load();
    const int64_t pulled = feed.Pulled.load();
    const int64_t heard = std::clamp<int64_t>(mSink->PlayedFrames() - feed.Origin, 0, pulled);
    int64_t known = feed.Heard.load();
    while (heard > known && !feed.Heard.compare_exchange_weak(known, heard)) {
    }
    if (allPulled && heard >= pulled - feed.Format.Rate / kEndAheadPerSecond) {
        feed.Heard.store(pulled);
        feed.HeardEnd.store(true);
    }
}

void TOutputStream::DropActive() {
    // A device that has reached its end leaves what is left of it to play out; any other is cut
    // off at once (Stop, the next track, a seek).
    if (mFeed)
        RefreshHeard(*mFeed);
    const bool keepTail = mFeed && mFeed->HeardEnd.load();
    SetActive(nullptr);
    if (mSink && mSinkOpen && !keepTail) {
        mSink->Flush();
        mSink->SetCorked(true);
    }
}

// A feed for the owner on the open sink, unless it has one there already; then its volume and
// whether it plays.
void TOutputStream::Bind(std::unique_lock<std::mutex>&) {
    if (!mSinkOpen || !mOwner || !mWanted)
        return;
    if (!mFeed || mFeed->Epoch != mEpoch)
        SetActive(mOwner->NewFeed(mFormat));
    mSink->SetVolume(mVolume);
    mSink->SetCorked(mPaused);
}

void TOutputStream::Play(const std::shared_ptr<IFeedOwner>& owner, int32_t volume) {
    {
        std::unique_lock lock(mLock);
        if (mOwner && mOwner != owner) {
            DropActive();
            mOwner.reset();
        }
        mOwner = owner;
        mPaused = false;
        mWanted = true;
        mVolume = volume;
        mLost = false;
        Bind(lock);
    }
    Notify();
}

void TOutputStream::SetPaused(const IFeedOwner* owner, bool paused) {
    {
        std::unique_lock lock(mLock);
        if (mOwner.get() != owner)
            return;
        mPaused = paused;
        if (mSinkOpen) {
            if (paused && mFeed)
                RefreshHeard(*mFeed);
            mSink->SetCorked(paused);
        }
        if (!paused)
            Bind(lock);
    }
    Notify();
}

void TOutputStream::Detach(const IFeedOwner* owner) {
    {
        std::lock_guard lock(mLock);
        if (mOwner.get() != owner)
            return;
        DropActive();
        mOwner.reset();
        mWanted = false;
        mLost = false;
    }
    Notify();
}

void TOutputStream::Replace(const IFeedOwner* owner) {
    std::unique_lock lock(mLock);
    if (mOwner.get() != owner)
        return;
    DropActive();
    Bind(lock);
}

bool TOutputStream::HandOver(const IFeedOwner* owner, const std::shared_ptr<IFeedOwner>& next) {
    std::lock_guard lock(mLock);
    if (mOwner.get() != owner)
        return false;
    mOwner = next;
    return true;
}

void TOutputStream::SetVolume(const IFeedOwner* owner, int32_t volume) {
    std::lock_guard lock(mLock);
    if (mOwner.get() != owner)
        return;
    mVolume = volume;
    if (mSinkOpen)
        mSink->SetVolume(volume);
}

void TOutputStream::FollowVolume(int32_t volume) {
    std::lock_guard lock(mLock);
    mVolume = volume;
}

int64_t TOutputStream::Heard(TFeed& feed) {
    std::lock_guard lock(mLock);
    RefreshHeard(feed);
    return feed.Heard.load();
}

void TOutputStream::Wake(const TFeed& feed) {
    std::shared_ptr<IOutputSink> sink;
    {
        std::lock_guard lock(mLock);
        if (!mSinkOpen || mFeed.get() != &feed)
            return;
        sink = mSink;
    }
    sink->Wake();
}

void TOutputStream::ReleaseIdle() {
    std::unique_lock lock(mLock);
    if (Playing())
        return;
    mCloseRequested = true;
    Notify();
    mClosed.wait_for(lock, 5s, [this] { return !mSinkOpen; });
    mCloseRequested = false;
}

size_t TOutputStream::Pull(float* out, size_t frames) {
    TFeed* feed = mActive.load(std::memory_order_acquire);
    if (feed == nullptr)
        return 0;
    // The flag before the ring: if it was set, every frame is in the ring already.
    const bool done = feed->DecodeDone.load(std::memory_order_acquire);
    const size_t got = feed->Ring.Read(out, frames);
    feed->Pulled.fetch_add(static_cast<int64_t>(got));
    mPulled.fetch_add(static_cast<int64_t>(got));
    if (got < frames && !done)
        feed->Hungry.store(true);
    // The decoder sleeps until half the ring is free, so it wakes a few times a second.
    if (feed->WantsRoom.load() && feed->Ring.Free() >= feed->Ring.Capacity() / 2) {
        feed->WantsRoom.store(false);
        feed->Doorbell->Ring();
    }
    return got;
}

uint64_t TOutputStream::EndToken() {
    TFeed* feed = mActive.load(std::memory_order_acquire);
    if (feed == nullptr || !feed->DecodeDone.load(std::memory_order_acquire) ||
        feed->Ring.Available() != 0 || feed->EndTaken.exchange(true))
        return 0;
    return feed->Id;
}

void TOutputStream::Finished(uint64_t token) {
    TFeed* feed = mActive.load(std::memory_order_acquire);
    if (feed == nullptr || feed->Id != token)
        return;
    feed->Heard.store(feed->Pulled.load());
    feed->HeardEnd.store(true);
    Notify(); // the idle time starts
}

void TOutputStream::SinkLost(bool serverGone) {
    if (serverGone)
        mServerGone.store(true);
    mSinkGone.store(true);
    Notify();
}

void TOutputStream::VolumeChanged(int32_t volume) {
    MediaService::PostVolume(volume);
}

bool TOutputStream::OpenSink(std::unique_lock<std::mutex>& lock, bool serverOnly, QString& reason) {
    const TChoice choice = Choice();
    std::vector<EKind> kinds;
    if (choice.Kind == EKind::Auto) {
        kinds.push_back(EKind::Server);
        if (!serverOnly)
            kinds.push_back(EKind::Sdl);
    } else {
        kinds.push_back(choice.Kind);
    }
    mPulled.store(0);
    lock.unlock();
    std::shared_ptr<IOutputSink> sink;
    TOutputFormat format;
    QStringList reasons;
    for (EKind kind : kinds) {
        QString why;
        std::shared_ptr<IOutputSink> candidate;
        if (kind == EKind::Null || kind == EKind::File)
            candidate = std::make_shared<TPacedSink>(kind == EKind::File ? choice.File : QString());
        else
            candidate =
                CreateModuleSink(kind == EKind::Server ? kPulseModuleFile : kSdlModuleFile, why);
        format = choice.Format;
        if (candidate && candidate->Open(this, format, why)) {
            sink = std::move(candidate);
            break;
        }
        if (candidate)
            candidate->Close();
        reasons << why;
    }
    lock.lock();
    if (!sink) {
        reason = reasons.join(QStringLiteral("; "));
        return false;
    }
    mSink = std::move(sink);
    mSinkOpen = true;
    mFormat = format;
    ++mEpoch;
    Bind(lock);
    return true;
}

void TOutputStream::CloseSink(std::unique_lock<std::mutex>& lock) {
    if (!mSinkOpen)
        return;
    if (mFeed)
        RefreshHeard(*mFeed);
    std::shared_ptr<IOutputSink> sink = mSink;
    sink->Exclusive([&] { mActive.store(nullptr); });
    mSink.reset();
    mSinkOpen = false;
    lock.unlock();
    sink->Close();
    sink.reset();
    lock.lock();
    mClosed.notify_all();
}

void TOutputStream::Run() {
    pthread_setname_np(pthread_self(), "ondrix-output");
    std::unique_lock lock(mLock);
    for (;;) {
        if (mQuit) {
            CloseSink(lock);
            mStopped = true;
            mClosed.notify_all();
            return;
        }
        if (mSinkGone.exchange(false) && mSinkOpen) {
            const bool serverGone = mServerGone.exchange(false);
            const bool wasPlaying = Playing();
            CloseSink(lock);
            // A server that went away gets time to come back; a changed default output is
            // opened again at once.
            if (wasPlaying && serverGone && !mLost) {
                mLost = true;
                mLostSince = TClock::now();
            }
            mRetryAt = TClock::now();
        }
        const auto now = TClock::now();
        const bool playing = Playing();
        if (playing) {
            mWasPlaying = true;
        } else if (mWasPlaying) {
            mWasPlaying = false;
            mIdleSince = now;
        }
        if (playing && !mSinkOpen && now >= mRetryAt) {
            QString reason;
            const bool stillHoping = mLost && now - mLostSince < kRetryFor;
            if (!OpenSink(lock, stillHoping, reason)) {
                if (stillHoping) {
                    mRetryAt = TClock::now() + kRetryEvery;
                } else if (mOwner && mWanted) {
                    // Reported once: the device stops, and a later Play tries again.
                    mWanted = false;
                    mLost = false;
                    mOwner->OutputFailed(reason);
                }
            } else {
                mLost = false;
            }
            continue;
        }
        if (!playing && mSinkOpen && (mCloseRequested || now - mIdleSince >= kIdleClose)) {
            CloseSink(lock);
            continue;
        }
        if (mCloseRequested && !mSinkOpen)
            mClosed.notify_all();

        TClock::time_point deadline = TClock::time_point::max();
        if (!playing && mSinkOpen)
            deadline = mIdleSince + kIdleClose;
        else if (playing && !mSinkOpen)
            deadline = mRetryAt;
        lock.unlock();
        {
            std::unique_lock events(mEventLock);
            if (deadline == TClock::time_point::max())
                mWake.wait(events, [this] { return mKick; });
            else
                mWake.wait_until(events, deadline, [this] { return mKick; });
            mKick = false;
        }
        lock.lock();
    }
}
