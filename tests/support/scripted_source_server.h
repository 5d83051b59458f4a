#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QThread>

class QTcpServer;
class QTcpSocket;

// A stand-in for a streaming server that answers exactly as scripted, on purpose also wrongly,
// for what a real Icecast will not do. It runs on a thread of its own, so it keeps answering while
// the test's thread is blocked in a client call. Listens on 127.0.0.1 only, on a free port.
class ScriptedSourceServer {
public:
    struct Reply {
        enum class Action { Answer, CloseOnAccept, NeverAnswer };
        Action action = Action::Answer;
        QByteArray bytes;       // sent once the request's header block is complete
        int delayMs = 0;        // before answering
        int closeAfterMs = -1;  // close this long after answering; -1 keeps the connection open
        // After answering, take in at most this many bytes a second (0: as fast as they come),
        // so the client's writes back up as over a slow uplink.
        int readBytesPerSecond = 0;

        static Reply answer(const QByteArray& bytes, int delayMs = 0, int closeAfterMs = -1) {
            return {Action::Answer, bytes, delayMs, closeAfterMs, 0};
        }
        static Reply closeOnAccept() { return {Action::CloseOnAccept, {}, 0, -1, 0}; }
        static Reply neverAnswer() { return {Action::NeverAnswer, {}, 0, -1, 0}; }
    };

    ScriptedSourceServer();
    ~ScriptedSourceServer();
    ScriptedSourceServer(const ScriptedSourceServer&) = delete;
    ScriptedSourceServer& operator=(const ScriptedSourceServer&) = delete;

    quint16 port() const { return m_port; }

    // Replies to source connections in order of arrival; the last one repeats.
    void setSourceReplies(const QList<Reply>& replies);
    // Reply to every title request (a connection whose request starts with "GET /admin/"). A
    // listener's request (any other GET) is closed at once and counted nowhere.
    void setMetadataReply(const Reply& reply);

    // Reply to every request for the public status page ("GET /status-json.xsl"); by default
    // an Icecast status with no mount live.
    void setStatusReply(const Reply& reply);

    // Source connections (title and status requests are counted apart).
    int connectionCount() const;
    int metadataRequestCount() const;
    int statusRequestCount() const;
    // Everything received on source connection `index` (request and audio).
    QByteArray received(int index) const;
    QByteArray metadataRequest(int index) const;
    // Whether the client closed source connection `index`.
    bool closedByClient(int index) const;
    // Closes every open source connection from the server side.
    void closeAll();
    // Connections accepted from now on get a kernel receive buffer of `receiveBufferBytes` and
    // announce segments of at most `maxSegmentBytes`, as on an ordinary network (loopback's huge
    // segments would let the client's send buffer swallow minutes of a slow reader's backlog).
    void limitReceiving(int receiveBufferBytes, int maxSegmentBytes = 1460);
    // Received on source connection `index` after its request's header block.
    QByteArray receivedBody(int index) const;

private:
    struct Connection {
        QTcpSocket* socket = nullptr;
        QByteArray data;
        bool isMetadata = false;
        bool replied = false;
        bool throttled = false;
        bool closedByClient = false;
        bool closedByServer = false;
        int sourceIndex = -1;
    };

    // The source connection `index`; the caller holds m_mutex.
    const Connection* source(int index) const;
    void onNewConnection();
    void onReadyRead(int id);
    void onDisconnected(int id);
    void reply(int id, const Reply& reply);
    void startThrottledReading(int id, int bytesPerSecond);

    QThread m_thread;
    QObject* m_context = nullptr;  // lives on m_thread
    QTcpServer* m_server = nullptr;
    quint16 m_port = 0;
    mutable QMutex m_mutex;
    QList<Reply> m_sourceReplies{Reply::answer("HTTP/1.0 200 OK\r\n\r\n")};
    // Closes as Icecast does after answering.
    Reply m_metadataReply = Reply::answer(
        "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n<?xml version=\"1.0\"?>\n"
        "<iceresponse><message>Metadata update successful</message><return>1</return>"
        "</iceresponse>\n",
        0, 0);
    Reply m_statusReply = Reply::answer(
        "HTTP/1.0 200 OK\r\nServer: Icecast 2.4.4\r\nContent-Type: application/json\r\n\r\n"
        "{\"icestats\":{\"server_id\":\"Icecast 2.4.4\",\"dummy\":null}}",
        0, 0);
    QList<Connection> m_connections;
    int m_sourceCount = 0;
    int m_metadataCount = 0;
    int m_statusCount = 0;
};
