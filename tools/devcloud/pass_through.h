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
    // Takes the client socket over; `firstBytes` go to Icecast first (a request line the client
    // sent, rewritten), then what the client socket holds unread.
    PassThrough(QTcpSocket* client, const IcecastTarget& icecast, QObject* parent,
                const QByteArray& firstBytes = {});
    void abort();

private:
    void pump(QTcpSocket* from, QTcpSocket* to);
    void onClosed(QTcpSocket* closed, QTcpSocket* other);
    void finishIfDone();

    QTcpSocket* m_client;
    QTcpSocket* m_upstream;
    bool m_upstreamConnected = false;
};
