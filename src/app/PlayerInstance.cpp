#include "app/PlayerInstance.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// The message a later start sends: a tag, then the files, then, under the second tag, the
// desktop's activation token. Without a token it sends the first kind, which every player
// takes. The running player answers with one byte once it has taken them.
constexpr quint32 kHandOffTag = 0x4f6e4458;          // "OnDX"
constexpr quint32 kHandOffWithTokenTag = 0x4f6e4441; // "OnDA"
constexpr char kTaken = 'k';
// Far more than any command line; a peer sending more is cut off.
constexpr qint64 kMaxMessage = 16 * 1024 * 1024;
constexpr int kConnectMs = 2000;
constexpr int kAnswerMs = 10000;

} // namespace

PlayerInstance::PlayerInstance(const QString& folder) {
    const QString canonical = QDir(folder).canonicalPath();
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (canonical.isEmpty() || runtime.isEmpty())
        return; // a folder that no longer exists, or no private runtime directory: run alone
    // The folder's path may be long and hold any character; a socket's path may not.
    const QByteArray hash =
        QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    socketPath_ =
        QDir(runtime).filePath(QStringLiteral("ondrix-%1.socket").arg(QString::fromLatin1(hash)));
    const QByteArray lockPath = QFile::encodeName(socketPath_ + QStringLiteral(".lock"));
    lock_.Fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock_.Fd < 0)
        return; // then the players of this folder cannot be told apart: run alone
    // Another start holds it only for the moment it looks and listens; one that hangs is not
    // waited for forever.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerMs);
    while (::flock(lock_.Fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() > deadline) {
            lock_.Release();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

PlayerInstance::~PlayerInstance() = default;

void PlayerInstance::TLock::Release() {
    if (Fd >= 0)
        ::close(Fd); // and with it the lock
    Fd = -1;
}

PlayerInstance::EHandOff PlayerInstance::HandOff(const QStringList& files) {
    if (socketPath_.isEmpty())
        return EHandOff::NoPlayer;
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(kConnectMs)) {
        // nothing there, or a socket whose player is gone: Listen() takes the name
        if (socket.error() == QLocalSocket::ServerNotFoundError ||
            socket.error() == QLocalSocket::ConnectionRefusedError)
            return EHandOff::NoPlayer;
        error_ = QStringLiteral("cannot reach the player running in this folder (%1): %2")
                     .arg(socketPath_, socket.errorString());
        return EHandOff::Failed;
    }
    // The window may come to the front only with the token the desktop gave this start (on
    // Wayland; a launcher sets it for the program it starts).
    const QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        if (token.isEmpty())
            out << kHandOffTag << files;
        else
            out << kHandOffWithTokenTag << files << token;
    }
    socket.write(message);
    // The answer comes once the player has the files and has come to the front.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(kAnswerMs)) {
            error_ = QStringLiteral("the player running in this folder does not answer (%1)")
                         .arg(socket.errorString());
            return EHandOff::Failed;
        }
    }
    char answer = 0;
    socket.getChar(&answer);
    if (answer != kTaken) {
        error_ = QStringLiteral("the player running in this folder refused the files");
        return EHandOff::Failed;
    }
    return EHandOff::HandedOff;
}

void PlayerInstance::Listen() {
    if (socketPath_.isEmpty())
        return;
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // HandOff() found no player answering: whatever socket is there is stale.
    QLocalServer::removeServer(socketPath_);
    if (!server_->listen(socketPath_)) {
        // Not fatal: this player still works, it only cannot be found by later starts.
        qWarning("ondrix: cannot listen on %s: %s", qPrintable(socketPath_),
                 qPrintable(server_->errorString()));
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] { Receive(peer); });
            if (peer->bytesAvailable() > 0)
                Receive(peer);
        }
    });
    lock_.Release();
}

void PlayerInstance::Receive(QLocalSocket* peer) {
    if (peer->bytesAvailable() > kMaxMessage) {
        peer->abort();
        return;
    }
    QDataStream in(peer);
    in.setVersion(QDataStream::Qt_6_0);
    in.startTransaction();
    quint32 tag = 0;
    THandOff handOff;
    in >> tag;
    if (tag == kHandOffTag || tag == kHandOffWithTokenTag)
        in >> handOff.Files;
    if (tag == kHandOffWithTokenTag)
        in >> handOff.ActivationToken;
    if (!in.commitTransaction()) {
        // not all of it yet; a message that can never be whole is cut off by the size check
        if (in.status() == QDataStream::ReadCorruptData)
            peer->abort();
        return;
    }
    if (tag != kHandOffTag && tag != kHandOffWithTokenTag) {
        peer->abort();
        return;
    }
    peer->disconnect(this);
    if (!serving_) {
        waiting_.append({peer, handOff});
        return;
    }
    Answer(peer, handOff);
}

void PlayerInstance::Serve() {
    serving_ = true;
    for (const auto& [peer, handOff] : std::exchange(waiting_, {}))
        if (peer) // not one that gave up waiting
            Answer(peer, handOff);
}

void PlayerInstance::Answer(QLocalSocket* peer, const THandOff& handOff) {
    emit Activated(handOff.Files, handOff.ActivationToken);
    peer->putChar(kTaken);
    peer->disconnectFromServer();
}
