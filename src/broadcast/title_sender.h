// Title updates: the server's metadata request over a short connection of its own, on a
// short-lived thread, and the server's verdict on it.
#pragma once

#include <memory>
#include <string>

#include <QString>
#include <QtGlobal>

#include "broadcast/icecast_wire.h"
#include "broadcast/worker_result_link.h"

class QThread;

namespace platform {
class AbortableSocket;
}

// One title request. Never touches the source socket, so a failed title update leaves the audio
// connection alone. The worker holds nothing but its own copies (host, port, request bytes) and
// its socket, so whoever started it may go away while it runs.
class TitleSender {
public:
    struct Result {
        bool sent = false;
        QString error;  // why it was not sent, in the server's words when it refused
    };

    using ResultLink = WorkerResultLink<TitleSender, Result>;

    // Any thread. The request publishing "artist - title" (or the title alone) on `target`'s
    // mount with its source credentials; null when the request cannot be built.
    static std::shared_ptr<TitleSender> create(const icecast::SourceRequest& target,
                                               const QString& title, const QString& artist,
                                               std::shared_ptr<ResultLink> link);
    ~TitleSender();
    TitleSender(const TitleSender&) = delete;
    TitleSender& operator=(const TitleSender&) = delete;

    // Sends the request on a new thread that deletes itself when it ends: the connect (at most
    // 5 s), the write (at most 3 s per wait), and the server's answer (at most 5 s). The result
    // is posted through the link unless the sender was aborted. Returns at once.
    static QThread* start(const std::shared_ptr<TitleSender>& sender);

    // Any thread, never blocks: wakes every wait of the request at once; it then gives up and
    // posts nothing.
    void abort();
    bool isAborted() const;
    // What the request publishes: "artist - title", or the title alone. UTF-8.
    const std::string& song() const { return m_song; }

private:
    TitleSender(std::string host, quint16 port, std::string request, std::string song,
                std::shared_ptr<ResultLink> link);
    // Worker thread.
    Result send();

    const std::string m_host;
    const quint16 m_port;
    const std::string m_request;
    const std::string m_song;
    const std::unique_ptr<platform::AbortableSocket> m_socket;
    const std::shared_ptr<ResultLink> m_link;
};
