// libondrix-pulse.so: the output stream's sink on the sound server, through libpulse's
// asynchronous API (PulseAudio, and PipeWire's pulse server). Loaded when the output first opens,
// so a start-up never maps libpulse's libraries.
//
// One playback stream, named "Ondrix 3" with the program's icon and the role "music", in the
// default sink's rate and channel map, in 32-bit floats. The server holds 2 s of it and asks for
// 0.9 s at a time, and the sink may buffer the 0.2 s left (2 - 2 x 0.9; a longer sink buffer
// would take a short track whole before the window queued the one after it), so neither
// libpulse's thread nor the server is woken more than a few times a second. Timing reports are
// asked for with each write and after a cork or a flush, not on a timer. Pause corks, Stop
// flushes and the volume is the stream's own; a sink that rewinds (a sound card) hears them at
// once. The stream's volume is one, whoever sets it: a change from outside (the desktop's
// per-application slider or mute, a volume the server restored) is told to the output, and the
// player's own volume is sent whenever the server's differs from it, not only when the player's
// changed. What was heard comes from the server's timing reports, carried on by the clock; the
// end of a device is confirmed by a drain. The context's and the stream's state callbacks tell
// the output when the server went away or the stream was lost, a subscription when the default
// sink changed under a stream that the server left on the old one.
//
// Threads: libpulse's main loop thread runs every callback, with the main loop lock held; the
// other methods take that lock themselves (they are never called on that thread).
#include "playback/OutputSink.h"
#include "playback/pulse/PulseVolume.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <pulse/pulseaudio.h>
#include <string>
#include <thread>
#include <utility>

using namespace std::chrono_literals;

namespace {

constexpr char kName[] = "Ondrix 3";
constexpr char kIcon[] = "io.github.ondrix.Ondrix3";
constexpr auto kServerBuffer = 2000ms;
constexpr auto kRequestSize = 900ms;
// The stream starts, and starts again after an underrun or a flush, once this much is queued:
// more than the sink takes at once, so its first read does not run it dry.
constexpr auto kRestartAfter = 500ms;
// How long the server may take to answer while the output opens.
constexpr auto kAnswerWithin = 3s;
// How long the server has to move the stream along with a new default sink itself (WirePlumber
// does it after the default changed) before the stream is made anew on it.
constexpr auto kFollowAfter = 500ms;

// The speakers of a sound server's channel map; one it has no name for has no position.
TLayout LayoutOfMap(const pa_channel_map& map) {
    TLayout layout;
    for (unsigned i = 0; i < map.channels; ++i) {
        switch (map.map[i]) {
        case PA_CHANNEL_POSITION_MONO:
            layout.push_back(ESpeaker::Mono);
            break;
        case PA_CHANNEL_POSITION_FRONT_LEFT:
            layout.push_back(ESpeaker::FL);
            break;
        case PA_CHANNEL_POSITION_FRONT_RIGHT:
            layout.push_back(ESpeaker::FR);
            break;
        case PA_CHANNEL_POSITION_FRONT_CENTER:
            layout.push_back(ESpeaker::FC);
            break;
        case PA_CHANNEL_POSITION_LFE:
            layout.push_back(ESpeaker::LFE);
            break;
        case PA_CHANNEL_POSITION_REAR_LEFT:
            layout.push_back(ESpeaker::BL);
            break;
        case PA_CHANNEL_POSITION_REAR_RIGHT:
            layout.push_back(ESpeaker::BR);
            break;
        case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER:
            layout.push_back(ESpeaker::FLC);
            break;
        case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER:
            layout.push_back(ESpeaker::FRC);
            break;
        case PA_CHANNEL_POSITION_REAR_CENTER:
            layout.push_back(ESpeaker::BC);
            break;
        case PA_CHANNEL_POSITION_SIDE_LEFT:
            layout.push_back(ESpeaker::SL);
            break;
        case PA_CHANNEL_POSITION_SIDE_RIGHT:
            layout.push_back(ESpeaker::SR);
            break;
        case PA_CHANNEL_POSITION_TOP_CENTER:
            layout.push_back(ESpeaker::TC);
            break;
        case PA_CHANNEL_POSITION_TOP_FRONT_LEFT:
            layout.push_back(ESpeaker::TFL);
            break;
        case PA_CHANNEL_POSITION_TOP_FRONT_CENTER:
            layout.push_back(ESpeaker::TFC);
            break;
        case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT:
            layout.push_back(ESpeaker::TFR);
            break;
        case PA_CHANNEL_POSITION_TOP_REAR_LEFT:
            layout.push_back(ESpeaker::TBL);
            break;
        case PA_CHANNEL_POSITION_TOP_REAR_CENTER:
            layout.push_back(ESpeaker::TBC);
            break;
        case PA_CHANNEL_POSITION_TOP_REAR_RIGHT:
            layout.push_back(ESpeaker::TBR);
            break;
        default:
            layout.push_back(ESpeaker::None);
            break;
        }
    }
    return layout;
}

class TLoopLock {
public:
    explicit TLoopLock(pa_threaded_mainloop* loop) : mLoop(loop) {
        pa_threaded_mainloop_lock(mLoop);
    }
    ~TLoopLock() { pa_threaded_mainloop_unlock(mLoop); }
    TLoopLock(const TLoopLock&) = delete;
    TLoopLock& operator=(const TLoopLock&) = delete;

private:
    pa_threaded_mainloop* mLoop;
};

struct TProplistFreer {
    void operator()(pa_proplist* p) const { pa_proplist_free(p); }
};
using TProplist = std::unique_ptr<pa_proplist, TProplistFreer>;

void Forget(pa_operation* op) {
    if (op != nullptr)
        pa_operation_unref(op);
}

class TPulseSink final : public IOutputSink {
public:
    ~TPulseSink() override { Close(); }

    bool Open(IFrameSource* source, TOutputFormat& format, QString& reason) override;
    void Close() override;
    void Exclusive(const std::function<void()>& fn) override;
    void SetCorked(bool corked) override;
    void Flush() override;
    void SetVolume(int32_t volume) override;
    int64_t PlayedFrames() override;
    void Wake() override;

private:
    int64_t PlayedFramesLocked();
    QString ContextError() const {
        return QString::fromUtf8(pa_strerror(pa_context_errno(mContext)));
    }
    // Waits (main loop locked) until `done` or the server took too long.
    template <typename F> bool WaitUntil(F done);
    void Write(bool asked);
    void ApplyVolume();
    bool AskVolume();
    void Counted(pa_operation* op);
    void CheckDefaultSink();
    void StopFollowTimer();
    void StopEndTimer();
    void AskTiming(bool now = false);
    void FinishWhenHeard();

    static void OnContextState(pa_context* context, void* self);
    static void OnStreamState(pa_stream* stream, void* self);
    static void OnWrite(pa_stream* stream, size_t bytes, void* self);
    static void OnDrained(pa_stream* stream, int success, void* self);
    static void OnTiming(pa_stream* stream, int success, void* self);
    static void OnEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index,
                        void* self);
    static void OnServerInfo(pa_context* context, const pa_server_info* info, void* self);
    static void OnSinkInfo(pa_context* context, const pa_sink_info* info, int eol, void* self);
    static void OnInputInfo(pa_context* context, const pa_sink_input_info* info, int eol,
                            void* self);
    static void OnVolumeSet(pa_context* context, int success, void* self);
    static void OnEndDue(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                         void* self);
    static void OnFollowDue(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                            void* self);

    std::mutex mApiLock; // Wake against Close
    pa_threaded_mainloop* mLoop = nullptr;
    pa_context* mContext = nullptr;
    pa_stream* mStream = nullptr;
    IFrameSource* mSource = nullptr;
    TOutputFormat mFormat;
    size_t mFrameBytes = 0;
    size_t mRequestBytes = 0; // what the server asks for at a time
    bool mReady = false;      // open and playing through the stream
    bool mLost = false;       // told the output once
    int32_t mVolume = 1000;
    int32_t mHeard = -1;       // the server's volume of the stream on our scale (-1: not known)
    bool mServerMuted = false; // the server's own mute of the stream (the desktop's mixer)
    int mVolumeSets = 0;       // our volume and mute changes the server has not confirmed yet
    bool mInputAnswered = false;
    int mSinkRate = 0;
    pa_channel_map mSinkMap{};
    bool mSinkAnswered = false;
    std::string mDefaultSink; // the server's default sink when last asked
    // The default sink changed while the stream was on this one: looked at again by the timer.
    std::string mFollowFrom;
    pa_time_event* mFollowTimer = nullptr;
    pa_time_event* mEndTimer = nullptr; // the end of a drained device, once heard
    int mEndLooks = 0;
    uint64_t mTimingAsks = 0;
    uint64_t mTimingAnswers = 0;
    uint64_t mFreshFrom = 0; // the first report made after the last flush
    int64_t mFlushedAt = -1; // mWritten at the last flush, until its report came
    std::atomic<uint64_t> mDrainToken{0};
    int64_t mPlayed = 0;
    int64_t mWritten = 0; // frames pulled and written into the stream
    int64_t mDropped = 0; // of those, frames a flush took out of the server unheard
};

template <typename F> bool TPulseSink::WaitUntil(F done) {
    const auto end = std::chrono::steady_clock::now() + kAnswerWithin;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        pa_threaded_mainloop_unlock(mLoop);
        std::this_thread::sleep_for(2ms);
        pa_threaded_mainloop_lock(mLoop);
    }
    return true;
}

bool TPulseSink::Open(IFrameSource* source, TOutputFormat& format, QString& reason) {
    mSource = source;
    mLoop = pa_threaded_mainloop_new();
    if (mLoop == nullptr) {
        reason = QStringLiteral("cannot start the sound server's client");
        return false;
    }
    TProplist props(pa_proplist_new());
    pa_proplist_sets(props.get(), PA_PROP_APPLICATION_NAME, kName);
    pa_proplist_sets(props.get(), PA_PROP_APPLICATION_ID, kIcon);
    pa_proplist_sets(props.get(), PA_PROP_APPLICATION_ICON_NAME, kIcon);
    pa_proplist_sets(props.get(), PA_PROP_MEDIA_ROLE, "music");
    mContext =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mLoop), kName, props.get());
    if (mContext == nullptr) {
        reason = QStringLiteral("cannot start the sound server's client");
        return false;
    }
    pa_context_set_state_callback(mContext, &OnContextState, this);
    // No autospawn: a player should not start a sound server behind the user's back.
    if (pa_context_connect(mContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        reason = QStringLiteral("no sound server: %1").arg(ContextError());
        return false;
    }
    TLoopLock lock(mLoop);
    if (pa_threaded_mainloop_start(mLoop) < 0) {
        reason = QStringLiteral("cannot start the sound server's client");
        return false;
    }
    const auto contextSettled = [this] {
        const pa_context_state_t state = pa_context_get_state(mContext);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    };
    if (!WaitUntil(contextSettled)) {
        reason = QStringLiteral("the sound server does not answer");
        return false;
    }
    if (pa_context_get_state(mContext) != PA_CONTEXT_READY) {
        reason = QStringLiteral("no sound server: %1").arg(ContextError());
        return false;
    }

    // The default sink's own rate, so the server need not resample what we resampled already.
    Forget(pa_context_get_sink_info_by_name(mContext, "@DEFAULT_SINK@", &OnSinkInfo, this));
    WaitUntil([this] { return mSinkAnswered; });
    // In the sink's channel map too, so what a file has for each speaker reaches it (a stereo
    // file plays on the front pair of a 5.1 sink), and in floats: nothing is lost before the
    // server's own mixing.
    pa_channel_map map = mSinkMap;
    if (!pa_channel_map_valid(&map))
        pa_channel_map_init_stereo(&map);
    const TLayout layout = LayoutOfMap(map);
    mFormat = {mSinkRate >= 8000 && mSinkRate <= 384000 ? mSinkRate : 48000,
               static_cast<int>(layout.size()), layout};
    mFrameBytes = sizeof(float) * static_cast<size_t>(mFormat.Channels);

    pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(mFormat.Rate),
                                static_cast<uint8_t>(mFormat.Channels)};
    TProplist streamProps(pa_proplist_new());
    pa_proplist_sets(streamProps.get(), PA_PROP_MEDIA_NAME, kName);
    pa_proplist_sets(streamProps.get(), PA_PROP_MEDIA_ROLE, "music");
    pa_proplist_sets(streamProps.get(), PA_PROP_APPLICATION_ICON_NAME, kIcon);
    mStream = pa_stream_new_with_proplist(mContext, kName, &sampleFormat, &map, streamProps.get());
    if (mStream == nullptr) {
        reason = QStringLiteral("the sound server refused a stream: %1").arg(ContextError());
        return false;
    }
    pa_stream_set_state_callback(mStream, &OnStreamState, this);
    pa_stream_set_write_callback(mStream, &OnWrite, this);
    const auto bytes = [&](std::chrono::milliseconds time) {
        return static_cast<uint32_t>(pa_usec_to_bytes(
            static_cast<pa_usec_t>(std::chrono::microseconds(time).count()), &sampleFormat));
    };
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = bytes(kServerBuffer);
    attr.prebuf = bytes(kRestartAfter);
    attr.minreq = bytes(kRequestSize);
    mRequestBytes = attr.minreq;
    attr.fragsize = static_cast<uint32_t>(-1);
    pa_cvolume volume;
    pa_cvolume_set(&volume, sampleFormat.channels, PulseVolume(mVolume));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED);
    if (pa_stream_connect_playback(mStream, nullptr, &attr, flags, &volume, nullptr) < 0) {
        reason = QStringLiteral("the sound server refused a stream: %1").arg(ContextError());
        return false;
    }
    const auto streamSettled = [this] {
        const pa_stream_state_t state = pa_stream_get_state(mStream);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    };
    if (!WaitUntil(streamSettled) || pa_stream_get_state(mStream) != PA_STREAM_READY) {
        reason = QStringLiteral("the sound server refused a stream: %1").arg(ContextError());
        return false;
    }
    pa_context_set_subscribe_callback(mContext, &OnEvent, this);
    Forget(pa_context_subscribe(mContext,
                                static_cast<pa_subscription_mask_t>(
                                    PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK_INPUT),
                                nullptr, nullptr));
    // The server may have put a volume of its own on the stream (WirePlumber restores the one
    // it stored for the role): known here, so the player's own is sent when the output binds.
    if (AskVolume())
        WaitUntil([this] { return mInputAnswered; });
    mReady = true;
    format = mFormat;
    return true;
}

void TPulseSink::Close() {
    std::lock_guard api(mApiLock);
    if (mLoop == nullptr)
        return;
    {
        TLoopLock lock(mLoop);
        mReady = false;
        StopFollowTimer();
        StopEndTimer();
        if (mStream != nullptr) {
            pa_stream_set_state_callback(mStream, nullptr, nullptr);
            pa_stream_set_write_callback(mStream, nullptr, nullptr);
            pa_stream_disconnect(mStream);
            pa_stream_unref(mStream);
            mStream = nullptr;
        }
        if (mContext != nullptr) {
            pa_context_set_state_callback(mContext, nullptr, nullptr);
            pa_context_set_subscribe_callback(mContext, nullptr, nullptr);
            pa_context_disconnect(mContext);
            pa_context_unref(mContext);
            mContext = nullptr;
        }
    }
    pa_threaded_mainloop_stop(mLoop);
    pa_threaded_mainloop_free(mLoop);
    mLoop = nullptr;
}

void TPulseSink::Exclusive(const std::function<void()>& fn) {
    TLoopLock lock(mLoop);
    fn();
}

void TPulseSink::SetCorked(bool corked) {
    TLoopLock lock(mLoop);
    if (!mReady)
        return;
    Forget(pa_stream_cork(mStream, corked ? 1 : 0, nullptr, nullptr));
    AskTiming();
    if (!corked)
        Write(true);
}

void TPulseSink::Flush() {
    TLoopLock lock(mLoop);
    if (!mReady)
        return;
    mDrainToken.store(0);
    // The server's time line goes on from what it has played, but the frames it held were pulled:
    // they count as heard, so the next frame pulled is heard at its own count (else a seek's
    // position would stand still for a server's buffer, then lag the sound by as much).
    const int64_t played = PlayedFramesLocked();
    if (mWritten > played) {
        mDropped += mWritten - played;
        mPlayed = mWritten;
    }
    StopEndTimer();
    Forget(pa_stream_flush(mStream, nullptr, nullptr));
    AskTiming(true);
    mFreshFrom = mTimingAsks;
    mFlushedAt = mWritten;
}

// Main loop locked: the player's volume on the stream, heard (a mute from the desktop is lifted,
// since the player asks for a sound).
void TPulseSink::ApplyVolume() {
    const uint32_t index = pa_stream_get_index(mStream);
    pa_cvolume volume;
    pa_cvolume_set(&volume, static_cast<unsigned>(mFormat.Channels), PulseVolume(mVolume));
    Counted(pa_context_set_sink_input_volume(mContext, index, &volume, &OnVolumeSet, this));
    if (mServerMuted && mVolume > 0) {
        Counted(pa_context_set_sink_input_mute(mContext, index, 0, &OnVolumeSet, this));
        mServerMuted = false;
    }
    mHeard = mVolume;
}

// A change of ours on its way to the server, until OnVolumeSet.
void TPulseSink::Counted(pa_operation* op) {
    if (op == nullptr)
        return;
    ++mVolumeSets;
    pa_operation_unref(op);
}

bool TPulseSink::AskVolume() {
    pa_operation* op =
        pa_context_get_sink_input_info(mContext, pa_stream_get_index(mStream), &OnInputInfo, this);
    Forget(op);
    return op != nullptr;
}

void TPulseSink::SetVolume(int32_t volume) {
    TLoopLock lock(mLoop);
    mVolume = volume;
    // Skipped only when the server has it already: what it restored or was told from outside
    // is not what the player last asked for.
    if (mReady && volume != mHeard)
        ApplyVolume();
}

int64_t TPulseSink::PlayedFrames() {
    TLoopLock lock(mLoop);
    return PlayedFramesLocked();
}

// The stream's time line from the server's last timing report, carried on by the wall clock
// while it plays. libpulse's own interpolation (pa_stream_get_time with interpolated timing)
// returned a time days ahead now and then after a flush, and keeps a time it returned: every
// later position then ran a server's buffer ahead of the sound.
int64_t TPulseSink::PlayedFramesLocked() {
    // a report from before the last flush knows nothing of what was written since
    const pa_timing_info* info =
        mReady && mTimingAnswers >= mFreshFrom ? pa_stream_get_timing_info(mStream) : nullptr;
    if (info == nullptr || info->read_index_corrupt || info->read_index < 0)
        return mPlayed;
    const auto usecOf = [&](int64_t bytes) {
        return static_cast<int64_t>(
            pa_bytes_to_usec(static_cast<uint64_t>(bytes), pa_stream_get_sample_spec(mStream)));
    };
    const int64_t read = usecOf(info->read_index);
    int64_t usec = read;
    if (pa_stream_is_corked(mStream) == 0) {
        // What the server read is heard once it passed the sink's own buffer, which plays out
        // also when the stream ran dry: then no more than what was read is heard; else no more
        // than what was written.
        usec = std::max<int64_t>(0, read + static_cast<int64_t>(info->transport_usec) -
                                        static_cast<int64_t>(info->sink_usec)) +
               static_cast<int64_t>(pa_timeval_age(&info->timestamp));
        if (info->playing == 0)
            usec = std::min(usec, read);
        else if (!info->write_index_corrupt && info->write_index >= 0)
            usec = std::min(usec, usecOf(info->write_index));
    }
    const auto frames = usec * mFormat.Rate / 1000000;
    if (mFlushedAt >= 0) {
        // The first report after a flush says where the server's time line stands now: what
        // was dropped is measured from it, not from the estimate the flush was made at, which
        // may have been a few milliseconds behind and would put the next track ahead.
        mDropped = mFlushedAt - read * mFormat.Rate / 1000000;
        mFlushedAt = -1;
    }
    mPlayed = std::max(mPlayed, frames + mDropped);
    return mPlayed;
}

void TPulseSink::Wake() {
    std::lock_guard api(mApiLock);
    if (mLoop == nullptr)
        return;
    TLoopLock lock(mLoop);
    Write(false);
}

// Main loop locked: hands the server what it asked for, as far as the device has decoded it.
// Between the server's requests (`asked` false: the decoder caught up) only a request's worth
// is written: smaller pieces would each wake the server, and it asks again before it runs low.
void TPulseSink::Write(bool asked) {
    if (!mReady)
        return;
    size_t writable = pa_stream_writable_size(mStream);
    if (writable == static_cast<size_t>(-1) || (!asked && writable < mRequestBytes))
        writable = 0;
    bool wrote = false;
    while (writable >= mFrameBytes) {
        void* data = nullptr;
        size_t bytes = writable;
        if (pa_stream_begin_write(mStream, &data, &bytes) < 0 || data == nullptr)
            break;
        const size_t wanted = bytes / mFrameBytes;
        auto* out = static_cast<float*>(data);
        size_t frames = 0;
        // the ring may hand its frames in two pieces (where it wraps)
        while (frames < wanted) {
            const size_t got = mSource->Pull(out + frames * static_cast<size_t>(mFormat.Channels),
                                             wanted - frames);
            if (got == 0)
                break;
            frames += got;
        }
        if (frames == 0) {
            pa_stream_cancel_write(mStream);
            break;
        }
        pa_stream_write(mStream, data, frames * mFrameBytes, nullptr, 0, PA_SEEK_RELATIVE);
        mWritten += static_cast<int64_t>(frames);
        wrote = true;
        writable -= frames * mFrameBytes;
        if (frames < wanted)
            break;
    }
    if (wrote)
        AskTiming();
    // The device's last frame is written: the drain tells when it has been heard.
    if (const uint64_t token = mSource->EndToken()) {
        mDrainToken.store(token);
        Forget(pa_stream_drain(mStream, &OnDrained, this));
    }
}

void TPulseSink::CheckDefaultSink() {
    Forget(pa_context_get_server_info(mContext, &OnServerInfo, this));
}

void TPulseSink::StopEndTimer() {
    if (mEndTimer != nullptr)
        pa_threaded_mainloop_get_api(mLoop)->time_free(mEndTimer);
    mEndTimer = nullptr;
}

// One report asked for at a time, unless `now`: a report answers for every write made before
// it. The server answers in order.
void TPulseSink::AskTiming(bool now) {
    if (!now && mTimingAnswers != mTimingAsks)
        return;
    pa_operation* op = pa_stream_update_timing_info(mStream, &OnTiming, this);
    if (op != nullptr)
        ++mTimingAsks;
    Forget(op);
}

void TPulseSink::OnTiming(pa_stream*, int, void* self) {
    ++static_cast<TPulseSink*>(self)->mTimingAnswers;
}

void TPulseSink::StopFollowTimer() {
    if (mFollowTimer != nullptr)
        pa_threaded_mainloop_get_api(mLoop)->time_free(mFollowTimer);
    mFollowTimer = nullptr;
}

void TPulseSink::OnContextState(pa_context* context, void* self) {
    auto* sink = static_cast<TPulseSink*>(self);
    if (PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) || !sink->mReady || sink->mLost)
        return;
    sink->mReady = false;
    sink->mLost = true;
    sink->mSource->SinkLost(true);
}

void TPulseSink::OnStreamState(pa_stream* stream, void* self) {
    auto* sink = static_cast<TPulseSink*>(self);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) || !sink->mReady || sink->mLost)
        return;
    // The stream went (its sink removed, say) while the server stays: a new one at once.
    const bool serverGone = !PA_CONTEXT_IS_GOOD(pa_context_get_state(sink->mContext));
    sink->mReady = false;
    sink->mLost = true;
    sink->mSource->SinkLost(serverGone);
}

void TPulseSink::OnWrite(pa_stream*, size_t, void* self) {
    static_cast<TPulseSink*>(self)->Write(true);
}

// A drain ends once the sink has taken the last frame into its own buffer, up to that buffer's
// length before it is heard: the end waits for the time line.
void TPulseSink::OnDrained(pa_stream*, int success, void* self) {
    auto* sink = static_cast<TPulseSink*>(self);
    if (success == 0 || sink->mDrainToken.load() == 0 || !sink->mReady)
        return;
    sink->mEndLooks = 0;
    sink->FinishWhenHeard();
}

void TPulseSink::FinishWhenHeard() {
    StopEndTimer();
    const int64_t left = mWritten - PlayedFramesLocked();
    // within 10 ms, or a time line that stopped short (a server that no longer reports)
    if (left <= mFormat.Rate / 100 || ++mEndLooks > 20) {
        if (const uint64_t token = mDrainToken.exchange(0))
            mSource->Finished(token);
        return;
    }
    // a report of the server's, then a look again once the rest should have been heard
    AskTiming();
    const auto usec = static_cast<pa_usec_t>(left * 1000000 / mFormat.Rate) + 5000;
    mEndTimer = pa_context_rttime_new(mContext, pa_rtclock_now() + usec, &OnEndDue, this);
}

void TPulseSink::OnEndDue(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* sink = static_cast<TPulseSink*>(self);
    if (sink->mReady && sink->mDrainToken.load() != 0)
        sink->FinishWhenHeard();
    else
        sink->StopEndTimer();
}

void TPulseSink::OnEvent(pa_context*, pa_subscription_event_type_t type, uint32_t index,
                         void* self) {
    auto* sink = static_cast<TPulseSink*>(self);
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER)
        sink->CheckDefaultSink();
    else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT &&
             (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_CHANGE &&
             sink->mReady && !sink->mLost && index == pa_stream_get_index(sink->mStream))
        sink->AskVolume();
}

void TPulseSink::OnVolumeSet(pa_context*, int, void* self) {
    --static_cast<TPulseSink*>(self)->mVolumeSets;
}

// The server answers in the order it was asked: an answer that comes while a change of ours is
// still on its way may be older than it, and that change's own event asks again.
void TPulseSink::OnInputInfo(pa_context*, const pa_sink_input_info* info, int eol, void* self) {
    auto* sink = static_cast<TPulseSink*>(self);
    if (eol != 0 || info == nullptr) {
        sink->mInputAnswered = true;
        return;
    }
    if (sink->mLost || sink->mVolumeSets > 0 || info->has_volume == 0)
        return;
    const int32_t heard = info->mute != 0 ? 0 : VolumeOfPulse(pa_cvolume_max(&info->volume));
    sink->mServerMuted = info->mute != 0;
    const bool changed = heard != sink->mHeard;
    sink->mHeard = heard;
    if (!sink->mReady || !changed)
        return; // while opening, the player's own volume follows when the output binds
    sink->mVolume = heard;
    sink->mSource->VolumeChanged(heard);
}

// Any change of the server's settings (the default source too) lands here. Only a new default
// sink matters, and only to a stream that was on the old one: a stream the user put on another
// sink stays there.
void TPulseSink::OnServerInfo(pa_context* context, const pa_server_info* info, void* self) {
    auto* sink = static_cast<TPulseSink*>(self);
    if (info == nullptr || info->default_sink_name == nullptr || !sink->mReady || sink->mLost ||
        sink->mDefaultSink == info->default_sink_name)
        return;
    const char* current = pa_stream_get_device_name(sink->mStream);
    const bool onOldDefault = current != nullptr && sink->mDefaultSink == current;
    sink->mDefaultSink = info->default_sink_name;
    if (!onOldDefault || sink->mFollowTimer != nullptr)
        return;
    sink->mFollowFrom = current;
    sink->mFollowTimer = pa_context_rttime_new(
        context,
        pa_rtclock_now() + static_cast<pa_usec_t>(std::chrono::microseconds(kFollowAfter).count()),
        &OnFollowDue, sink);
}

void TPulseSink::OnFollowDue(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* sink = static_cast<TPulseSink*>(self);
    sink->StopFollowTimer();
    const std::string from = std::exchange(sink->mFollowFrom, std::string());
    if (!sink->mReady || sink->mLost)
        return;
    const char* current = pa_stream_get_device_name(sink->mStream);
    // Left behind on the old default (neither the server nor the user moved it since): the
    // stream is made anew on the new default.
    if (current != nullptr && from == current && sink->mDefaultSink != current) {
        sink->mReady = false;
        sink->mLost = true;
        sink->mSource->SinkLost(false);
    }
}

void TPulseSink::OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* self) {
    auto* sink = static_cast<TPulseSink*>(self);
    if (eol != 0 || info == nullptr) {
        sink->mSinkAnswered = true;
        return;
    }
    sink->mSinkRate = static_cast<int>(info->sample_spec.rate);
    sink->mSinkMap = info->channel_map;
    sink->mDefaultSink = info->name != nullptr ? info->name : "";
}

class TPulseModule final : public IOutputModule {
public:
    std::unique_ptr<IOutputSink> CreateSink() override { return std::make_unique<TPulseSink>(); }
};

} // namespace

extern "C" __attribute__((visibility("default"))) IOutputModule* OndrixOutputModule(int version) {
    static TPulseModule module;
    return version == kOutputModuleVersion ? &module : nullptr;
}
