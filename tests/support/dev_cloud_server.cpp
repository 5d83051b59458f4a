#include "dev_cloud_server.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QUuid>

#include "icecast_server.h"

QString DevCloudServer::executable() { return QStringLiteral(DOREDORADAR_DEVCLOUD_EXECUTABLE); }

DevCloudServer::DevCloudServer(const IcecastServer* icecast) : m_icecast(icecast) {
    if (m_icecast) m_icecastAdminPassword = m_icecast->options().adminPassword;
}

DevCloudServer::~DevCloudServer() { stop(); }

QString DevCloudServer::addAccount(Account account) {
    if (account.token.isEmpty()) account.token = QUuid::createUuid().toString(QUuid::WithoutBraces);
    // A free port, distinct from those already handed out, which are not bound yet.
    quint16 streamingPort = 0;
    do {
        streamingPort = testsupport::freePort();
    } while (m_ports.key(streamingPort).size() > 0);
    QJsonArray channels;
    for (const Channel& channel : account.channels) {
        const QString number = QString::number(channels.size() + 1);
        channels.append(QJsonObject{{"id", "channel-" + number},
                                    {"name", "Channel " + number},
                                    {"streaming_server_mountpoint", channel.mount},
                                    {"streaming_server_password", channel.password}});
    }
    const QJsonObject document{
        {"name", "Test Radio"},
        {"email", account.email},
        {"public_token", QUuid::createUuid().toString(QUuid::WithoutBraces)},
        {"streaming_server_port", streamingPort},
        {"channels_count", channels.size()},
        {"streaming_server", QJsonObject{{"domain", "127.0.0.1"}, {"ip_address", "127.0.0.1"}}},
        {"channels", channels},
        {"subscription",
         QJsonObject{{"bitrate", 192}, {"listeners_slots", 50}, {"plan_name", "Test plan"}}},
        {"devcloud",
         QJsonObject{{"server_running", account.running}, {"boot_ms", account.bootMs}}},
    };
    m_accounts.append({account.token, document});
    m_ports.insert(account.token, streamingPort);
    return account.token;
}

bool DevCloudServer::start(QString* error) {
    auto fail = [&](const QString& why) {
        if (error) *error = why + QStringLiteral("\n") + m_process.output();
        stop();
        return false;
    };
    if (!m_dir.isValid()) return fail(QStringLiteral("no temporary folder"));
    QJsonObject accounts;
    for (const auto& [token, document] : m_accounts) accounts.insert(token, document);
    const QJsonObject icecast{
        {"host", "127.0.0.1"},
        // Without an Icecast: a port that was free a moment ago, so passing through is refused.
        {"port", m_icecast ? m_icecast->port() : testsupport::freePort()},
        {"admin_user", m_icecast ? m_icecast->options().adminUser : QStringLiteral("admin")},
        {"admin_password", m_icecastAdminPassword},
    };
    const QString accountsPath = m_dir.path() + QStringLiteral("/accounts.json");
    QFile file(accountsPath);
    if (!file.open(QIODevice::WriteOnly)) return fail(QStringLiteral("cannot write accounts"));
    file.write(QJsonDocument(QJsonObject{{"icecast", icecast}, {"accounts", accounts}}).toJson());
    file.close();

    if (!m_process.start(executable(), {"--accounts", accountsPath, "--api-port", "0",
                                        "--cert-dir", m_dir.path() + "/tls"})) {
        return fail(QStringLiteral("ondaro-devcloud did not start"));
    }
    QElapsedTimer timer;
    timer.start();
    QString seen;
    while (timer.elapsed() < 15000) {
        if (!m_process.isRunning()) return fail(QStringLiteral("ondaro-devcloud exited"));
        m_process.process()->waitForReadyRead(100);
        seen = m_process.output();
        if (!seen.contains(QLatin1String("ondaro-devcloud ready"))) continue;
        const auto api =
            QRegularExpression(QStringLiteral("REST API: (https://[^:]+:(\\d+))")).match(seen);
        const auto ca = QRegularExpression(QStringLiteral("CA certificate: (\\S+)")).match(seen);
        if (!api.hasMatch() || !ca.hasMatch()) return fail(QStringLiteral("unexpected banner"));
        m_apiUrl = api.captured(1);
        m_apiPort = quint16(api.captured(2).toUInt());
        m_caPath = ca.captured(1);
        return true;
    }
    return fail(QStringLiteral("ondaro-devcloud not ready within 15 s"));
}

void DevCloudServer::stop() { m_process.stop(); }

void DevCloudServer::exportEnvironment() const {
    qputenv("ONDARO_API_URL", m_apiUrl.toUtf8());
    qputenv("ONDARO_CA_CERTS", m_caPath.toUtf8());
}

bool DevCloudServer::setFaults(const QString& token, const QJsonObject& faults) {
    return control(QStringLiteral("/devcloud/faults"), token, faults) == 200;
}

bool DevCloudServer::setServerRunning(const QString& token, bool running) {
    return control(QStringLiteral("/devcloud/server"), token, {{"running", running}}) == 200;
}

int DevCloudServer::control(const QString& path, const QString& token, const QJsonObject& body) {
    return httpsRequest(
        "PUT", m_apiPort,
        path + QStringLiteral("?token=") + QString::fromLatin1(QUrl::toPercentEncoding(token)),
        QJsonDocument(body).toJson(QJsonDocument::Compact));
}

int DevCloudServer::httpsRequest(const QByteArray& method, quint16 port,
                                 const QString& pathAndQuery, const QByteArray& body,
                                 const QByteArray& authorization, QByteArray* responseBody,
                                 int timeoutMs) const {
    QSslSocket socket;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(QSslCertificate::fromPath(m_caPath));
    socket.setSslConfiguration(configuration);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForEncrypted(timeoutMs)) return 0;
    QByteArray request = method + ' ' + pathAndQuery.toUtf8() +
                         " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                         "Content-Length: " +
                         QByteArray::number(body.size()) + "\r\n";
    if (!authorization.isEmpty()) request += "Authorization: " + authorization + "\r\n";
    socket.write(request + "\r\n" + body);
    QByteArray response;
    QElapsedTimer timer;
    timer.start();
    while (socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < timeoutMs) {
        if (socket.waitForReadyRead(100)) response += socket.readAll();
    }
    response += socket.readAll();
    const int headerEnd = response.indexOf("\r\n\r\n");
    if (headerEnd < 0) return 0;
    if (responseBody) *responseBody = response.mid(headerEnd + 4);
    return response.left(response.indexOf("\r\n")).split(' ').value(1).toInt();
}
