#include "playback/MediaService.h"

#include "core/BoundedWait.h"
#include "playback/AudioFormats.h"
#include "playback/Decoder.h"
#include "playback/MPlayer.h"
#include "playback/OutputStream.h"
#include "playback/PlaybackDevice.h"
#include "playback/ReplayGain.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <vector>

namespace MediaService {
namespace {

// What the opening thread leaves; it may outlive the open that waited for it.
struct TOpenJob {
    std::unique_ptr<IDecoder> Decoder;
    std::shared_ptr<TMediaFile> File;
    TOpenFailure Failure;
};

// The opening thread: the decoder, levelled by the file's ReplayGain. Its tags are read only once
// the file is known to play.
std::unique_ptr<IDecoder> OpenLevelled(const QString& fileName, const TNeighbours& neighbours,
                                       std::shared_ptr<TMediaFile>& file, TOpenFailure& failure) {
    std::unique_ptr<IDecoder> decoder = OpenDecoder(fileName, file, failure);
    if (!decoder)
        return decoder;
    return WithGain(std::move(decoder),
                    ReplayGainFactor(fileName, neighbours.Before, neighbours.After));
}

std::map<uint16_t, std::unique_ptr<TPlaybackDevice>> gDevices;
uint16_t gNextId = 1;
int32_t gInitialVolume = 1000;
std::map<int32_t, QString> gLatestText; // the latest failure's own text, per code

struct TFailure {
    uint16_t DeviceId;
    int32_t Code;
    QString Text;
};
std::mutex gFailureLock;
std::vector<TFailure> gFailures;
// The latest volume changed from outside, -1 once taken: only the last one matters.
std::atomic<int32_t> gOutsideVolume{-1};
std::vector<QPointer<QObject>> gVolumeWatchers;

TPlaybackDevice* Find(uint16_t deviceId) {
    const auto it = gDevices.find(deviceId);
    return it == gDevices.end() ? nullptr : it->second.get();
}

// The device prepared to follow another: one at a time, as there is one stream.
struct TPrepared {
    uint16_t For = 0; // the device it follows
    QString FileName;
    uint16_t Id = 0;       // once opened
    uint64_t Generation = 0; // an open that finishes for an older one is thrown away
};
TPrepared gPrepared;

// The prepared device goes; the one it followed is told that another is coming when it is
// `pendingFor`.
void DropPreparedExcept(uint16_t pendingFor) {
    const TPrepared prepared = gPrepared;
    gPrepared = {0, {}, 0, gPrepared.Generation + 1};
    if (TPlaybackDevice* current = Find(prepared.For))
        current->SetNext(nullptr, prepared.For == pendingFor);
    if (prepared.Id != 0)
        gDevices.erase(prepared.Id);
}

bool IsOpen(uint16_t deviceId) {
    return gDevices.find(deviceId) != gDevices.end();
}

// Failures and volume changes found on other threads reach the GUI thread through events to
// this object.
class TFailureRelay : public QObject {
public:
    static QEvent::Type Type() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    static QEvent::Type VolumeType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    bool event(QEvent* e) override {
        if (e->type() == VolumeType()) {
            FollowVolume();
            return true;
        }
        if (e->type() != Type())
            return QObject::event(e);
        std::vector<TFailure> failures;
        {
            std::lock_guard lock(gFailureLock);
            failures.swap(gFailures);
        }
        for (const TFailure& failure : failures) {
            TPlaybackDevice* device = Find(failure.DeviceId);
            if (device == nullptr)
                continue; // closed meanwhile: nobody is left to tell
            gLatestText[failure.Code] = failure.Text;
            device->OutputFailed();
            if (QObject* target = device->NotifyTarget()) {
                TMciNotifyEvent notice(failure.DeviceId, nrFailure, failure.Code);
                QCoreApplication::sendEvent(target, &notice);
            }
        }
        return true;
    }

private:
    // One volume, wherever it was set: what the server has is what the devices report.
    static void FollowVolume() {
        const int32_t volume = gOutsideVolume.exchange(-1);
        if (volume < 0)
            return;
        gInitialVolume = volume;
        TOutputStream::Instance().FollowVolume(volume);
        for (auto& [id, device] : gDevices)
            device->FollowVolume(volume);
        const std::vector<QPointer<QObject>> watchers = gVolumeWatchers;
        for (const QPointer<QObject>& watcher : watchers) {
            TVolumeNoticeEvent notice(volume);
            if (watcher)
                QCoreApplication::sendEvent(watcher, &notice);
        }
    }
};

// Made on the GUI thread by the first Play, and never destroyed: other threads post to it.
TFailureRelay* Relay() {
    static auto* relay = new TFailureRelay();
    return relay;
}

} // namespace

QEvent::Type TVolumeNoticeEvent::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QEvent::Type TMciNotifyEvent::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

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

int32_t OpenDevice(const QString& fileName, uint16_t& deviceId, const TNeighbours& neighbours) {
    Relay();
    deviceId = 0;
    if (gDevices.size() >= 65535) {
        gLatestText[mseTooManyDevices] =
            QStringLiteral("Too many audio devices are open to play %1.")
                .arg(QuotedFileName(fileName));
        return mseTooManyDevices;
    }
    // The probe and the length scan run on a thread of their own, so a slow medium or a file
    // system that stopped answering holds that thread, not the window: the open waits for as
    // long as the file is being read, and fails once nothing was read for a while.
    auto job = std::make_shared<TOpenJob>();
    const BoundedWait::EResult waited = BoundedWait::Run("ondrix-open", [job, fileName, neighbours] {
        job->Decoder = OpenLevelled(fileName, neighbours, job->File, job->Failure);
    });
    if (waited != BoundedWait::EResult::Done) {
        gLatestText[mseCannotRead] =
            waited == BoundedWait::EResult::Stalled
                ? QStringLiteral("The file %1 does not answer: nothing could be read from it for "
                                 "%2 seconds.")
                      .arg(QuotedFileName(fileName))
                      .arg(std::chrono::duration_cast<std::chrono::seconds>(BoundedWait::kStall)
                               .count())
                : QStringLiteral("The file %1 was still being read when the player was told to "
                                 "quit.")
                      .arg(QuotedFileName(fileName));
        return mseCannotRead;
    }
    std::unique_ptr<IDecoder> decoder = std::move(job->Decoder);
    std::shared_ptr<TMediaFile> file = std::move(job->File);
    if (!decoder) {
        gLatestText[job->Failure.Code] = job->Failure.Text;
        return job->Failure.Code;
    }
    const uint16_t id = TakeDeviceId(gNextId, &IsOpen);
    gDevices.emplace(id, std::make_unique<TPlaybackDevice>(id, fileName, std::move(decoder),
                                                           std::move(file), gInitialVolume));
    deviceId = id;
    return mseNone;
}

int32_t CloseDevice(uint16_t deviceId) {
    const auto it = gDevices.find(deviceId);
    if (it == gDevices.end())
        return mseInvalidDevice;
    if (deviceId == gPrepared.For || deviceId == gPrepared.Id)
        DropPrepared();
    gDevices.erase(deviceId);
    return mseNone;
}

void PrepareDevice(uint16_t deviceId, const QString& fileName, const TNeighbours& neighbours) {
    if (!fileName.isEmpty() && gPrepared.For == deviceId && gPrepared.FileName == fileName)
        return; // prepared already
    // Told at once, so its decoder thread never takes its end for the stream's meanwhile:
    // nothing follows, or something that is being opened (its end waits for the answer).
    TPlaybackDevice* device = Find(deviceId);
    DropPreparedExcept(fileName.isEmpty() ? 0 : deviceId);
    if (device == nullptr)
        return;
    device->SetNext(nullptr, !fileName.isEmpty());
    if (fileName.isEmpty())
        return;
    const uint64_t generation = ++gPrepared.Generation;
    gPrepared.For = deviceId;
    gPrepared.FileName = fileName;
    auto job = std::make_shared<TOpenJob>();
    BoundedWait::Start(
        Relay(), "ondrix-open",
        [job, fileName, neighbours] {
            job->Decoder = OpenLevelled(fileName, neighbours, job->File, job->Failure);
        },
        [job, generation, fileName](BoundedWait::EResult result) {
            if (generation != gPrepared.Generation)
                return; // dropped meanwhile; the decoder goes with the job
            TPlaybackDevice* current = Find(gPrepared.For);
            if (current == nullptr)
                return;
            if (result != BoundedWait::EResult::Done || !job->Decoder) {
                // Not opened: the window's own Open will say why, when it gets there.
                current->SetNext(nullptr, false);
                gPrepared = {0, {}, 0, gPrepared.Generation};
                return;
            }
            const uint16_t id = TakeDeviceId(gNextId, &IsOpen);
            auto next = std::make_unique<TPlaybackDevice>(id, fileName, std::move(job->Decoder),
                                                          std::move(job->File), gInitialVolume);
            TPlaybackDevice* raw = next.get();
            // What follows it is decided once it is taken (a short track may be decoded to its
            // end before): its decoder thread waits at the end for that.
            raw->SetNext(nullptr, true);
            gDevices.emplace(id, std::move(next));
            gPrepared.Id = id;
            current->SetNext(raw, false);
        });
}

void DropPrepared() {
    DropPreparedExcept(0);
}


bool AdoptPrepared(uint16_t deviceId, const QString& fileName, uint16_t& adopted) {
    TPlaybackDevice* current = Find(deviceId);
    TPlaybackDevice* next = Find(gPrepared.Id);
    if (current == nullptr || next == nullptr || gPrepared.For != deviceId ||
        gPrepared.FileName != fileName)
        return false;
    // Only a next device that is heard already, this one having ended into it.
    current->State();
    if (current->Next() != next || next->State() != TPlaybackDevice::EState::Playing)
        return false;
    adopted = gPrepared.Id;
    gPrepared = {0, {}, 0, gPrepared.Generation + 1};
    current->SetNext(nullptr, false);
    gDevices.erase(deviceId); // it no longer plays, so nothing of the stream is dropped
    return true;
}

int32_t PlayDevice(uint16_t deviceId, QObject* notify) {
    TPlaybackDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    Relay();
    // One device plays at a time: one that played before stands paused where it was heard.
    for (auto& [id, other] : gDevices)
        if (id != deviceId && other->State() == TPlaybackDevice::EState::Playing)
            other->Pause();
    device->Play(notify);
    return mseNone;
}

int32_t PauseDevice(uint16_t deviceId) {
    TPlaybackDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    device->Pause();
    return mseNone;
}

int32_t ResumeDevice(uint16_t deviceId) {
    TPlaybackDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    if (device->State() != TPlaybackDevice::EState::Paused)
        return mseNotPaused;
    for (auto& [id, other] : gDevices)
        if (id != deviceId && other->State() == TPlaybackDevice::EState::Playing)
            other->Pause();
    device->Resume();
    return mseNone;
}

int32_t SeekToStart(uint16_t deviceId) {
    TPlaybackDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    device->Rewind();
    return mseNone;
}

int32_t SeekDevice(uint16_t deviceId, int32_t milliseconds) {
    TPlaybackDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    device->Seek(milliseconds);
    return mseNone;
}

int32_t StatusLength(uint16_t deviceId, int32_t& milliseconds) {
    TPlaybackDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    milliseconds = device->LengthMs();
    return mseNone;
}

int32_t StatusPosition(uint16_t deviceId, int32_t& milliseconds) {
    TPlaybackDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    milliseconds = device->PositionMs();
    return mseNone;
}

int32_t StatusMode(uint16_t deviceId, int32_t& mode) {
    TPlaybackDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    switch (device->State()) {
    case TPlaybackDevice::EState::Playing:
        mode = pmPlaying;
        break;
    case TPlaybackDevice::EState::Paused:
        mode = pmPaused;
        break;
    case TPlaybackDevice::EState::Stopped:
        mode = pmStopped;
        break;
    }
    return mseNone;
}

int32_t SetAudioVolume(uint16_t deviceId, int32_t volume) {
    TPlaybackDevice* device = Find(deviceId);
    if (device == nullptr)
        return mseInvalidDevice;
    device->SetVolume(volume);
    return mseNone;
}

int32_t StatusVolume(uint16_t deviceId, int32_t& volume) {
    TPlaybackDevice* device = Find(deviceId);
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
        text = AudioFormats::NotSupported({}) + QLatin1Char('.');
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
    case mseNoDecoder:
        text = QStringLiteral("The decoder for the file cannot be loaded.");
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
    TOutputStream::Instance().ReleaseIdle();
}

void SetNextDeviceId(uint16_t deviceId) {
    gNextId = deviceId == 0 ? 1 : deviceId;
}

void PostFailure(uint16_t deviceId, int32_t code, const QString& text) {
    {
        std::lock_guard lock(gFailureLock);
        gFailures.push_back({deviceId, code, text});
    }
    QCoreApplication::postEvent(Relay(), new QEvent(TFailureRelay::Type()));
}

void PostVolume(int32_t volume) {
    if (gOutsideVolume.exchange(std::clamp(volume, 0, 1000)) < 0)
        QCoreApplication::postEvent(Relay(), new QEvent(TFailureRelay::VolumeType()));
}

void WatchVolume(QObject* watcher) {
    Relay();
    std::erase_if(gVolumeWatchers, [](const QPointer<QObject>& w) { return w.isNull(); });
    gVolumeWatchers.emplace_back(watcher);
}

} // namespace MediaService
