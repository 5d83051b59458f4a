#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QList>
#include <QMetaObject>
#include <QSignalSpy>
#include <QTest>

#include "broadcast/icecast_client.h"

// The client with a host lookup that the test scripts: given addresses, or a failure, delivered
// on the event loop like a real lookup. Off by default (the real resolver answers).
class ScriptedLookupClient : public IcecastClient {
public:
    bool scriptLookups = false;
    QList<QHostAddress> addresses;  // empty: the lookup fails
    int lookups = 0;

protected:
    int startHostLookup(const QString& host) override {
        ++lookups;
        if (!scriptLookups) return IcecastClient::startHostLookup(host);
        const int id = 900000 + lookups;
        QHostInfo info(id);
        info.setHostName(host);
        if (addresses.isEmpty()) {
            info.setError(QHostInfo::HostNotFound);
            info.setErrorString(QStringLiteral("Host not found (scripted)"));
        } else {
            info.setAddresses(addresses);
        }
        QMetaObject::invokeMethod(
            this, [this, info] { onHostResolved(info); }, Qt::QueuedConnection);
        return id;
    }
};

// Every signal of a client, recorded.
struct ClientSignals {
    explicit ClientSignals(IcecastClient* client)
        : connected(client, &IcecastClient::connected),
          disconnected(client, &IcecastClient::disconnected),
          errors(client, &IcecastClient::connectionError),
          reconnecting(client, &IcecastClient::reconnecting),
          sendCompleted(client, &IcecastClient::sendCompleted),
          metadataSent(client, &IcecastClient::metadataSent),
          metadataFailed(client, &IcecastClient::metadataFailed) {}

    QString lastError() const {
        return errors.isEmpty() ? QString() : errors.last().at(0).toString();
    }
    QStringList allErrors() const {
        QStringList out;
        for (const auto& e : errors) out << e.at(0).toString();
        return out;
    }
    int failedWrites() const {
        int failures = 0;
        for (const auto& args : sendCompleted) failures += args.at(2).toBool() ? 0 : 1;
        return failures;
    }

    QSignalSpy connected;
    QSignalSpy disconnected;
    QSignalSpy errors;
    QSignalSpy reconnecting;
    QSignalSpy sendCompleted;
    QSignalSpy metadataSent;
    QSignalSpy metadataFailed;
};

// Writes `chunk` every few milliseconds until a write fails (the server went away). Returns right
// after the failing write, before the queued loss event has had a chance to run.
inline bool sendUntilFailure(IcecastClient& client, const QByteArray& chunk = QByteArray(1024, 'a'),
                             int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (!client.send(chunk)) return true;
        QTest::qWait(5);
    }
    return false;
}
