#include "api_server.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QSslSocket>

#include "dev_cloud.h"
#include "http_connection.h"

namespace {

const QString kAccountInfoPath = QStringLiteral("/private/accountInfo");
const QString kServerStartPath = QStringLiteral("/private/server/start");
const QString kControlPrefix = QStringLiteral("/devcloud/");

HttpResponse invalidToken() {
    return HttpResponse::error(401, QStringLiteral("Invalid or missing private token"));
}

}  // namespace

ApiServer::ApiServer(DevCloud* cloud, AccountStore* store, const QSslConfiguration& tls,
                     QObject* parent)
    : QTcpServer(parent), m_cloud(cloud), m_store(store), m_tls(tls) {}

void ApiServer::incomingConnection(qintptr socketDescriptor) {
    auto* socket = new QSslSocket;
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    socket->setSslConfiguration(m_tls);
    auto* connection = new HttpConnection(socket, this);
    connect(connection, &HttpConnection::requestReceived, this,
            [this, connection](const HttpRequest& request) { onRequest(connection, request); });
    connect(socket, &QSslSocket::sslErrors, socket,
            [socket](const QList<QSslError>&) { socket->abort(); });
    socket->startServerEncryption();
}

void ApiServer::onRequest(HttpConnection* connection, const HttpRequest& request) {
    const QString path = request.url.path();
    if (path.startsWith(kControlPrefix)) {
        onControl(connection, request);
        return;
    }
    const bool known = path == kAccountInfoPath || path == kServerStartPath;
    const QByteArray expectedMethod = path == kAccountInfoPath ? "GET" : "POST";
    Account* account = m_store->find(request.queryItem(QStringLiteral("token")));
    if (account) connection->setNote(QLatin1Char('(') + account->email() + QLatin1Char(')'));
    if (!known) {
        connection->respond(HttpResponse::error(404, QStringLiteral("Not found")));
    } else if (request.method != expectedMethod) {
        connection->respond(HttpResponse::error(405, QStringLiteral("Method not allowed")));
    } else if (!account) {
        connection->respond(invalidToken());
    } else if (path == kAccountInfoPath) {
        onAccountInfo(connection, account);
    } else {
        onServerStart(connection, account);
    }
}

void ApiServer::onAccountInfo(HttpConnection* connection, Account* account) {
    answerWithFault(connection, AccountStore::takeFault(*account, Endpoint::AccountInfo),
                    [account](std::function<void(HttpResponse)> done) {
                        done(HttpResponse::json(200, QJsonDocument(account->servedDocument())));
                    });
}

void ApiServer::onServerStart(HttpConnection* connection, Account* account) {
    const std::optional<Fault> fault = AccountStore::takeFault(*account, Endpoint::ServerStart);
    answerWithFault(connection, fault, [this, account](std::function<void(HttpResponse)> done) {
        if (account->running) {
            done(HttpResponse::error(406, QStringLiteral("Streaming server is already running")));
            return;
        }
        m_cloud->setRunning(*account, true);
        done(
            HttpResponse::json(200, QJsonDocument(QJsonObject{{QStringLiteral("success"), true}})));
    });
}

void ApiServer::onControl(HttpConnection* connection, const HttpRequest& request) {
    if (!connection->peerAddress().isLoopback()) {
        connection->respond(HttpResponse::error(403, QStringLiteral("Control from loopback only")));
        return;
    }
    const QString path = request.url.path();
    if (path == QLatin1String("/devcloud/status") && request.method == "GET") {
        QJsonArray accounts;
        for (auto& [token, account] : m_store->accounts()) {
            accounts.append(QJsonObject{{QStringLiteral("email"), account.email()},
                                        {QStringLiteral("streaming_port"), account.streamingPort},
                                        {QStringLiteral("running"), account.running}});
        }
        connection->respond(HttpResponse::json(
            200, QJsonDocument(QJsonObject{{QStringLiteral("accounts"), accounts}})));
        return;
    }
    if (request.method != "PUT") {
        connection->respond(HttpResponse::error(405, QStringLiteral("Use PUT")));
        return;
    }
    Account* account = m_store->find(request.queryItem(QStringLiteral("token")));
    if (!account) {
        connection->respond(invalidToken());
        return;
    }
    QJsonParseError parseError;
    const QJsonDocument body = QJsonDocument::fromJson(request.body, &parseError);
    if (!body.isObject()) {
        connection->respond(HttpResponse::error(400, QStringLiteral("The body must be an object")));
        return;
    }
    QString error;
    if (path == QLatin1String("/devcloud/faults")) {
        if (!AccountStore::setFaults(*account, body.object(), &error)) {
            connection->respond(HttpResponse::error(400, error));
            return;
        }
        qInfo().noquote() << "faults of" << account->email()
                          << "set:" << QString::fromUtf8(body.toJson(QJsonDocument::Compact));
    } else if (path == QLatin1String("/devcloud/server")) {
        const QJsonValue running = body.object().value(QLatin1String("running"));
        if (!running.isBool()) {
            connection->respond(
                HttpResponse::error(400, QStringLiteral("\"running\": true|false")));
            return;
        }
        m_cloud->setRunning(*account, running.toBool());
    } else {
        connection->respond(HttpResponse::error(404, QStringLiteral("Not found")));
        return;
    }
    connection->respond(
        HttpResponse::json(200, QJsonDocument(QJsonObject{{QStringLiteral("success"), true}})));
}
