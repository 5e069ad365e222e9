// Threads of one device:
// - GUI thread: TPlaybackDevice, through the media service. It owns the device's state (stopped,
//   playing, paused) and never waits for the decoder thread or the output.
// - Decoder thread (TDeviceCore::Run): started with the first feed. It owns the decoder from
//   then on: seeks where a new feed starts, reads, converts to the output's format and writes
//   into the feed's ring; it sleeps on the doorbell while the ring is full or nothing is asked.
//   Where the file's rate changes part-way it flushes the resampler into the ring and goes on
//   with one for the new rate.
//   At the end of the file it hands the feed to the next device, if one is set, by a request to
//   that device's own decoder thread (Continue), with its resampler when the next file has the
//   same rate, so the next file's frames follow its last ones in the same ring and nothing is
//   lost or added at the join. Close only tells it to stop: it holds its own reference to the
//   core, so it cleans up after itself whenever its current read returns, even one hung on a
//   network file system.
// - The output stream calls NewFeed (GUI or manager thread, under the output's lock) and
//   OutputFailed (manager thread).
// TDeviceCore::mLock guards the feed, its start position, the requests and the next device; it
// is never held while calling into the output stream, which may call NewFeed under its own lock,
// nor into another device.
#include "playback/PlaybackDevice.h"

#include "playback/FormatConverter.h"
#include "playback/MediaService.h"

#include <algorithm>
#include <chrono>
#include <pthread.h>
#include <thread>
#include <vector>

namespace {

// Frames decoded at a time.
constexpr size_t kChunk = 4096;
// How long the end of a file waits for the next one being opened.
constexpr auto kWaitForNext = std::chrono::seconds(5);

std::atomic<uint64_t> gNextFeedId{1};

} // namespace

TDeviceCore::TDeviceCore(uint16_t id, QString fileName, std::unique_ptr<IDecoder> decoder,
                         std::shared_ptr<TMediaFile> file)
    : mId(id), mFileName(std::move(fileName)),
      mTimeLine(decoder->RateParts(), decoder->LengthFrames()), mFile(std::move(file)),
      mDoorbell(std::make_shared<TDoorbell>()), mDecoder(std::move(decoder)) {}

TDeviceCore::~TDeviceCore() = default;

std::shared_ptr<TFeed> TDeviceCore::NewFeed(const TOutputFormat& format) {
    auto feed = std::make_shared<TFeed>(gNextFeedId.fetch_add(1), format, mDoorbell);
    bool start = false;
    std::shared_ptr<TFeed> old;
    {
        std::lock_guard lock(mLock);
        old = mFeed;
        // Go on from what has been heard: what the old feed still held is decoded again.
        if (mFeed) {
            const int64_t heard = mFeed->Heard.load();
            const bool ended = mFeedEnd >= 0 ? heard >= mFeedEnd : mFeed->HeardEnd.load();
            mBase = ended ? mTimeLine.Frames()
                          : mTimeLine.Advance(mBase, heard - mFeedStart, mFeed->Format.Rate);
        }
        mFeed = feed;
        mFeedStart = 0;
        mFeedEnd = -1;
        mHandedOver = false;
        mRequest = feed;
        mRequestAt = mBase;
        mHandedConverter.reset();
        start = !mThreadStarted;
        mThreadStarted = true;
    }
    if (start)
        std::thread([self = shared_from_this()] { self->Run(); }).detach();
    Wake(old.get());
    return feed;
}

// The decoder thread sleeps on its own doorbell for requests and on the doorbell of the feed it
// writes for room (the output rings that one, and a feed made by the device before is its):
// both are rung.
void TDeviceCore::Wake(const TFeed* writing) {
    mDoorbell->Ring();
    if (writing != nullptr && writing->Doorbell != mDoorbell)
        writing->Doorbell->Ring();
}

void TDeviceCore::Continue(const std::shared_ptr<TFeed>& feed, int64_t start,
                           std::unique_ptr<TFormatConverter> converter) {
    bool startThread = false;
    std::shared_ptr<TFeed> old;
    {
        std::lock_guard lock(mLock);
        if (mStop)
            return;
        old = mFeed;
        mFeed = feed;
        mBase = 0;
        mFeedStart = start;
        mFeedEnd = -1;
        mHandedOver = false;
        mRequest = feed;
        mRequestAt = 0;
        mHandedConverter = std::move(converter);
        startThread = !mThreadStarted;
        mThreadStarted = true;
    }
    if (startThread)
        std::thread([self = shared_from_this()] { self->Run(); }).detach();
    Wake(old.get());
}

void TDeviceCore::OutputFailed(const QString& reason) {
    MediaService::PostFailure(mId, MediaService::mseNoOutput,
                              QStringLiteral("No audio output is available to play %1: %2.")
                                  .arg(QuotedFileName(mFileName), reason));
}

int64_t TDeviceCore::PositionFrames(bool& ended) {
    std::shared_ptr<TFeed> feed;
    int64_t base = 0;
    int64_t start = 0;
    int64_t end = -1;
    {
        std::lock_guard lock(mLock);
        feed = mFeed;
        base = mBase;
        start = mFeedStart;
        end = mFeedEnd;
    }
    ended = false;
    if (!feed)
        return base;
    const int64_t heard = TOutputStream::Instance().Heard(*feed);
    // Followed by the next device in the same feed: ended once its last frame was heard.
    if (end >= 0 && heard >= end) {
        ended = true;
        return mTimeLine.Frames();
    }
    ended = end < 0 && feed->HeardEnd.load();
    return mTimeLine.Advance(base, heard - start, feed->Format.Rate);
}

void TDeviceCore::MoveTo(int64_t frame) {
    std::lock_guard lock(mLock);
    mBase = std::clamp<int64_t>(frame, 0, mTimeLine.Frames());
    mFeed.reset();
    mFeedStart = 0;
    mFeedEnd = -1;
    mHandedOver = false;
}

void TDeviceCore::Stop() {
    std::shared_ptr<TFeed> writing;
    {
        std::lock_guard lock(mLock);
        mStop = true;
        mRequest.reset();
        mNext.reset();
        mNextPending = false;
        writing = mFeed;
    }
    mFile->Abandon();
    Wake(writing.get());
}

bool TDeviceCore::SetNext(std::shared_ptr<TDeviceCore> next, bool pending) {
    std::lock_guard lock(mLock);
    // the device this one's feed went on with is let go
    const bool dropped = mHandedOver && mNext && mNext != next;
    mNext = std::move(next);
    mNextPending = pending && !mNext;
    if (dropped)
        mHandedOver = false;
    return dropped;
}

bool TDeviceCore::EndedInto(const TDeviceCore* next) {
    {
        std::lock_guard lock(mLock);
        if (!mHandedOver || mNext.get() != next)
            return false;
    }
    bool ended = false;
    PositionFrames(ended);
    return ended;
}

bool TDeviceCore::Stopping() {
    std::lock_guard lock(mLock);
    return mStop;
}

// Writes all of `frames` into the feed, waiting for room; false when it gave up because the
// device stops or was asked for another feed.
bool TDeviceCore::Push(TFeed& feed, const float* frames, size_t count) {
    const auto channels = static_cast<size_t>(feed.Format.Channels);
    while (count > 0) {
        const size_t written = feed.Ring.Write(frames, count);
        frames += written * channels;
        count -= written;
        if (written > 0 && feed.Hungry.exchange(false))
            TOutputStream::Instance().Wake(feed);
        if (count == 0)
            return true;
        const uint32_t seen = feed.Doorbell->Seen();
        feed.WantsRoom.store(true);
        if (feed.Ring.Free() == 0)
            feed.Doorbell->Wait(seen);
        std::lock_guard lock(mLock);
        if (mStop || mRequest)
            return false;
    }
    return true;
}

// The file's last frame is decoded. With a next device (or one being opened, which is waited
// for) the feed goes on with it: with the resampler as it stands where the next file has the
// same rate, so the join is as if the two were one file, else after flushing it. Without one
// the feed ends here.
bool TDeviceCore::FollowLayout(TFeed& feed, TFormatConverter& converter) {
    size_t tail = 0;
    const float* last = converter.FlushBefore(mDecoder->Layout(), tail);
    if (tail > 0 && !Push(feed, last, tail))
        return false;
    converter.SetInLayout(mDecoder->Layout());
    return true;
}

bool TDeviceCore::Finish(TFeed& feed, std::unique_ptr<TFormatConverter>& converter) {
    const auto waitingSince = std::chrono::steady_clock::now();
    for (;;) {
        std::shared_ptr<TDeviceCore> next;
        bool pending = false;
        {
            std::lock_guard lock(mLock);
            if (mStop || mRequest)
                return false;
            next = mNext;
            pending = !next && mNextPending;
        }
        if (pending) {
            // The next device is still being opened: the answer comes within an open's own
            // bound, else the stream ends here (and the next track starts anew).
            if (std::chrono::steady_clock::now() - waitingSince > kWaitForNext)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        if (!next)
            break;
        const bool sameRate = next->mTimeLine.RateAt(0) == converter->InRate();
        if (!sameRate) {
            size_t flushed = 0;
            const float* out = converter->Convert(nullptr, 0, flushed);
            if (!Push(feed, out, flushed))
                return false;
        }
        const int64_t start = static_cast<int64_t>(feed.Ring.Written()) +
                              (sameRate ? converter->Delay() : 0);
        std::shared_ptr<TFeed> shared;
        {
            std::lock_guard lock(mLock);
            if (mStop || mRequest)
                return false;
            if (mNext != next)
                continue; // dropped or replaced meanwhile: decide again
            mFeedEnd = start;
            mHandedOver = true;
            shared = mFeed;
        }
        if (shared.get() != &feed)
            return false;
        next->Continue(shared, start, sameRate ? std::move(converter) : nullptr);
        return true;
    }
    // The end of the stream: the resampler's last frames, then nothing more.
    size_t flushed = 0;
    const float* out = converter->Convert(nullptr, 0, flushed);
    if (!Push(feed, out, flushed))
        return false;
    feed.DecodeDone.store(true, std::memory_order_release);
    TOutputStream::Instance().Wake(feed);
    return true;
}

void TDeviceCore::Run() {
    pthread_setname_np(pthread_self(), "ondrix-decode"); // told apart from the GUI thread in top
    std::vector<float> buffer(kChunk * static_cast<size_t>(mDecoder->MaxChannels()));
    std::shared_ptr<TFeed> feed;
    std::unique_ptr<TFormatConverter> converter;
    bool finished = false; // this device has nothing more for `feed`
    for (;;) {
        uint32_t seen = mDoorbell->Seen();
        std::shared_ptr<TFeed> request;
        std::unique_ptr<TFormatConverter> handed;
        int64_t at = 0;
        {
            std::lock_guard lock(mLock);
            if (mStop)
                return;
            request = std::move(mRequest);
            handed = std::move(mHandedConverter);
            at = mRequestAt;
        }
        if (request) {
            feed = std::move(request);
            finished = false;
            // The previous device's resampler goes on with this file's frames, as one stream.
            const int rate = mTimeLine.RateAt(at);
            if (handed && handed->InRate() == rate) {
                converter = std::move(handed);
                // the last track's last frames first, where the resampler is made anew for this one
                if (!FollowLayout(*feed, *converter))
                    continue;
            } else {
                converter = std::make_unique<TFormatConverter>(
                    rate, mDecoder->Layout(), feed->Format.Rate, feed->Format.Layout);
            }
            if (!mDecoder->Seek(at) || !converter->Valid()) {
                Finish(*feed, converter); // nothing of it can be played
                finished = true;
            }
            continue;
        }
        if (!feed || finished) {
            mDoorbell->Wait(seen);
            continue;
        }
        // What one read becomes must fit in half the ring, since the output rings the doorbell
        // once half is free: a file of a low rate is read a few frames at a time (at 1 Hz one
        // frame is a second of output).
        const auto outRate = static_cast<size_t>(feed->Format.Rate);
        const auto inRate = static_cast<size_t>(converter->InRate());
        const size_t half = feed->Ring.Capacity() / 2;
        const size_t chunk = std::clamp<size_t>(half * inRate / outRate, 1, kChunk);
        // Room for it and what the resampler may add, so a read is seldom held back.
        const size_t room = std::min(half, chunk * outRate / inRate + 1024);
        if (feed->Ring.Free() < room) {
            const uint32_t roomSeen = feed->Doorbell->Seen();
            feed->WantsRoom.store(true);
            if (feed->Ring.Free() < room)
                feed->Doorbell->Wait(roomSeen);
            continue;
        }
        const size_t got = mDecoder->Read(buffer.data(), chunk);
        if (Stopping())
            return;
        if (got == 0) {
            // The end, or a rest that cannot be read: what was decoded plays, then the next
            // device or the end of the stream.
            Finish(*feed, converter);
            finished = true;
            continue;
        }
        if (mDecoder->Rate() != converter->InRate()) {
            // The file's rate changes here: what the resampler holds of the part before goes
            // out first, then the new part is its input, in the same feed.
            size_t flushed = 0;
            const float* tail = converter->Convert(nullptr, 0, flushed);
            if (!Push(*feed, tail, flushed))
                continue;
            converter->SetInRate(mDecoder->Rate());
            if (!converter->Valid()) {
                Finish(*feed, converter); // the rest cannot be played
                finished = true;
                continue;
            }
        }
        if (mDecoder->Layout() != converter->InLayout() && !FollowLayout(*feed, *converter))
            continue;
        size_t converted = 0;
        const float* out = converter->Convert(buffer.data(), got, converted);
        Push(*feed, out, converted);
    }
}

TPlaybackDevice::TPlaybackDevice(uint16_t id, QString fileName, std::unique_ptr<IDecoder> decoder,
                                 std::shared_ptr<TMediaFile> file, int32_t volume)
    : mVolume(std::clamp(volume, 0, 1000)) {
    mCore =
        std::make_shared<TDeviceCore>(id, std::move(fileName), std::move(decoder), std::move(file));
    mLengthMs = static_cast<int32_t>(std::min<int64_t>(mCore->TimeLine().LengthMs(), INT32_MAX));
}

TPlaybackDevice::~TPlaybackDevice() {
    TOutputStream::Instance().Detach(mCore.get());
    mCore->Stop();
}

void TPlaybackDevice::SetNext(TPlaybackDevice* next, bool pending) {
    mNext = next;
    // Where the frames of the device let go are queued behind this one's already, they must not
    // be heard: this one goes on from a new feed.
    if (mCore->SetNext(next != nullptr ? next->mCore : nullptr, pending) &&
        mState != EState::Stopped)
        TOutputStream::Instance().Replace(mCore.get());
}

bool TPlaybackDevice::HandOverTo(TPlaybackDevice& next) {
    if (mNext != &next || !mCore->EndedInto(next.mCore.get()))
        return false;
    if (mState == EState::Playing && !TOutputStream::Instance().HandOver(mCore.get(), next.mCore))
        return false;
    mState = EState::Stopped;
    if (next.mState == EState::Stopped) {
        next.mState = EState::Playing;
        next.mNotify = mNotify;
    }
    return true;
}

void TPlaybackDevice::CheckEnded() {
    if (mState != EState::Playing)
        return;
    bool ended = false;
    mCore->PositionFrames(ended);
    if (!ended)
        return;
    // Ended into the next device, which is heard already: it plays on.
    if (mNext != nullptr && HandOverTo(*mNext))
        return;
    mState = EState::Stopped;
    TOutputStream::Instance().Detach(mCore.get());
}

void TPlaybackDevice::Play(QObject* notify) {
    CheckEnded();
    mNotify = notify;
    if (mState == EState::Playing)
        return;
    if (mState == EState::Paused) {
        Resume();
        return;
    }
    bool ended = false;
    mCore->PositionFrames(ended);
    if (ended)
        return; // at the end: the player rewinds first
    TOutputStream::Instance().Play(mCore, mVolume);
    mState = EState::Playing;
}

void TPlaybackDevice::Pause() {
    CheckEnded();
    if (mState != EState::Playing)
        return;
    TOutputStream::Instance().SetPaused(mCore.get(), true);
    mState = EState::Paused;
}

void TPlaybackDevice::Resume() {
    if (mState != EState::Paused)
        return;
    // Also when another device played meanwhile: this one takes the output back.
    TOutputStream::Instance().Play(mCore, mVolume);
    mState = EState::Playing;
}

void TPlaybackDevice::Seek(int64_t ms) {
    CheckEnded();
    // Rounded up, so the position read back right after is the millisecond asked for.
    mCore->MoveTo(mCore->TimeLine().FrameAt(std::clamp<int64_t>(ms, 0, mLengthMs)));
    if (mState != EState::Stopped)
        TOutputStream::Instance().Replace(mCore.get());
}

void TPlaybackDevice::Rewind() {
    TOutputStream::Instance().Detach(mCore.get());
    mCore->MoveTo(0);
    mState = EState::Stopped;
}

void TPlaybackDevice::OutputFailed() {
    if (mState == EState::Stopped)
        return;
    TOutputStream::Instance().Detach(mCore.get());
    mState = EState::Stopped;
}

int32_t TPlaybackDevice::PositionMs() {
    CheckEnded();
    bool ended = false;
    const int64_t frames = mCore->PositionFrames(ended);
    if (ended)
        return mLengthMs;
    const int64_t ms = mCore->TimeLine().MsAt(frames);
    // Length is reached only at the real end: the main window advances on that equality.
    return static_cast<int32_t>(std::clamp<int64_t>(ms, 0, std::max(0, mLengthMs - 1)));
}

TPlaybackDevice::EState TPlaybackDevice::State() {
    CheckEnded();
    return mState;
}

void TPlaybackDevice::SetVolume(int32_t volume) {
    mVolume = std::clamp(volume, 0, 1000);
    TOutputStream::Instance().SetVolume(mCore.get(), mVolume);
}
