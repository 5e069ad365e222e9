#include "playback/AudioBackend.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <dlfcn.h>

// Where the module is looked for, in this order, and the first file that exists is the one
// loaded (a module that is there but fails to load is an error, not a reason to try the next):
// 1. the executable's own folder: the build tree puts `ondrix` and the module side by side;
// 2. <executable's folder>/ONDRIX_AUDIO_RELATIVE_DIR: the installed layout (bin/ and
//    lib/ondrix/);
// 3. ONDRIX_AUDIO_BUILD_DIR, the build tree's root, baked in at configure time, for the test
//    and benchmark executables that live in sub-folders of the build tree.
namespace AudioBackend {
namespace {

QStringList gSearchDirs;
bool gTried = false;
IAudioBackend* gBackend = nullptr;
QString gError;

QStringList DefaultDirs() {
    // /proc/self/exe rather than QCoreApplication: the engine is also used without one
    const QString exeDir = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).path();
    return {exeDir,
            QDir::cleanPath(exeDir + QLatin1Char('/') + QStringLiteral(ONDRIX_AUDIO_RELATIVE_DIR)),
            QStringLiteral(ONDRIX_AUDIO_BUILD_DIR)};
}

QString Failed(const QString& why) {
    return QStringLiteral("cannot load the audio back end %1: %2")
        .arg(QLatin1StringView(kAudioBackendFile), why);
}

void Load() {
    const QStringList dirs = gSearchDirs.isEmpty() ? DefaultDirs() : gSearchDirs;
    QString path;
    for (const QString& dir : dirs) {
        const QString candidate = dir + QLatin1Char('/') + QLatin1StringView(kAudioBackendFile);
        if (QFileInfo::exists(candidate)) {
            path = candidate;
            break;
        }
    }
    if (path.isEmpty()) {
        gError = Failed(QStringLiteral("not found in %1").arg(dirs.join(QStringLiteral(", "))));
        return;
    }
    // Never closed: devices and SDL's threads run code of the module until the process ends.
    void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        gError = Failed(QString::fromLocal8Bit(dlerror()));
        return;
    }
    auto entry = reinterpret_cast<TAudioBackendEntry>(dlsym(handle, kAudioBackendEntry));
    if (entry == nullptr) {
        gError = Failed(QString::fromLocal8Bit(dlerror()));
        return;
    }
    gBackend = entry(kAudioBackendVersion);
    if (gBackend == nullptr)
        gError = Failed(QStringLiteral("%1 was built for another version of the player").arg(path));
}

} // namespace

IAudioBackend* Get(QString& error) {
    if (!gTried) {
        gTried = true;
        Load();
    }
    if (gBackend == nullptr)
        error = gError;
    return gBackend;
}

IAudioBackend* IfLoaded() {
    return gBackend;
}

void SetSearchDirs(const QStringList& dirs) {
    gSearchDirs = dirs;
    if (gBackend == nullptr)
        gTried = false; // a failed load is tried again with the new folders
}

} // namespace AudioBackend
