// Threads of one device:
// - GUI thread: TPlaybackDevice, through the media service. It owns the device's state (stopped,
//   playing, paused) and never waits for the decoder thread or the output.
// - Decoder thread (TDeviceCore::Run): started with the first feed. It owns the decoder from
//   then on: seeks where a new feed starts, reads, converts to the output's format and writes
//   into the feed's ring; it sleeps on the doorbell while the ring is full or nothing is asked.
//   Close only tells it to stop: it holds its own reference to the core, so it cleans up after
//   itself whenever its current read returns, even one hung on a network file system.
// - The output stream calls NewFeed (GUI or manager thread, under the output's lock) and
//   OutputFailed (manager thread).
// TDeviceCore::mLock guards the feed, its start position and the requests; it is never held
// while calling into the output stream, which may call NewFeed under its own lock.
#include "playback/PlaybackDevice.h"

#include "playback/FormatConverter.h"
#include "playback/MediaService.h"

#include <algorithm>
#include <pthread.h>
#include <thread>
#include <vector>

namespace {

// Frames decoded at a time.
constexpr size_t kChunk = 4096;

std::atomic<uint64_t> gNextFeedId{1};

int64_t ToFileFrames(int64_t outputFrames, int fileRate, int outputRate) {
    if (fileRate == outputRate)
        return outputFrames;
    return outputFrames * fileRate / outputRate;
}

} // namespace

TDeviceCore::TDeviceCore(uint16_t id, QString fileName, std::unique_ptr<IDecoder> decoder,
                         std::shared_ptr<TMediaFile> file)
    : mId(id), mFileName(std::move(fileName)), mRate(decoder->Rate()),
      mLength(decoder->LengthFrames()), mFile(std::move(file)),
      mDoorbell(std::make_shared<TDoorbell>()), mDecoder(std::move(decoder)) {}

std::shared_ptr<TFeed> TDeviceCore::NewFeed(const TOutputFormat& format) {
    auto feed = std::make_shared<TFeed>(gNextFeedId.fetch_add(1), format, mDoorbell);
    bool start = false;
    {
        std::lock_guard lock(mLock);
        // Go on from what has been heard: what the old feed still held is decoded again.
        if (mFeed)
            mBase = mFeed->HeardEnd.load()
                        ? mLength
                        : std::min(mLength, mBase + ToFileFrames(mFeed->Heard.load(), mRate,
                                                                 mFeed->Format.Rate));
        mFeed = feed;
        mRequest = feed;
        mRequestAt = mBase;
        start = !mThreadStarted;
        mThreadStarted = true;
    }
    if (start)
        std::thread([self = shared_from_this()] { self->Run(); }).detach();
    mDoorbell->Ring();
    return feed;
}

void TDeviceCore::OutputFailed(const QString& reason) {
    MediaService::PostFailure(mId, MediaService::mseNoOutput,
                              QStringLiteral("No audio output is available to play %1: %2.")
                                  .arg(QuotedFileName(mFileName), reason));
}

int64_t TDeviceCore::PositionFrames(bool& ended) {
    std::shared_ptr<TFeed> feed;
    int64_t base = 0;
    {
        std::lock_guard lock(mLock);
        feed = mFeed;
        base = mBase;
    }
    ended = false;
    if (!feed)
        return base;
    const int64_t heard = TOutputStream::Instance().Heard(*feed);
    ended = feed->HeardEnd.load();
    return std::min(mLength, base + ToFileFrames(heard, mRate, feed->Format.Rate));
}

void TDeviceCore::MoveTo(int64_t frame) {
    std::lock_guard lock(mLock);
    mBase = std::clamp<int64_t>(frame, 0, mLength);
    mFeed.reset();
}

void TDeviceCore::Stop() {
    {
        std::lock_guard lock(mLock);
        mStop = true;
        mRequest.reset();
    }
    mFile->Abandon();
    mDoorbell->Ring();
}

bool TDeviceCore::Stopping() {
    std::lock_guard lock(mLock);
    return mStop;
}

// Writes all of `frames` into the feed, waiting for room; gives up when the device stops or
// asks for another feed.
void TDeviceCore::Push(TFeed& feed, const float* frames, size_t count, uint32_t& seen) {
    const auto channels = static_cast<size_t>(feed.Format.Channels);
    while (count > 0) {
        const size_t written = feed.Ring.Write(frames, count);
        frames += written * channels;
        count -= written;
        if (written > 0 && feed.Hungry.exchange(false))
            TOutputStream::Instance().Wake(feed);
        if (count == 0)
            return;
        feed.WantsRoom.store(true);
        if (feed.Ring.Free() == 0)
            mDoorbell->Wait(seen);
        seen = mDoorbell->Seen();
        std::lock_guard lock(mLock);
        if (mStop || mRequest)
            return;
    }
}

void TDeviceCore::Run() {
    pthread_setname_np(pthread_self(), "ondrix-decode"); // told apart from the GUI thread in top
    std::vector<float> buffer(kChunk * static_cast<size_t>(mDecoder->MaxChannels()));
    std::shared_ptr<TFeed> feed;
    std::unique_ptr<TFormatConverter> converter;
    for (;;) {
        uint32_t seen = mDoorbell->Seen();
        std::shared_ptr<TFeed> request;
        int64_t at = 0;
        {
            std::lock_guard lock(mLock);
            if (mStop)
                return;
            request = std::move(mRequest);
            at = mRequestAt;
        }
        if (request) {
            feed = std::move(request);
            converter = std::make_unique<TFormatConverter>(mRate, mDecoder->Layout(),
                                                           feed->Format.Rate, feed->Format.Layout);
            if (!mDecoder->Seek(at) || !converter->Valid()) {
                feed->DecodeDone.store(true, std::memory_order_release);
                TOutputStream::Instance().Wake(*feed);
            }
            continue;
        }
        if (!feed || feed->DecodeDone.load()) {
            mDoorbell->Wait(seen);
            continue;
        }
        // What one read becomes must fit in half the ring, since the output rings the doorbell
        // once half is free: a file of a low rate is read a few frames at a time (at 1 Hz one
        // frame is a second of output).
        const auto outRate = static_cast<size_t>(feed->Format.Rate);
        const size_t half = feed->Ring.Capacity() / 2;
        const size_t chunk =
            std::clamp<size_t>(half * static_cast<size_t>(mRate) / outRate, 1, kChunk);
        // Room for it and what the resampler may add, so a read is seldom held back.
        const size_t room = std::min(half, chunk * outRate / static_cast<size_t>(mRate) + 1024);
        if (feed->Ring.Free() < room) {
            feed->WantsRoom.store(true);
            if (feed->Ring.Free() < room)
                mDoorbell->Wait(seen);
            continue;
        }
        const size_t got = mDecoder->Read(buffer.data(), chunk);
        if (Stopping())
            return;
        if (got > 0 && mDecoder->Layout() != converter->InLayout())
            converter->SetInLayout(mDecoder->Layout());
        size_t converted = 0;
        const float* out = converter->Convert(got > 0 ? buffer.data() : nullptr, got, converted);
        Push(*feed, out, converted, seen);
        if (got == 0) {
            // The end, or a rest that cannot be read: what was decoded plays, then it ends.
            feed->DecodeDone.store(true, std::memory_order_release);
            TOutputStream::Instance().Wake(*feed);
        }
    }
}

TPlaybackDevice::TPlaybackDevice(uint16_t id, QString fileName, std::unique_ptr<IDecoder> decoder,
                                 std::shared_ptr<TMediaFile> file, int32_t volume)
    : mVolume(std::clamp(volume, 0, 1000)) {
    const int rate = decoder->Rate();
    const int64_t frames = decoder->LengthFrames();
    mCore =
        std::make_shared<TDeviceCore>(id, std::move(fileName), std::move(decoder), std::move(file));
    const int64_t ms = (frames * 1000 + rate / 2) / rate;
    mLengthMs = static_cast<int32_t>(std::min<int64_t>(ms, INT32_MAX));
}

TPlaybackDevice::~TPlaybackDevice() {
    TOutputStream::Instance().Detach(mCore.get());
    mCore->Stop();
}

void TPlaybackDevice::CheckEnded() {
    if (mState != EState::Playing)
        return;
    bool ended = false;
    mCore->PositionFrames(ended);
    if (!ended)
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
    const int64_t frame = (std::clamp<int64_t>(ms, 0, mLengthMs) * mCore->Rate() + 999) / 1000;
    mCore->MoveTo(frame);
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
    const int64_t ms = frames * 1000 / mCore->Rate();
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
