// libondrix-sdl.so: the output stream's sink where no sound server answers (ALSA and whatever
// else SDL2 finds). Loaded only then. SDL's audio thread pulls through the callback; pausing the
// device stops the callback, and closing it (which sleeps while the last buffers drain) happens
// on the output's manager thread. The volume is applied to the samples here. Floats go to the
// device where it takes them; else we make the 16 bits, with dither.
#include "playback/OutputSink.h"

#include <SDL.h>
#include <algorithm>
#include <atomic>
#include <vector>
#include <cstring>
#include <dlfcn.h>

namespace {

constexpr Uint16 kDeviceFrames = 4096;

void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// ALSA prints every failed probe to stderr; SDL tries several devices on a machine without
// sound. The reason reaches the user in our own error text, so ALSA's handler says nothing.
// SDL loads the same library and so gets the same, quiet, handler.
void QuietAlsa() {
    static const bool done = [] {
        void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL);
        if (alsa == nullptr)
            return false;
        using THandler = void (*)(const char*, int, const char*, int, const char*, ...);
        using TSetHandler = int (*)(THandler);
        if (auto set = reinterpret_cast<TSetHandler>(dlsym(alsa, "snd_lib_error_set_handler")))
            set(&IgnoreAlsaError);
        return true;
    }();
    (void)done;
}

class TSdlSink final : public IOutputSink {
public:
    ~TSdlSink() override { Close(); }

    bool Open(IFrameSource* source, TOutputFormat& format, QString& reason) override {
        QuietAlsa();
        mTouched = true;
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Ondrix 3");
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, "Music");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            reason = QStringLiteral("SDL: %1").arg(QString::fromUtf8(SDL_GetError()));
            return false;
        }
        mInitialised = true;
        SDL_AudioSpec want{};
        want.freq = format.Rate;
        if (want.freq == 0) {
            SDL_AudioSpec preferred{};
            want.freq = SDL_GetDefaultAudioInfo(nullptr, &preferred, 0) == 0 && preferred.freq > 0
                            ? preferred.freq
                            : 48000;
        }
        want.format = AUDIO_F32SYS;
        want.channels = static_cast<Uint8>(format.Channels > 0 ? format.Channels : 2);
        want.samples = kDeviceFrames;
        want.callback = &TSdlSink::Callback;
        want.userdata = this;
        mSource = source;
        // SDL converts rates and channels to whatever the device takes, so those asked for are
        // the ones we get; a device that takes no floats gets 16 bits made here.
        mDevice = SDL_OpenAudioDevice(nullptr, 0, &want, &mSpec, SDL_AUDIO_ALLOW_FORMAT_CHANGE);
        if (mDevice == 0) {
            reason = QStringLiteral("SDL: %1").arg(QString::fromUtf8(SDL_GetError()));
            return false;
        }
        if (mDevice != 0 && mSpec.format != AUDIO_F32SYS && mSpec.format != AUDIO_S16SYS) {
            SDL_CloseAudioDevice(mDevice);
            want.format = AUDIO_S16SYS;
            mDevice = SDL_OpenAudioDevice(nullptr, 0, &want, &mSpec, 0);
        }
        if (mDevice == 0) {
            reason = QStringLiteral("SDL: %1").arg(QString::fromUtf8(SDL_GetError()));
            return false;
        }
        mScratch.assign(static_cast<size_t>(mSpec.samples) * mSpec.channels, 0.0f);
        format = {mSpec.freq, mSpec.channels,
                  format.Channels == mSpec.channels && !format.Layout.empty()
                      ? format.Layout
                      : DefaultLayout(mSpec.channels)};
        return true;
    }

    void Close() override {
        if (mDevice != 0)
            SDL_CloseAudioDevice(mDevice);
        mDevice = 0;
        if (mInitialised)
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        mInitialised = false;
        // SDL is used for nothing else: all of it goes, the hints set above too.
        if (mTouched)
            SDL_Quit();
        mTouched = false;
    }

    void Exclusive(const std::function<void()>& fn) override {
        SDL_LockAudioDevice(mDevice);
        fn();
        SDL_UnlockAudioDevice(mDevice);
    }

    void SetCorked(bool corked) override { SDL_PauseAudioDevice(mDevice, corked ? 1 : 0); }
    void Flush() override {}
    void SetVolume(int32_t volume) override { mVolume.store(volume); }

    int64_t PlayedFrames() override {
        // What SDL holds in its device buffer has not been heard yet.
        return std::max<int64_t>(0, mPulled.load() - mSpec.samples);
    }

    void Wake() override {}

private:
    static void SDLCALL Callback(void* userdata, Uint8* stream, int length) {
        auto* self = static_cast<TSdlSink*>(userdata);
        const size_t channels = self->mSpec.channels;
        const bool floats = self->mSpec.format == AUDIO_F32SYS;
        size_t frames =
            static_cast<size_t>(length) / (floats ? sizeof(float) : sizeof(int16_t)) / channels;
        if (!floats)
            frames = std::min(frames, self->mScratch.size() / channels);
        float* out = floats ? reinterpret_cast<float*>(stream) : self->mScratch.data();
        const size_t got = self->mSource->Pull(out, frames);
        ApplyGain(out, got * channels, self->mVolume.load());
        std::fill(out + got * channels, out + frames * channels, 0.0f);
        if (!floats)
            ToS16Dithered(out, reinterpret_cast<int16_t*>(stream), frames * channels, self->mDither);
        self->mPulled.fetch_add(static_cast<int64_t>(got));
        // The end is heard once the device has played the buffer it was written into.
        if (const uint64_t token = self->mSource->EndToken()) {
            self->mEndToken = token;
            self->mEndAt = self->mOutput + static_cast<int64_t>(frames);
        }
        self->mOutput += static_cast<int64_t>(frames);
        if (self->mEndToken != 0 && self->mOutput >= self->mEndAt + self->mSpec.samples) {
            self->mSource->Finished(self->mEndToken);
            self->mEndToken = 0;
        }
    }

    IFrameSource* mSource = nullptr;
    SDL_AudioDeviceID mDevice = 0;
    SDL_AudioSpec mSpec{};
    bool mInitialised = false;
    bool mTouched = false;
    std::atomic<int32_t> mVolume{1000};
    std::vector<float> mScratch; // the callback's floats, for a device of 16 bits
    uint32_t mDither = 1;        // the dither generator, SDL's audio thread only
    std::atomic<int64_t> mPulled{0};
    // SDL's audio thread only
    int64_t mOutput = 0; // frames handed to the device, silence included
    uint64_t mEndToken = 0;
    int64_t mEndAt = 0;
};

class TSdlModule final : public IOutputModule {
public:
    std::unique_ptr<IOutputSink> CreateSink() override { return std::make_unique<TSdlSink>(); }
};

} // namespace

extern "C" __attribute__((visibility("default"))) IOutputModule* OndrixOutputModule(int version) {
    static TSdlModule module;
    return version == kOutputModuleVersion ? &module : nullptr;
}
