#include "net/DownloadUrlAction.h"

#include "net/CurlLibrary.h"
#include "net/NetErrors.h"

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

} // namespace

DownloadUrlAction::DownloadUrlAction(const QString& caption, const QString& hint,
                                     const QString& url, const QString& fileName,
                                     const TransferLimits& limits)
    : caption_(caption), hint_(hint), url_(url), fileName_(fileName), limits_(limits) {}

void DownloadUrlAction::Execute() {
    lastScheme_.clear();
    const CurlLibrary& lib = RequireCurlLibrary();

    CurlHandle curl(lib.easyInit(), CurlCleanup{lib.easyCleanup});
    if (!curl)
        throw EDownloadError(url_);

    // QSaveFile writes beside the target and discards its temporary file unless committed
    QSaveFile file(fileName_);
    if (!file.open(QIODevice::WriteOnly))
        throw EDownloadError(url_);

    const QByteArray url = url_.toUtf8();
    const QByteArray caFile = caFile_.toLocal8Bit();
    CURL* h = curl.get();
    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
        ok = ok && lib.easySetopt(h, option, value) == CURLE_OK;
    };
    set(CURLOPT_URL, url.constData());
    set(CURLOPT_WRITEFUNCTION, &WriteToFile);
    set(CURLOPT_WRITEDATA, static_cast<void*>(&file));
    // without it a 404 page would be saved as the file and reported as success
    set(CURLOPT_FAILONERROR, 1L);
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, 10L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile.isEmpty())
        set(CURLOPT_CAINFO, caFile.constData());
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits_.connect.count()));
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits_.stall.count()));
    set(CURLOPT_TIMEOUT_MS, static_cast<long>(limits_.total.count()));
    // timeouts must not rely on SIGALRM inside a Qt program
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_USERAGENT, "Ondrix/3.0");
    if (!ok)
        throw EDownloadError(url_);

    if (lib.easyPerform(h) != CURLE_OK)
        throw EDownloadError(url_);

    char* effective = nullptr;
    if (lib.easyGetinfo(h, CURLINFO_EFFECTIVE_URL, &effective) != CURLE_OK || !effective)
        throw EDownloadError(url_);
    const QString scheme = QUrl(QString::fromUtf8(effective)).scheme().toLower();

    if (!file.commit())
        throw EDownloadError(url_);
    lastScheme_ = scheme;
}
