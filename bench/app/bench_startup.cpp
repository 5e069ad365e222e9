// Starts the program as main() does (one player per folder included) and reports, as one line
// of JSON: milliseconds from the moment given on the command line (taken by the caller just
// before starting this process) to the main window's first paint, the resident memory after two
// idle seconds, what the one-player-per-folder check and the session bus (after the paint)
// cost, and whether TagLib was loaded by then (only for a first track whose ID3v2 tag names no
// title or artist).
#include "app/Application.h"
#include "app/MainWindowControl.h"
#include "app/MprisService.h"
#include "app/PlayerInstance.h"
#include "app/dmData.h"
#include "app/frmIndex.h"
#include "ui/Fonts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

long long nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

long residentKiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

bool tagLibLoaded() {
    QFile f(QStringLiteral("/proc/self/maps"));
    return f.open(QIODevice::ReadOnly) && f.readAll().contains("/libtag.so");
}

class FirstPaint : public QObject {
public:
    long long at = 0;
    // After the paint, what connecting to the session bus costs the event loop (the service's
    // own start after the paint then finds it done).
    MprisService* mpris = nullptr;
    long long mprisNs = -1;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Paint && at == 0) {
            at = nowNs();
            QMetaObject::invokeMethod(
                this,
                [this] {
                    const long long before = nowNs();
                    mpris->Start();
                    mprisNs = nowNs() - before;
                },
                Qt::QueuedConnection);
        }
        return QObject::eventFilter(o, e);
    }
};

} // namespace

int main(int argc, char** argv) {
    const long long started = argc > 1 ? std::atoll(argv[1]) : nowNs();
    // the look for a player already running in this folder, and the listening for later ones
    long long instanceNs = nowNs();
    PlayerInstance instance(QDir::currentPath());
    if (instance.HandOff({}) != PlayerInstance::EHandOff::NoPlayer)
        return 1; // another player runs in this folder
    instanceNs = nowNs() - instanceNs;
    TApplication app(argc, argv);
    const long long listenStart = nowNs();
    instance.Listen();
    instanceNs += nowNs() - listenStart;
    SetUpFonts();
    auto data = std::make_unique<TdmData>();
    auto frmIndex = std::make_unique<TfrmIndex>();
    auto control = std::make_unique<MainWindowControl>(*frmIndex);
    auto mpris = std::make_unique<MprisService>(*control);
    mpris->StartAfterFirstPaint(frmIndex.get());
    FirstPaint paint;
    paint.mpris = mpris.get();
    frmIndex->installEventFilter(&paint);
    frmIndex->show();
    QTimer::singleShot(2000, &app, &QCoreApplication::quit);
    app.exec();
    std::printf("{\"platform\": \"%s\", \"first_paint_ms\": %.1f, \"idle_rss_kib\": %ld, "
                "\"instance_ms\": %.2f, \"mpris_start_ms\": %.2f, \"taglib\": %s}\n",
                qPrintable(QGuiApplication::platformName()),
                paint.at ? double(paint.at - started) / 1e6 : -1.0, residentKiB(),
                double(instanceNs) / 1e6, double(paint.mprisNs) / 1e6,
                tagLibLoaded() ? "true" : "false");
    mpris.reset();
    control.reset();
    frmIndex.reset();
    data.reset();
    return 0;
}
