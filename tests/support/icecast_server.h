#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>

#include "managed_process.h"

// A real Icecast 2 (Debian's icecast2) on 127.0.0.1 with a generated configuration in a
// temporary folder, a free port and its own passwords. Stopped by PID when it goes out of scope.
class IcecastServer {
public:
    struct Options {
        QString sourcePassword = QStringLiteral("source-secret");
        QString adminUser = QStringLiteral("admin");
        QString adminPassword = QStringLiteral("admin-secret");
    };

    IcecastServer();
    explicit IcecastServer(const Options& options);
    ~IcecastServer();

    // Starts and waits until the status page answers (at most 10 s).
    bool start(QString* error = nullptr);
    void stop();
    // Stops and starts again on the same port (a server that goes away and comes back).
    bool restart(QString* error = nullptr);

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    const Options& options() const { return m_options; }

    // The "source" entry for a mount, or an empty object when the mount is not live.
    QJsonObject sourceStats(const QString& mount) const;
    // Connects as a listener and reads up to `bytes` of the stream (headers stripped).
    QByteArray listen(const QString& mount, int bytes, int timeoutMs = 10000) const;

private:
    bool launch(QString* error);
    // GET path on the server with a bounded wait; returns status code and body.
    int httpGet(const QString& path, QByteArray* body, int timeoutMs = 5000) const;
    // "icestats" of /status-json.xsl.
    QJsonObject stats() const;
    QString errorLog() const;

    Options m_options;
    QTemporaryDir m_dir;
    quint16 m_port = 0;
    ManagedProcess m_process;
};
