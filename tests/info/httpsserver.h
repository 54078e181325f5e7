#pragma once

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>
#include <QUrl>

// Certificates made for one test run with openssl: a test CA and server
// identities for 127.0.0.1 that are good, for another host, expired, or
// self-signed.
struct TestCertificates
{
    struct Identity
    {
        QSslCertificate certificate;
        QSslKey key;
    };
    QString caFile;
    Identity good, wrongHost, expired, selfSigned;

    bool generate(const QString &directory, QString *error)
    {
        const QDir dir(directory);
        const auto run = [&](const QStringList &args) {
            QProcess openssl;
            openssl.setWorkingDirectory(directory);
            openssl.start(QStringLiteral("openssl"), args);
            if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit
                || openssl.exitCode() != 0) {
                *error = QStringLiteral("openssl %1: %2").arg(args.join(QLatin1Char(' ')),
                                                              QString::fromLocal8Bit(openssl.readAllStandardError()));
                return false;
            }
            return true;
        };
        const QStringList ecKey = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
        const auto writeExtensions = [&](const QString &name, const QByteArray &text) {
            QFile file(dir.filePath(name));
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
        };
        // Signed by the CA for `days` (negative: expired yesterday).
        const auto signedIdentity = [&](const QString &name, const QString &host, const QString &extensions,
                                        int days) {
            return run(QStringList{QStringLiteral("req")} + ecKey
                       + QStringList{QStringLiteral("-keyout"), name + QStringLiteral(".key"), QStringLiteral("-out"),
                                     name + QStringLiteral(".csr"), QStringLiteral("-subj"),
                                     QStringLiteral("/CN=") + host})
                   && run({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                           name + QStringLiteral(".csr"), QStringLiteral("-CA"), QStringLiteral("ca.pem"),
                           QStringLiteral("-CAkey"), QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"),
                           QStringLiteral("-out"), name + QStringLiteral(".pem"), QStringLiteral("-days"),
                           QString::number(days), QStringLiteral("-extfile"), extensions});
        };
        if (!writeExtensions(QStringLiteral("local.ext"), "subjectAltName=IP:127.0.0.1,DNS:localhost\n")
            || !writeExtensions(QStringLiteral("other.ext"), "subjectAltName=DNS:update.invalid\n"))
            return false;
        const bool made =
            run(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ecKey
                + QStringList{QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                              QStringLiteral("ca.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                              QStringLiteral("-subj"), QStringLiteral("/CN=Busvista Test CA"),
                              QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:TRUE"),
                              QStringLiteral("-addext"), QStringLiteral("keyUsage=critical,keyCertSign")})
            && signedIdentity(QStringLiteral("good"), QStringLiteral("127.0.0.1"), QStringLiteral("local.ext"), 2)
            && signedIdentity(QStringLiteral("wronghost"), QStringLiteral("update.invalid"),
                              QStringLiteral("other.ext"), 2)
            && signedIdentity(QStringLiteral("expired"), QStringLiteral("127.0.0.1"), QStringLiteral("local.ext"), -1)
            && run(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ecKey
                   + QStringList{QStringLiteral("-keyout"), QStringLiteral("self.key"), QStringLiteral("-out"),
                                 QStringLiteral("self.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                                 QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                                 QStringLiteral("subjectAltName=IP:127.0.0.1")});
        if (!made)
            return false;
        caFile = dir.filePath(QStringLiteral("ca.pem"));
        return load(dir, QStringLiteral("good"), &good) && load(dir, QStringLiteral("wronghost"), &wrongHost)
               && load(dir, QStringLiteral("expired"), &expired) && load(dir, QStringLiteral("self"), &selfSigned);
    }

private:
    static bool load(const QDir &dir, const QString &name, Identity *identity)
    {
        QFile certificate(dir.filePath(name + QStringLiteral(".pem")));
        QFile key(dir.filePath(name + QStringLiteral(".key")));
        if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
            return false;
        identity->certificate = QSslCertificate(&certificate, QSsl::Pem);
        identity->key = QSslKey(&key, QSsl::Ec, QSsl::Pem);
        return !identity->certificate.isNull() && !identity->key.isNull();
    }
};

// A small HTTPS server on 127.0.0.1 for the update check: fixed answers per
// path, including broken transfers.
class TestHttpsServer : public QTcpServer
{
public:
    enum Kind {
        Whole,    // status, headers and the whole body
        CutOff,   // announces the whole body, sends half and closes
        Stall,    // announces the whole body, sends half and then nothing
        Trickle,      // the whole body, its second half 300 ms after the first
        Unannounced   // the whole body without Content-Length: it ends with the connection
    };
    struct Route
    {
        Kind kind = Whole;
        int status = 200;
        QByteArray body;
        QByteArray location;   // for a redirect
    };

    bool start(const TestCertificates::Identity &identity)
    {
        m_identity = identity;
        return listen(QHostAddress::LocalHost);
    }
    void setIdentity(const TestCertificates::Identity &identity) { m_identity = identity; }
    void setRoute(const QString &path, const Route &route) { m_routes.insert(path, route); }
    void setBody(const QString &path, const QByteArray &body) { m_routes.insert(path, Route{Whole, 200, body, {}}); }
    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(serverPort()).arg(path));
    }
    int connections() const { return m_connections; }
    QStringList requests() const { return m_requests; }   // paths asked for, in order
    void resetCounts()
    {
        m_connections = 0;
        m_requests.clear();
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        ++m_connections;
        auto *socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setLocalCertificate(m_identity.certificate);
        socket->setPrivateKey(m_identity.key);
        socket->setPeerVerifyMode(QSslSocket::VerifyNone);
        connect(socket, &QSslSocket::disconnected, socket, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
        connect(socket, &QSslSocket::readyRead, socket, [this, socket] { onReadyRead(socket); });
        socket->startServerEncryption();
    }

private:
    void onReadyRead(QSslSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
        m_buffers.remove(socket);
        const QString path = requestLine.size() > 1 ? QString::fromLatin1(requestLine.at(1)) : QString();
        m_requests << path;
        const auto found = m_routes.constFind(path);
        const Route route = found == m_routes.constEnd() ? Route{Whole, 404, "nicht da", {}} : *found;

        QByteArray head = "HTTP/1.1 " + QByteArray::number(route.status) + " X\r\n";
        if (!route.location.isEmpty())
            head += "Location: " + route.location + "\r\n";
        if (route.kind != Unannounced)
            head += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
        head += "Connection: close\r\n\r\n";
        socket->write(head);
        switch (route.kind) {
        case Whole:
        case Unannounced:
            socket->write(route.body);
            socket->disconnectFromHost();
            break;
        case CutOff:
            socket->write(route.body.left(route.body.size() / 2));
            socket->disconnectFromHost();
            break;
        case Stall:
            socket->write(route.body.left(route.body.size() / 2));
            socket->flush();
            break;
        case Trickle:
            socket->write(route.body.left(route.body.size() / 2));
            socket->flush();
            QTimer::singleShot(300, socket, [socket, rest = route.body.mid(route.body.size() / 2)] {
                socket->write(rest);
                socket->disconnectFromHost();
            });
            break;
        }
    }

    TestCertificates::Identity m_identity;
    QHash<QString, Route> m_routes;
    QHash<QSslSocket *, QByteArray> m_buffers;
    int m_connections = 0;
    QStringList m_requests;
};
