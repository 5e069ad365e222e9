#pragma once

#include "core/Errors.h"

// A transfer that did not deliver the whole file: Error downloading URL: address
class EDownloadError : public Exception {
public:
    explicit EDownloadError(const QString& url);
};

// The transfer library could not be set up: Unable to load name
class ELoadLibraryError : public Exception {
public:
    explicit ELoadLibraryError(const QString& library);
};
