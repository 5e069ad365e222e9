#include "net/BrowseUrlAction.h"

#include "net/UrlOpener.h"

#include <QUrl>

BrowseUrlAction::BrowseUrlAction(const QString& caption, const QString& hint, const QString& url)
    : caption_(caption), hint_(hint), url_(url) {}

void BrowseUrlAction::Execute() const {
    UrlOpener::Open(QUrl(url_));
}
