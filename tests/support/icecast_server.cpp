#include "icecast_server.h"

#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>

namespace {

QString xmlEscape(const QString& text) { return text.toHtmlEscaped(); }

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

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
    const QString logDir = m_dir.path() + QStringLiteral("/log");
    QDir().mkpath(logDir);
    // Icecast drops root privileges to "nobody", which must still reach its logs.
    QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                            QFileDevice::ExeOther);
    QFile::setPermissions(logDir, QFileDevice::Permissions(0x7777));

    QString mounts;
    for (auto it = m_options.mountPasswords.cbegin(); it != m_options.mountPasswords.cend(); ++it) {
        mounts += QStringLiteral("<mount><mount-name>%1</mount-name><password>%2</password></mount>")
                      .arg(xmlEscape(it.key()), xmlEscape(it.value()));
    }
    const QString security =
        geteuid() == 0 ? QStringLiteral("<security><chroot>0</chroot><changeowner><user>nobody</user>"
                                        "<group>nogroup</group></changeowner></security>")
                       : QStringLiteral("<security><chroot>0</chroot></security>");
    const QString config =
        QStringLiteral(
            "<icecast><location>test</location><admin>test@localhost</admin>"
            "<limits><clients>100</clients><sources>%1</sources><queue-size>524288</queue-size>"
            "<client-timeout>30</client-timeout><header-timeout>15</header-timeout>"
            "<source-timeout>%2</source-timeout><burst-size>65535</burst-size></limits>"
            "<authentication><source-password>%3</source-password>"
            "<admin-user>%4</admin-user><admin-password>%5</admin-password></authentication>"
            "<hostname>127.0.0.1</hostname>"
            "<listen-socket><port>%6</port><bind-address>127.0.0.1</bind-address></listen-socket>"
            "%7<fileserve>1</fileserve>"
            "<paths><basedir>/usr/share/icecast2</basedir><logdir>%8</logdir>"
            "<webroot>/usr/share/icecast2/web</webroot>"
            "<adminroot>/usr/share/icecast2/admin</adminroot></paths>"
            "<logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog>"
            "<loglevel>4</loglevel></logging>%9</icecast>")
            .arg(QString::number(m_options.maxSources),
                 QString::number(m_options.sourceTimeoutSeconds),
                 xmlEscape(m_options.sourcePassword), xmlEscape(m_options.adminUser),
                 xmlEscape(m_options.adminPassword), QString::number(m_port), mounts,
                 xmlEscape(logDir), security);
    const QString configPath = m_dir.path() + QStringLiteral("/icecast.xml");
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly)) return fail(QStringLiteral("cannot write config"));
    file.write(config.toUtf8());
    file.close();
    QFile::setPermissions(configPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ReadOther);

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

int IcecastServer::httpGet(const QString& path, QByteArray* body, int timeoutMs,
                           bool asAdmin) const {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_port);
    if (!socket.waitForConnected(timeoutMs)) return 0;
    QByteArray request = "GET " + path.toUtf8() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
    if (asAdmin) {
        request += "Authorization: Basic " +
                   (m_options.adminUser + QLatin1Char(':') + m_options.adminPassword)
                       .toUtf8()
                       .toBase64() +
                   "\r\n";
    }
    request += "\r\n";
    socket.write(request);
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
    return QString::fromUtf8(readFile(m_dir.path() + QStringLiteral("/log/error.log")));
}

QString IcecastServer::accessLog() const {
    return QString::fromUtf8(readFile(m_dir.path() + QStringLiteral("/log/access.log")));
}
