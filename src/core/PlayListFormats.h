#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

// The play lists of other players and of download sites: M3U (".m3u", ".m3u8"), PLS and XSPF,
// read as the entries they name; the editor's Save writes M3U8, PLS and XSPF as well as our own
// ".qdl" (core/ListFile). Entries are absolute paths in the list's order, named byte for byte as
// core/FileNames.h keeps names; entries whose files do not exist (a disk not mounted yet) are
// kept, web addresses are left out and counted.
enum class EPlayListFormat { None, Qdl, M3u, M3u8, Pls, Xspf };

// By the name's extension, in any case; None for any other name.
EPlayListFormat PlayListFormatOf(const QString& fileName);

struct TPlayListEntries {
    QStringList Entries;
    int32_t WebAddresses = 0; // entries that name no local file (http:, another host)
};

// Whether a path names an existing file or folder (for the M3U rules below).
using TExists = std::function<bool(const QString& path)>;

// The entries of a list of `format` whose bytes are `bytes`, kept in the absolute folder
// `folder` (relative names are resolved against it). M3U8, PLS and XSPF are UTF-8; an M3U line
// is UTF-8 where it is valid, otherwise the file its raw bytes name if `exists` says there is
// one, else the line read as Windows-1252. A name written with backslashes (on Windows) names
// the file with slashes when only that one exists. `#EXTINF`, titles and lengths are ignored.
// Raises Exception naming `name` for an XSPF file that is not well-formed XML.
TPlayListEntries ParsePlayList(EPlayListFormat format, const QByteArray& bytes,
                               const QString& folder, const TExists& exists,
                               const QString& name = {});

// Reads a list file of any of these formats (".qdl" as core/ListFile reads it); raises
// EFOpenError when it cannot be read, and Exception when it is no list of its kind.
TPlayListEntries LoadPlayList(const QString& fileName);

// The bytes of `entries` as a list of `format` kept in `folder`: M3U8 (also for M3U) with paths
// relative to the folder for the tracks under it and absolute otherwise (a name that is not
// valid UTF-8 as its file: URI), PLS the same, XSPF with file URIs; our own format for Qdl and
// None. Empty entries, which name no file, are left out
// of the other players' lists.
QByteArray FormatPlayList(EPlayListFormat format, const QStringList& entries,
                          const QString& folder);

// Writes the list in the format its name's extension asks for (our own for any other name),
// atomically as core/ListFile writes; raises EFCreateError.
void SavePlayList(const QString& fileName, const QStringList& entries);
