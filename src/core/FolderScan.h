#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>

// Every file under a folder, as the folder and its sub-folders hold them, in natural order
// (core/NaturalOrder.h: sub-folders and files by name, together). Symbolic links are followed,
// each folder is entered once (by device and inode), so a link that leads back up ends there.
// Names are read byte for byte (core/FileNames.h). A blocking call: run it off the GUI thread.
struct TFolderScan {
    QStringList Files;      // the files `take` accepted
    QStringList Unreadable; // "name": reason, for each folder that could not be read
};

// `take` decides for each file (it may read it); `cancel` stops the scan at the next file or
// folder; `seen` counts the files and folders looked at so far, for a progress display.
void ScanFolder(const QString& folder, const std::function<bool(const QString& path)>& take,
                TFolderScan& out, const std::atomic<bool>& cancel, std::atomic<int64_t>& seen);
