#pragma once

#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QSslConfiguration>

#include "account_store.h"

class ApiServer;
class IcecastStats;
class StreamingPort;

// The stand-in cloud service: the REST API port and one streaming port per account, all on one
// event loop.
class DevCloud : public QObject {
    Q_OBJECT

public:
    DevCloud(AccountStore* store, const QHostAddress& address, const QSslConfiguration& tls,
             QObject* parent = nullptr);

    // Listens on the API port (0 picks a free one) and opens the ports of running servers.
    bool start(quint16 apiPort, QString* error);
    quint16 apiPort() const;

    // Starting opens the streaming port after the account's boot time; stopping closes it and
    // drops its connections at once.
    void setRunning(Account& account, bool running);

private:
    AccountStore* m_store;
    QHostAddress m_address;
    QSslConfiguration m_tls;
    ApiServer* m_api;
    IcecastStats* m_stats;
    QMap<QString, StreamingPort*> m_ports;  // by private token
};
