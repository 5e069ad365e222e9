#pragma once

#include "core/Errors.h"

// A transfer that did not deliver the whole file: Error downloading URL: address
class EDownloadError : public Exception {
public:
    explicit EDownloadError(const QString& url);
};

// A downloaded updater that did not come over HTTPS and so is not started: The updater from
// address was not started: it did not arrive over HTTPS (or: it arrived from other address,
// not over HTTPS, when a redirect took it elsewhere)
class EUpdaterRefusedError : public Exception {
public:
    EUpdaterRefusedError(const QString& url, const QString& arrivedFrom);
};

// The transfer library could not be set up: Unable to load name
class ELoadLibraryError : public Exception {
public:
    explicit ELoadLibraryError(const QString& library);
};
