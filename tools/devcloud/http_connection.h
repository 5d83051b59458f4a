#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QJsonDocument>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QUrl>

class QTcpSocket;

struct HttpRequest {
    QByteArray method;
    QUrl url;                              // path and query of the request target
    QMap<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;

    QByteArray header(const QByteArray& lowerCaseName) const {
        return headers.value(lowerCaseName);
    }
    QString queryItem(const QString& name) const;
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> extraHeaders;

    static HttpResponse json(int status, const QJsonDocument& document);
    // The service's error body: {"error": {"message": …, "uuid": …}}; no "message" when empty.
    static HttpResponse error(int status, const QString& message);
};

// One HTTP/1.1 server connection on an already connected (and, for HTTPS, encrypted) socket.
// Requests are handled one at a time: the next is read only once the previous one was answered,
// and an answer may come later (or never, to simulate a server that hangs). Keep-alive is honoured.
// Deletes itself when the peer goes away.
class HttpConnection : public QObject {
    Q_OBJECT

public:
    // Takes the socket over (it becomes a child of the connection).
    explicit HttpConnection(QTcpSocket* socket, QObject* parent = nullptr);

    // Answers the request in hand; ignored when there is none.
    void respond(const HttpResponse& response);
    QHostAddress peerAddress() const;
    void abort();
    // Printed with the answer in the request log (an account's e-mail, say; never a secret).
    void setNote(const QString& note) { m_note = note; }

Q_SIGNALS:
    void requestReceived(const HttpRequest& request);

private:
    void onReadyRead();
    bool parseOne();
    void fail(int status, const char* reason);

    QTcpSocket* m_socket;
    QByteArray m_buffer;
    bool m_awaitingResponse = false;
    bool m_closeAfterResponse = false;
    QByteArray m_method;
    QString m_path;  // never the query: tokens travel there
    QString m_note;
};
