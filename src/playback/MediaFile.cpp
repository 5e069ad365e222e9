#include "playback/MediaFile.h"

#include "core/FileNames.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex gHookLock;
std::shared_ptr<const TMediaFile::TReadHook> gHook;

std::shared_ptr<const TMediaFile::TReadHook> Hook() {
    std::lock_guard lock(gHookLock);
    return gHook;
}

} // namespace

TMediaFile::TMediaFile(int fd, int64_t size, std::string path)
    : mFd(fd), mSize(size), mPath(std::move(path)) {}

std::unique_ptr<TMediaFile> TMediaFile::Open(const QString& fileName) {
    // byte for byte, also a name that is not valid UTF-8
    const QByteArray path = EncodeFileName(fileName);
    // O_NONBLOCK: a FIFO or device must not hang the open; only regular files are taken.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = err;
        return nullptr;
    }
    return std::unique_ptr<TMediaFile>(
        new TMediaFile(fd, static_cast<int64_t>(st.st_size), path.toStdString()));
}

TMediaFile::~TMediaFile() {
    if (mFd >= 0)
        ::close(mFd);
}

int64_t TMediaFile::ReadAt(int64_t offset, void* buffer, size_t size) {
    if (const auto hook = Hook())
        (*hook)(mPath, size);
    for (;;) {
        const ssize_t got = ::pread(mFd, buffer, size, static_cast<off_t>(offset));
        if (got >= 0)
            return got;
        if (errno != EINTR)
            return -1;
    }
}

bool TMediaFile::Abandoned() const {
    return mAbandoned.load(std::memory_order_relaxed);
}

void TMediaFile::Abandon() {
    mAbandoned.store(true, std::memory_order_relaxed);
}

void TMediaFile::SetReadHook(TReadHook hook) {
    std::lock_guard lock(gHookLock);
    gHook = hook ? std::make_shared<const TReadHook>(std::move(hook)) : nullptr;
}
