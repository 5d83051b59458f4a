#include "dev_cloud.h"

#include <QTimer>

#include "api_server.h"
#include "icecast_stats.h"
#include "streaming_port.h"

DevCloud::DevCloud(AccountStore* store, const QHostAddress& address, const QSslConfiguration& tls,
                   QObject* parent)
    : QObject(parent),
      m_store(store),
      m_address(address),
      m_tls(tls),
      m_api(new ApiServer(this, store, tls, this)),
      m_stats(new IcecastStats(this)) {}

bool DevCloud::start(quint16 apiPort, QString* error) {
    // Streaming ports first: an API port picked by the system cannot take one of them then.
    for (auto& [token, account] : m_store->accounts()) {
        auto* port = new StreamingPort(&account, m_store, m_address, m_tls, m_stats, this);
        m_ports.insert(token, port);
        if (account.running && !port->open(error)) return false;
    }
    if (!m_api->listen(m_address, apiPort)) {
        *error = QStringLiteral("cannot listen on %1 port %2: %3")
                     .arg(m_address.toString())
                     .arg(apiPort)
                     .arg(m_api->errorString());
        return false;
    }
    return true;
}

quint16 DevCloud::apiPort() const { return m_api->serverPort(); }

void DevCloud::setRunning(Account& account, bool running) {
    StreamingPort* port = m_ports.value(account.token);
    account.running = running;
    if (!port) return;
    if (!running) {
        port->shut();
        qInfo().noquote() << "streaming server of" << account.email() << "stopped (port"
                          << account.streamingPort << "closed)";
        return;
    }
    const QString token = account.token;
    QTimer::singleShot(account.bootMs, port, [this, port, token] {
        Account* current = m_store->find(token);
        if (!current || !current->running) return;  // stopped again while booting
        QString error;
        if (port->open(&error)) {
            qInfo().noquote() << "streaming server of" << current->email() << "running (port"
                              << current->streamingPort << "open)";
        } else {
            qWarning().noquote() << "streaming server of" << current->email()
                                 << "could not start:" << error;
        }
    });
}
