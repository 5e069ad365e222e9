#include "net/NetErrors.h"

EDownloadError::EDownloadError(const QString& url)
    : Exception(QStringLiteral("Error downloading URL: %1").arg(url)) {}

ELoadLibraryError::ELoadLibraryError(const QString& library)
    : Exception(QStringLiteral("Unable to load %1").arg(library)) {}

namespace {

QString UpdaterRefusedText(const QString& url, const QString& arrivedFrom) {
    if (arrivedFrom.isEmpty() || arrivedFrom == url)
        return QStringLiteral("The updater from %1 was not started: it did not arrive over HTTPS")
            .arg(url);
    return QStringLiteral("The updater from %1 was not started: it arrived from %2, not over HTTPS")
        .arg(url, arrivedFrom);
}

} // namespace

EUpdaterRefusedError::EUpdaterRefusedError(const QString& url, const QString& arrivedFrom)
    : Exception(UpdaterRefusedText(url, arrivedFrom)) {}
