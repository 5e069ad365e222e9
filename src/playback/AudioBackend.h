#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

// The boundary between the media service and the audio back end. The back end (decoder, ring
// buffer and SDL output) lives in a module, libondrix-audio.so, that the service loads on the
// first open: FFmpeg and SDL pull in about a hundred shared libraries, and loading them at
// start-up took most of the start-up time and memory. Both sides are built from the same tree by
// the same compiler, so C++ types cross the boundary; the module exports one C symbol.

// Why an open failed: one of the MediaService codes and a text that names the file.
struct TOpenFailure {
    int32_t Code = 0;
    QString Text;
};

// One open file, stopped at position 0 with its exact length known. Owned and driven by the
// media service on the GUI thread; every method runs there. The device's own threads (decoder,
// SDL's audio thread) are described in audio/AudioDevice.cpp. Destroying it stops playback and
// returns only when its threads are done.
class IAudioDevice {
public:
    enum class EState { Stopped, Playing, Paused };

    virtual ~IAudioDevice() = default;

    // Starts from the current position and returns at once (a playing device goes on).
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void Resume() = 0;
    // Stops and moves to position 0.
    virtual void SeekToStart() = 0;

    virtual int32_t LengthMs() const = 0;
    virtual int64_t LengthSamples() const = 0;
    virtual int32_t PositionMs() = 0;
    virtual EState State() = 0;

    // 0 (silent) to 1000 (full).
    virtual void SetVolume(int32_t volume) = 0;
    virtual int32_t Volume() const = 0;
};

// The module's entry points. GUI thread only.
class IAudioBackend {
public:
    // nullptr with the reason in failure when the file cannot be opened.
    virtual std::unique_ptr<IAudioDevice> Open(const QString& fileName, int32_t volume,
                                               TOpenFailure& failure) = 0;
    // Closes the audio output kept for reuse after the last device closed.
    virtual void ReleaseIdleOutput() = 0;

protected:
    ~IAudioBackend() = default; // lives as long as the process; never deleted through this
};

// Raised when the boundary changes, so a stale module is refused rather than misused.
inline constexpr int kAudioBackendVersion = 1;
inline constexpr char kAudioBackendFile[] = "libondrix-audio.so";
inline constexpr char kAudioBackendEntry[] = "OndrixAudioBackend";
// The entry: the back end, or nullptr when the module was built for another version.
using TAudioBackendEntry = IAudioBackend* (*)(int version);

namespace AudioBackend {

// The loaded back end; on the first call the module is loaded (see AudioBackend.cpp for where
// it is looked for). nullptr with the reason when it cannot be; the outcome is kept for the run.
IAudioBackend* Get(QString& error);
// The back end if it was loaded already, else nullptr; never loads it.
IAudioBackend* IfLoaded();

// Tests: the folders to look in instead of the usual ones (empty: the usual ones). Takes effect
// only while no back end is loaded, and lets a failed load be tried again.
void SetSearchDirs(const QStringList& dirs);

} // namespace AudioBackend
