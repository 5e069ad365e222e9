#include "playback/MPlayer.h"

#include "playback/MediaService.h"

TMediaPlayer::TMediaPlayer(QObject* parent) : QObject(parent) {
    MediaService::WatchVolume(this);
}

TMediaPlayer::~TMediaPlayer() {
    if (mDeviceId != 0)
        MediaService::CloseDevice(mDeviceId); // nothing may escape a destructor
}

void TMediaPlayer::SetFileName(const QString& fileName) {
    mFileName = fileName;
}

QString TMediaPlayer::FileName() const {
    return mFileName;
}

void TMediaPlayer::SetNeighbours(const QString& before, const QString& after) {
    mBefore = before;
    mAfter = after;
}

void TMediaPlayer::RequireOpen() const {
    if (!mIsOpen)
        throw EMCIDeviceError(QStringLiteral("No MCI device open"));
}

void TMediaPlayer::Open() {
    uint16_t adopted = 0;
    if (mIsOpen && MediaService::AdoptPrepared(mDeviceId, mFileName, adopted)) {
        mDeviceId = adopted;
        mErrorCode = 0;
        Length();
        Mode();
        return;
    }
    if (mIsOpen)
        Close();
    uint16_t id = 0;
    mErrorCode = MediaService::OpenDevice(mFileName, id, {mBefore, mAfter});
    if (mErrorCode != 0)
        throw EMCIDeviceError(ErrorText());
    mIsOpen = true;
    mDeviceId = id;
    // As the platform player does: after the open, ErrorCode holds the closing mode query.
    Length();
    Mode();
}

void TMediaPlayer::Prepare(const QString& fileName, const QString& before, const QString& after) {
    if (mIsOpen)
        MediaService::PrepareDevice(mDeviceId, fileName, {before, after});
}

void TMediaPlayer::DropPrepared() {
    MediaService::DropPrepared();
}

void TMediaPlayer::Close() {
    if (mDeviceId == 0)
        return;
    mErrorCode = MediaService::CloseDevice(mDeviceId);
    if (mErrorCode == 0) {
        mIsOpen = false;
        mDeviceId = 0;
    }
}

void TMediaPlayer::Play() {
    RequireOpen();
    if (Position() == Length())
        Rewind();
    mErrorCode = MediaService::PlayDevice(mDeviceId, this);
}

void TMediaPlayer::Seek(int32_t milliseconds) {
    RequireOpen();
    mErrorCode = MediaService::SeekDevice(mDeviceId, milliseconds);
}

void TMediaPlayer::Pause() {
    RequireOpen();
    if (Mode() == pmPlaying)
        mErrorCode = MediaService::PauseDevice(mDeviceId);
    else if (Mode() == pmPaused)
        Resume();
}

void TMediaPlayer::Resume() {
    mErrorCode = MediaService::ResumeDevice(mDeviceId);
    if (mErrorCode != 0)
        Play();
}

void TMediaPlayer::Rewind() {
    MediaService::SeekToStart(mDeviceId);
}

int32_t TMediaPlayer::Length() {
    RequireOpen();
    int32_t value = 0;
    mErrorCode = MediaService::StatusLength(mDeviceId, value);
    return value;
}

int32_t TMediaPlayer::Position() {
    int32_t value = 0;
    mErrorCode = MediaService::StatusPosition(mDeviceId, value);
    return value;
}

TMPModes TMediaPlayer::Mode() {
    int32_t value = pmNotReady;
    mErrorCode = MediaService::StatusMode(mDeviceId, value);
    return static_cast<TMPModes>(value);
}

uint16_t TMediaPlayer::DeviceId() const {
    return mDeviceId;
}

int32_t TMediaPlayer::ErrorCode() const {
    return mErrorCode;
}

QString TMediaPlayer::ErrorText() const {
    return MediaService::ErrorText(mErrorCode);
}

TMPNotifyValues TMediaPlayer::NotifyResult() const {
    return mNotifyResult;
}

bool TMediaPlayer::event(QEvent* e) {
    if (e->type() == MediaService::TVolumeNoticeEvent::EventType()) {
        emit VolumeChanged(static_cast<MediaService::TVolumeNoticeEvent*>(e)->Volume);
        return true;
    }
    if (e->type() != MediaService::TMciNotifyEvent::EventType())
        return QObject::event(e);
    const auto* notice = static_cast<MediaService::TMciNotifyEvent*>(e);
    if (notice->DeviceId != mDeviceId)
        return true; // about a device this player has closed since
    mNotifyResult = static_cast<TMPNotifyValues>(notice->Result);
    if (mNotifyResult != nrFailure)
        return true;
    // Play returned long ago; the failure is raised here, where the application's error box
    // shows what escapes an event.
    mErrorCode = notice->Code;
    throw EMCIDeviceError(ErrorText());
}
