#include "playback/PacedSink.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

// A file output writes often so tests see a fine-grained time line; the null output wakes
// rarely.
constexpr auto kFilePeriod = 20ms;
constexpr auto kNullPeriod = 100ms;
// After a stall (a loaded machine) no more than this is made up at once.
constexpr auto kMostAtOnce = 500ms;

} // namespace

TPacedSink::TPacedSink(QString fileName) : mFileName(std::move(fileName)) {}

TPacedSink::~TPacedSink() {
    Close();
}

bool TPacedSink::Open(IFrameSource* source, TOutputFormat& format, QString& reason) {
    if (format.Rate == 0 && format.Channels == 0)
        format = {44100, 2, DefaultLayout(2)};
    if (format.Rate < 1000 || format.Channels <= 0 || format.Channels > 8) {
        reason = QStringLiteral("the output format %1 Hz, %2 channels cannot be played")
                     .arg(format.Rate)
                     .arg(format.Channels);
        return false;
    }
    if (!mFileName.isEmpty()) {
        // Appended to: an output closed while idle and opened again goes on in the same file.
        mFd = ::open(QFile::encodeName(mFileName).constData(),
                     O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (mFd < 0) {
            reason = QStringLiteral("cannot write the output file %1: %2")
                         .arg(mFileName, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    mFormat = format;
    mSource = source;
    mThread = std::thread([this] { Run(); });
    return true;
}

void TPacedSink::Close() {
    {
        std::lock_guard lock(mStopLock);
        mStop = true;
    }
    mStopWake.notify_all();
    if (mThread.joinable())
        mThread.join();
    if (mFd >= 0)
        ::close(mFd);
    mFd = -1;
}

void TPacedSink::Exclusive(const std::function<void()>& fn) {
    std::lock_guard lock(mPullLock);
    fn();
}

void TPacedSink::Run() {
    const auto period = mFd >= 0 ? kFilePeriod : kNullPeriod;
    const auto channels = static_cast<size_t>(mFormat.Channels);
    std::vector<float> buffer;
    auto last = std::chrono::steady_clock::now();
    for (;;) {
        {
            std::unique_lock lock(mStopLock);
            if (mStopWake.wait_until(lock, last + period, [this] { return mStop; }))
                return;
        }
        const auto now = std::chrono::steady_clock::now();
        const auto elapsed = std::min<std::chrono::steady_clock::duration>(now - last, kMostAtOnce);
        last = now;
        const auto frames =
            static_cast<size_t>(std::chrono::duration<double>(elapsed).count() * mFormat.Rate);
        buffer.assign(frames * channels, 0);
        std::lock_guard lock(mPullLock);
        size_t got = 0;
        if (!mCorked.load())
            got = mSource->Pull(buffer.data(), frames);
        ApplyGain(buffer.data(), got * channels, mVolume.load());
        if (mFd >= 0) {
            const auto* bytes = reinterpret_cast<const char*>(buffer.data());
            size_t left = buffer.size() * sizeof(float);
            while (left > 0) {
                const ssize_t n = ::write(mFd, bytes, left);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break; // a full disk loses the test's recording, not the playback
                bytes += n;
                left -= static_cast<size_t>(n);
            }
        }
        mPlayed.fetch_add(static_cast<int64_t>(got));
        if (const uint64_t token = mSource->EndToken())
            mSource->Finished(token);
    }
}
