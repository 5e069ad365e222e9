#include "app/ListInput.h"

#include "app/Application.h"
#include "core/BoundedWait.h"
#include "core/Errors.h"
#include "core/FileNames.h"
#include "core/FolderScan.h"
#include "core/PlayListFormats.h"
#include "playback/AudioFormats.h"
#include "playback/Decoder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocale>
#include <QMimeData>
#include <QProgressDialog>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// Threads: ReadListInput runs on the GUI thread and starts one detached thread that runs
// ExpandListInput on a job it shares with it. The thread writes the result and then sets Done;
// the GUI thread reads the result only after it saw Done. A cancelled job is left to its thread,
// which owns it with the GUI thread and finishes it unseen.

namespace {

const QString kMimeUriList = QStringLiteral("text/uri-list");

int gReading = 0;

QString Quoted(const QString& path) {
    return QLatin1Char('"') + path + QLatin1Char('"');
}

} // namespace

TListInput ExpandListInput(const QStringList& items, bool checkFiles,
                           const std::atomic<bool>& cancel, std::atomic<int64_t>& seen) {
    TListInput input;
    QStringList unreadable;
    for (const QString& item : items) {
        if (cancel.load(std::memory_order_relaxed))
            break;
        seen.fetch_add(1, std::memory_order_relaxed);
        struct stat st {};
        if (::stat(EncodeFileName(item).constData(), &st) != 0) {
            input.Refused << EFOpenError(item, SystemErrorText(errno)).Message();
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            const int fd =
                ::open(EncodeFileName(item).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0) {
                input.Refused << QStringLiteral("The folder %1 cannot be read: %2")
                                     .arg(Quoted(item), SystemErrorText(errno));
                continue;
            }
            ::close(fd);
            TFolderScan scan;
            ScanFolder(item, IsPlayableFile, scan, cancel, seen);
            if (scan.Files.isEmpty() && !cancel.load(std::memory_order_relaxed))
                input.Refused << QStringLiteral("The folder %1 holds no file that can be played")
                                     .arg(Quoted(item));
            input.Entries += scan.Files;
            unreadable += scan.Unreadable;
            continue;
        }
        if (PlayListFormatOf(item) != EPlayListFormat::None) {
            try {
                const TPlayListEntries list = LoadPlayList(item);
                input.Entries += list.Entries;
                if (list.WebAddresses > 0)
                    input.Refused << WebAddressesLeftOut(list.WebAddresses, item);
            } catch (const Exception& e) {
                input.Refused << e.Message();
            }
            continue;
        }
        if (checkFiles && !IsPlayableFile(item)) {
            input.Refused << AudioFormats::NotSupported(QuotedFileName(item));
            continue;
        }
        input.Entries << item;
    }
    if (!unreadable.isEmpty())
        input.Refused << QStringLiteral("These folders could not be read and were left out: %1")
                             .arg(unreadable.join(QLatin1String(", ")));
    // a name with a line break would become two entries the next time the list is read
    QStringList broken;
    input.Entries.removeIf([&](const QString& e) {
        if (!e.contains(QLatin1Char('\r')) && !e.contains(QLatin1Char('\n')))
            return false;
        QString shown = e;
        shown.replace(QLatin1Char('\r'), QLatin1String("\\r"))
            .replace(QLatin1Char('\n'), QLatin1String("\\n"));
        broken << Quoted(shown);
        return true;
    });
    if (!broken.isEmpty())
        input.Refused << QStringLiteral("A play list cannot hold a file name with a line break: %1")
                             .arg(broken.join(QLatin1String(", ")));
    return input;
}

namespace {

// Runs `expand` off the GUI thread, as ReadListInput says.
TListInput
ReadOffThread(QWidget* owner,
              std::function<TListInput(const std::atomic<bool>&, std::atomic<int64_t>&)> expand) {
    struct TJob {
        std::function<TListInput(const std::atomic<bool>&, std::atomic<int64_t>&)> Expand;
        std::atomic<bool> Cancel{false};
        std::atomic<int64_t> Seen{0};
        std::atomic<bool> Done{false};
        TListInput Result;
    };
    auto job = std::make_shared<TJob>();
    job->Expand = std::move(expand);
    std::thread([job] {
        job->Result = job->Expand(job->Cancel, job->Seen);
        job->Done.store(true, std::memory_order_release);
    }).detach();
    const auto done = [&job] { return job->Done.load(std::memory_order_acquire); };

    // A few files are read before anything needs to move.
    for (int i = 0; i < 10 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!done()) {
        ++gReading;
        QEventLoop loop;
        QTimer poll;
        poll.setInterval(20);
        QElapsedTimer since;
        since.start();
        bool ended = false; // by us, not by the program quitting
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done() || since.elapsed() >= 500) {
                ended = true;
                loop.quit();
            }
        });
        poll.start();
        // the window paints and the timers tick; clicks and keys wait
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        if (!ended)
            job->Cancel.store(true);
        if (!done() && !job->Cancel.load()) {
            QProgressDialog dialog(QStringLiteral("Reading\u2026"), QStringLiteral("Cancel"), 0, 0,
                                   owner);
            dialog.setWindowTitle(QCoreApplication::applicationName());
            dialog.setWindowModality(Qt::ApplicationModal);
            dialog.setAutoReset(false);
            dialog.setAutoClose(false);
            dialog.setMinimumDuration(0);
            QObject::connect(&dialog, &QProgressDialog::canceled, &dialog,
                             [&] { job->Cancel.store(true); });
            QObject::disconnect(&poll, nullptr, &loop, nullptr);
            QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
                if (done()) {
                    dialog.accept();
                    return;
                }
                dialog.setLabelText(QStringLiteral("Reading\u2026 %1 files and folders looked at")
                                        .arg(QLocale().toString(qlonglong(job->Seen.load()))));
            });
            if (!done())
                dialog.exec();
        }
        --gReading;
    }
    if (!done() || job->Cancel.load()) {
        job->Cancel.store(true); // the thread stops soon; what it read is not used
        TListInput cancelled;
        cancelled.Cancelled = true;
        return cancelled;
    }
    return std::move(job->Result);
}

} // namespace

TListInput ReadListInput(QWidget* owner, const QStringList& items, bool checkFiles) {
    return ReadOffThread(
        owner, [items, checkFiles](const std::atomic<bool>& cancel, std::atomic<int64_t>& seen) {
            return ExpandListInput(items, checkFiles, cancel, seen);
        });
}

TListInput ReadDroppedUris(QWidget* owner, const QByteArray& uris) {
    return ReadOffThread(owner,
                         [uris](const std::atomic<bool>& cancel, std::atomic<int64_t>& seen) {
                             return ExpandDroppedUris(uris, cancel, seen);
                         });
}

QString WebAddressesLeftOut(int32_t count, const QString& list) {
    const QString what = count == 1 ? QStringLiteral("1 web address in %1 was left out")
                                    : QStringLiteral("%1 web addresses in %2 were left out")
                                          .arg(count)
                                          .arg(QStringLiteral("%1"));
    return what.arg(Quoted(list)) + QStringLiteral(": only files on this computer can be played");
}

bool ListInputReading() {
    return gReading > 0;
}

QStringList TakeListInput(const TListInput& input, QObject* context) {
    if (!input.Refused.isEmpty()) {
        const QString text = input.Refused.join(QLatin1Char('\n'));
        if (input.Entries.isEmpty())
            throw Exception(text);
        // after the handler, and after any open or caption read it waits for
        BoundedWait::AfterWait(
            context, [text] { TApplication::RunHandler([&] { throw Exception(text); }); });
    }
    return input.Entries;
}

bool OffersFiles(const QMimeData& data) {
    return data.hasFormat(kMimeUriList);
}

QByteArray DroppedUris(const QMimeData& data) {
    const QByteArray uris = data.data(kMimeUriList);
    if (!uris.isEmpty())
        return uris;
    // a source that offered the list only as URLs: their encoded form keeps the bytes
    QByteArray encoded;
    for (const QUrl& url : data.urls())
        encoded += url.toEncoded() + "\r\n";
    return encoded;
}

TListInput ExpandDroppedUris(const QByteArray& uris, const std::atomic<bool>& cancel,
                             std::atomic<int64_t>& seen) {
    QStringList paths;
    QStringList refused;
    for (QByteArray line : uris.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QString path = FileUriToPath(line);
        if (path.isEmpty())
            refused << QStringLiteral("%1 is not a file on this computer")
                           .arg(Quoted(QString::fromUtf8(line)));
        else
            paths << AbsolutePath(path);
    }
    TListInput input = ExpandListInput(paths, true, cancel, seen);
    input.Refused = refused + input.Refused;
    return input;
}
