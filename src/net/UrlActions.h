#pragma once

#include "net/BrowseUrlAction.h"
#include "net/DownloadUrlAction.h"

#include <QString>

// The four actions on the maker's web server: two pages opened in the browser and two files
// downloaded into the working directory.
class UrlActions {
public:
    static constexpr const char* HomePath = "/";
    static constexpr const char* ContactPath = "/index.php?page=kontakt";
    static constexpr const char* UpdatePath = "/soft/ondrix/updater.exe";
    static constexpr const char* InfoPath = "/soft/ondrix/info.qd3";

    // The server compiled in (scheme and host, no trailing slash).
    static QString DefaultServer();

    UrlActions();

    QString Server() const { return server_; }
    // Points all four addresses at another server; tests use a local one.
    void SetServer(const QString& server);

    // Opens the file aUpdate downloaded with the desktop's default handler. Returns false when
    // the file is missing. Raises EUpdaterRefusedError, and deletes the file, when its last
    // transfer did not end on HTTPS: a program fetched in the clear may have been swapped on
    // the way.
    bool StartUpdater();
    // At exit: removes an updater left by an earlier run, but not the one handed to the
    // desktop in this run, which its opener may not have read yet.
    void RemoveStaleUpdater() const;

    BrowseUrlAction Home;
    BrowseUrlAction Contact;
    DownloadUrlAction aUpdate;
    DownloadUrlAction dInfo;

private:
    QString server_;
    bool updaterHandedOver_ = false;
};
