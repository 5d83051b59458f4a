#pragma once

#include <QObject>
#include <QString>

#include "cloud/ondaro_api_endpoint.h"
#include "cloud/ondaro_models.h"

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QTimer;

// The program's only client of the cloud REST service and of the account streaming server's
// statistics document. Every request ends in exactly one signal, unless it is replaced by a new
// request of the same kind or cancelled, which end it silently.
//
// Each kind of request (account, server start, statistics) has a slot of its own: a new request
// replaces only the one of its kind in flight, so a statistics poll never cancels a pending server
// start or an account refresh.
//
// Threads: create and use on one thread (the main thread); nothing blocks. Signals are emitted
// from the reply handlers on that thread.
class OndaroApiClient : public QObject {
    Q_OBJECT

public:
    static constexpr int kStartServerTimeoutMs = 15000;
    // Without one a login could wait forever on a silent network.
    static constexpr int kAccountInfoTimeoutMs = 20000;

    // Reads the base URL and the extra CA certificates from the build and the environment.
    explicit OndaroApiClient(QObject* parent = nullptr);
    ~OndaroApiClient() override;

    // GET <base>/private/accountInfo?token=…; validates the token as a side effect.
    void fetchAccountInfo(const QString& token);
    // POST <base>/private/server/start?token=… with an empty body; 15 s timeout.
    void startServer(const QString& token);
    // GET https://host:port/admin/stats.json with Basic "admin" + password; the given timeout.
    void fetchServerStats(const QString& host, quint16 port, const QString& mountpoint,
                          const QString& password, int timeoutMs);
    // Stops every timer and silently drops every request in flight.
    void cancelPendingRequest();

    const OndaroApiEndpoint& endpoint() const { return m_endpoint; }

Q_SIGNALS:
    void accountInfoReceived(const OndaroAccount& account);
    void serverStatsReceived(const ServerStats& stats);
    void serverStatsError(const QString& errorMessage);
    void serverStarted();
    void serverStartError(const QString& errorMessage, int httpCode);
    void errorOccurred(const QString& errorMessage, int httpCode);

private Q_SLOTS:
    void onAccountInfoReplyFinished();
    void onServerStatsReplyFinished();
    void onStartServerReplyFinished();
    void onStatsRequestTimeout();
    void onStartServerTimeout();
    void onAccountInfoTimeout();

private:
    QNetworkRequest makeRequest(const QUrl& url) const;
    // The finished reply when it is still the one in `slot`, which is then emptied; the reply is
    // scheduled for deletion. Null for a reply that was replaced in the meantime.
    QNetworkReply* takeFinished(QNetworkReply*& slot);
    // Disconnects, aborts and schedules deletion of the reply in `slot`, without any signal.
    void drop(QNetworkReply*& slot);

    OndaroApiEndpoint m_endpoint;
    QNetworkAccessManager* m_network = nullptr;
    QNetworkReply* m_accountReply = nullptr;
    QNetworkReply* m_startReply = nullptr;
    QNetworkReply* m_statsReply = nullptr;
    QTimer* m_statsTimer = nullptr;
    QTimer* m_startServerTimer = nullptr;
    QTimer* m_accountTimer = nullptr;
    QString m_currentMountpoint;
};
