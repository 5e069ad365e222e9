#include "net/UrlActions.h"

#include "net/NetErrors.h"
#include "net/UrlOpener.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

using namespace std::chrono_literals;

namespace {

const QString BrowseHint = QStringLiteral("Browse URL");

TransferLimits Bounded(std::chrono::milliseconds total) {
    TransferLimits limits;
    limits.total = total;
    return limits;
}

} // namespace

QString UrlActions::DefaultServer() {
    return QStringLiteral(ONDRIX_SERVER_URL);
}

UrlActions::UrlActions()
    : Home(QString(), BrowseHint, QString()),
      Contact(QStringLiteral("Contact us"), BrowseHint, QString()),
      aUpdate(QString(), QString(), QString(), QStringLiteral("updater.exe"), Bounded(10min)),
      dInfo(QStringLiteral("&Download URL"), QStringLiteral("Download from URL"), QString(),
            QStringLiteral("info.qd3"), Bounded(60s)) {
    SetServer(DefaultServer());
}

void UrlActions::SetServer(const QString& server) {
    server_ = server;
    while (server_.endsWith(QLatin1Char('/')))
        server_.chop(1);
    const QString home = server_ + QLatin1String(HomePath);
    Home.SetURL(home);
    Home.SetCaption(home);
    Contact.SetURL(server_ + QLatin1String(ContactPath));
    aUpdate.SetURL(server_ + QLatin1String(UpdatePath));
    dInfo.SetURL(server_ + QLatin1String(InfoPath));
}

bool UrlActions::StartUpdater() {
    const QString path = QFileInfo(aUpdate.FileName()).absoluteFilePath();
    if (aUpdate.LastScheme() != QLatin1String("https")) {
        QFile::remove(path);
        throw EUpdaterRefusedError(aUpdate.URL(), aUpdate.LastAddress());
    }
    if (!QFile::exists(path))
        return false;
    UrlOpener::Open(QUrl::fromLocalFile(path));
    updaterHandedOver_ = true;
    return true;
}

void UrlActions::RemoveStaleUpdater() const {
    if (!updaterHandedOver_)
        QFile::remove(aUpdate.FileName());
}
