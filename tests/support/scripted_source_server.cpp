#include "scripted_source_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

ScriptedSourceServer::ScriptedSourceServer() {
    m_thread.setObjectName(QStringLiteral("ScriptedSourceServer"));
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            m_server = new QTcpServer;
            QObject::connect(m_server, &QTcpServer::newConnection, m_server,
                             [this] { onNewConnection(); });
            m_server->listen(QHostAddress::LocalHost, 0);
            m_port = m_server->serverPort();
        },
        Qt::BlockingQueuedConnection);
}

ScriptedSourceServer::~ScriptedSourceServer() {
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            for (Connection& c : m_connections) {
                if (c.socket) c.socket->abort();
                delete c.socket;
                c.socket = nullptr;
            }
            delete m_server;
            m_server = nullptr;
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_context;
}

void ScriptedSourceServer::setSourceReplies(const QList<Reply>& replies) {
    QMutexLocker lock(&m_mutex);
    m_sourceReplies = replies;
}

void ScriptedSourceServer::setMetadataReply(const Reply& reply) {
    QMutexLocker lock(&m_mutex);
    m_metadataReply = reply;
}

void ScriptedSourceServer::setStatusReply(const Reply& reply) {
    QMutexLocker lock(&m_mutex);
    m_statusReply = reply;
}

int ScriptedSourceServer::statusRequestCount() const {
    QMutexLocker lock(&m_mutex);
    return m_statusCount;
}

int ScriptedSourceServer::connectionCount() const {
    QMutexLocker lock(&m_mutex);
    return m_sourceCount;
}

int ScriptedSourceServer::metadataRequestCount() const {
    QMutexLocker lock(&m_mutex);
    return m_metadataCount;
}

const ScriptedSourceServer::Connection* ScriptedSourceServer::source(int index) const {
    for (const Connection& c : m_connections) {
        if (!c.isMetadata && c.sourceIndex == index) return &c;
    }
    return nullptr;
}

QByteArray ScriptedSourceServer::received(int index) const {
    QMutexLocker lock(&m_mutex);
    return source(index) ? source(index)->data : QByteArray();
}

QByteArray ScriptedSourceServer::metadataRequest(int index) const {
    QMutexLocker lock(&m_mutex);
    int seen = 0;
    for (const Connection& c : m_connections) {
        if (c.isMetadata && seen++ == index) return c.data;
    }
    return {};
}

bool ScriptedSourceServer::closedByClient(int index) const {
    QMutexLocker lock(&m_mutex);
    return source(index) && source(index)->closedByClient;
}

void ScriptedSourceServer::closeAll() {
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            for (Connection& c : m_connections) {
                if (c.socket && c.socket->state() == QAbstractSocket::ConnectedState) {
                    c.closedByServer = true;
                    c.socket->close();
                }
            }
        },
        Qt::BlockingQueuedConnection);
}

void ScriptedSourceServer::limitReceiving(int receiveBufferBytes, int maxSegmentBytes) {
    QMetaObject::invokeMethod(
        m_context,
        [this, receiveBufferBytes, maxSegmentBytes] {
            // Accepted sockets inherit both from the listening one.
            const int fd = int(m_server->socketDescriptor());
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes,
                         sizeof(receiveBufferBytes));
            ::setsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &maxSegmentBytes, sizeof(maxSegmentBytes));
        },
        Qt::BlockingQueuedConnection);
}

QByteArray ScriptedSourceServer::receivedBody(int index) const {
    const QByteArray data = received(index);
    const qsizetype end = data.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : data.mid(end + 4);
}

// Everything below runs on the server's own thread.

void ScriptedSourceServer::onNewConnection() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        int id;
        {
            QMutexLocker lock(&m_mutex);
            id = int(m_connections.size());
            m_connections.append(Connection());
            m_connections.last().socket = socket;
        }
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, id] { onReadyRead(id); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket,
                         [this, id] { onDisconnected(id); });
        // Whether it is a title request is only known from its first bytes; a connection that
        // is to be closed at once is taken to be the next source connection.
        bool closeNow = false;
        {
            QMutexLocker lock(&m_mutex);
            const Reply& candidate = m_sourceReplies.value(m_sourceCount, m_sourceReplies.last());
            if (candidate.action == Reply::Action::CloseOnAccept) {
                m_connections[id].sourceIndex = m_sourceCount++;
                m_connections[id].replied = true;
                m_connections[id].closedByServer = true;
                closeNow = true;
            }
        }
        if (closeNow) socket->close();
        onReadyRead(id);
    }
}

void ScriptedSourceServer::onReadyRead(int id) {
    Reply chosen;
    bool answer = false;
    QTcpSocket* listener = nullptr;
    {
        QMutexLocker lock(&m_mutex);
        Connection& c = m_connections[id];
        if (!c.socket || c.closedByServer || c.throttled) return;
        c.data += c.socket->readAll();
        if (c.replied || !c.data.contains("\r\n\r\n")) return;
        c.replied = true;
        c.isMetadata = c.data.startsWith("GET /admin/");
        if (c.data.startsWith("GET /status-json.xsl ")) {
            ++m_statusCount;
            chosen = m_statusReply;
        } else if (!c.isMetadata && c.data.startsWith("GET ")) {
            // The client hearing its own mount: no stream is served here.
            c.closedByServer = true;
            listener = c.socket;
        } else if (c.isMetadata) {
            ++m_metadataCount;
            chosen = m_metadataReply;
        } else {
            chosen = m_sourceReplies.value(m_sourceCount, m_sourceReplies.last());
            c.sourceIndex = m_sourceCount++;
        }
        answer = !listener && chosen.action == Reply::Action::Answer;
    }
    if (listener) listener->close();
    if (answer) reply(id, chosen);
}

void ScriptedSourceServer::reply(int id, const Reply& reply) {
    auto send = [this, id, reply] {
        QTcpSocket* socket;
        {
            QMutexLocker lock(&m_mutex);
            socket = m_connections[id].socket;
            if (!socket || m_connections[id].closedByClient) return;
        }
        socket->write(reply.bytes);
        socket->flush();
        if (reply.readBytesPerSecond > 0) startThrottledReading(id, reply.readBytesPerSecond);
        if (reply.closeAfterMs >= 0) {
            QTimer::singleShot(reply.closeAfterMs, socket, [this, id, socket] {
                {
                    QMutexLocker lock(&m_mutex);
                    m_connections[id].closedByServer = true;
                }
                socket->close();
            });
        }
    };
    QTimer::singleShot(reply.delayMs, m_server, send);
}

void ScriptedSourceServer::startThrottledReading(int id, int bytesPerSecond) {
    constexpr int kTickMs = 50;
    QTcpSocket* socket;
    {
        QMutexLocker lock(&m_mutex);
        m_connections[id].throttled = true;
        socket = m_connections[id].socket;
    }
    // What Qt buffers on its side is what we have read; the rest waits in the kernel.
    socket->setReadBufferSize(4096);
    auto* timer = new QTimer(socket);
    QObject::connect(timer, &QTimer::timeout, socket, [this, id, socket, bytesPerSecond] {
        const qint64 quota = qMax<qint64>(1, qint64(bytesPerSecond) * kTickMs / 1000);
        const QByteArray chunk = socket->read(quota);
        QMutexLocker lock(&m_mutex);
        m_connections[id].data += chunk;
    });
    timer->start(kTickMs);
}

void ScriptedSourceServer::onDisconnected(int id) {
    QMutexLocker lock(&m_mutex);
    Connection& c = m_connections[id];
    if (!c.closedByServer) c.closedByClient = true;
}
