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
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

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
    if ((content == 0 ? std::memcmp(head, "fLaC", 4) == 0
                      : file->ReadAt(content, magic, sizeof magic) == sizeof magic &&
                            std::memcmp(magic, "fLaC", 4) == 0))
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
    if (content == 0 ? std::memcmp(head, "fLaC", 4) == 0
                     : file->ReadAt(content, magic, sizeof magic) == sizeof magic &&
                           std::memcmp(magic, "fLaC", 4) == 0)
        return true;
    return TMp3Decoder::Probe(*file);
}

std::unique_ptr<IDecoder> OpenDecoder(const QString& fileName, std::shared_ptr<TMediaFile>& opened,
                                      TOpenFailure& failure) {
    std::unique_ptr<IDecoder> decoder = OpenByContent(fileName, opened, failure);
    // Every rate up to this plays, resampled to the stream's; a header that names more is
    // taken for damage rather than played as a blip.
    constexpr int kHighestRate = 768000;
    if (decoder && decoder->Rate() > kHighestRate)
        return Failed(failure, MediaService::mseUnsupportedFile,
                      QStringLiteral("The file %1 has a sample rate of %2 Hz; rates up to "
                                     "768 kHz can be played.")
                          .arg(QuotedFileName(fileName))
                          .arg(decoder->Rate()));
    return decoder;
}
