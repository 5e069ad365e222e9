#include "core/PlayListFormats.h"

#include "core/Errors.h"
#include "core/FileNames.h"
#include "core/ListFile.h"

#include <QDir>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

// What Windows writes as "ANSI" in Western Europe: Latin-1 but for 0x80..0x9F. The five bytes
// Windows leaves undefined are read as the control characters of the same value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString FromWindows1252(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        out += QChar(c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : char16_t(c));
    }
    return out;
}

QString Resolved(const QString& folder, const QString& path) {
    return QDir::cleanPath(path.startsWith(QLatin1Char('/')) ? path
                                                             : folder + QLatin1Char('/') + path);
}

// The lines of a text, without their ends; a UTF-8 byte-order mark is skipped.
std::vector<QByteArray> Lines(const QByteArray& bytes) {
    std::vector<QByteArray> lines;
    qsizetype start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    for (qsizetype i = start; i <= bytes.size(); ++i) {
        if (i < bytes.size() && bytes[i] != '\r' && bytes[i] != '\n')
            continue;
        lines.push_back(bytes.mid(start, i - start));
        start = i + 1;
    }
    return lines;
}

bool Blank(const QByteArray& line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

class TReader {
public:
    TReader(const QString& folder, const TExists& exists) : folder_(folder), exists_(exists) {}

    // A path or URI as a list holds it, the path already decoded to text.
    void AddPath(const QString& text) {
        QString path = Resolved(folder_, text);
        if (text.contains(QLatin1Char('\\')) && !Exists(path)) {
            QString slashed = text;
            slashed.replace(QLatin1Char('\\'), QLatin1Char('/'));
            const QString other = Resolved(folder_, slashed);
            if (Exists(other))
                path = other;
        }
        result_.Entries << path;
    }

    // An entry of M3U or PLS: a URI, or a path in the list's encoding.
    void AddLine(const QByteArray& raw, bool utf8Only) {
        if (HasUriScheme(raw)) {
            AddUri(raw);
            return;
        }
        if (utf8Only || IsUtf8(raw)) {
            AddPath(DecodeFileName(raw));
            return;
        }
        // Not UTF-8: the file its bytes name, if there is one; else what a player on Windows
        // meant by them.
        const QString kept = DecodeFileName(raw);
        if (Exists(Resolved(folder_, kept)))
            AddPath(kept);
        else
            AddPath(FromWindows1252(raw));
    }

    void AddUri(const QByteArray& uri) {
        const QString path = FileUriToPath(uri);
        if (path.isEmpty())
            ++result_.WebAddresses;
        else
            result_.Entries << QDir::cleanPath(path);
    }

    // An XSPF location: a URI, or a reference relative to the list.
    void AddLocation(const QByteArray& location) {
        if (HasUriScheme(location)) {
            AddUri(location);
            return;
        }
        const QByteArray path = PercentDecoded(location);
        if (!path.isEmpty() && !path.contains('\0'))
            result_.Entries << Resolved(folder_, DecodeFileName(path));
    }

    TPlayListEntries Take() { return std::move(result_); }

private:
    bool Exists(const QString& path) const { return exists_ && exists_(path); }

    QString folder_;
    const TExists& exists_;
    TPlayListEntries result_;
};

void ReadM3u(TReader& reader, const QByteArray& bytes, bool utf8Only) {
    for (const QByteArray& line : Lines(bytes)) {
        // comments and the extended format's directives (#EXTM3U, #EXTINF: length, title)
        if (Blank(line) || line.startsWith('#'))
            continue;
        reader.AddLine(line, utf8Only);
    }
}

void ReadPls(TReader& reader, const QByteArray& bytes) {
    std::vector<std::pair<long long, QByteArray>> files;
    for (const QByteArray& line : Lines(bytes)) {
        const qsizetype eq = line.indexOf('=');
        if (eq < 4)
            continue;
        const QByteArray key = line.left(eq).trimmed().toLower();
        if (!key.startsWith("file"))
            continue;
        bool number = false;
        const long long n = key.mid(4).toLongLong(&number);
        if (!number)
            continue;
        const QByteArray value = line.mid(eq + 1);
        if (!Blank(value))
            files.emplace_back(n, value);
    }
    // in the order of their numbers, which need not be the order of the lines
    std::stable_sort(files.begin(), files.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& file : files)
        reader.AddLine(file.second, true);
}

void ReadXspf(TReader& reader, const QByteArray& bytes, const QString& name) {
    QXmlStreamReader xml(bytes);
    int depth = 0;
    int trackDepth = -1;
    bool located = false; // the track's first location is its file
    bool playlist = false;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            if (depth == 1)
                playlist = xml.name() == QLatin1String("playlist");
            if (xml.name() == QLatin1String("track") && trackDepth < 0) {
                trackDepth = depth;
                located = false;
            } else if (xml.name() == QLatin1String("location") && trackDepth == depth - 1 &&
                       !located) {
                located = true;
                const QString text = xml.readElementText(QXmlStreamReader::SkipChildElements);
                --depth; // readElementText consumed the end element
                reader.AddLocation(text.trimmed().toUtf8());
            }
            break;
        case QXmlStreamReader::EndElement:
            if (depth == trackDepth)
                trackDepth = -1;
            --depth;
            break;
        default:
            break;
        }
    }
    if (xml.hasError())
        throw Exception(QStringLiteral("The play list %1 cannot be read: %2 (line %3)")
                            .arg(name, xml.errorString())
                            .arg(xml.lineNumber()));
    if (!playlist)
        throw Exception(
            QStringLiteral("The play list %1 cannot be read: it is no XSPF play list").arg(name));
}

bool ExistsOnDisk(const QString& path) {
    struct stat st {};
    return ::stat(EncodeFileName(path).constData(), &st) == 0;
}

// How a list in `folder` names the track at `path`: relative where the track lies under the
// folder, absolute elsewhere; never as something the reader would take for a comment or a URI.
// A name that is not valid UTF-8 is written as its file: URI, so that the list stays UTF-8 text
// and every player finds the file by its bytes.
QByteArray ListName(const QString& path, const QString& folder) {
    const QString absolute = AbsolutePath(path);
    if (!IsUtf8(EncodeFileName(absolute)))
        return PathToFileUri(absolute);
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    if (!absolute.startsWith(prefix) || absolute.size() == prefix.size())
        return EncodeFileName(absolute);
    const QByteArray relative = EncodeFileName(absolute.mid(prefix.size()));
    if (relative.startsWith('#') || HasUriScheme(relative) || Blank(relative))
        return "./" + relative;
    return relative;
}

QByteArray FormatM3u8(const QStringList& entries, const QString& folder) {
    QByteArray out("#EXTM3U\n");
    for (const QString& e : entries)
        if (!e.isEmpty())
            out += ListName(e, folder) + '\n';
    return out;
}

QByteArray FormatPls(const QStringList& entries, const QString& folder) {
    QByteArray out("[playlist]\n");
    int n = 0;
    for (const QString& e : entries)
        if (!e.isEmpty())
            out += "File" + QByteArray::number(++n) + '=' + ListName(e, folder) + '\n';
    out += "NumberOfEntries=" + QByteArray::number(n) + "\nVersion=2\n";
    return out;
}

QByteArray FormatXspf(const QStringList& entries) {
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(QStringLiteral("http://xspf.org/ns/0/"));
    xml.writeStartElement(QStringLiteral("playlist"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1"));
    xml.writeStartElement(QStringLiteral("trackList"));
    for (const QString& e : entries) {
        if (e.isEmpty())
            continue;
        xml.writeStartElement(QStringLiteral("track"));
        xml.writeTextElement(QStringLiteral("location"),
                             QString::fromLatin1(PathToFileUri(AbsolutePath(e))));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

} // namespace

EPlayListFormat PlayListFormatOf(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || fileName.indexOf(QLatin1Char('/'), dot) >= 0)
        return EPlayListFormat::None;
    const QString ext = fileName.mid(dot + 1).toLower();
    if (ext == QLatin1String("qdl"))
        return EPlayListFormat::Qdl;
    if (ext == QLatin1String("m3u"))
        return EPlayListFormat::M3u;
    if (ext == QLatin1String("m3u8"))
        return EPlayListFormat::M3u8;
    if (ext == QLatin1String("pls"))
        return EPlayListFormat::Pls;
    if (ext == QLatin1String("xspf"))
        return EPlayListFormat::Xspf;
    return EPlayListFormat::None;
}

TPlayListEntries ParsePlayList(EPlayListFormat format, const QByteArray& bytes,
                               const QString& folder, const TExists& exists, const QString& name) {
    if (format == EPlayListFormat::Qdl || format == EPlayListFormat::None)
        return {ParseListText(bytes), 0};
    TReader reader(folder, exists);
    switch (format) {
    case EPlayListFormat::M3u:
    case EPlayListFormat::M3u8:
        ReadM3u(reader, bytes, format == EPlayListFormat::M3u8);
        break;
    case EPlayListFormat::Pls:
        ReadPls(reader, bytes);
        break;
    case EPlayListFormat::Xspf:
        ReadXspf(reader, bytes, name);
        break;
    default:
        break;
    }
    return reader.Take();
}

TPlayListEntries LoadPlayList(const QString& fileName) {
    const QByteArray bytes = ReadListFileBytes(fileName);
    const QString absolute = AbsolutePath(fileName);
    const QString folder = absolute.left(std::max<qsizetype>(absolute.lastIndexOf(u'/'), 1));
    return ParsePlayList(PlayListFormatOf(fileName), bytes, folder, ExistsOnDisk,
                         QLatin1Char('"') + fileName + QLatin1Char('"'));
}

QByteArray FormatPlayList(EPlayListFormat format, const QStringList& entries,
                          const QString& folder) {
    switch (format) {
    case EPlayListFormat::M3u:
    case EPlayListFormat::M3u8:
        return FormatM3u8(entries, folder);
    case EPlayListFormat::Pls:
        return FormatPls(entries, folder);
    case EPlayListFormat::Xspf:
        return FormatXspf(entries);
    case EPlayListFormat::Qdl:
    case EPlayListFormat::None:
        break;
    }
    return FormatListText(entries);
}

void SavePlayList(const QString& fileName, const QStringList& entries) {
    const QString absolute = AbsolutePath(fileName);
    const QString folder = absolute.left(std::max<qsizetype>(absolute.lastIndexOf(u'/'), 1));
    SaveListFileBytes(fileName, FormatPlayList(PlayListFormatOf(fileName), entries, folder));
}
