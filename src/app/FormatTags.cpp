#include "app/FormatTags.h"

#include "app/formattags/FormatTagsModule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <dlfcn.h>

// The module is looked for where the playback modules are (playback/ModuleLoader.cpp): beside the
// executable, in <executable's folder>/ONDRIX_MODULE_RELATIVE_DIR once installed, and in the
// build tree's root for the test and benchmark executables in its sub-folders. The first file
// that exists is the one loaded.
namespace FormatTags {
namespace {

bool gTried = false;
IFormatTags* gReader = nullptr;

QStringList DefaultDirs() {
    const QString exeDir = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).path();
    return {exeDir,
            QDir::cleanPath(exeDir + QLatin1Char('/') + QStringLiteral(ONDRIX_MODULE_RELATIVE_DIR)),
            QStringLiteral(ONDRIX_MODULE_BUILD_DIR)};
}

// A module that cannot be loaded leaves every file without these tags: the captions fall back
// to the failure text, as for a file without a tag, rather than stopping the list with a box.
IFormatTags* Load() {
    for (const QString& dir : DefaultDirs()) {
        const QString path = dir + QLatin1Char('/') + QLatin1StringView(kFormatTagsFile);
        if (!QFileInfo::exists(path))
            continue;
        // Never closed: TagLib's static data lives until the process ends.
        void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            return nullptr;
        auto entry = reinterpret_cast<TFormatTagsEntry>(dlsym(handle, kFormatTagsEntry));
        return entry == nullptr ? nullptr : entry(kFormatTagsVersion);
    }
    return nullptr;
}

} // namespace

bool TitleArtist(const QString& path, QString& title, QString& artist) {
    title.clear();
    artist.clear();
    if (!gTried) {
        gTried = true;
        gReader = Load();
    }
    std::string title8;
    std::string artist8;
    if (gReader == nullptr ||
        !gReader->TitleArtist(QFile::encodeName(path).constData(), title8, artist8))
        return false;
    title = QString::fromStdString(title8);
    artist = QString::fromStdString(artist8);
    return true;
}

} // namespace FormatTags
