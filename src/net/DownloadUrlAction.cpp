#include "net/DownloadUrlAction.h"

#include "net/CurlLibrary.h"
#include "net/NetErrors.h"
#include "net/RunningDownload.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>
#include <memory>

namespace {

struct CurlCleanup {
    decltype(&curl_easy_cleanup) cleanup;
    void operator()(CURL* curl) const { cleanup(curl); }
};
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;

// Called by curl on its own stack: it must not throw, a short count aborts the transfer.
size_t WriteToFile(char* data, size_t size, size_t count, void* target) {
    auto* file = static_cast<QSaveFile*>(target);
    const auto bytes = static_cast<qint64>(size * count);
    return file->write(data, bytes) == bytes ? size * count : 0;
}

// Called by curl at least about once a second, also while nothing arrives: a non-zero result
// aborts the transfer, which is how a cancel reaches it.
int ReportProgress(void* target, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t) {
    auto* running = static_cast<RunningDownload*>(target);
    running->SetProgress(received, total);
    return running->CancelRequested() ? 1 : 0;
}

enum class Outcome { Failed, Cancelled, Done };

struct Transfer {
    QByteArray url;
    QString fileName;
    QByteArray caFile;
    TransferLimits limits;
};

// The worker thread's part: its own curl handle and its own file, nothing shared but `running`.
Outcome Perform(const CurlLibrary& lib, const Transfer& t, RunningDownload& running,
                QString& address) {
    CurlHandle curl(lib.easyInit(), CurlCleanup{lib.easyCleanup});
    if (!curl)
        return Outcome::Failed;

    // QSaveFile writes beside the target and discards its temporary file unless committed
    QSaveFile file(t.fileName);
    if (!file.open(QIODevice::WriteOnly))
        return Outcome::Failed;

    CURL* h = curl.get();
    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
        ok = ok && lib.easySetopt(h, option, value) == CURLE_OK;
    };
    set(CURLOPT_URL, t.url.constData());
    set(CURLOPT_WRITEFUNCTION, &WriteToFile);
    set(CURLOPT_WRITEDATA, static_cast<void*>(&file));
    set(CURLOPT_XFERINFOFUNCTION, &ReportProgress);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(&running));
    set(CURLOPT_NOPROGRESS, 0L);
    // without it a 404 page would be saved as the file and reported as success
    set(CURLOPT_FAILONERROR, 1L);
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, 10L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!t.caFile.isEmpty())
        set(CURLOPT_CAINFO, t.caFile.constData());
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(t.limits.connect.count()));
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(t.limits.stall.count()));
    set(CURLOPT_TIMEOUT_MS, static_cast<long>(t.limits.total.count()));
    // timeouts must not rely on SIGALRM, which would hit any thread of the program
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_USERAGENT, "Ondrix/3.0");
    if (!ok)
        return Outcome::Failed;

    const CURLcode result = lib.easyPerform(h);
    // a cancel that came too late to stop the transfer still counts: nothing is kept
    if (running.CancelRequested())
        return Outcome::Cancelled;
    if (result != CURLE_OK)
        return Outcome::Failed;

    char* effective = nullptr;
    if (lib.easyGetinfo(h, CURLINFO_EFFECTIVE_URL, &effective) != CURLE_OK || !effective)
        return Outcome::Failed;
    if (!file.commit())
        return Outcome::Failed;
    address = QString::fromUtf8(effective);
    return Outcome::Done;
}

} // namespace

DownloadUrlAction::DownloadUrlAction(const QString& caption, const QString& hint,
                                     const QString& url, const QString& fileName,
                                     const TransferLimits& limits)
    : caption_(caption), hint_(hint), url_(url), fileName_(fileName), limits_(limits) {}

QString DownloadUrlAction::LastScheme() const {
    return QUrl(lastAddress_).scheme().toLower();
}

bool DownloadUrlAction::Execute(const Waiter& wait) {
    lastAddress_.clear();
    const CurlLibrary& lib = RequireCurlLibrary();

    // the worker gets copies of its own; the relative target is resolved now, as it would be
    // on this thread
    const Transfer transfer{url_.toUtf8(), QFileInfo(fileName_).absoluteFilePath(),
                            caFile_.toLocal8Bit(), limits_};
    Outcome outcome = Outcome::Failed;
    QString address;
    RunningDownload running(
        [&](RunningDownload& self) { outcome = Perform(lib, transfer, self, address); });
    if (wait)
        wait(running);
    else
        running.WaitHoldingInput();
    if (!running.Finished()) {
        // the waiter gave up: cancelled, or the program is quitting
        running.Cancel();
        running.WaitHoldingInput();
    }
    running.Join();

    switch (outcome) {
    case Outcome::Cancelled:
        return false;
    case Outcome::Failed:
        throw EDownloadError(url_);
    case Outcome::Done:
        break;
    }
    lastAddress_ = address;
    return true;
}
