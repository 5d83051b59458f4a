#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QTemporaryDir>

#include "managed_process.h"

class IcecastServer;

// The project's stand-in cloud service (ondaro-devcloud) with accounts made up by the test, its
// own self-signed certificate and a free API port, optionally in front of a real IcecastServer.
// Stopped by PID when it goes out of scope.
class DevCloudServer {
public:
    struct Channel {
        QString mount;
        QString password;
    };
    struct Account {
        QString token;  // a fresh UUID when empty
        QString email = QStringLiteral("dj@example.com");
        QList<Channel> channels = {{QStringLiteral("/live"), QStringLiteral("source-secret")}};
        bool running = true;
        int bootMs = 0;
    };

    // The ondaro-devcloud program of this build.
    static QString executable();

    // Without an Icecast the streaming ports pass through to a port nothing listens on.
    explicit DevCloudServer(const IcecastServer* icecast = nullptr);
    ~DevCloudServer();

    // Returns the account's private token. Call before start().
    QString addAccount(Account account);
    // The admin password the stand-in uses for Icecast (default: the Icecast's own).
    void setIcecastAdminPassword(const QString& password) { m_icecastAdminPassword = password; }

    // Starts and waits until it reports ready (at most 15 s).
    bool start(QString* error = nullptr);
    void stop();

    QString apiUrl() const { return m_apiUrl; }
    // Points OndaroApiClients made from now on in this process at the stand-in.
    void exportEnvironment() const;
    quint16 streamingPort(const QString& token) const { return m_ports.value(token); }
    QString output() { return m_process.output(); }

    // Control requests (see the README): replace an account's faults; open or close its
    // streaming server's port.
    bool setFaults(const QString& token, const QJsonObject& faults);
    bool setServerRunning(const QString& token, bool running);

    // A blocking HTTPS request that trusts the stand-in's certificate; returns the status (0 when
    // there was no answer) and the body.
    int httpsRequest(const QByteArray& method, quint16 port, const QString& pathAndQuery,
                     const QByteArray& body = {}, const QByteArray& authorization = {},
                     QByteArray* responseBody = nullptr, int timeoutMs = 10000) const;

private:
    int control(const QString& path, const QString& token, const QJsonObject& body);

    const IcecastServer* m_icecast;
    QString m_icecastAdminPassword;
    QTemporaryDir m_dir;
    QList<QPair<QString, QJsonObject>> m_accounts;
    QMap<QString, quint16> m_ports;
    ManagedProcess m_process;
    QString m_apiUrl;
    quint16 m_apiPort = 0;
    QString m_caPath;
};
