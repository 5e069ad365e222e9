#pragma once

#include "playback/ChannelLayout.h"
#include "playback/MediaFile.h"

#include <QDir>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Why an open failed: one of the MediaService codes and a text that names the file.
struct TOpenFailure {
    int32_t Code = 0;
    QString Text;
};

// A run of a stream's frames at one rate: from frame First to the next part's First (or the end).
struct TRatePart {
    int64_t First = 0;
    int Rate = 0;
};

// One format's decoder over an open file: its exact length, rates and channel layout are known
// once it is open. Used by one thread at a time: the opening thread, then the device's decoder
// thread. A new format is one more class behind this interface and one more probe in Decoder.cpp.
class IDecoder {
public:
    virtual ~IDecoder() = default;

    // The rate of the frames the last Read gave (before the first, of the first frames). A
    // stream whose rate changes part-way gives the frames of one rate at a time: Read stops at
    // the change.
    virtual int Rate() const = 0;
    // Every part of the stream at one rate, in order from frame 0, known once open (so its
    // length and positions are known in time). A stream of one rate is one part.
    virtual std::vector<TRatePart> RateParts() const { return {{0, Rate()}}; }
    // Where each channel of the frames the last Read gave (before the first, of the first
    // frames) is meant to sound. A stream whose layout changes part-way gives the frames of one
    // layout at a time: Read stops at the change.
    virtual const TLayout& Layout() const = 0;
    int Channels() const { return static_cast<int>(Layout().size()); }
    // The most channels a Read may give: its buffer holds frames × MaxChannels floats.
    virtual int MaxChannels() const { return Channels(); }
    // Exact: the frames that Read gives from frame 0 to the end.
    virtual int64_t LengthFrames() const = 0;
    // Up to `frames` interleaved 32-bit float frames, full scale at ±1; 0 at the end (or where
    // the rest cannot be read). Never more than LengthFrames in all.
    virtual size_t Read(float* out, size_t frames) = 0;
    // The next Read starts at `frame` (0..LengthFrames); false when the file cannot be read there.
    virtual bool Seek(int64_t frame) = 0;
};

// Opens the decoder the file's content calls for (WAV and MP3 here, FLAC, Ogg Vorbis and Opus
// through the Xiph module, WMA and MP4 through the FFmpeg module)
// and measures its exact length; `file` is the file it reads. nullptr with the reason when the
// file cannot be played.
std::unique_ptr<IDecoder> OpenDecoder(const QString& fileName, std::shared_ptr<TMediaFile>& file,
                                      TOpenFailure& failure);

// Whether the file holds one of the formats OpenDecoder plays, told from its content as
// OpenDecoder tells it (the MP3 frames found the same way), without opening a decoder or loading
// a module: for reading folders, whose other files (covers, text, lists) are left out.
bool IsPlayableFile(const QString& fileName);

// Records why an open failed; nullptr, so that an opener can return it. Inline, as below.
inline std::unique_ptr<IDecoder> Failed(TOpenFailure& failure, int32_t code, const QString& text) {
    failure.Code = code;
    failure.Text = text;
    return nullptr;
}

// "x" with native separators, as every error text names a file. Inline: the modules use it too.
inline QString QuotedFileName(const QString& fileName) {
    return QLatin1Char('"') + QDir::toNativeSeparators(fileName) + QLatin1Char('"');
}

// The text for a file in which its decoder finds no samples; `name` as QuotedFileName gives it.
inline QString NoAudioText(const QString& name) {
    return QStringLiteral("The file %1 contains no audio that can be played.").arg(name);
}

// The decoder modules' entry: their libraries are loaded only when a file needs them.
class IDecoderModule {
public:
    virtual std::unique_ptr<IDecoder> Open(std::shared_ptr<IByteReader> file,
                                           const QString& fileName, TOpenFailure& failure) = 0;

protected:
    ~IDecoderModule() = default; // lives as long as the process
};

// Raised when the boundary changes, so a stale module is refused rather than misused.
inline constexpr int kDecoderModuleVersion = 3;
inline constexpr char kFfmpegModuleFile[] = "libondrix-ffmpeg.so";
inline constexpr char kXiphModuleFile[] = "libondrix-xiph.so";
inline constexpr char kDecoderModuleEntry[] = "OndrixDecoderModule";
using TDecoderModuleEntry = IDecoderModule* (*)(int version);
