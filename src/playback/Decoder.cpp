#include "playback/Decoder.h"

#include "core/FileNames.h"
#include "playback/MediaService.h"
#include "playback/ModuleLoader.h"
#include "playback/Mp3Decoder.h"
#include "playback/OggStreams.h"
#include "playback/WavDecoder.h"
#include "tags/ID3v2Size.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace {

// The ASF header object's GUID: WMA files start with it.
constexpr uint8_t kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

// Where the content starts after any ID3v2 tags (FLAC files carry them too).
int64_t AfterId3v2(IByteReader& file) {
    int64_t at = 0;
    for (int tags = 0; tags < 8; ++tags) {
        uint8_t h[kID3v2HeaderSize] = {};
        const int64_t size = file.ReadAt(at, h, sizeof h) == sizeof h ? ID3v2TagSize(h) : 0;
        if (size == 0)
            break;
        at += size;
    }
    return at;
}

// An MP4 (M4A) file starts with a box of one of these types.
bool IsMp4(const uint8_t* head, int64_t size) {
    if (size < 8)
        return false;
    for (const char* box : {"ftyp", "moov", "mdat", "wide"})
        if (std::memcmp(head + 4, box, 4) == 0)
            return true;
    return false;
}

// A FLAC frame header at `p` (its up to 16 bytes, `n` of them there): every field legal and its
// CRC-8 right.
bool IsFlacFrameHeader(const uint8_t* p, size_t n) {
    if (n < 6 || p[0] != 0xFF || (p[1] & 0xFE) != 0xF8)
        return false;
    const int block = p[2] >> 4;
    const int rate = p[2] & 0x0F;
    const int assignment = p[3] >> 4;
    const int bits = (p[3] >> 1) & 7;
    if (block == 0 || rate == 15 || assignment > 10 || bits == 3 || (p[3] & 1) != 0)
        return false;
    // the frame's (or its first sample's) number, UTF-8 coded in up to 7 bytes
    size_t more = 0;
    while (more < 8 && (p[4] & (0x80 >> more)) != 0)
        ++more;
    if (more == 1 || more == 8)
        return false;
    size_t at = 5;
    for (size_t i = 1; i < more; ++i, ++at)
        if (at >= n || (p[at] & 0xC0) != 0x80)
            return false;
    at += block == 6 ? 1 : block == 7 ? 2 : 0;
    at += rate == 12 ? 1 : rate == 13 || rate == 14 ? 2 : 0;
    if (at >= n)
        return false;
    uint8_t crc = 0;
    for (size_t i = 0; i < at; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = static_cast<uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc == p[at];
}

// A RIFF or RIFX WAVE header at `at`: some taggers put ID3v2 tags before it.
bool IsWavAt(IByteReader& file, int64_t at) {
    uint8_t head[12] = {};
    return file.ReadAt(at, head, sizeof head) == sizeof head &&
           TWavDecoder::Probe(head, sizeof head);
}

// FLAC frames without the "fLaC" and metadata before them (a stream cut from a broadcast): a
// frame header at the start, or in a file named .flac one in its first 64 KiB, after junk.
bool HasBareFlacFrames(IByteReader& file, const QString& fileName) {
    const bool named =
        QFileInfo(fileName).suffix().compare(QStringLiteral("flac"), Qt::CaseInsensitive) == 0;
    std::vector<uint8_t> head(named ? 64 * 1024 : 16);
    const int64_t got = file.ReadAt(0, head.data(), head.size());
    if (got <= 0)
        return false;
    const auto size = static_cast<size_t>(got);
    for (size_t at = 0; at < (named ? size : 1); ++at)
        if (head[at] == 0xFF &&
            IsFlacFrameHeader(head.data() + at, std::min<size_t>(16, size - at)))
            return true;
    return false;
}

std::unique_ptr<IDecoder> OpenInModule(const char* module, const QString& name,
                                       std::shared_ptr<TMediaFile> file, const QString& fileName,
                                       TOpenFailure& failure) {
    QString error;
    auto* decoders = static_cast<IDecoderModule*>(
        ModuleLoader::Load(module, kDecoderModuleEntry, kDecoderModuleVersion, error));
    if (decoders == nullptr)
        return Failed(failure, MediaService::mseNoDecoder,
                      QStringLiteral("The file %1 cannot be played: %2.").arg(name, error));
    return decoders->Open(std::move(file), fileName, failure);
}

std::unique_ptr<IDecoder>
OpenByContent(const QString& fileName, std::shared_ptr<TMediaFile>& opened, TOpenFailure& failure) {
    const QString name = QuotedFileName(fileName);
    if (fileName.isEmpty())
        return Failed(failure, MediaService::mseNoFileName,
                      QStringLiteral("No file name was given."));
    // looked up byte for byte: QFileInfo would not find a name that is not valid UTF-8
    struct stat st {};
    if (::stat(EncodeFileName(fileName).constData(), &st) != 0)
        return Failed(failure, MediaService::mseFileNotFound,
                      QStringLiteral("The file %1 was not found.").arg(name));
    if (S_ISDIR(st.st_mode))
        return Failed(failure, MediaService::mseNotAFile,
                      QStringLiteral("%1 is a folder, not an audio file.").arg(name));
    std::shared_ptr<TMediaFile> file = TMediaFile::Open(AbsolutePath(fileName));
    opened = file;
    if (!file) {
        if (errno == EINVAL)
            return Failed(failure, MediaService::mseNotAFile,
                          QStringLiteral("%1 is not a regular file, not an audio file.").arg(name));
        return Failed(failure, MediaService::mseCannotRead,
                      QStringLiteral("The file %1 cannot be read: %2.")
                          .arg(name, QString::fromLocal8Bit(std::strerror(errno))));
    }
    if (file->Size() == 0)
        return Failed(
            failure, MediaService::mseUnsupportedFile,
            QStringLiteral("The file %1 is empty, not a supported audio file.").arg(name));
    uint8_t head[16] = {};
    const int64_t got = file->ReadAt(0, head, sizeof head);
    if (got < 0)
        return Failed(failure, MediaService::mseCannotRead,
                      QStringLiteral("The file %1 cannot be read: %2.")
                          .arg(name, QString::fromLocal8Bit(std::strerror(errno))));

    // By content: a file with another format's extension still plays.
    if (TWavDecoder::Probe(head, static_cast<size_t>(got)))
        return TWavDecoder::Open(file, fileName, failure);
    if ((got == sizeof head && std::memcmp(head, kAsfHeader, sizeof kAsfHeader) == 0) ||
        IsMp4(head, got))
        return OpenInModule(kFfmpegModuleFile, name, file, fileName, failure);
    if (got >= 4 && std::memcmp(head, "OggS", 4) == 0)
        return OpenInModule(kXiphModuleFile, name, file, fileName, failure);
    uint8_t magic[4] = {};
    const int64_t content = std::memcmp(head, "ID3", 3) == 0 ? AfterId3v2(*file) : 0;
    if (content > 0 && IsWavAt(*file, content))
        return TWavDecoder::Open(file, fileName, failure, content);
    if ((content == 0 ? std::memcmp(head, "fLaC", 4) == 0
                      : file->ReadAt(content, magic, sizeof magic) == sizeof magic &&
                            std::memcmp(magic, "fLaC", 4) == 0))
        return OpenInModule(kXiphModuleFile, name, file, fileName, failure);
    if (content == 0 && HasBareFlacFrames(*file, fileName))
        return OpenInModule(kXiphModuleFile, name, file, fileName, failure);
    const bool named =
        QFileInfo(fileName).suffix().compare(QStringLiteral("mp3"), Qt::CaseInsensitive) == 0;
    return TMp3Decoder::Open(file, fileName, named, failure);
}

// An Ogg file whose streams include Vorbis, Opus or FLAC, as the Xiph module finds them.
bool IsPlayableOgg(IByteReader& file) {
    return FindOggAudio(file).Kind != TOggAudio::EKind::None;
}

} // namespace

bool IsPlayableFile(const QString& fileName) {
    const std::unique_ptr<TMediaFile> file = TMediaFile::Open(AbsolutePath(fileName));
    if (!file || file->Size() == 0)
        return false;
    uint8_t head[16] = {};
    const int64_t got = file->ReadAt(0, head, sizeof head);
    if (got <= 0)
        return false;
    // in the order OpenByContent tries them
    if (TWavDecoder::Probe(head, static_cast<size_t>(got)) ||
        (got == sizeof head && std::memcmp(head, kAsfHeader, sizeof kAsfHeader) == 0) ||
        IsMp4(head, got))
        return true;
    if (got >= 4 && std::memcmp(head, "OggS", 4) == 0)
        return IsPlayableOgg(*file);
    uint8_t magic[4] = {};
    const int64_t content = std::memcmp(head, "ID3", 3) == 0 ? AfterId3v2(*file) : 0;
    if (content > 0 && IsWavAt(*file, content))
        return true;
    if (content == 0 ? std::memcmp(head, "fLaC", 4) == 0
                     : file->ReadAt(content, magic, sizeof magic) == sizeof magic &&
                           std::memcmp(magic, "fLaC", 4) == 0)
        return true;
    if (content == 0 && HasBareFlacFrames(*file, fileName))
        return true;
    return TMp3Decoder::Probe(*file);
}

std::unique_ptr<IDecoder> OpenDecoder(const QString& fileName, std::shared_ptr<TMediaFile>& opened,
                                      TOpenFailure& failure) {
    std::unique_ptr<IDecoder> decoder = OpenByContent(fileName, opened, failure);
    // Every rate up to this plays, resampled to the stream's; a header that names more is
    // taken for damage rather than played as a blip.
    constexpr int kHighestRate = 768000;
    if (!decoder)
        return decoder;
    for (const TRatePart& part : decoder->RateParts())
        if (part.Rate > kHighestRate)
            return Failed(failure, MediaService::mseUnsupportedFile,
                          QStringLiteral("The file %1 has a sample rate of %2 Hz; rates up to "
                                         "768 kHz can be played.")
                              .arg(QuotedFileName(fileName))
                              .arg(part.Rate));
    return decoder;
}
