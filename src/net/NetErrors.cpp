#include "net/NetErrors.h"

EDownloadError::EDownloadError(const QString& url)
    : Exception(QStringLiteral("Error downloading URL: %1").arg(url)) {}

ELoadLibraryError::ELoadLibraryError(const QString& library)
    : Exception(QStringLiteral("Unable to load %1").arg(library)) {}
