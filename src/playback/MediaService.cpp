#include "playback/MediaService.h"

#include "playback/AudioBackend.h"
#include "playback/MPlayer.h"

#include <QDir>
#include <algorithm>
#include <map>
#include <memory>

namespace MediaService {
namespace {

std::map<uint16_t, std::unique_ptr<IAudioDevice>> gDevices;
uint16_t gNextId = 1;
int32_t gInitialVolume = 1000;
std::map<int32_t, QString> gLatestText; // the latest failure's own text, per code

IAudioDevice* Find(uint16_t deviceId) {
    const auto it = gDevices.find(deviceId);
    return it == gDevices.end() ? nullptr : it->second.get();
}

bool IsOpen(uint16_t deviceId) {
    return gDevices.find(deviceId) != gDevices.end();
}

} // namespace

// Ids count up and wrap past 0; one still open is skipped, so a closed id comes back only
// after all the others have been used and a stale id cannot reach the next track's device.
uint16_t TakeDeviceId(uint16_t& next, bool (*isOpen)(uint16_t)) {
    for (int tries = 0; tries < 65536; ++tries) {
        const uint16_t id = next;
        next = static_cast<uint16_t>(next + 1);
        if (next == 0)
            next = 1;
        if (id != 0 && !isOpen(id))
            return id;
    }
    return 0;
}

int32_t OpenDevice(const QString& fileName, uint16_t& deviceId) {
    deviceId = 0;
    if (gDevices.size() >= 65535) {
        gLatestText[mseTooManyDevices] =
            QStringLiteral("Too many audio devices are open to play \"%1\".").arg(fileName);
        return mseTooManyDevices;
    }
    // The back end is loaded on the first open, so start-up does not pay for FFmpeg and SDL.
    QString loadError;
    IAudioBackend* backend = AudioBackend::Get(loadError);
    if (backend == nullptr) {
        gLatestText[mseNoOutput] =
            QStringLiteral("No audio output is available to play %1: %2.")
                .arg(QLatin1Char('"') + QDir::toNativeSeparators(fileName) + QLatin1Char('"'),
                     loadError);
        return mseNoOutput;
    }
    TOpenFailure failure;
    std::unique_ptr<IAudioDevice> device = backend->Open(fileName, gInitialVolume, failure);
    if (!device) {
        gLatestText[failure.Code] = failure.Text;
        return failure.Code;
    }
    const uint16_t id = TakeDeviceId(gNextId, &IsOpen);
    gDevices.emplace(id, std::move(device));
    deviceId = id;
    return mseNone;
}

int32_t CloseDevice(uint16_t deviceId) {
    const auto it = gDevices.find(deviceId);
    if (it == gDevices.end())
        return mseInvalidDevice;
    // Destroying the device waits for its threads; erase only afterwards.
    std::unique_ptr<IAudioDevice> device = std::move(it->second);
    device.reset();
    gDevices.erase(it);
    return mseNone;
}

int32_t PlayDevice(uint16_t deviceId) {
    IAudioDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    device->Play();
    return mseNone;
}

int32_t PauseDevice(uint16_t deviceId) {
    IAudioDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    device->Pause();
    return mseNone;
}

int32_t ResumeDevice(uint16_t deviceId) {
    IAudioDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    if (device->State() != IAudioDevice::EState::Paused)
        return mseNotPaused;
    device->Resume();
    return mseNone;
}

int32_t SeekToStart(uint16_t deviceId) {
    IAudioDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    device->SeekToStart();
    return mseNone;
}

int32_t StatusLength(uint16_t deviceId, int32_t& milliseconds) {
    IAudioDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    milliseconds = device->LengthMs();
    return mseNone;
}

int32_t StatusPosition(uint16_t deviceId, int32_t& milliseconds) {
    IAudioDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    milliseconds = device->PositionMs();
    return mseNone;
}

int32_t StatusMode(uint16_t deviceId, int32_t& mode) {
    IAudioDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    switch (device->State()) {
    case IAudioDevice::EState::Playing:
        mode = pmPlaying;
        break;
    case IAudioDevice::EState::Paused:
        mode = pmPaused;
        break;
    case IAudioDevice::EState::Stopped:
        mode = pmStopped;
        break;
    }
    return mseNone;
}

int32_t SetAudioVolume(uint16_t deviceId, int32_t volume) {
    IAudioDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    device->SetVolume(volume);
    return mseNone;
}

int32_t StatusVolume(uint16_t deviceId, int32_t& volume) {
    IAudioDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    volume = device->Volume();
    return mseNone;
}

void SetInitialVolume(int32_t volume) {
    gInitialVolume = std::clamp(volume, 0, 1000);
}

int32_t InitialVolume() {
    return gInitialVolume;
}

bool ErrorString(int32_t code, QString& text) {
    if (const auto it = gLatestText.find(code); it != gLatestText.end()) {
        text = it->second;
        return true;
    }
    switch (code) {
    case mseNone:
        text = QStringLiteral("The command was carried out.");
        return true;
    case mseInvalidDevice:
        text = QStringLiteral("No audio device is open under this device id.");
        return true;
    case mseNoFileName:
        text = QStringLiteral("No file name was given.");
        return true;
    case mseFileNotFound:
        text = QStringLiteral("The file was not found.");
        return true;
    case mseNotAFile:
        text = QStringLiteral("The name is a folder, not an audio file.");
        return true;
    case mseCannotRead:
        text = QStringLiteral("The file cannot be read.");
        return true;
    case mseUnsupportedFile:
        text = QStringLiteral("The file is not a supported audio file (MP3, WMA or WAV).");
        return true;
    case mseNoAudio:
        text = QStringLiteral("The file contains no audio that can be played.");
        return true;
    case mseDecoderFailed:
        text = QStringLiteral("The audio of the file cannot be decoded.");
        return true;
    case mseNoOutput:
        text = QStringLiteral("No audio output is available.");
        return true;
    case mseOutOfMemory:
        text = QStringLiteral("Out of memory.");
        return true;
    case mseTooManyDevices:
        text = QStringLiteral("Too many audio devices are open.");
        return true;
    case mseNotPaused:
        text = QStringLiteral("The device is not paused.");
        return true;
    default:
        return false;
    }
}

QString ErrorText(int32_t code) {
    QString text;
    if (!ErrorString(code, text))
        return QStringLiteral("Unknown error code");
    return text;
}

size_t OpenDeviceCount() {
    return gDevices.size();
}

void ReleaseIdleOutput() {
    if (IAudioBackend* backend = AudioBackend::IfLoaded())
        backend->ReleaseIdleOutput();
}

void SetNextDeviceId(uint16_t deviceId) {
    gNextId = deviceId == 0 ? 1 : deviceId;
}

} // namespace MediaService
