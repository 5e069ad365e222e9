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

// The message a later start sends: a tag, then the files. The running player answers with one
// byte once it has taken them.
constexpr quint32 kHandOffTag = 0x4f6e4458; // "OnDX"
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
    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << kHandOffTag << files;
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
    QStringList files;
    in >> tag >> files;
    if (!in.commitTransaction()) {
        // not all of it yet; a message that can never be whole is cut off by the size check
        if (in.status() == QDataStream::ReadCorruptData)
            peer->abort();
        return;
    }
    if (tag != kHandOffTag) {
        peer->abort();
        return;
    }
    peer->disconnect(this);
    if (!serving_) {
        waiting_.append({peer, files});
        return;
    }
    Answer(peer, files);
}

void PlayerInstance::Serve() {
    serving_ = true;
    for (const auto& [peer, files] : std::exchange(waiting_, {}))
        if (peer) // not one that gave up waiting
            Answer(peer, files);
}

void PlayerInstance::Answer(QLocalSocket* peer, const QStringList& files) {
    emit Activated(files);
    peer->putChar(kTaken);
    peer->disconnectFromServer();
}
