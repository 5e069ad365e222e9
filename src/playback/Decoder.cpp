#include "playback/Decoder.h"

#include "playback/MediaService.h"
#include "playback/ModuleLoader.h"
#include "playback/Mp3Decoder.h"
#include "playback/WavDecoder.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace {

// The ASF header object's GUID: WMA files start with it.
constexpr uint8_t kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

std::unique_ptr<IDecoder> Failed(TOpenFailure& failure, int32_t code, const QString& text) {
    failure.Code = code;
    failure.Text = text;
    return nullptr;
}

} // namespace

std::unique_ptr<IDecoder> OpenDecoder(const QString& fileName, std::shared_ptr<TMediaFile>& opened,
                                      TOpenFailure& failure) {
    const QString name = QuotedFileName(fileName);
    if (fileName.isEmpty())
        return Failed(failure, MediaService::mseNoFileName,
                      QStringLiteral("No file name was given."));
    const QFileInfo info(fileName);
    if (!info.exists())
        return Failed(failure, MediaService::mseFileNotFound,
                      QStringLiteral("The file %1 was not found.").arg(name));
    if (info.isDir())
        return Failed(failure, MediaService::mseNotAFile,
                      QStringLiteral("%1 is a folder, not an audio file.").arg(name));
    std::shared_ptr<TMediaFile> file = TMediaFile::Open(info.absoluteFilePath());
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

    // By content: a WAV or WMA file with another extension still plays.
    if (TWavDecoder::Probe(head, static_cast<size_t>(got)))
        return TWavDecoder::Open(file, fileName, failure);
    if (got == sizeof head && std::memcmp(head, kAsfHeader, sizeof kAsfHeader) == 0) {
        QString error;
        auto* module = static_cast<IDecoderModule*>(ModuleLoader::Load(
            kFfmpegModuleFile, kDecoderModuleEntry, kDecoderModuleVersion, error));
        if (module == nullptr)
            return Failed(failure, MediaService::mseNoDecoder,
                          QStringLiteral("The file %1 cannot be played: %2.").arg(name, error));
        return module->Open(file, fileName, failure);
    }
    const bool named = info.suffix().compare(QStringLiteral("mp3"), Qt::CaseInsensitive) == 0;
    return TMp3Decoder::Open(file, fileName, named, failure);
}
