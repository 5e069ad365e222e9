#include "playback/FormatTags.h"

#include "core/FileNames.h"
#include "playback/ModuleLoader.h"

#include <mutex>

// The module is looked for and loaded as the playback modules are (playback/ModuleLoader.h).
namespace FormatTags {
namespace {

// A module that cannot be loaded leaves every file without these tags: the captions fall back
// to the failure text, as for a file without a tag, rather than stopping the list with a box.
// The loader's reason goes to the program's output, once.
IFormatTags* Reader() {
    QString error;
    auto* reader = static_cast<IFormatTags*>(
        ModuleLoader::Load(kFormatTagsFile, kFormatTagsEntry, kFormatTagsVersion, error));
    if (reader == nullptr) {
        static std::once_flag told;
        std::call_once(told, [&error] {
            qWarning("ondrix: the tags of formats other than ID3v2 cannot be read: %s",
                     qPrintable(error));
        });
    }
    return reader;
}

} // namespace

bool TitleArtist(const QString& path, QString& title, QString& artist) {
    title.clear();
    artist.clear();
    IFormatTags* reader = Reader();
    std::string title8;
    std::string artist8;
    if (reader == nullptr ||
        !reader->TitleArtist(EncodeFileName(path).constData(), title8, artist8))
        return false;
    title = QString::fromStdString(title8);
    artist = QString::fromStdString(artist8);
    return true;
}

bool Loudness(const QString& path, IFormatTags::TLoudnessTexts& texts) {
    texts = {};
    IFormatTags* reader = Reader();
    return reader != nullptr && reader->Loudness(EncodeFileName(path).constData(), texts);
}

} // namespace FormatTags
