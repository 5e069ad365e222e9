#pragma once

#include "app/PlayerControl.h"
#include "core/BoundedWait.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <optional>
#include <utility>

class QWidget;

// The player on the session bus as an MPRIS 2 media player: the desktop's player controls and
// media keys. Registered as org.mpris.MediaPlayer2.ondrix, or .instance<pid> when a player of
// another folder holds that name. Without a session bus it does nothing, silently.
//
// Every call from the bus is answered at once and carried out from the event loop through the
// PlayerControl, so an error box never holds a caller's reply. Whatever changes, by the bus or
// in the window, is compared with what the bus was last told and sent as PropertiesChanged.
class MprisService : public QObject {
    Q_OBJECT
public:
    explicit MprisService(PlayerControl& control, QObject* parent = nullptr);
    ~MprisService() override;

    // Connects after the window's first paint: the bus costs nothing before the player shows.
    void StartAfterFirstPaint(QWidget* window);
    void Start();
    // The name held on the bus, once granted.
    QString BusName() const { return busName_; }

    static const QString ObjectPath;
    static const QStringList SupportedMimeTypes;

    // For the adaptors: the properties and what the methods do.
    PlayerControl& Control() { return control_; }
    QString PlaybackStatus();
    QString LoopStatus() const;
    bool Shuffle() const { return control_.Shuffle(); }
    QVariantMap Metadata();
    double Volume() const;
    qlonglong Position(); // microseconds
    bool CanGoNext() const { return control_.CanGoNext(); }
    bool CanGoPrevious() const { return control_.CanGoPrevious(); }
    bool CanPlay() const { return control_.CanPlay(); }
    bool CanSeek() const { return control_.CanSeek(); }

    void SetLoopStatus(const QString& status);
    void SetShuffle(bool shuffle);
    void SetVolume(double volume);
    // Runs `action` from the event loop, after the caller has its reply (and after an open that
    // is waited for meanwhile).
    template <typename F> void Later(F action) { BoundedWait::AfterWait(this, std::move(action)); }
    void Seek(qlonglong offset);
    void SetPosition(const QString& trackId, qlonglong position);

signals:
    void Seeked(qlonglong position);

private:
    struct TState {
        PlayerControl::EStatus Status = PlayerControl::EStatus::Stopped;
        bool Repeat = false;
        bool Shuffle = false;
        int32_t Volume = 0;
        std::optional<PlayerControl::TTrack> Track;
        bool CanPlay = false;
        bool CanGoNext = false;
        bool CanGoPrevious = false;
        bool CanSeek = false;
    };
    TState Current();
    static QVariantMap MetadataOf(const std::optional<PlayerControl::TTrack>& track);
    static QString TrackId(const std::optional<PlayerControl::TTrack>& track);
    void RequestName(const QString& name);
    // Tells the bus what changed since it was last told; `force` names properties to send
    // anyway (a refused change, so the caller's view snaps back).
    void Announce(const QStringList& force = {});

    PlayerControl& control_;
    bool started_ = false;
    bool registered_ = false;
    QString busName_;
    TState told_;
};
