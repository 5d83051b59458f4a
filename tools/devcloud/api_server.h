#pragma once

#include <QSslConfiguration>
#include <QTcpServer>

#include "account_store.h"

class DevCloud;
class HttpConnection;
struct HttpRequest;

// The cloud REST API over HTTPS: "GET /private/accountInfo", "POST /private/server/start", and
// the stand-in's own control requests under "/devcloud/" (from loopback peers only) that set
// faults and a server's running state.
class ApiServer : public QTcpServer {
    Q_OBJECT

public:
    ApiServer(DevCloud* cloud, AccountStore* store, const QSslConfiguration& tls, QObject* parent);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void onRequest(HttpConnection* connection, const HttpRequest& request);
    void onAccountInfo(HttpConnection* connection, Account* account);
    void onServerStart(HttpConnection* connection, Account* account);
    void onControl(HttpConnection* connection, const HttpRequest& request);

    DevCloud* m_cloud;
    AccountStore* m_store;
    QSslConfiguration m_tls;
};
