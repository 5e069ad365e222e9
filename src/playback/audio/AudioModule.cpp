// The entry of libondrix-audio.so: the one symbol the media service looks up.
#include "playback/AudioBackend.h"
#include "playback/audio/AudioDevice.h"
#include "playback/audio/AudioOutput.h"

namespace {

class TAudioBackend final : public IAudioBackend {
public:
    std::unique_ptr<IAudioDevice> Open(const QString& fileName, int32_t volume,
                                       TOpenFailure& failure) override {
        return TAudioDevice::Open(fileName, volume, failure);
    }
    void ReleaseIdleOutput() override { TAudioOutput::CloseParked(); }
};

} // namespace

extern "C" __attribute__((visibility("default"))) IAudioBackend* OndrixAudioBackend(int version) {
    static TAudioBackend backend;
    return version == kAudioBackendVersion ? &backend : nullptr;
}
