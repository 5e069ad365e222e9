#pragma once

#include "playback/ChannelLayout.h"

#include <QString>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// The program's one output stream talks to the sound system through a sink: the sound server
// (a module, libondrix-pulse.so), SDL where no server runs (libondrix-sdl.so), or our own null
// and file outputs for tests. This header is the boundary with the modules.

// The stream's format: interleaved 32-bit float frames at a rate, in a layout.
struct TOutputFormat {
    int Rate = 0;
    int Channels = 0;
    TLayout Layout; // Channels entries; the default order when the sink names none
};

// What a sink plays, served by the output stream. Called on the sink's own thread while the
// sink holds its exclusion (see IOutputSink::Exclusive); never blocks.
class IFrameSource {
public:
    // Copies up to `frames` frames of the playing device into `out` (interleaved 32-bit float,
    // the sink's format) and returns how many; fewer when the decoder is behind or nothing plays.
    virtual size_t Pull(float* out, size_t frames) = 0;
    // Non-zero once everything of the playing device has been pulled: the sink calls Finished
    // with it when all it pulled has been heard. Returned once per device stretch.
    virtual uint64_t EndToken() = 0;
    virtual void Finished(uint64_t token) = 0;
    // The sink can no longer play: the server went away, or the default output changed. Any
    // thread; never blocks.
    virtual void SinkLost(bool serverGone) = 0;
    // The sound server's volume of the stream was changed from outside the program (the
    // desktop's mixer, or the server restoring one it stored): what is heard now, 0..1000. The
    // sink's thread; never blocks.
    virtual void VolumeChanged(int32_t volume) = 0;

protected:
    ~IFrameSource() = default;
};

// One opened connection to the sound system. Open and Close run on the output stream's manager
// thread and may block; every other method may be called from any thread and returns quickly.
class IOutputSink {
public:
    virtual ~IOutputSink() = default;

    // Opens in `format` where it is given (tests; a rate of 0 leaves the choice to the sink) and
    // the sink lets the caller choose, else in the format the sound system prefers (its rate and
    // channel map); `format` is set to what was opened, its layout filled in. Starts corked,
    // with nothing to play.
    virtual bool Open(IFrameSource* source, TOutputFormat& format, QString& reason) = 0;
    virtual void Close() = 0;

    // Runs `fn` while the sink's thread is not inside the source.
    virtual void Exclusive(const std::function<void()>& fn) = 0;
    // Corked: nothing plays and nothing is pulled; what is queued stays.
    virtual void SetCorked(bool corked) = 0;
    // Drops what is queued and not yet heard.
    virtual void Flush() = 0;
    // 0 (silent) to 1000 (full), heard at once; also when the sink had it before a change from
    // outside.
    virtual void SetVolume(int32_t volume) = 0;
    // Frames heard since the sink opened, on the time line of the frames pulled; the last value
    // known when the sink cannot tell any more (its server gone).
    virtual int64_t PlayedFrames() = 0;
    // More frames can be pulled now (the decoder thread caught up).
    virtual void Wake() = 0;
};

// The output modules' entry.
class IOutputModule {
public:
    virtual std::unique_ptr<IOutputSink> CreateSink() = 0;

protected:
    ~IOutputModule() = default; // lives as long as the process
};

inline constexpr int kOutputModuleVersion = 3;
inline constexpr char kPulseModuleFile[] = "libondrix-pulse.so";
inline constexpr char kSdlModuleFile[] = "libondrix-sdl.so";
inline constexpr char kOutputModuleEntry[] = "OndrixOutputModule";

// 0 is silence; 1..1000 spread over 60 dB, so equal slider steps sound like equal steps; 1000 is
// the signal unchanged. As an amplitude factor.
inline double VolumeGain(int32_t volume) {
    if (volume <= 0)
        return 0.0;
    if (volume >= 1000)
        return 1.0;
    return std::pow(10.0, 3.0 * (volume - 1000) / 1000.0);
}

// The volume whose gain is nearest to `gain`: the inverse of VolumeGain for a volume another
// program set. Any sound at all is at least 1, more than the signal unchanged is 1000.
inline int32_t VolumeOfGain(double gain) {
    if (!(gain > 0.0))
        return 0;
    const double volume = 1000.0 + 1000.0 / 3.0 * std::log10(gain);
    return static_cast<int32_t>(std::clamp(std::round(volume), 1.0, 1000.0));
}

// Applies a volume's gain to interleaved samples, as the software outputs do.
inline void ApplyGain(float* samples, size_t count, int32_t volume) {
    if (volume >= 1000)
        return;
    const auto gain = static_cast<float>(VolumeGain(volume));
    for (size_t i = 0; i < count; ++i)
        samples[i] *= gain;
}

// 16 bits for an output that takes nothing else, with triangular dither of one step, so the
// low bits of a 24-bit or quiet signal are heard as a signal in noise, not as distortion.
// `state` is the caller's own generator state.
inline void ToS16Dithered(const float* in, int16_t* out, size_t count, uint32_t& state) {
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) * (1.0f / 16777216.0f);
    };
    for (size_t i = 0; i < count; ++i) {
        const float dither = next() - next();
        const long v = std::lrint(in[i] * 32767.0f + dither);
        out[i] = static_cast<int16_t>(std::clamp<long>(v, -32768, 32767));
    }
}
