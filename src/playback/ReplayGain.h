#pragma once

#include "playback/Decoder.h"

#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// What a file's tags say of its loudness (ReplayGain), and of the album it belongs to. Gains in
// dB on ReplayGain's reference, peaks as linear sample values (1.0 is full scale).
struct TReplayGain {
    std::optional<double> TrackGain;
    std::optional<double> TrackPeak;
    std::optional<double> AlbumGain;
    std::optional<double> AlbumPeak;
    QString Album;
    QString AlbumArtist;
};

// A gain as taggers write it: "-6.5 dB", "+1.20 dB", "-6.5"; a decimal comma is taken too.
// Nothing for anything else, or for more than ±64 dB, which no real file needs.
std::optional<double> ParseGain(std::string_view text);
// A peak: a number above 0 (a float file's may exceed 1.0).
std::optional<double> ParsePeak(std::string_view text);
// Opus's R128_TRACK_GAIN or R128_ALBUM_GAIN: a Q7.8 number of dB relative to -23 LUFS (on top
// of the header's output gain, which the decoder applies), given here on ReplayGain's reference,
// 5 dB louder.
std::optional<double> ParseR128Gain(std::string_view text);

// Both of one album: the same album name (not empty) and the same album artist.
bool SameAlbum(const TReplayGain& a, const TReplayGain& b);

// The factor the samples are multiplied by: the album gain where `album` and the file has one,
// else the track gain, and 1 without either; never more than 1 / the peak that goes with the
// gain taken (no peak counts as 1.0), so the gain does not make the file clip.
float GainFactor(const TReplayGain& tags, bool album);

// The file's tags: ID3v2 user texts (our reader) and an APE tag for MPEG files; Vorbis comments
// (FLAC, Ogg Vorbis, Opus), MP4 freeform items and ASF attributes through the module that reads
// other formats' tags. Never raises; empty where the file has none or cannot be read.
TReplayGain ReadReplayGain(const QString& fileName);

// The factor for `fileName` as the entries beside it in the list decide: its album gain while
// one of them (`before`, `after`; empty for none) is of the same album, its track gain otherwise.
// Reads the files; for the opening thread.
float ReplayGainFactor(const QString& fileName, const QString& before, const QString& after);

// `decoder` with its samples multiplied by `factor` (returned as it is for 1).
std::unique_ptr<IDecoder> WithGain(std::unique_ptr<IDecoder> decoder, float factor);
