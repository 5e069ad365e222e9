#pragma once

#include "PlaybackTest.h"

#include "playback/MediaService.h"

#include <QFile>
#include <cmath>
#include <gtest/gtest.h>

// The file output writes everything the output stream plays, silence included, in real time to
// a raw file of 32-bit floats in the format given, from the next time the output opens.
inline void UseFileOutput(const QString& file, int rate = 44100, int channels = 2) {
    MediaService::ReleaseIdleOutput();
    qputenv("ONDRIX_AUDIO_OUTPUT", "file:" + QFile::encodeName(file));
    qputenv("ONDRIX_AUDIO_FORMAT", QByteArray::number(rate) + ':' + QByteArray::number(channels));
}

inline std::vector<float> ReadSamples(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray raw = f.readAll();
    std::vector<float> samples(static_cast<size_t>(raw.size()) / sizeof(float));
    std::memcpy(samples.data(), raw.constData(), samples.size() * sizeof(float));
    return samples;
}

// Checks that `output` from `at` on holds silence, then exactly `expected` (each sample within
// `tolerance`), and moves `at` to the end of it. The expected sound is found by its first
// non-zero sample.
inline ::testing::AssertionResult NextIsExactly(const std::vector<float>& output, size_t& at,
                                                const std::vector<float>& expected, int channels,
                                                float tolerance = 0.0f) {
    size_t firstExpected = 0;
    while (firstExpected < expected.size() && expected[firstExpected] == 0)
        ++firstExpected;
    size_t firstOutput = at;
    while (firstOutput < output.size() && output[firstOutput] == 0)
        ++firstOutput;
    if (firstExpected == expected.size())
        return ::testing::AssertionFailure() << "the expected sound is all silence";
    if (firstOutput == output.size())
        return ::testing::AssertionFailure() << "only silence from sample " << at;
    if (firstOutput < at + firstExpected)
        return ::testing::AssertionFailure() << "sound starts too early, at sample " << firstOutput;
    const size_t start = firstOutput - firstExpected;
    if (start % static_cast<size_t>(channels) != 0)
        return ::testing::AssertionFailure() << "channels are shifted";
    if (start + expected.size() > output.size())
        return ::testing::AssertionFailure()
               << "cut short: " << output.size() - start << " of " << expected.size() << " samples";
    for (size_t i = 0; i < expected.size(); ++i)
        if (std::abs(output[start + i] - expected[i]) > tolerance)
            return ::testing::AssertionFailure()
                   << "sample " << i << " of " << expected.size() << " is " << output[start + i]
                   << ", expected " << expected[i];
    at = start + expected.size();
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult RestIsSilent(const std::vector<float>& output, size_t at) {
    for (size_t i = at; i < output.size(); ++i)
        if (output[i] != 0)
            return ::testing::AssertionFailure()
                   << "sound after the end, " << i - at << " samples after it";
    return ::testing::AssertionSuccess();
}

// The steady tones of a stereo recording's left channel, from 50 ms blocks (`block` frames):
// blocks of one pitch (within `sameHz`) a block apart at most are one run; blocks quieter than
// `minPeak` or below 100 Hz are no tone; runs shorter than four blocks (a block across a change
// of tone has a pitch of its own) are dropped.
struct TToneRun {
    size_t First, Last; // frames
    double Hz;
};
inline std::vector<TToneRun> ToneRuns(const std::vector<float>& output, size_t block,
                                      float minPeak, double sameHz) {
    std::vector<TToneRun> runs;
    const size_t frames = output.size() / 2;
    for (size_t b = 0; b + block <= frames; b += block) {
        size_t crossings = 0;
        float peak = 0;
        for (size_t f = b + 1; f < b + block; ++f) {
            crossings += output[2 * (f - 1)] < 0 && output[2 * f] >= 0;
            peak = std::max(peak, std::abs(output[2 * f]));
        }
        const double hz = static_cast<double>(crossings) * 20;
        if (peak < minPeak || hz < 100)
            continue;
        if (!runs.empty() && runs.back().Last + block >= b && std::abs(runs.back().Hz - hz) < sameHz)
            runs.back().Last = b + block;
        else
            runs.push_back({b, b + block, hz});
    }
    std::erase_if(runs, [&](const TToneRun& run) { return run.Last - run.First < 4 * block; });
    return runs;
}
