#include "app/MprisAdaptors.h"

#include "app/MprisService.h"
#include "core/FileNames.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QGuiApplication>

MprisRootAdaptor::MprisRootAdaptor(MprisService* service)
    : QDBusAbstractAdaptor(service), service_(service) {}

QString MprisRootAdaptor::Identity() const {
    return QCoreApplication::applicationName();
}

QString MprisRootAdaptor::DesktopEntry() const {
    return QGuiApplication::desktopFileName();
}

QStringList MprisRootAdaptor::SupportedMimeTypes() const {
    return MprisService::SupportedMimeTypes;
}

void MprisRootAdaptor::Raise() {
    service_->Later([s = service_] { s->Control().Raise({}); });
}

void MprisRootAdaptor::Quit() {
    service_->Later([s = service_] { s->Control().Quit(); });
}

MprisPlayerAdaptor::MprisPlayerAdaptor(MprisService* service)
    : QDBusAbstractAdaptor(service), service_(service) {
    connect(service, &MprisService::Seeked, this, &MprisPlayerAdaptor::Seeked);
}

QString MprisPlayerAdaptor::PlaybackStatus() const {
    return service_->PlaybackStatus();
}

QString MprisPlayerAdaptor::LoopStatus() const {
    return service_->LoopStatus();
}

void MprisPlayerAdaptor::SetLoopStatus(const QString& status) {
    service_->SetLoopStatus(status);
}

bool MprisPlayerAdaptor::Shuffle() const {
    return service_->Shuffle();
}

void MprisPlayerAdaptor::SetShuffle(bool shuffle) {
    service_->SetShuffle(shuffle);
}

void MprisPlayerAdaptor::SetRate(double rate) {
    // one speed only; 0 is a request to pause
    if (rate == 0.0)
        Pause();
}

QVariantMap MprisPlayerAdaptor::Metadata() const {
    return service_->Metadata();
}

double MprisPlayerAdaptor::Volume() const {
    return service_->Volume();
}

void MprisPlayerAdaptor::SetVolume(double volume) {
    service_->SetVolume(volume);
}

qlonglong MprisPlayerAdaptor::Position() const {
    return service_->Position();
}

bool MprisPlayerAdaptor::CanGoNext() const {
    return service_->CanGoNext();
}

bool MprisPlayerAdaptor::CanGoPrevious() const {
    return service_->CanGoPrevious();
}

bool MprisPlayerAdaptor::CanPlay() const {
    return service_->CanPlay();
}

bool MprisPlayerAdaptor::CanSeek() const {
    return service_->CanSeek();
}

void MprisPlayerAdaptor::Next() {
    service_->Later([s = service_] { s->Control().Next(); });
}

void MprisPlayerAdaptor::Previous() {
    service_->Later([s = service_] { s->Control().Previous(); });
}

void MprisPlayerAdaptor::Pause() {
    service_->Later([s = service_] { s->Control().Pause(); });
}

void MprisPlayerAdaptor::PlayPause() {
    service_->Later([s = service_] { s->Control().PlayPause(); });
}

void MprisPlayerAdaptor::Stop() {
    service_->Later([s = service_] { s->Control().Stop(); });
}

void MprisPlayerAdaptor::Play() {
    service_->Later([s = service_] { s->Control().Play(); });
}

void MprisPlayerAdaptor::Seek(qlonglong offset) {
    service_->Seek(offset);
}

void MprisPlayerAdaptor::SetPosition(const QDBusObjectPath& trackId, qlonglong position) {
    service_->SetPosition(trackId.path(), position);
}

void MprisPlayerAdaptor::OpenUri(const QString& uri) {
    // decoded byte for byte: a name that is not UTF-8 comes percent-encoded
    const QString path = FileUriToPath(uri.toUtf8());
    if (path.isEmpty()) {
        sendErrorReply(QDBusError::NotSupported,
                       QStringLiteral("Only local files can be played: %1").arg(uri));
        return;
    }
    service_->Later([s = service_, path] { s->Control().OpenFiles({path}); });
}
