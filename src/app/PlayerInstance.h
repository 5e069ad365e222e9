#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

// One player per folder: the first `ondrix` started in a folder listens on a local socket in
// the runtime directory named after the folder's canonical path; one started later in the same
// folder hands its files over through it and ends, so no two players write the same
// "patch.dat". A socket left by a player that crashed is taken over.
//
// A lock on a file beside the socket (flock, so the system drops it when its holder dies) is held
// from the look for a running player until this one listens, so two players started at the same
// moment cannot both become the first.
class PlayerInstance : public QObject {
    Q_OBJECT
public:
    // Locks the folder's socket; usable before the application object exists.
    explicit PlayerInstance(const QString& folder);
    ~PlayerInstance() override;

    enum class EHandOff {
        NoPlayer,  // none runs in this folder: this process is the player
        HandedOff, // the running player took the files; this process ends with status 0
        Failed,    // one runs but did not answer; Error() says why
    };
    // Offers `files` (possibly none) to a player running in the folder.
    EHandOff HandOff(const QStringList& files);
    // Listens for later starts, replacing a stale socket, and releases the lock. Needs the
    // application object. Without a runtime directory the player simply runs alone.
    void Listen();
    // From now on later starts are answered (Activated); until then they wait, so none is lost
    // while the window is still being made.
    void Serve();

    QString SocketPath() const { return socketPath_; }
    QString Error() const { return error_; }

signals:
    // A later start in this folder: show the window and take the files, if there are any.
    // `activationToken` is the desktop's token for that start, which lets the window come to
    // the front (XDG activation on Wayland), or empty. The later start is answered when the
    // handlers return.
    void Activated(const QStringList& files, const QString& activationToken);

private:
    struct THandOff {
        QStringList Files;
        QString ActivationToken;
    };
    void Receive(QLocalSocket* peer);
    void Answer(QLocalSocket* peer, const THandOff& handOff);

    QString socketPath_;
    QString error_;
    // the lock file's descriptor while locked, else -1
    struct TLock {
        int Fd = -1;
        TLock() = default;
        TLock(const TLock&) = delete;
        TLock& operator=(const TLock&) = delete;
        ~TLock() { Release(); }
        void Release();
    };
    TLock lock_;
    QLocalServer* server_ = nullptr;
    bool serving_ = false;
    // later starts that came before Serve()
    QList<QPair<QPointer<QLocalSocket>, THandOff>> waiting_;
};
