#include "core/FileNames.h"

#include <QDir>
#include <QStringDecoder>

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // byte b >= 0x80 is U+DC00 + b

// The length of the valid UTF-8 sequence at p (1..4), or 0 where none starts.
int SequenceLength(const unsigned char* p, qsizetype left) {
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    int n = 0;
    uint32_t min = 0;
    if ((c & 0xE0) == 0xC0) {
        n = 2;
        min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (left < n)
        return 0;
    uint32_t code = c & (0x7F >> n);
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    // overlong forms, surrogates and values beyond Unicode are no UTF-8
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return n;
}

// UTF-8 that is valid, as it reads: a leading U+FEFF stays (QString::fromUtf8 would drop it as a
// byte-order mark, and with it the name's first bytes).
QString FromUtf8(const char* bytes, qsizetype size) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom |
                                                       QStringConverter::Flag::Stateless);
    return decoder(QByteArrayView(bytes, size));
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool IsUtf8(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const int len = SequenceLength(p + i, n - i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

QString DecodeFileName(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    QString out;
    out.reserve(n);
    qsizetype run = 0; // start of the valid text not yet appended
    for (qsizetype i = 0; i < n;) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const int len = SequenceLength(p + i, n - i);
        if (len > 0) {
            i += len;
            continue;
        }
        out += FromUtf8(bytes.constData() + run, i - run);
        out += QChar(char16_t(kEscapeBase + p[i]));
        run = ++i;
    }
    if (run == 0)
        return FromUtf8(bytes.constData(), n);
    out += FromUtf8(bytes.constData() + run, n - run);
    return out;
}

QByteArray EncodeFileName(const QString& name) {
    const QChar* p = name.constData();
    const qsizetype n = name.size();
    QByteArray out;
    out.reserve(n + n / 2);
    qsizetype run = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i].unicode();
        if (c < 0xD800 || c > 0xDFFF)
            continue;
        if (c < 0xDC00 && i + 1 < n && p[i + 1].isLowSurrogate()) {
            ++i; // a pair: encoded with the run
            continue;
        }
        out += QStringView(p + run, i - run).toUtf8();
        if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF)
            out += char(c - kEscapeBase);
        else
            out += "\xEF\xBF\xBD";
        run = i + 1;
    }
    if (run == 0)
        return name.toUtf8();
    out += QStringView(p + run, n - run).toUtf8();
    return out;
}

QByteArray PercentDecoded(const QByteArray& text) {
    if (!text.contains('%'))
        return text;
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int hi = HexValue(text[i + 1]);
            const int lo = HexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += char(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

bool HasUriScheme(const QByteArray& text) {
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (text.isEmpty() || !letter(text[0]))
        return false;
    for (qsizetype i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ':')
            return i > 1;
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.')
            return false;
    }
    return false;
}

QString FileUriToPath(const QByteArray& uri) {
    if (!uri.left(5).toLower().startsWith("file:"))
        return {};
    QByteArray rest = uri.mid(5);
    // a fragment is no part of a file's name (a "#" in a name is written %23)
    const qsizetype end = rest.indexOf('#');
    if (end >= 0)
        rest.truncate(end);
    if (rest.startsWith("//")) {
        // an authority: empty or "localhost" is this machine; another host is not ours to read
        const qsizetype slash = rest.indexOf('/', 2);
        const QByteArray host = rest.mid(2, slash < 0 ? -1 : slash - 2);
        if (!host.isEmpty() && host.toLower() != "localhost")
            return {};
        rest = slash < 0 ? QByteArray() : rest.mid(slash);
    }
    if (!rest.startsWith('/'))
        return {};
    const QByteArray path = PercentDecoded(rest);
    // a NUL would cut the name short where the system reads it
    if (path.contains('\0'))
        return {};
    return DecodeFileName(path);
}

QByteArray PathToFileUri(const QString& path) {
    const QByteArray bytes = EncodeFileName(path);
    static constexpr char kHex[] = "0123456789ABCDEF";
    QByteArray out("file://");
    out.reserve(bytes.size() + 16);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~' || c == '/';
        if (unreserved) {
            out += char(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

QString AbsolutePath(const QString& path) {
    return QDir::cleanPath(
        path.startsWith(QLatin1Char('/')) ? path : QDir::currentPath() + QLatin1Char('/') + path);
}
