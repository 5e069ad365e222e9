#pragma once

#include <QString>
#include <chrono>
#include <functional>

class RunningDownload;

// Bounds of one transfer, so that a server that accepts and then never answers, or stalls
// half-way, cannot freeze the player for good.
struct TransferLimits {
    std::chrono::milliseconds connect{10'000};
    // no byte arriving for this long ends the transfer; curl counts whole seconds and averages
    // the speed over its last five or so, so a stall after some data is noticed that much later
    std::chrono::seconds stall{15};
    std::chrono::milliseconds total{60'000};
};

// Downloads an address to a file. The file is written under a temporary name beside the
// target and renamed over it only when the whole transfer succeeded, so a failure leaves an
// existing file as it was and never leaves a partial one.
//
// Execute returns only when the transfer is over, as before, but the transfer itself runs on
// a thread of its own (RunningDownload) while the GUI thread waits in a local event loop: the
// windows repaint and the timers tick, and the user's input is held until the end.
class DownloadUrlAction {
public:
    // How the GUI thread waits for a running transfer, e.g. with a busy cursor or a dialog
    // that offers to cancel it. It may return early (after a cancel, or when the program is
    // quitting); the transfer is then cancelled.
    using Waiter = std::function<void(RunningDownload& running)>;

    DownloadUrlAction(const QString& caption, const QString& hint, const QString& url,
                      const QString& fileName, const TransferLimits& limits);

    QString Caption() const { return caption_; }
    QString Hint() const { return hint_; }
    QString URL() const { return url_; }
    void SetURL(const QString& url) { url_ = url; }
    QString FileName() const { return fileName_; }
    void SetFileName(const QString& fileName) { fileName_ = fileName; }
    TransferLimits Limits() const { return limits_; }
    void SetLimits(const TransferLimits& limits) { limits_ = limits; }
    // Certificate authorities to trust instead of the system's; empty means the system's.
    QString CaFile() const { return caFile_; }
    void SetCaFile(const QString& caFile) { caFile_ = caFile; }

    // The address the last successful transfer ended at, after redirects, and its lower-case
    // scheme; empty when the last Execute failed, was cancelled or none ran yet.
    QString LastAddress() const { return lastAddress_; }
    QString LastScheme() const;

    // Returns true once the file is in place and false when the transfer was cancelled (the
    // old file stays). Raises ELoadLibraryError when the transfer library cannot be set up
    // and EDownloadError on any failed transfer. Without a waiter the GUI thread waits with
    // the user's input held.
    bool Execute(const Waiter& wait = {});

private:
    QString caption_;
    QString hint_;
    QString url_;
    QString fileName_;
    TransferLimits limits_;
    QString caFile_;
    QString lastAddress_;
};
