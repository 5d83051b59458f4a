#include "http_connection.h"

#include <QJsonObject>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QUuid>

namespace {

constexpr int kMaxHeaderBytes = 64 * 1024;
constexpr int kMaxBodyBytes = 1024 * 1024;

QByteArray reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 202:
            return "Accepted";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 406:
            return "Not Acceptable";
        case 413:
            return "Payload Too Large";
        case 418:
            return "I'm a teapot";
        case 429:
            return "Too Many Requests";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

}  // namespace

QString HttpRequest::queryItem(const QString& name) const {
    return QUrlQuery(url).queryItemValue(name, QUrl::FullyDecoded);
}

HttpResponse HttpResponse::json(int status, const QJsonDocument& document) {
    HttpResponse response;
    response.status = status;
    response.body = document.toJson(QJsonDocument::Compact);
    return response;
}

HttpResponse HttpResponse::error(int status, const QString& message) {
    QJsonObject error;
    if (!message.isEmpty()) error.insert(QStringLiteral("message"), message);
    error.insert(QStringLiteral("uuid"), QUuid::createUuid().toString(QUuid::WithoutBraces));
    return json(status, QJsonDocument(QJsonObject{{QStringLiteral("error"), error}}));
}

HttpConnection::HttpConnection(QTcpSocket* socket, QObject* parent)
    : QObject(parent), m_socket(socket) {
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    if (m_socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &HttpConnection::onReadyRead, Qt::QueuedConnection);
}

QHostAddress HttpConnection::peerAddress() const { return m_socket->peerAddress(); }

void HttpConnection::abort() {
    m_socket->abort();
    deleteLater();
}

void HttpConnection::onReadyRead() {
    m_buffer.append(m_socket->readAll());
    while (!m_awaitingResponse && parseOne()) {
    }
}

bool HttpConnection::parseOne() {
    const int headerEnd = m_buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        if (m_buffer.size() > kMaxHeaderBytes) fail(431, "request head too large");
        return false;
    }
    const QList<QByteArray> lines = m_buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1.")) {
        fail(400, "malformed request line");
        return false;
    }
    HttpRequest request;
    request.method = requestLine[0];
    request.url = QUrl::fromEncoded(requestLine[1]);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon <= 0) continue;
        request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                               lines[i].mid(colon + 1).trimmed());
    }
    bool lengthOk = true;
    const qint64 length = request.header("content-length").isEmpty()
                              ? 0
                              : request.header("content-length").toLongLong(&lengthOk);
    if (!lengthOk || length < 0 || length > kMaxBodyBytes) {
        fail(413, "bad or too large body");
        return false;
    }
    if (m_buffer.size() < headerEnd + 4 + length) return false;
    request.body = m_buffer.mid(headerEnd + 4, int(length));
    m_buffer.remove(0, headerEnd + 4 + int(length));

    const QByteArray connection = request.header("connection").toLower();
    m_closeAfterResponse = connection.contains("close") ||
                           (requestLine[2] == "HTTP/1.0" && !connection.contains("keep-alive"));
    m_awaitingResponse = true;
    m_method = request.method;
    m_path = request.url.path();
    m_note.clear();
    Q_EMIT requestReceived(request);
    return true;
}

void HttpConnection::respond(const HttpResponse& response) {
    if (!m_awaitingResponse || m_socket->state() != QAbstractSocket::ConnectedState) return;
    m_awaitingResponse = false;
    qInfo().noquote() << m_method << m_path << "->" << response.status << m_note;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                      reasonPhrase(response.status) + "\r\n";
    head += "Server: ondaro-devcloud\r\n";
    head += "Content-Type: " + response.contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    for (const auto& header : response.extraHeaders) {
        head += header.first + ": " + header.second + "\r\n";
    }
    head += m_closeAfterResponse ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
    m_socket->write(head + response.body);
    if (m_closeAfterResponse) {
        m_socket->disconnectFromHost();
        return;
    }
    // A request that arrived while this one was pending is served now.
    QMetaObject::invokeMethod(this, &HttpConnection::onReadyRead, Qt::QueuedConnection);
}

void HttpConnection::fail(int status, const char* reason) {
    m_awaitingResponse = true;
    m_method = "(bad request)";
    m_path.clear();
    m_closeAfterResponse = true;
    respond(HttpResponse::error(status, QString::fromLatin1(reason)));
    m_buffer.clear();
}
