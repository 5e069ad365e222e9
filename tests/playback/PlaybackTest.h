#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <QDir>
#include <QProcess>
#include <QString>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

// The folder the fixture step wrote into (ctest passes it in ONDRIX_FIXTURES).
inline QString Fixture(const QString& name) {
    const char* dir = std::getenv("ONDRIX_FIXTURES");
    return QDir(QString::fromLocal8Bit(dir ? dir : "fixtures")).filePath(name);
}

// The whole file decoded by a reference decoder, as interleaved 32-bit float samples at the
// file's own rate and channel count: the reference for lengths and for the exact output. MP3 by
// the mpg123 command (the player decodes MP3 with its library, and decoders of MP3 differ in the
// last bit), everything else by the ffmpeg command.
inline std::vector<float> DecodeWithReference(const QString& path) {
    QProcess decoder;
    if (path.endsWith(QStringLiteral(".mp3"), Qt::CaseInsensitive))
        decoder.start(QStringLiteral("mpg123"), {QStringLiteral("-q"), QStringLiteral("-e"),
                                                 QStringLiteral("f32"), QStringLiteral("-s"), path});
    else
        decoder.start(QStringLiteral("ffmpeg"),
                      {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                       QStringLiteral("-i"), path, QStringLiteral("-f"), QStringLiteral("f32le"),
                       QStringLiteral("-")});
    decoder.waitForFinished(60000);
    const QByteArray raw = decoder.readAllStandardOutput();
    std::vector<float> samples(static_cast<size_t>(raw.size()) / sizeof(float));
    std::memcpy(samples.data(), raw.constData(), samples.size() * sizeof(float));
    return samples;
}

// Milliseconds of a sample count as the player rounds them.
inline int32_t RoundedMs(int64_t frames, int rate) {
    return static_cast<int32_t>((frames * 1000 + rate / 2) / rate);
}

// Polls, with the event loop running as the program's would (the next track is prepared
// through it).
inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
