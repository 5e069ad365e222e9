#pragma once

#include <QString>
#include <chrono>

// Bounds of one transfer, so that a server that accepts and then never answers, or stalls
// half-way, cannot freeze the player for good.
struct TransferLimits {
    std::chrono::milliseconds connect{10'000};
    // no byte arriving for this long ends the transfer; curl counts whole seconds and averages
    // the speed over its last five or so, so a stall after some data is noticed that much later
    std::chrono::seconds stall{15};
    std::chrono::milliseconds total{60'000};
};

// Downloads an address to a file synchronously. The file is written under a temporary name
// beside the target and renamed over it only when the whole transfer succeeded, so a failure
// leaves an existing file as it was and never leaves a partial one.
class DownloadUrlAction {
public:
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

    // Lower-case scheme of the address the last successful transfer ended at, after
    // redirects; empty when the last Execute failed or none ran yet.
    QString LastScheme() const { return lastScheme_; }

    // Raises ELoadLibraryError when the transfer library cannot be set up and
    // EDownloadError on any failed transfer.
    void Execute();

private:
    QString caption_;
    QString hint_;
    QString url_;
    QString fileName_;
    TransferLimits limits_;
    QString caFile_;
    QString lastScheme_;
};
