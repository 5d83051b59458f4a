#include "pass_through.h"

#include <QTcpSocket>

namespace {

constexpr qint64 kChunkBytes = 64 * 1024;
constexpr qint64 kHighWaterBytes = 512 * 1024;
constexpr qint64 kReadBufferBytes = 256 * 1024;

}  // namespace

PassThrough::PassThrough(QTcpSocket* client, const IcecastTarget& icecast, QObject* parent,
                         const QByteArray& firstBytes)
    : QObject(parent), m_client(client), m_upstream(new QTcpSocket(this)) {
    m_client->setParent(this);
    m_client->setReadBufferSize(kReadBufferBytes);
    m_upstream->setReadBufferSize(kReadBufferBytes);

    connect(m_upstream, &QTcpSocket::connected, this, [this, firstBytes] {
        m_upstreamConnected = true;
        if (!firstBytes.isEmpty()) m_upstream->write(firstBytes);
        pump(m_client, m_upstream);
        if (m_client->state() != QAbstractSocket::ConnectedState) onClosed(m_client, m_upstream);
    });
    connect(m_client, &QTcpSocket::readyRead, this, [this] { pump(m_client, m_upstream); });
    connect(m_upstream, &QTcpSocket::readyRead, this, [this] { pump(m_upstream, m_client); });
    connect(m_upstream, &QTcpSocket::bytesWritten, this, [this] { pump(m_client, m_upstream); });
    connect(m_client, &QTcpSocket::bytesWritten, this, [this] { pump(m_upstream, m_client); });
    connect(m_client, &QTcpSocket::disconnected, this, [this] { onClosed(m_client, m_upstream); });
    connect(m_upstream, &QTcpSocket::disconnected, this,
            [this] { onClosed(m_upstream, m_client); });
    connect(m_upstream, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (!m_upstreamConnected) {
            qWarning().noquote() << "Icecast unreachable:" << m_upstream->errorString();
            abort();
        }
    });
    m_upstream->connectToHost(icecast.host, icecast.port);
}

void PassThrough::abort() {
    m_client->abort();
    m_upstream->abort();
    deleteLater();
}

void PassThrough::pump(QTcpSocket* from, QTcpSocket* to) {
    if (!m_upstreamConnected) return;
    while (from->bytesAvailable() > 0 && to->bytesToWrite() < kHighWaterBytes) {
        to->write(from->read(kChunkBytes));
    }
}

void PassThrough::onClosed(QTcpSocket* closed, QTcpSocket* other) {
    if (closed == m_client && !m_upstreamConnected) {
        // The client gave up before Icecast answered the connect.
        abort();
        return;
    }
    // What the closed side still sent goes out before the other side is closed too.
    if (closed->bytesAvailable() > 0) other->write(closed->readAll());
    if (other->state() == QAbstractSocket::ConnectedState) other->disconnectFromHost();
    finishIfDone();
}

void PassThrough::finishIfDone() {
    if (m_client->state() == QAbstractSocket::UnconnectedState &&
        m_upstream->state() == QAbstractSocket::UnconnectedState) {
        deleteLater();
    }
}
