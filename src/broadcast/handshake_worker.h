// One connect attempt of the source client on a short-lived thread of its own: its own copy of
// the request, its socket, the PUT-then-SOURCE handshake, and the result posted back.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QString>
#include <QtGlobal>

#include "broadcast/icecast_wire.h"
#include "broadcast/worker_result_link.h"

class QThread;

namespace platform {
class AbortableSocket;
}

// The worker reads nothing but its own copy of the request, so the client may clear its fields
// meanwhile; it keeps its socket until the client takes it over on its own thread.
class HandshakeWorker {
public:
    struct Result {
        enum class Outcome { Connected, Failed, Aborted };
        Outcome outcome = Outcome::Failed;
        QString error;  // "Connection failed: ..." when failed
        // Credentials and a busy mount are reported even inside a reconnect series.
        bool reportAlways = false;
    };

    using ResultLink = WorkerResultLink<HandshakeWorker, Result>;

    HandshakeWorker(quint64 generation, icecast::SourceRequest request,
                    std::vector<std::string> addresses, bool silent,
                    std::shared_ptr<ResultLink> link);
    ~HandshakeWorker();
    HandshakeWorker(const HandshakeWorker&) = delete;
    HandshakeWorker& operator=(const HandshakeWorker&) = delete;

    // Main thread. Runs the attempt on a new thread that deletes itself when it ends, so a thread
    // that outlives the client's waits is never destroyed while running.
    static QThread* start(const std::shared_ptr<HandshakeWorker>& worker);

    quint64 generation() const { return m_generation; }
    // Ordinary failures stay unreported while a reconnect series absorbs them.
    bool isSilent() const { return m_silent; }

    // Any thread: wakes every wait of the worker at once; it then gives up and posts nothing.
    void abort();
    bool isAborted() const;
    // Main thread, once the result arrived: the connected socket, which the worker forgets
    // (-1 when aborted meanwhile).
    int takeSocket();
    // Any thread: closes the socket the worker still holds, if any.
    void discard();

private:
    // Worker thread.
    static void run(const std::shared_ptr<HandshakeWorker>& worker);
    Result handshake();

    const quint64 m_generation;
    const icecast::SourceRequest m_request;
    const std::vector<std::string> m_addresses;
    const bool m_silent;
    const std::unique_ptr<platform::AbortableSocket> m_socket;
    const std::shared_ptr<ResultLink> m_link;
};
