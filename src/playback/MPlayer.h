#pragma once

#include "core/Errors.h"

#include <QObject>
#include <QString>
#include <cstdint>

// Raised by a failed Open (the device layer's text) and by commands that need an open device.
class EMCIDeviceError : public Exception {
public:
    using Exception::Exception;
};

// Device modes, with the values of the platform's mode constants. Recording (3), seeking (4)
// and an open door (6) are never a mode of these devices.
enum TMPModes : int32_t {
    pmNotReady = 0,
    pmStopped = 1,
    pmPlaying = 2,
    pmPaused = 5,
};

// Kinds of completion notice, in the order of the platform's notice codes.
enum TMPNotifyValues : int32_t {
    nrSuccessful = 0,
    nrSuperseded = 1,
    nrAborted = 2,
    nrFailure = 3,
};

// The playback object: one device at a time, addressed through the media service by DeviceId.
// Play returns at once; when no audio output can play the device afterwards, the failure
// arrives as a completion notice, and the player raises it from that event as EMCIDeviceError
// with the output's reason, once per Play.
class TMediaPlayer : public QObject {
    Q_OBJECT
public:
    explicit TMediaPlayer(QObject* parent = nullptr);
    ~TMediaPlayer() override;

    void SetFileName(const QString& fileName);
    QString FileName() const;
    // The entries beside FileName in the list (empty: none), for the next Open: while one of
    // them is of the same album, the album's ReplayGain levels it rather than the track's.
    void SetNeighbours(const QString& before, const QString& after);

    // Opens FileName stopped at its start; where the file prepared to follow the open one is
    // FileName and is heard already (the open one ended into it), it is taken as it plays.
    void Open();
    // The file that will follow the open one: opened in the background and queued behind its
    // last frame, so the next Open and Play of it leave no gap, levelled as `before` and `after`
    // (the entries beside it) decide. Empty: none.
    void Prepare(const QString& fileName, const QString& before = {}, const QString& after = {});
    // What was prepared is dropped, and nothing of it is heard.
    void DropPrepared();
    void Play();
    void Pause();
    int32_t Length();
    int32_t Position();
    uint16_t DeviceId() const;
    int32_t ErrorCode() const;

    // To `milliseconds`, clamped to 0..Length, keeping the mode: playing goes on from there,
    // paused or stopped stands there.
    void Seek(int32_t milliseconds);

    void Close();
    void Rewind();
    void Resume();
    TMPModes Mode();
    QString ErrorText() const;
    TMPNotifyValues NotifyResult() const;

signals:
    // The output's volume was changed from outside the program (the desktop's mixer, or the
    // sound server restoring a volume it stored): what is heard now, 0..1000, which GetVolume
    // already reads.
    void VolumeChanged(int32_t volume);

protected:
    bool event(QEvent* e) override;

private:
    void RequireOpen() const;

    QString mFileName;
    QString mBefore;
    QString mAfter;
    bool mIsOpen = false;
    uint16_t mDeviceId = 0;
    int32_t mErrorCode = 0;
    TMPNotifyValues mNotifyResult = nrSuccessful;
};
