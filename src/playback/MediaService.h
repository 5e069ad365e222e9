#pragma once

#include <QEvent>
#include <QString>
#include <cstddef>
#include <cstdint>

class QObject;

// The media service behind TMediaPlayer and the volume routines: a table of open devices
// addressed by non-zero 16-bit ids, and the program's one output stream they play through.
// Every command returns 0 or one of the codes below, never throws, and returns at once (no
// command waits for the sound system or for a decoder thread); a command to id 0 or to an id
// that is not open fails with mseInvalidDevice. GUI thread only, except PostFailure and
// PostVolume.
namespace MediaService {

enum : int32_t {
    mseNone = 0,
    mseInvalidDevice = 257,
    mseNoFileName = 258,
    mseFileNotFound = 259,
    mseNotAFile = 260,
    mseCannotRead = 261,
    mseUnsupportedFile = 262,
    mseNoAudio = 263,
    mseDecoderFailed = 264,
    mseNoOutput = 265,
    mseOutOfMemory = 266,
    mseTooManyDevices = 267,
    mseNotPaused = 268,
    mseNoDecoder = 269,
};

// The entries beside a file in the list (empty: none). Where one of them is of the file's album,
// its album gain levels it, otherwise its track gain (ReplayGain).
struct TNeighbours {
    QString Before;
    QString After;
};

// Opens a device for fileName, stopped at position 0 with its exact length known, its samples
// levelled by the ReplayGain its tags carry (`neighbours` choose between album and track gain). The file is
// read (probe and length) on a thread of its own while the caller waits in a local event loop
// (core/BoundedWait.h); an open whose reads make no progress for 3 s (a file system that stopped
// answering) fails with mseCannotRead. Never touches the output.
int32_t OpenDevice(const QString& fileName, uint16_t& deviceId, const TNeighbours& neighbours = {});
// Stops the device and frees it; its decoder thread ends by itself. A device prepared to follow
// it, or one it was prepared to follow, is dropped.
int32_t CloseDevice(uint16_t deviceId);

// Opens fileName in the background as the device that follows deviceId: its first frame is
// queued right behind deviceId's last, in the same stream, so nothing is lost or added at the
// join. One at a time: what was prepared before is dropped. A file that cannot be opened is
// only not prepared (the open that would adopt it says why).
void PrepareDevice(uint16_t deviceId, const QString& fileName, const TNeighbours& neighbours = {});
// What was prepared is closed, and nothing of it is heard.
void DropPrepared();
// Where deviceId has ended into the device prepared for fileName, which is heard already:
// deviceId is closed and the prepared one takes its place (`adopted`). False otherwise, with
// nothing changed.
bool AdoptPrepared(uint16_t deviceId, const QString& fileName, uint16_t& adopted);
// Starts from the current position and returns at once (a playing device goes on). A device
// that played meanwhile is paused: the output plays one device at a time. When no output can
// play it, the device stops and `notify` receives a TMciNotifyEvent with nrFailure.
int32_t PlayDevice(uint16_t deviceId, QObject* notify = nullptr);
int32_t PauseDevice(uint16_t deviceId);
int32_t ResumeDevice(uint16_t deviceId);
// Stops and moves to position 0.
int32_t SeekToStart(uint16_t deviceId);
// Moves to `milliseconds` (clamped to 0..Length), keeping the mode: a playing device goes on
// from there, a paused or stopped one stands there.
int32_t SeekDevice(uint16_t deviceId, int32_t milliseconds);

int32_t StatusLength(uint16_t deviceId, int32_t& milliseconds);
int32_t StatusPosition(uint16_t deviceId, int32_t& milliseconds);
// One of the TMPModes values.
int32_t StatusMode(uint16_t deviceId, int32_t& mode);

// Volume 0 (silent) to 1000 (full); values outside are clamped.
int32_t SetAudioVolume(uint16_t deviceId, int32_t volume);
int32_t StatusVolume(uint16_t deviceId, int32_t& volume);
// The volume a device starts with when it is opened.
void SetInitialVolume(int32_t volume);
int32_t InitialVolume();

// The text for a code: for a failed open, the latest failure's own text naming the file.
// False for a code the service does not know.
bool ErrorString(int32_t code, QString& text);
// The same, with "Unknown error code" for a code the service does not know.
QString ErrorText(int32_t code);

size_t OpenDeviceCount();

// Closes the output stream now if nothing plays, and returns when it is closed (tests that
// switch outputs between runs).
void ReleaseIdleOutput();

// The id an open takes: `next` onwards, wrapping past 0 and skipping ids for which isOpen is
// true; 0 when every id is taken. Advances `next` past the id returned.
uint16_t TakeDeviceId(uint16_t& next, bool (*isOpen)(uint16_t));

// The id the next open tries first (tests reach the 16-bit wrap without 65535 opens).
void SetNextDeviceId(uint16_t deviceId);

// Any thread: the device failed to play; the GUI thread stops it and notifies its player.
void PostFailure(uint16_t deviceId, int32_t code, const QString& text);

// Any thread: the output's volume was changed from outside the program (the desktop's mixer,
// or the sound server restoring a volume it stored). On the GUI thread every open device and
// the next one take it, and every watcher receives a TVolumeNoticeEvent.
void PostVolume(int32_t volume);
// `watcher` hears of such changes until it is destroyed.
void WatchVolume(QObject* watcher);

// The completion notice sent to the object a Play named.
class TMciNotifyEvent : public QEvent {
public:
    static QEvent::Type EventType();
    TMciNotifyEvent(uint16_t deviceId, int32_t result, int32_t code)
        : QEvent(EventType()), DeviceId(deviceId), Result(result), Code(code) {}
    const uint16_t DeviceId;
    const int32_t Result; // nrSuccessful, nrSuperseded, nrAborted or nrFailure
    const int32_t Code;   // the error code of a failure
};

// The output's volume as the sound server now has it, changed from outside the program.
class TVolumeNoticeEvent : public QEvent {
public:
    static QEvent::Type EventType();
    explicit TVolumeNoticeEvent(int32_t volume) : QEvent(EventType()), Volume(volume) {}
    const int32_t Volume; // 0..1000
};

} // namespace MediaService
