#pragma once

#include <QString>
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Bytes of one open media file, read at any offset. The decoders' only way to the file, also from
// the decoder modules: the methods are virtual so that a module calls them without linking
// against the program.
class IByteReader {
public:
    virtual ~IByteReader() = default;
    // Reads up to `size` bytes at `offset`: the count read, 0 at the end, -1 on an error.
    virtual int64_t ReadAt(int64_t offset, void* buffer, size_t size) = 0;
    // The size when the file was opened.
    virtual int64_t Size() const = 0;
    // True once the device that reads it was closed: a decoder may give up early.
    virtual bool Abandoned() const = 0;
};

// An opened media file. Held open from Open on, so a file deleted before Play still plays.
// Reads are positional (pread), so several readers may share it; none of them runs on the GUI
// thread.
class TMediaFile final : public IByteReader {
public:
    // Called before every read with the file's path and the bytes asked for; tests use it to
    // make a read hang or to slow the reads down as a slow medium would.
    using TReadHook = std::function<void(const std::string& path, size_t size)>;

    // nullptr with errno set when the file cannot be opened.
    static std::unique_ptr<TMediaFile> Open(const QString& fileName);
    ~TMediaFile() override;
    TMediaFile(const TMediaFile&) = delete;
    TMediaFile& operator=(const TMediaFile&) = delete;

    int64_t ReadAt(int64_t offset, void* buffer, size_t size) override;
    int64_t Size() const override { return mSize; }
    bool Abandoned() const override;
    void Abandon();

    static void SetReadHook(TReadHook hook);

private:
    TMediaFile(int fd, int64_t size, std::string path);

    int mFd = -1;
    int64_t mSize = 0;
    std::string mPath;
    std::atomic<bool> mAbandoned{false};
};

// Sequential reads over a window [begin, end) of a reader, through a buffer, for libraries that
// want read and seek callbacks; `zeros` more bytes of 0 may follow the window. Header-only, so
// the decoder modules compile it in as well.
class TByteCursor {
public:
    TByteCursor(IByteReader& reader, int64_t begin, int64_t end, int64_t zeros = 0)
        : mReader(reader), mBegin(begin), mEnd(end), mZeros(zeros), mBuffer(64 * 1024) {}

    // Like read(2): the count, 0 at the window's end, -1 on an error.
    int64_t Read(void* out, size_t size) {
        auto* dst = static_cast<uint8_t*>(out);
        size_t done = 0;
        while (done < size && mPos < Length()) {
            if (mPos >= mEnd - mBegin) {
                const size_t n = static_cast<size_t>(
                    std::min<int64_t>(static_cast<int64_t>(size - done), Length() - mPos));
                std::memset(dst + done, 0, n);
                done += n;
                mPos += static_cast<int64_t>(n);
                break;
            }
            if (mPos < mBufferAt || mPos >= mBufferAt + mBufferLength) {
                const size_t want = static_cast<size_t>(
                    std::min<int64_t>(static_cast<int64_t>(mBuffer.size()), mEnd - mBegin - mPos));
                const int64_t got = mReader.ReadAt(mBegin + mPos, mBuffer.data(), want);
                if (got < 0)
                    return done > 0 ? static_cast<int64_t>(done) : -1;
                if (got == 0)
                    break;
                mBufferAt = mPos;
                mBufferLength = got;
            }
            const size_t from = static_cast<size_t>(mPos - mBufferAt);
            const size_t n =
                std::min(size - done, static_cast<size_t>(mBufferLength - (mPos - mBufferAt)));
            std::memcpy(dst + done, mBuffer.data() + from, n);
            done += n;
            mPos += static_cast<int64_t>(n);
        }
        return static_cast<int64_t>(done);
    }

    // Like lseek(2) inside the window: the new position, or -1.
    int64_t Seek(int64_t offset, int whence) {
        int64_t base = 0;
        if (whence == 1)
            base = mPos;
        else if (whence == 2)
            base = Length();
        const int64_t to = base + offset;
        if (to < 0)
            return -1;
        mPos = to;
        return mPos;
    }

    int64_t Position() const { return mPos; }
    int64_t Length() const { return mEnd - mBegin + mZeros; }
    IByteReader& Reader() { return mReader; }

private:
    IByteReader& mReader;
    int64_t mBegin;
    int64_t mEnd;
    int64_t mZeros;
    int64_t mPos = 0;
    std::vector<uint8_t> mBuffer;
    int64_t mBufferAt = 0;
    int64_t mBufferLength = 0;
};
