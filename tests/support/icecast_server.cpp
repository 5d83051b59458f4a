#include "icecast_server.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QThread>

#include "icecast_config.h"
#include "test_environment.h"

IcecastServer::IcecastServer() : IcecastServer(Options()) {}

IcecastServer::IcecastServer(const Options& options) : m_options(options) {}

IcecastServer::~IcecastServer() { stop(); }

bool IcecastServer::start(QString* error) {
    m_port = testsupport::freePort();
    return launch(error);
}

bool IcecastServer::restart(QString* error) {
    stop();
    return launch(error);
}

bool IcecastServer::launch(QString* error) {
    auto fail = [&](const QString& why) {
        if (error) *error = why + QStringLiteral("\n") + m_process.output() + errorLog();
        stop();
        return false;
    };
    if (!m_dir.isValid()) return fail(QStringLiteral("no temporary folder"));
    icecastconfig::Options config;
    config.port = m_port;
    config.sourcePassword = m_options.sourcePassword;
    config.adminUser = m_options.adminUser;
    config.adminPassword = m_options.adminPassword;
    QString why;
    const QString configPath = icecastconfig::writeConfiguration(m_dir.path(), config, &why);
    if (configPath.isEmpty()) return fail(why);

    if (!m_process.start(QStringLiteral("icecast2"), {QStringLiteral("-c"), configPath})) {
        return fail(QStringLiteral("icecast2 did not start"));
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (!m_process.isRunning()) return fail(QStringLiteral("icecast2 exited"));
        // Right after start the status document can still be incomplete (and not valid JSON).
        if (stats().contains(QStringLiteral("host"))) return true;
        QThread::msleep(50);
    }
    return fail(QStringLiteral("icecast2 did not answer within 10 s"));
}

void IcecastServer::stop() { m_process.stop(); }

int IcecastServer::httpGet(const QString& path, QByteArray* body, int timeoutMs) const {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_port);
    if (!socket.waitForConnected(timeoutMs)) return 0;
    socket.write("GET " + path.toUtf8() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray response;
    QElapsedTimer timer;
    timer.start();
    while (socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < timeoutMs) {
        if (socket.waitForReadyRead(qMax<qint64>(1, timeoutMs - timer.elapsed()))) {
            response += socket.readAll();
        }
    }
    response += socket.readAll();
    const int headerEnd = response.indexOf("\r\n\r\n");
    if (headerEnd < 0) return 0;
    if (body) *body = response.mid(headerEnd + 4);
    const QList<QByteArray> statusLine = response.left(response.indexOf("\r\n")).split(' ');
    return statusLine.value(1).toInt();
}

QJsonObject IcecastServer::stats() const {
    QByteArray body;
    if (httpGet(QStringLiteral("/status-json.xsl"), &body) != 200) return {};
    return QJsonDocument::fromJson(body).object().value(QStringLiteral("icestats")).toObject();
}

QJsonObject IcecastServer::sourceStats(const QString& mount) const {
    const QJsonValue source = stats().value(QStringLiteral("source"));
    const QJsonArray all = source.isArray() ? source.toArray() : QJsonArray{source};
    for (const QJsonValue& entry : all) {
        const QJsonObject object = entry.toObject();
        if (object.value(QStringLiteral("listenurl")).toString().endsWith(mount)) return object;
    }
    return {};
}

QByteArray IcecastServer::listen(const QString& mount, int bytes, int timeoutMs) const {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_port);
    if (!socket.waitForConnected(timeoutMs)) return {};
    socket.write("GET " + mount.toUtf8() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray data;
    QElapsedTimer timer;
    timer.start();
    int headerEnd = -1;
    while (timer.elapsed() < timeoutMs && socket.state() == QAbstractSocket::ConnectedState) {
        if (socket.waitForReadyRead(100)) data += socket.readAll();
        if (headerEnd < 0) headerEnd = data.indexOf("\r\n\r\n");
        if (headerEnd >= 0 && data.size() - headerEnd - 4 >= bytes) break;
    }
    data += socket.readAll();
    if (headerEnd < 0) headerEnd = data.indexOf("\r\n\r\n");
    if (headerEnd < 0) return {};
    return data.mid(headerEnd + 4, bytes);
}

QString IcecastServer::errorLog() const {
    return QString::fromUtf8(testsupport::readFile(m_dir.path() + "/log/error.log"));
}
