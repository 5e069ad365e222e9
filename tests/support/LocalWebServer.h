#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// tests/net/http_server.py on a free port of 127.0.0.1, serving the files of a temporary
// folder, killed by its PID when done (and quitting by itself when its stdin closes, should
// this process die first).
class LocalWebServer {
public:
    ~LocalWebServer() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    bool Start(const QString& root, const QStringList& extra = {}) {
        process_.setProgram(QStringLiteral("/usr/bin/python3"));
        process_.setArguments(
            QStringList{QStringLiteral(ONDRIX_TEST_HTTP_SERVER), QStringLiteral("--root"), root} +
            extra);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        if (!process_.waitForStarted(10000))
            return false;
        while (!process_.canReadLine())
            if (!process_.waitForReadyRead(10000))
                return false;
        bool ok = false;
        port_ = process_.readLine().trimmed().toUShort(&ok);
        return ok && port_ != 0;
    }

    QString Base(const QString& scheme = QStringLiteral("http")) const {
        return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port_);
    }

private:
    QProcess process_;
    quint16 port_ = 0;
};

// A self-signed certificate for 127.0.0.1, for the HTTPS server and curl's trust list.
inline bool MakeCertificate(const QString& cert, const QString& key) {
    QProcess openssl;
    openssl.start(QStringLiteral("/usr/bin/openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert});
    return openssl.waitForFinished(30000) && openssl.exitCode() == 0;
}

// A port that was free a moment ago: bound, read back, released.
inline quint16 UnusedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

// A proxy from the environment would stand between curl and the local servers.
inline void DropProxySettings() {
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
}
