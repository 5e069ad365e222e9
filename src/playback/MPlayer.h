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

// Device modes, in the order of the platform's mode constants.
enum TMPModes : int32_t {
    pmNotReady = 0,
    pmStopped = 1,
    pmPlaying = 2,
    pmRecording = 3,
    pmSeeking = 4,
    pmPaused = 5,
    pmOpen = 6,
};

// The playback object: one device at a time, addressed through the media service by DeviceId.
class TMediaPlayer : public QObject {
    Q_OBJECT
public:
    explicit TMediaPlayer(QObject* parent = nullptr);
    ~TMediaPlayer() override;

    void SetFileName(const QString& fileName);
    QString FileName() const;

    void Open();
    void Play();
    void Pause();
    int32_t Length();
    int32_t Position();
    uint16_t DeviceId() const;
    int32_t ErrorCode() const;

    void Close();
    void Rewind();
    void Resume();
    TMPModes Mode();
    QString ErrorText() const;

private:
    void RequireOpen() const;

    QString mFileName;
    bool mIsOpen = false;
    uint16_t mDeviceId = 0;
    int32_t mErrorCode = 0;
};
