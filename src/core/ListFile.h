#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Play-list text files: "patch.dat", "tracklist.dat", saved ".qdl" lists and "info.qd3".
// One entry per line, CR LF after every entry, nothing else in the file.

// Decodes a list file's bytes: a BOM picks UTF-16 LE/BE or UTF-8, otherwise the locale's 8-bit
// encoding (UTF-8, with bytes that are not UTF-8 kept as core/FileNames.h keeps them); lines end
// at CR LF, CR or LF; a NUL ends the text.
QStringList ParseListText(const QByteArray& bytes);

// Encodes entries the way they are written: the locale's 8-bit encoding (names kept byte for
// byte), no BOM, CR LF each.
QByteArray FormatListText(const QStringList& entries);

// Reads a list file; raises EFOpenError and leaves target untouched when it cannot be read, is
// not a regular file or is larger than 64 MiB.
void LoadListFile(const QString& fileName, QStringList& target);
QStringList LoadListFile(const QString& fileName);
// The same file's bytes, read with the same rules, for the play lists of other players.
QByteArray ReadListFileBytes(const QString& fileName);

// Writes a list file atomically: the old file stays whole unless the new one is complete.
// Symbolic links are followed; a file with several hard links is rewritten in place; the owner
// and permissions are kept. Raises EFCreateError on failure, and changes nothing when the file
// is one the user may not write.
void SaveListFile(const QString& fileName, const QStringList& entries);
// The same for bytes already formatted (the play lists of other players).
void SaveListFileBytes(const QString& fileName, const QByteArray& bytes);

// Entry [index] of a list, raising EListError outside it.
const QString& ListItem(const QStringList& list, qsizetype index);
