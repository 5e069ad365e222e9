#include "playback/audio/AudioOutput.h"

#include <cstring>
#include <thread>

namespace {

constexpr Uint16 kDeviceFrames = 4096;

// Never destroyed: a device still open when the program exits parks its output here during
// static destruction, and closing it then would only add SDL's drain sleep to the exit.
std::unique_ptr<TAudioOutput>& Parked() {
    static auto* parked = new std::unique_ptr<TAudioOutput>();
    return *parked;
}

// Once per process; a failed start is tried again at the next open.
bool EnsureSdlAudio(QString& reason) {
    static bool ready = false;
    if (ready)
        return true;
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Ondrix 3");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, "Music");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        reason = QString::fromUtf8(SDL_GetError());
        return false;
    }
    ready = true;
    return true;
}

} // namespace

std::unique_ptr<TAudioOutput> TAudioOutput::Take(int rate, int channels, QString& reason) {
    std::unique_ptr<TAudioOutput>& parked = Parked();
    if (parked && parked->mWantedRate == rate && parked->mWantedChannels == channels)
        return std::move(parked);
    parked.reset(); // some drivers allow only one open device
    if (!EnsureSdlAudio(reason))
        return nullptr;
    std::unique_ptr<TAudioOutput> output(new TAudioOutput());
    SDL_AudioSpec want{};
    want.freq = rate;
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(channels);
    want.samples = kDeviceFrames;
    want.callback = &TAudioOutput::Callback;
    want.userdata = output.get();
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID id =
        SDL_OpenAudioDevice(nullptr, 0, &want, &have,
                            SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
    if (id == 0) {
        reason = QString::fromUtf8(SDL_GetError());
        return nullptr;
    }
    output->mDevice.Reset(id);
    output->mWantedRate = rate;
    output->mWantedChannels = channels;
    output->mRate = have.freq;
    output->mChannels = have.channels;
    return output;
}

void TAudioOutput::Park(std::unique_ptr<TAudioOutput> output) {
    if (!output)
        return;
    output->SetPaused(true);
    output->Attach(nullptr, nullptr);
    Parked() = std::move(output);
}

void TAudioOutput::CloseParked() {
    Parked().reset();
}

void TAudioOutput::Attach(TFill fill, void* source) {
    SDL_LockAudioDevice(mDevice.Get());
    mFill.store(nullptr);
    // Either the callback saw the null above, or we see it inside and wait for it to leave.
    while (mInCallback.load())
        std::this_thread::yield();
    mSource.store(source, std::memory_order_relaxed);
    mFill.store(fill, std::memory_order_release);
    SDL_UnlockAudioDevice(mDevice.Get());
}

void TAudioOutput::SetPaused(bool paused) {
    if (!paused) {
        mPaused.store(false);
        SDL_PauseAudioDevice(mDevice.Get(), 0);
        return;
    }
    mPaused.store(true);
    SDL_PauseAudioDevice(mDevice.Get(), 1);
    // Returns once no callback is filling from the source any more.
    while (mInCallback.load())
        std::this_thread::yield();
}

void SDLCALL TAudioOutput::Callback(void* userdata, Uint8* stream, int len) {
    auto* self = static_cast<TAudioOutput*>(userdata);
    self->mInCallback.store(true);
    const TFill fill = self->mFill.load(); // acquires the source stored before it
    if (fill == nullptr || self->mPaused.load())
        std::memset(stream, 0, static_cast<size_t>(len));
    else
        fill(self->mSource.load(std::memory_order_relaxed), reinterpret_cast<int16_t*>(stream),
             static_cast<size_t>(len) / sizeof(int16_t));
    self->mInCallback.store(false, std::memory_order_release);
}
