#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

// The media service behind TMediaPlayer and the volume routines: a table of open audio devices
// addressed by non-zero 16-bit ids. Every command returns 0 or one of the codes below and never
// throws; a command to id 0 or to an id that is not open fails with mseInvalidDevice.
// GUI thread only: the table itself is not locked.
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
};

// Opens a device for fileName, stopped at position 0 with its exact length known.
int32_t OpenDevice(const QString& fileName, uint16_t& deviceId);
// Stops the decoder and the audio output and frees everything; returns when that is done.
int32_t CloseDevice(uint16_t deviceId);
// Starts from the current position and returns at once (a playing device goes on).
int32_t PlayDevice(uint16_t deviceId);
int32_t PauseDevice(uint16_t deviceId);
int32_t ResumeDevice(uint16_t deviceId);
// Stops and moves to position 0.
int32_t SeekToStart(uint16_t deviceId);

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

// Closes the audio output kept for reuse after the last device closed (see TAudioOutput).
void ReleaseIdleOutput();

// The id an open takes: `next` onwards, wrapping past 0 and skipping ids for which isOpen is
// true; 0 when every id is taken. Advances `next` past the id returned.
uint16_t TakeDeviceId(uint16_t& next, bool (*isOpen)(uint16_t));

// The id the next open tries first (tests reach the 16-bit wrap without 65535 opens).
void SetNextDeviceId(uint16_t deviceId);

} // namespace MediaService
