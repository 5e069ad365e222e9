#include "core/ListFile.h"

#include "core/Errors.h"
#include "core/FileNames.h"

#include <QRandomGenerator>
#include <QStringDecoder>

#include <cerrno>
#include <climits>
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
    // The system's default 8-bit code page is the locale's encoding here, UTF-8 in practice
    // (Qt 6 reads and writes local 8-bit text as UTF-8 on Linux). Bytes that are not UTF-8 are
    // kept as they are, so a file name that is not valid UTF-8 still names its file.
    return DecodeFileName(bytes);
}

// About 500,000 entries. Anything larger is no play list, and reading it whole would only
// exhaust memory.
constexpr qint64 kMaxListBytes = 64 * 1024 * 1024;

const QString kNotRegular = QStringLiteral("Not a regular file");

QByteArray readWholeFile(const QString& fileName) {
    // Sharing modes do not exist for regular files here; the file is simply opened read-only.
    // Non-blocking, or a FIFO in its place would hold the window until some writer came along.
    Fd fd(
        ::open(EncodeFileName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        throw EFOpenError(fileName, SystemErrorText(errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        throw EFOpenError(fileName, SystemErrorText(errno));
    if (S_ISDIR(st.st_mode))
        throw EFOpenError(fileName, SystemErrorText(EISDIR));
    if (!S_ISREG(st.st_mode))
        throw EFOpenError(fileName, kNotRegular);
    if (st.st_size > kMaxListBytes)
        throw EFOpenError(fileName, SystemErrorText(EFBIG));
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        throw EFOpenError(fileName, SystemErrorText(errno));
    QByteArray bytes;
    bytes.reserve(qsizetype(st.st_size));
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
        // it may grow while it is read
        if (bytes.size() + got > kMaxListBytes)
            throw EFOpenError(fileName, SystemErrorText(EFBIG));
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

// The file a name leads to: symbolic links are followed to their final target, which need not
// exist yet. Replacing the link itself would leave its target with the old list.
QByteArray finalTarget(const QByteArray& name, const QString& fileName) {
    QByteArray path = name;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        QByteArray link(PATH_MAX, Qt::Uninitialized);
        const ssize_t n = ::readlink(path.constData(), link.data(), size_t(link.size()));
        if (n < 0)
            throw EFCreateError(fileName, SystemErrorText(errno));
        if (n >= link.size())
            throw EFCreateError(fileName, SystemErrorText(ENAMETOOLONG));
        link.truncate(n);
        path = link.startsWith('/') ? link : path.left(path.lastIndexOf('/') + 1) + link;
    }
    throw EFCreateError(fileName, SystemErrorText(ELOOP));
}

// Gives a new file the old one's owner, or at least its group: only root may give files away.
bool keepOwner(int fd, const struct stat& st) {
    return ::fchown(fd, st.st_uid, st.st_gid) == 0 || ::fchown(fd, uid_t(-1), st.st_gid) == 0;
}

// A new file beside the target with the permissions a new file gets (0666 less the umask, or
// the folder's default ACL), where mkstemp would give 0600. Reading the umask to correct that
// means setting it, for the whole process, while the download thread may create its file.
Fd createTemporary(const QByteArray& prefix, QByteArray& name) {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = prefix;
        for (int i = 0; i < 6; ++i)
            name += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))];
        Fd fd(::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666));
        if (fd.get() >= 0 || errno != EEXIST)
            return Fd(fd.release());
    }
    return Fd(-1);
}

// A file with several names is written where it is, so that every name sees the new list. Its
// space is claimed first, so that a full disk fails before the old text is touched.
void rewriteInPlace(const QByteArray& target, const QByteArray& bytes, const QString& fileName) {
    Fd fd(::open(target.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        throw EFCreateError(fileName, SystemErrorText(errno));
    if (!bytes.isEmpty()) {
        const int err = ::posix_fallocate(fd.get(), 0, off_t(bytes.size()));
        if (err == ENOSPC || err == EDQUOT || err == EFBIG)
            throw EFCreateError(fileName, SystemErrorText(err));
    }
    writeAll(fd.get(), bytes, fileName);
    if (::ftruncate(fd.get(), off_t(bytes.size())) != 0 || ::fsync(fd.get()) != 0)
        throw EFCreateError(fileName, SystemErrorText(errno));
    if (::close(fd.release()) != 0)
        throw EFCreateError(fileName, SystemErrorText(errno));
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
    return EncodeFileName(text);
}

void LoadListFile(const QString& fileName, QStringList& target) {
    QStringList entries = ParseListText(readWholeFile(fileName));
    target.swap(entries);
}

QByteArray ReadListFileBytes(const QString& fileName) {
    return readWholeFile(fileName);
}

QStringList LoadListFile(const QString& fileName) {
    return ParseListText(readWholeFile(fileName));
}

void SaveListFile(const QString& fileName, const QStringList& entries) {
    SaveListFileBytes(fileName, FormatListText(entries));
}

void SaveListFileBytes(const QString& fileName, const QByteArray& bytes) {
    const QByteArray target = finalTarget(EncodeFileName(fileName), fileName);
    struct stat st {};
    const bool exists = ::stat(target.constData(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode))
            throw EFCreateError(fileName, SystemErrorText(EISDIR));
        if (!S_ISREG(st.st_mode))
            throw EFCreateError(fileName, kNotRegular);
        // The rename below needs only the folder's permission; the file's own must hold too.
        if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0)
            throw EFCreateError(fileName, SystemErrorText(errno));
        if (st.st_nlink > 1) {
            rewriteInPlace(target, bytes, fileName);
            return;
        }
    }

    const qsizetype slash = target.lastIndexOf('/');
    QByteArray tmpl;
    Fd fd = createTemporary(target.left(slash + 1) + '.' + target.mid(slash + 1) + '.', tmpl);
    if (fd.get() < 0)
        throw EFCreateError(fileName, SystemErrorText(errno));
    try {
        // keep the old file's owner where we may and its permissions; a new file has the usual
        // ones already
        if (exists) {
            if (st.st_uid != ::geteuid() || st.st_gid != ::getegid())
                keepOwner(fd.get(), st);
            ::fchmod(fd.get(), st.st_mode & 07777);
        }
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
