#include "streaming_port.h"

#include <QPointer>
#include <QSslSocket>
#include <QTimer>

#include "http_connection.h"
#include "icecast_stats.h"
#include "pass_through.h"

namespace {

// The first byte of every TLS connection: a handshake record.
constexpr char kTlsHandshakeRecord = 0x16;
constexpr int kFirstByteTimeoutMs = 30000;
// A listener's request line is never longer; a GET is waited for until its line is complete.
constexpr qint64 kMaxRequestLineBytes = 4096;

// The request line's first line, when the connection's bytes so far hold all of it.
QByteArray completeRequestLine(const QByteArray& start) {
    const qsizetype end = start.indexOf('\n');
    return end < 0 ? QByteArray() : start.left(end + 1);
}

}  // namespace

StreamingPort::StreamingPort(Account* account, AccountStore* store, const QHostAddress& address,
                             const QSslConfiguration& tls, IcecastStats* stats, QObject* parent)
    : QTcpServer(parent),
      m_account(account),
      m_store(store),
      m_address(address),
      m_tls(tls),
      m_stats(stats) {}

bool StreamingPort::open(QString* error) {
    if (isListening()) return true;
    if (listen(m_address, m_account->streamingPort)) return true;
    *error = QStringLiteral("cannot listen on port %1: %2")
                 .arg(m_account->streamingPort)
                 .arg(errorString());
    return false;
}

void StreamingPort::shut() {
    close();
    for (QObject* child : children()) {
        if (auto* passThrough = qobject_cast<PassThrough*>(child)) {
            passThrough->abort();
        } else if (auto* connection = qobject_cast<HttpConnection*>(child)) {
            connection->abort();
        } else if (auto* socket = qobject_cast<QSslSocket*>(child)) {
            socket->abort();
            socket->deleteLater();
        }
    }
}

void StreamingPort::incomingConnection(qintptr socketDescriptor) {
    // Plain until the first byte shows what the peer speaks; peeking in unencrypted mode leaves
    // the byte in the kernel, so a handshake still finds it.
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    auto* timeout = new QTimer(socket);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    timeout->start(kFirstByteTimeoutMs);
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);

    auto decide = [this, socket, timeout] {
        char first = 0;
        if (socket->peek(&first, 1) != 1) return;
        if (first != kTlsHandshakeRecord) {
            const QByteArray start = socket->peek(kMaxRequestLineBytes);
            const bool mayBeGet = start.startsWith("GET ") || QByteArray("GET ").startsWith(start);
            if (mayBeGet && completeRequestLine(start).isEmpty() &&
                start.size() < kMaxRequestLineBytes) {
                return;
            }
        }
        delete timeout;
        disconnect(socket, nullptr, this, nullptr);
        disconnect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        if (first == kTlsHandshakeRecord) {
            socket->setSslConfiguration(m_tls);
            auto* connection = new HttpConnection(socket, this);
            connect(connection, &HttpConnection::requestReceived, this,
                    [this, connection](const HttpRequest& request) {
                        onStatsRequest(connection, request);
                    });
            connect(socket, &QSslSocket::sslErrors, socket,
                    [socket](const QList<QSslError>&) { socket->abort(); });
            socket->startServerEncryption();
        } else {
            relay(socket);
        }
    };
    connect(socket, &QSslSocket::readyRead, this, decide);
}

void StreamingPort::relay(QSslSocket* socket) {
    const QByteArray line = completeRequestLine(socket->peek(kMaxRequestLineBytes));
    const QList<QByteArray> parts = line.trimmed().split(' ');
    const bool listener =
        parts.size() == 3 && parts.at(0) == "GET" &&
        m_account->mounts().contains(QString::fromUtf8(parts.at(1).split('?').first()));
    const std::optional<Fault> fault =
        listener ? AccountStore::takeFault(*m_account, Endpoint::Listeners) : std::nullopt;
    if (fault && fault->refuse) {
        qInfo().noquote() << "listener of" << parts.at(1) << "refused (fault)";
        socket->abort();
        socket->deleteLater();
        return;
    }
    if (fault && !fault->anotherStream.isEmpty()) {
        qInfo().noquote() << "listener of" << parts.at(1) << "gets" << fault->anotherStream
                          << "(fault)";
        socket->read(line.size());
        new PassThrough(socket, m_store->icecast(), this,
                        "GET " + fault->anotherStream.toUtf8() + ' ' + parts.at(2) + "\r\n");
        return;
    }
    new PassThrough(socket, m_store->icecast(), this);
}

void StreamingPort::onStatsRequest(HttpConnection* connection, const HttpRequest& request) {
    QPointer<HttpConnection> guard(connection);
    if (request.url.path() != QLatin1String("/admin/stats.json")) {
        connection->respond(HttpResponse::error(404, QStringLiteral("Not found")));
        return;
    }
    if (request.method != "GET") {
        connection->respond(HttpResponse::error(405, QStringLiteral("Method not allowed")));
        return;
    }
    const QByteArray expected =
        "Basic " + (QStringLiteral("admin:") + m_account->token).toUtf8().toBase64();
    if (request.header("authorization") != expected) {
        connection->setNote(QStringLiteral("(streaming port %1)").arg(m_account->streamingPort));
        HttpResponse response = HttpResponse::error(401, QStringLiteral("Authentication required"));
        response.extraHeaders.append(qMakePair(
            QByteArray("WWW-Authenticate"), QByteArray("Basic realm=\"Ondaro streaming server\"")));
        connection->respond(response);
        return;
    }
    connection->setNote(QStringLiteral("(%1, streaming port %2)")
                            .arg(m_account->email())
                            .arg(m_account->streamingPort));
    const QString email = m_account->email();
    answerWithFault(
        guard, AccountStore::takeFault(*m_account, Endpoint::Stats),
        [this, email](std::function<void(HttpResponse)> done) {
            m_stats->fetch(
                m_store->icecast(), m_account->mounts(), email,
                [done](bool ok, const QJsonDocument& document, const QString& error) {
                    done(ok ? HttpResponse::json(200, document)
                            : HttpResponse::error(
                                  502, QStringLiteral("Icecast unreachable: %1").arg(error)));
                });
        });
}
