#include "http_receiver.h"

#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

class HttpReceiver::Server : public QObject {
public:
    explicit Server(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {
        m_tcp = new QTcpServer(this);
        connect(m_tcp, &QTcpServer::newConnection, this, &Server::onNewConnection);
    }

    QTcpServer* m_tcp;

private:
    void onNewConnection() {
        while (QTcpSocket* socket = m_tcp->nextPendingConnection()) {
            auto buffer = std::make_shared<QByteArray>();
            {
                QMutexLocker lock(&m_shared->mutex);
                ++m_shared->openConnections;
            }
            connect(socket, &QTcpSocket::disconnected, this, [this] {
                QMutexLocker lock(&m_shared->mutex);
                --m_shared->openConnections;
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this,
                    [this, socket, buffer] { onReadyRead(socket, *buffer); });
        }
    }

    void onReadyRead(QTcpSocket* socket, QByteArray& buffer) {
        buffer.append(socket->readAll());
        const int headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0) return;

        Request request;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon > 0) {
                request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                       lines[i].mid(colon + 1).trimmed());
            }
        }
        const int length = request.headers.value("content-length", "0").toInt();
        if (buffer.size() < headerEnd + 4 + length) return;
        request.body = buffer.mid(headerEnd + 4, length);
        buffer.clear();

        Answer answer;
        {
            QMutexLocker lock(&m_shared->mutex);
            m_shared->requests.append(request);
            answer = m_shared->answer;
        }
        if (answer.status == 0) return;  // hang on purpose
        if (answer.delayMs > 0) {
            // The socket is the context: a client that gave up takes the answer with it.
            QTimer::singleShot(answer.delayMs, socket,
                               [this, socket, answer] { respond(socket, answer); });
            return;
        }
        respond(socket, answer);
    }

    void respond(QTcpSocket* socket, const Answer& answer) {
        if (answer.endless) {
            respondEndless(socket);
            return;
        }
        socket->write("HTTP/1.1 " + QByteArray::number(answer.status) + " Status\r\n" +
                      "Content-Type: " + answer.contentType + "\r\nContent-Length: " +
                      QByteArray::number(answer.body.size()) + "\r\nConnection: close\r\n\r\n" +
                      answer.body);
        socket->disconnectFromHost();
    }

    void respondEndless(QTcpSocket* socket) {
        static constexpr qint64 kChunkBytes = 16 * 1024;
        static constexpr qint64 kLimitBytes = qint64(1) << 30;
        const QByteArray chunk = QByteArray("Endless - Stream\n").repeated(kChunkBytes / 17);
        auto sent = std::make_shared<qint64>(0);
        auto writeMore = [socket, chunk, sent] {
            while (socket->state() == QAbstractSocket::ConnectedState &&
                   socket->bytesToWrite() < 4 * kChunkBytes && *sent < kLimitBytes) {
                socket->write(chunk);
                *sent += chunk.size();
            }
            if (*sent >= kLimitBytes) socket->disconnectFromHost();
        };
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n");
        connect(socket, &QTcpSocket::bytesWritten, socket, writeMore);
        writeMore();
    }

    std::shared_ptr<Shared> m_shared;
};

HttpReceiver::HttpReceiver() : m_shared(std::make_shared<Shared>()) {
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("HttpReceiver"));
    m_server = new Server(m_shared);
    m_server->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::finished, m_server, &QObject::deleteLater);
    m_thread->start();
}

HttpReceiver::~HttpReceiver() {
    QMetaObject::invokeMethod(m_server, [this] { m_server->m_tcp->close(); },
                              Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait(5000);
    delete m_thread;
}

bool HttpReceiver::listen(quint16 port) {
    bool ok = false;
    QMetaObject::invokeMethod(
        m_server, [this, port] { return m_server->m_tcp->listen(QHostAddress::LocalHost, port); },
        Qt::BlockingQueuedConnection, &ok);
    return ok;
}

quint16 HttpReceiver::port() const {
    quint16 port = 0;
    QMetaObject::invokeMethod(m_server, [this] { return m_server->m_tcp->serverPort(); },
                              Qt::BlockingQueuedConnection, &port);
    return port;
}

void HttpReceiver::setResponseStatus(int status) {
    QMutexLocker lock(&m_shared->mutex);
    m_shared->answer.status = status;
}

void HttpReceiver::setResponseBody(const QByteArray& body, const QByteArray& contentType) {
    QMutexLocker lock(&m_shared->mutex);
    m_shared->answer.body = body;
    m_shared->answer.contentType = contentType;
}

void HttpReceiver::setResponseDelayMs(int delayMs) {
    QMutexLocker lock(&m_shared->mutex);
    m_shared->answer.delayMs = delayMs;
}

void HttpReceiver::setEndlessBody(bool endless) {
    QMutexLocker lock(&m_shared->mutex);
    m_shared->answer.endless = endless;
}

int HttpReceiver::openConnectionCount() const {
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->openConnections;
}

QList<HttpReceiver::Request> HttpReceiver::requests() const {
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->requests;
}

int HttpReceiver::requestCount() const {
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->requests.size();
}
