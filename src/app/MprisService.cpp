#include "app/MprisService.h"

#include "app/MprisAdaptors.h"
#include "core/FileNames.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEvent>
#include <QFileInfo>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>

const QString MprisService::ObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");

// What the desktop entry opens and the engine plays, with the names the MIME database gives as
// aliases.
const QStringList MprisService::SupportedMimeTypes{
    QStringLiteral("audio/mpeg"),         QStringLiteral("audio/x-mp3"),
    QStringLiteral("audio/mp3"),          QStringLiteral("audio/x-mpeg"),
    QStringLiteral("audio/x-ms-wma"),     QStringLiteral("audio/x-wav"),
    QStringLiteral("audio/wav"),          QStringLiteral("audio/vnd.wave"),
    QStringLiteral("audio/flac"),         QStringLiteral("audio/x-flac"),
    QStringLiteral("audio/ogg"),          QStringLiteral("audio/vorbis"),
    QStringLiteral("audio/x-vorbis+ogg"), QStringLiteral("audio/opus"),
    QStringLiteral("audio/x-opus+ogg"),   QStringLiteral("audio/mp4"),
    QStringLiteral("audio/x-m4a")};

namespace {

const QString kBaseName = QStringLiteral("org.mpris.MediaPlayer2.ondrix");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
// RequestName: fail rather than wait in the queue for a name another player holds
constexpr uint kDoNotQueue = 4;
constexpr uint kPrimaryOwner = 1;

// Waits for the window's first paint, then starts the service once the paint is done.
class FirstPaint : public QObject {
public:
    FirstPaint(QWidget* window, MprisService* service) : QObject(service), service_(service) {
        window->installEventFilter(this);
        // a window that is never painted (hidden, minimised) still gets its controls
        QTimer::singleShot(2000, this, [this] { StartOnce(); });
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QMetaObject::invokeMethod(
                this, [this] { StartOnce(); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    void StartOnce() {
        service_->Start();
        deleteLater();
    }
    MprisService* service_;
};

QString statusName(PlayerControl::EStatus status) {
    switch (status) {
    case PlayerControl::EStatus::Playing:
        return QStringLiteral("Playing");
    case PlayerControl::EStatus::Paused:
        return QStringLiteral("Paused");
    case PlayerControl::EStatus::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

} // namespace

MprisService::MprisService(PlayerControl& control, QObject* parent)
    : QObject(parent), control_(control) {
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
}

MprisService::~MprisService() {
    if (registered_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(ObjectPath);
        if (!busName_.isEmpty())
            bus.unregisterService(busName_);
    }
}

void MprisService::StartAfterFirstPaint(QWidget* window) {
    new FirstPaint(window, this);
}

void MprisService::Start() {
    if (started_)
        return;
    started_ = true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return; // no session bus: the player simply has no desktop controls
    if (!bus.registerObject(ObjectPath, this, QDBusConnection::ExportAdaptors))
        return;
    registered_ = true;
    told_ = Current();
    connect(&control_, &PlayerControl::Changed, this, [this] { Announce(); });
    // after every seek, the window's own too: desktops keep their clock from it
    connect(&control_, &PlayerControl::Seeked, this, [this] { emit Seeked(Position()); });
    RequestName(kBaseName);
}

void MprisService::RequestName(const QString& name) {
    // Asked without waiting: a bus that is slow to answer must not hold the window.
    QDBusMessage request = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    request << name << kDoNotQueue;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(request), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, name](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<uint> reply = *call;
                if (reply.isValid() && reply.value() == kPrimaryOwner) {
                    busName_ = name;
                } else if (name == kBaseName) {
                    // the player of another folder has it: the standard's name for a second one
                    RequestName(
                        kBaseName +
                        QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid()));
                }
            });
}

MprisService::TState MprisService::Current() {
    TState state;
    state.Status = control_.Status();
    state.Repeat = control_.Repeat();
    state.Shuffle = control_.Shuffle();
    state.Volume = control_.Volume();
    state.Track = control_.Track();
    state.CanPlay = control_.CanPlay();
    state.CanGoNext = control_.CanGoNext();
    state.CanGoPrevious = control_.CanGoPrevious();
    state.CanSeek = control_.CanSeek();
    return state;
}

void MprisService::Announce(const QStringList& force) {
    if (!registered_)
        return;
    const TState now = Current();
    QVariantMap changed;
    const auto note = [&](const char* name, bool differs, const QVariant& value) {
        if (differs || force.contains(QLatin1String(name)))
            changed.insert(QLatin1String(name), value);
    };
    note("PlaybackStatus", now.Status != told_.Status, statusName(now.Status));
    note("LoopStatus", now.Repeat != told_.Repeat, LoopStatus());
    note("Shuffle", now.Shuffle != told_.Shuffle, now.Shuffle);
    note("Volume", now.Volume != told_.Volume, now.Volume / 1000.0);
    note("Metadata", now.Track != told_.Track, MetadataOf(now.Track));
    note("CanPlay", now.CanPlay != told_.CanPlay, now.CanPlay);
    note("CanPause", now.CanPlay != told_.CanPlay, now.CanPlay);
    note("CanGoNext", now.CanGoNext != told_.CanGoNext, now.CanGoNext);
    note("CanGoPrevious", now.CanGoPrevious != told_.CanGoPrevious, now.CanGoPrevious);
    note("CanSeek", now.CanSeek != told_.CanSeek, now.CanSeek);
    told_ = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(ObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

QString MprisService::PlaybackStatus() {
    return statusName(control_.Status());
}

QString MprisService::LoopStatus() const {
    return control_.Repeat() ? QStringLiteral("Playlist") : QStringLiteral("None");
}

QVariantMap MprisService::Metadata() {
    return MetadataOf(control_.Track());
}

QString MprisService::TrackId(const std::optional<PlayerControl::TTrack>& track) {
    if (!track)
        return kNoTrack;
    // the load, not the index: after OPEN FILE the new track may sit where the old one was
    return QStringLiteral("/io/github/ondrix/Ondrix3/Track/%1").arg(track->Load);
}

QVariantMap MprisService::MetadataOf(const std::optional<PlayerControl::TTrack>& track) {
    QVariantMap map;
    map.insert(QStringLiteral("mpris:trackid"),
               QVariant::fromValue(QDBusObjectPath(TrackId(track))));
    if (!track)
        return map;
    if (track->Length >= 0)
        map.insert(QStringLiteral("mpris:length"), qlonglong(track->Length) * 1000);
    // a file without a title is named by its file name, as file managers name it
    map.insert(QStringLiteral("xesam:title"),
               track->Title.isEmpty() ? QFileInfo(track->Path).fileName() : track->Title);
    if (!track->Artist.isEmpty())
        map.insert(QStringLiteral("xesam:artist"), QStringList{track->Artist});
    // the name's bytes, also where they are not UTF-8
    map.insert(QStringLiteral("xesam:url"), QString::fromLatin1(PathToFileUri(track->Path)));
    return map;
}

double MprisService::Volume() const {
    return control_.Volume() / 1000.0;
}

qlonglong MprisService::Position() {
    return qlonglong(control_.Position()) * 1000;
}

void MprisService::SetLoopStatus(const QString& status) {
    Later([this, status] {
        if (status == QLatin1String("None") || status == QLatin1String("Playlist"))
            control_.SetRepeat(status == QLatin1String("Playlist"));
        // one track over and over is not something the player does: the caller is told back
        Announce({QStringLiteral("LoopStatus")});
    });
}

void MprisService::SetShuffle(bool shuffle) {
    Later([this, shuffle] {
        control_.SetShuffle(shuffle);
        Announce({QStringLiteral("Shuffle")});
    });
}

void MprisService::SetVolume(double volume) {
    if (std::isnan(volume))
        return;
    const auto value = int32_t(std::lround(std::clamp(volume, 0.0, 1.0) * 1000));
    Later([this, value] {
        control_.SetVolume(value);
        // refused while muted: the caller's slider goes back to what the player has
        Announce({QStringLiteral("Volume")});
    });
}

void MprisService::Seek(qlonglong offset) {
    Later([this, offset] {
        if (!control_.CanSeek())
            return;
        const auto track = control_.Track();
        if (!track || track->Length < 0)
            return;
        const qlonglong target = qlonglong(control_.Position()) + offset / 1000;
        if (target > track->Length) {
            // past the end: the next track, as the standard asks
            control_.Next();
            return;
        }
        control_.SeekTo(int32_t(std::max<qlonglong>(target, 0)));
    });
}

void MprisService::SetPosition(const QString& trackId, qlonglong position) {
    Later([this, trackId, position] {
        if (!control_.CanSeek())
            return;
        const auto track = control_.Track();
        // a request meant for a track that is no longer current is ignored
        if (!track || trackId != TrackId(track) || position < 0 || position / 1000 > track->Length)
            return;
        control_.SeekTo(int32_t(position / 1000));
    });
}
