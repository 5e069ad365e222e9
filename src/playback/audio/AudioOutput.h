#pragma once

#include <QString>
#include <SDL.h>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

// An SDL audio device id that closes itself. Closing joins SDL's audio thread, which first
// sleeps twice the buffer length to let the sound drain (about 185 ms at 4096 frames).
class TSdlAudio {
public:
    TSdlAudio() = default;
    TSdlAudio(const TSdlAudio&) = delete;
    TSdlAudio& operator=(const TSdlAudio&) = delete;
    ~TSdlAudio() { Reset(); }
    SDL_AudioDeviceID Get() const { return mId; }
    void Reset(SDL_AudioDeviceID id = 0) {
        if (mId != 0)
            SDL_CloseAudioDevice(mId);
        mId = id;
    }

private:
    SDL_AudioDeviceID mId = 0;
};

// One SDL playback device of interleaved 16-bit samples, opened paused. Its callback hands each
// buffer to the attached source, or plays silence. When its media device closes, the output is
// parked, paused, rather than closed, so that the next open with the same rate and channel
// count takes it at once: the stop button and the step to the next track reopen the device.
// GUI thread only, except Callback (SDL's audio thread).
class TAudioOutput {
public:
    // Fills `samples` interleaved samples; runs on SDL's audio thread and must not block.
    using TFill = void (*)(void* source, int16_t* out, size_t samples);

    // The parked output when it fits, else a new one; nullptr with the reason on failure.
    static std::unique_ptr<TAudioOutput> Take(int rate, int channels, QString& reason);
    // Detaches the output and keeps it for the next Take (closing any older parked one).
    static void Park(std::unique_ptr<TAudioOutput> output);
    static void CloseParked();

    TAudioOutput(const TAudioOutput&) = delete;
    TAudioOutput& operator=(const TAudioOutput&) = delete;
    ~TAudioOutput() = default;

    int Rate() const { return mRate; }
    int Channels() const { return mChannels; }
    void Attach(TFill fill, void* source);
    void SetPaused(bool paused);

private:
    TAudioOutput() = default;
    static void SDLCALL Callback(void* userdata, Uint8* stream, int len);

    TSdlAudio mDevice;
    int mWantedRate = 0;
    int mWantedChannels = 0;
    int mRate = 0;
    int mChannels = 0;
    // The source is published with release and taken with acquire. Attach and a pause also wait
    // out a callback still running (mInCallback against mFill and mPaused, all sequentially
    // consistent), so neither relies on SDL's device lock.
    std::atomic<TFill> mFill{nullptr};
    std::atomic<void*> mSource{nullptr};
    std::atomic<bool> mInCallback{false};
    std::atomic<bool> mPaused{true};
};
