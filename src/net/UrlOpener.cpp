#include "net/UrlOpener.h"

#include <QDesktopServices>

namespace {

struct Recorder {
    bool on = false;
    QList<QUrl> urls;
};

Recorder& recorder() {
    static Recorder r;
    return r;
}

} // namespace

void UrlOpener::Open(const QUrl& url) {
    if (recorder().on) {
        recorder().urls.append(url);
        return;
    }
    // the browser or the desktop reports its own failures; there is nothing useful to add
    QDesktopServices::openUrl(url);
}

void UrlOpener::SetRecording(bool on) {
    recorder().on = on;
}

bool UrlOpener::Recording() {
    return recorder().on;
}

QList<QUrl> UrlOpener::Recorded() {
    return recorder().urls;
}

void UrlOpener::ClearRecorded() {
    recorder().urls.clear();
}
