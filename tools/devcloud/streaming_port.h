#pragma once

#include <QHostAddress>
#include <QSslConfiguration>
#include <QTcpServer>

#include "account_store.h"

class IcecastStats;
class QSslSocket;
class HttpConnection;
struct HttpRequest;

// An account's streaming port. It looks at the first byte of each connection: a TLS handshake
// gets the HTTPS statistics document ("GET /admin/stats.json", Basic "admin" + the private
// token); anything else is passed through to the real Icecast, except listener requests (a GET
// of one of the account's mounts) while a "listeners" fault applies. While the account's server
// is stopped the port is closed, so connections are refused.
class StreamingPort : public QTcpServer {
    Q_OBJECT

public:
    StreamingPort(Account* account, AccountStore* store, const QHostAddress& address,
                  const QSslConfiguration& tls, IcecastStats* stats, QObject* parent);

    bool open(QString* error);
    // Closes the port and drops every connection it carries, as a stopped server would.
    void shut();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void onStatsRequest(HttpConnection* connection, const HttpRequest& request);
    // A plain connection whose request line (or its first bytes, for what is no GET) is in.
    void relay(QSslSocket* socket);

    Account* m_account;
    AccountStore* m_store;
    QHostAddress m_address;
    QSslConfiguration m_tls;
    IcecastStats* m_stats;
};
