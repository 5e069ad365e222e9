#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>

class QMimeData;
class QObject;
class QWidget;

// What comes into the list from outside the player's own dialogs — a drop, the command line, a
// later start, the desktop's OpenUri, "Add folder" — and the play lists chosen in the dialogs:
// files, folders and play lists, read as the entries they give. Reading may take long (a large
// folder, a slow share), so it runs off the GUI thread.
struct TListInput {
    QStringList Entries;
    QStringList Refused; // what could not be taken and why, one line each, for the one box
    bool Cancelled = false;
};

// Expands `items` (absolute paths), in order: a folder gives every playable file under it
// (core/FolderScan, recognised by content as playback's IsPlayableFile does), a play list
// (core/PlayListFormats) the entries it names, kept whether they exist or not; any other file is
// itself, if `checkFiles` only when it is playable. A name holding a line break, which a list
// file cannot hold, is refused. Blocking: this is what the thread runs; `seen` counts the files
// and folders looked at.
TListInput ExpandListInput(const QStringList& items, bool checkFiles,
                           const std::atomic<bool>& cancel, std::atomic<int64_t>& seen);

// A drop: the "text/uri-list" it offered (DroppedUris), read as the local paths it names (names
// decoded byte for byte) and expanded as above; URIs that name no local file are refused.
TListInput ExpandDroppedUris(const QByteArray& uris, const std::atomic<bool>& cancel,
                             std::atomic<int64_t>& seen);

// The same off the GUI thread. The window paints and the timers run meanwhile; for half a second
// the user's input waits, then a window over `owner` shows how far the reading got, and its
// Cancel gives Cancelled (as does the program quitting meanwhile), whatever was read by then
// left unused.
TListInput ReadListInput(QWidget* owner, const QStringList& items, bool checkFiles);
// The same for a drop's URIs, which are read on that thread too (a drop may name thousands).
TListInput ReadDroppedUris(QWidget* owner, const QByteArray& uris);

// True while ReadListInput waits: what would change the list meanwhile waits too.
bool ListInputReading();

// The entries taken. The refused are named in one error box: raised as the error when nothing
// was taken, else shown from the event loop once the handler has taken the entries (dropped
// with `context`).
QStringList TakeListInput(const TListInput& input, QObject* context);

// The "text/uri-list" a drop offers, as its bytes: QMimeData::urls() decodes each name as UTF-8,
// losing the bytes of one that is not.
QByteArray DroppedUris(const QMimeData& data);

// The text for the web addresses a play list named, which were left out.
QString WebAddressesLeftOut(int32_t count, const QString& list);

// Whether a drag offers anything a drop could take.
bool OffersFiles(const QMimeData& data);
