#pragma once

#include <QObject>

#include "account_store.h"

class QTcpSocket;

// Relays one connection byte for byte to the real Icecast and back: source handshakes and
// streams, metadata requests and listeners all pass unchanged. Reading stops while the other
// side still has much to write, so a slow peer slows the sender instead of filling memory.
// Deletes itself when both sides are done.
class PassThrough : public QObject {
    Q_OBJECT

public:
    // Takes the client socket over; what it already holds unread is relayed first.
    PassThrough(QTcpSocket* client, const IcecastTarget& icecast, QObject* parent);
    void abort();

private:
    void pump(QTcpSocket* from, QTcpSocket* to);
    void onClosed(QTcpSocket* closed, QTcpSocket* other);
    void finishIfDone();

    QTcpSocket* m_client;
    QTcpSocket* m_upstream;
    bool m_upstreamConnected = false;
};
