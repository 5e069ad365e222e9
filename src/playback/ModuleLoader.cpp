#include "playback/ModuleLoader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <string>

namespace ModuleLoader {
namespace {

struct TOutcome {
    void* Object = nullptr;
    QString Error;
};

std::mutex gLock;
QStringList gSearchDirs;
std::map<std::string, TOutcome> gLoaded;

QStringList DefaultDirs() {
    // /proc/self/exe rather than QCoreApplication: the engine is also used without one
    const QString exeDir = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).path();
    return {exeDir,
            QDir::cleanPath(exeDir + QLatin1Char('/') + QStringLiteral(ONDRIX_MODULE_RELATIVE_DIR)),
            QStringLiteral(ONDRIX_MODULE_BUILD_DIR)};
}

TOutcome Open(const char* file, const char* entry, int version) {
    const auto failed = [&](const QString& why) {
        return TOutcome{
            nullptr,
            QStringLiteral("cannot load the module %1: %2").arg(QLatin1StringView(file), why)};
    };
    const QStringList dirs = gSearchDirs.isEmpty() ? DefaultDirs() : gSearchDirs;
    QString path;
    for (const QString& dir : dirs) {
        const QString candidate = dir + QLatin1Char('/') + QLatin1StringView(file);
        if (QFileInfo::exists(candidate)) {
            path = candidate;
            break;
        }
    }
    if (path.isEmpty())
        return failed(QStringLiteral("not found in %1").arg(dirs.join(QStringLiteral(", "))));
    void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        return failed(QString::fromLocal8Bit(dlerror()));
    using TEntry = void* (*)(int);
    auto function = reinterpret_cast<TEntry>(dlsym(handle, entry));
    if (function == nullptr)
        return failed(QString::fromLocal8Bit(dlerror()));
    void* object = function(version);
    if (object == nullptr)
        return failed(QStringLiteral("%1 was built for another version of the player").arg(path));
    return TOutcome{object, {}};
}

} // namespace

void* Load(const char* file, const char* entry, int version, QString& error) {
    std::unique_lock lock(gLock);
    auto it = gLoaded.find(file);
    if (it == gLoaded.end()) {
        // Loaded outside the lock: the output's module may be loading on its own thread while
        // the GUI thread opens a WMA file. A second load of the same file only finds it loaded.
        lock.unlock();
        TOutcome outcome = Open(file, entry, version);
        lock.lock();
        it = gLoaded.emplace(file, std::move(outcome)).first;
    }
    if (it->second.Object == nullptr)
        error = it->second.Error;
    return it->second.Object;
}

void SetSearchDirs(const QStringList& dirs) {
    std::lock_guard lock(gLock);
    gSearchDirs = dirs;
    for (auto it = gLoaded.begin(); it != gLoaded.end();)
        it = it->second.Object == nullptr ? gLoaded.erase(it) : std::next(it);
}

} // namespace ModuleLoader
