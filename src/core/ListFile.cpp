#include "core/ListFile.h"

#include "core/Errors.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// RAII for a POSIX file descriptor.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

QString decodeText(const QByteArray& bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    // an odd last byte of UTF-16 text is no character and is dropped
    const auto utf16 = [&](QStringDecoder::Encoding e) {
        QStringDecoder d(e, QStringDecoder::Flag::Stateless);
        return QString(d(QByteArrayView(bytes).sliced(2, (n - 2) & ~qsizetype(1))));
    };
    if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE)
        return utf16(QStringDecoder::Utf16LE);
    if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF)
        return utf16(QStringDecoder::Utf16BE);
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
        return QString::fromUtf8(QByteArrayView(bytes).sliced(3));
    // The system's default 8-bit code page is the locale's encoding here, UTF-8 in practice;
    // Qt 6 reads and writes local 8-bit text as UTF-8 on Linux.
    return QString::fromLocal8Bit(bytes);
}

QByteArray readWholeFile(const QString& fileName) {
    // Sharing modes do not exist for regular files here; the file is simply opened read-only.
    Fd fd(::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        throw EFOpenError(fileName, SystemErrorText(errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        throw EFOpenError(fileName, SystemErrorText(errno));
    if (S_ISDIR(st.st_mode))
        throw EFOpenError(fileName, SystemErrorText(EISDIR));
    QByteArray bytes;
    bytes.reserve(st.st_size > 0 ? qsizetype(st.st_size) : 0);
    char buf[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw EFOpenError(fileName, SystemErrorText(errno));
        }
        if (got == 0)
            break;
        bytes.append(buf, got);
    }
    return bytes;
}

void writeAll(int fd, const QByteArray& bytes, const QString& fileName) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t put = ::write(fd, p, size_t(left));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            throw EFCreateError(fileName, SystemErrorText(errno));
        }
        p += put;
        left -= put;
    }
}

} // namespace

QStringList ParseListText(const QByteArray& bytes) {
    QString text = decodeText(bytes);
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);

    QStringList entries;
    const QChar* p = text.constData();
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i].unicode();
        if (c != u'\r' && c != u'\n')
            continue;
        entries.append(QString(p + start, i - start));
        if (c == u'\r' && i + 1 < n && p[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        entries.append(QString(p + start, n - start));
    return entries;
}

QByteArray FormatListText(const QStringList& entries) {
    QString text;
    qsizetype total = 0;
    for (const QString& e : entries)
        total += e.size() + 2;
    text.reserve(total);
    for (const QString& e : entries) {
        text += e;
        text += QLatin1String("\r\n");
    }
    return text.toLocal8Bit();
}

void LoadListFile(const QString& fileName, QStringList& target) {
    QStringList entries = ParseListText(readWholeFile(fileName));
    target.swap(entries);
}

QStringList LoadListFile(const QString& fileName) {
    return ParseListText(readWholeFile(fileName));
}

void SaveListFile(const QString& fileName, const QStringList& entries) {
    const QByteArray bytes = FormatListText(entries);
    const QByteArray target = QFile::encodeName(fileName);
    const QFileInfo info(fileName);
    QByteArray tmpl =
        QFile::encodeName(info.path() + QLatin1String("/.") + info.fileName()) + ".XXXXXX";

    Fd fd(::mkstemp(tmpl.data()));
    if (fd.get() < 0)
        throw EFCreateError(fileName, SystemErrorText(errno));
    try {
        // keep the old file's permissions; a new file gets the usual ones, not mkstemp's 0600
        struct stat st {};
        mode_t mode;
        if (::stat(target.constData(), &st) == 0) {
            mode = st.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        ::fchmod(fd.get(), mode);
        writeAll(fd.get(), bytes, fileName);
        if (::fsync(fd.get()) != 0)
            throw EFCreateError(fileName, SystemErrorText(errno));
        if (::close(fd.release()) != 0)
            throw EFCreateError(fileName, SystemErrorText(errno));
        if (::rename(tmpl.constData(), target.constData()) != 0)
            throw EFCreateError(fileName, SystemErrorText(errno));
    } catch (...) {
        ::unlink(tmpl.constData());
        throw;
    }
}

const QString& ListItem(const QStringList& list, qsizetype index) {
    if (index < 0 || index >= list.size())
        throw EListError(index);
    return list.at(index);
}
