#include "core/Errors.h"

#include <cstring>

EFOpenError::EFOpenError(const QString& fileName, const QString& reason)
    : Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, reason)) {}

EFCreateError::EFCreateError(const QString& fileName, const QString& reason)
    : Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, reason)) {}

EListError::EListError(qsizetype index)
    : Exception(QStringLiteral("List index out of bounds (%1)").arg(index)) {}

QString SystemErrorText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}
