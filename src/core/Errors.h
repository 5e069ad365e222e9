#pragma once

#include <QString>
#include <stdexcept>

// The one base of every error the program raises; what() is the UTF-8 message.
// The application object shows whatever escapes an event handler in the error box.
class Exception : public std::runtime_error {
public:
    explicit Exception(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString Message() const { return QString::fromUtf8(what()); }
};

// A list file that cannot be read: Cannot open file "name". reason
class EFOpenError : public Exception {
public:
    EFOpenError(const QString& fileName, const QString& reason);
};

// A list file that cannot be written: Cannot create file "name". reason
class EFCreateError : public Exception {
public:
    EFCreateError(const QString& fileName, const QString& reason);
};

// An entry read outside a list: List index out of bounds (n)
class EListError : public Exception {
public:
    explicit EListError(qsizetype index);
};

// The system's text for an errno value.
QString SystemErrorText(int err);
