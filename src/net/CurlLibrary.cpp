#include "net/CurlLibrary.h"

#include "net/NetErrors.h"

#include <QFile>
#include <dlfcn.h>
#include <optional>

namespace {

// The run-time name of the library the headers describe (soname version 4 since curl 7.16).
QString gFileName = QStringLiteral("libcurl.so.4");

template <typename F> bool Find(void* handle, const char* name, F& function) {
    function = reinterpret_cast<F>(dlsym(handle, name));
    return function != nullptr;
}

std::optional<CurlLibrary> Load() {
    // Never closed: curl_global_init is not to be repeated, and the handle lives for the run.
    void* handle = dlopen(QFile::encodeName(gFileName).constData(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        return std::nullopt;
    CurlLibrary curl;
    if (!Find(handle, "curl_global_init", curl.globalInit) ||
        !Find(handle, "curl_easy_init", curl.easyInit) ||
        !Find(handle, "curl_easy_setopt", curl.easySetopt) ||
        !Find(handle, "curl_easy_perform", curl.easyPerform) ||
        !Find(handle, "curl_easy_getinfo", curl.easyGetinfo) ||
        !Find(handle, "curl_easy_cleanup", curl.easyCleanup))
        return std::nullopt;
    if (curl.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK)
        return std::nullopt;
    return curl;
}

} // namespace

const CurlLibrary& RequireCurlLibrary() {
    static const QString fileName = gFileName;
    static const std::optional<CurlLibrary> library = Load();
    if (!library)
        throw ELoadLibraryError(fileName);
    return *library;
}

void SetCurlLibraryFileName(const QString& fileName) {
    gFileName = fileName;
}
