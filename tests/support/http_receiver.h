#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>

#include <memory>

class QThread;

// A minimal HTTP/1.1 server on 127.0.0.1 that records every request and answers with a fixed
// status. It serves from a thread of its own, so it keeps answering while the test's main thread
// is blocked (in a shutdown that waits for a worker, say).
class HttpReceiver {
public:
    struct Request {
        QByteArray method;
        QByteArray path;
        QMap<QByteArray, QByteArray> headers;  // names in lower case
        QByteArray body;
    };

    HttpReceiver();
    ~HttpReceiver();

    // Port 0 picks a free one.
    bool listen(quint16 port = 0);
    quint16 port() const;

    // 0 accepts the request and never answers.
    void setResponseStatus(int status);
    // Answers with this body instead of an empty one.
    void setResponseBody(const QByteArray& body,
                         const QByteArray& contentType = "text/plain; charset=utf-8");
    // Waits this long before answering (the request is recorded at once).
    void setResponseDelayMs(int delayMs);
    // Answers 200 with a body that never ends (no Content-Length), written as fast as the
    // client reads, until the client goes away (or, as a bound, after 1 GiB).
    void setEndlessBody(bool endless);
    // Client connections currently open.
    int openConnectionCount() const;
    QList<Request> requests() const;
    int requestCount() const;

    // What to answer a request with; copied when the request arrives.
    struct Answer {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "text/plain";
        int delayMs = 0;
        bool endless = false;
    };

    struct Shared {
        mutable QMutex mutex;
        QList<Request> requests;
        Answer answer;
        int openConnections = 0;
    };

private:
    std::shared_ptr<Shared> m_shared;
    QThread* m_thread = nullptr;
    class Server;
    Server* m_server = nullptr;
};
