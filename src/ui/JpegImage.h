#pragma once

#include "core/Errors.h"

#include <QByteArray>
#include <QImage>
#include <QString>

// A skin image that libjpeg could not decode (corrupt, truncated, unsupported).
class EJpegError : public Exception {
public:
    explicit EJpegError(const QString& message) : Exception(message) {}
};

// Decodes a baseline or progressive JPEG held in memory with libjpeg (never Qt's image
// plugins). Returns a QImage in Format_RGB32. Throws EJpegError on any fault in the data,
// warnings included, so a damaged skin never shows up half grey.
QImage DecodeJpeg(const QByteArray& data);

// Reads a file or Qt resource (":/skins/main.jpg") and decodes it. Throws EFOpenError when
// the file cannot be read and EJpegError when its contents are not a usable JPEG.
QImage LoadJpeg(const QString& fileName);
