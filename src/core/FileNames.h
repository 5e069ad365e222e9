#pragma once

#include <QByteArray>
#include <QString>

// File names as the system stores them: bytes, usually UTF-8, but not always (a file copied from
// an old disk or an archive made elsewhere). Qt 6 decodes a name that is not valid UTF-8 with
// replacement characters, so such a name no longer leads to its file, and QDir leaves the file
// out of its listings altogether. Here every byte of a sequence that is not UTF-8 becomes one
// lone surrogate, U+DC80 to U+DCFF, and encoding turns it back into that byte: any name survives
// the way through a QString, a play list and back to the file system, byte for byte.

// Bytes to text: valid UTF-8 as it reads, every other byte as its lone surrogate.
QString DecodeFileName(const QByteArray& bytes);

// Text to bytes: UTF-8, and each lone surrogate U+DC80..U+DCFF as its byte (another lone
// surrogate, which no name decoded here holds, as U+FFFD).
QByteArray EncodeFileName(const QString& name);

// Whether the bytes are valid UTF-8 throughout.
bool IsUtf8(const QByteArray& bytes);

// "file:" URIs (RFC 8089), as file managers offer them in text/uri-list and play lists hold them:
// the local path they name, percent-decoded to bytes and then decoded as above; an empty string
// when the URI is no local file (another host, another scheme).
QString FileUriToPath(const QByteArray& uri);

// The file: URI of an absolute path: its bytes percent-encoded where RFC 3986 asks.
QByteArray PathToFileUri(const QString& path);

// Percent-decodes bytes (%XX; a "%" not followed by two hex digits stays as it is).
QByteArray PercentDecoded(const QByteArray& text);

// Whether text begins with a URI scheme ("http:", "file:"): a letter, then letters, digits,
// "+", "-" or ".", then ":". A single letter is a Windows drive, not a scheme.
bool HasUriScheme(const QByteArray& text);

// The absolute, cleaned form of a path, against the working directory; text only, so a name
// kept as above stays as it is (QFileInfo would encode it to look it up).
QString AbsolutePath(const QString& path);
