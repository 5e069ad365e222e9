#pragma once

#include <QList>
#include <QUrl>

// Hands addresses and files to the desktop's default handler. Tests switch on recording so
// that nothing is opened and the requests can be inspected instead.
class UrlOpener {
public:
    static void Open(const QUrl& url);

    static void SetRecording(bool on);
    static bool Recording();
    static QList<QUrl> Recorded();
    static void ClearRecorded();
};
