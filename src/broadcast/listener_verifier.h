// Whether listeners get the stream we send: our own mount heard from the server's public
// address, on a short-lived thread, right after the server accepted the source.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <QString>
#include <QtGlobal>

#include "broadcast/worker_result_link.h"

class QThread;
class SentStreamWindow;

namespace platform {
class AbortableSocket;
}

enum class OnAirVerdict {
    Verified,       // listeners receive this stream
    SomethingElse,  // a fallback, another stream, an error page, or nothing at all
    Unreachable,    // no connection, or it closed without an answer
};

// "verified", "not verified: listeners get something else" or "not verified: the listener
// address is not reachable".
QString onAirVerdictText(OnAirVerdict verdict);

// One listen: connect like a listener, ask for the mount, and look for the newest bytes heard in
// the window of what was sent (and, for Ogg, for the serial of the stream we opened last among
// the serials heard). The connection ends within kListenMs of the start. The worker holds its
// own copies and a share of the window, so whoever started it may go away while it runs.
class ListenerVerifier {
public:
    static constexpr int kListenMs = 3000;
    // The newest bytes heard that must be found in what was sent.
    static constexpr std::size_t kBlockBytes = 2048;

    struct Result {
        OnAirVerdict verdict = OnAirVerdict::Unreachable;
        QString detail;  // what was heard, for the log
    };

    using ResultLink = WorkerResultLink<ListenerVerifier, Result>;

    // Any thread. `request` is the listener's request for the mount on host:port.
    ListenerVerifier(std::string host, quint16 port, std::string request,
                     std::shared_ptr<const SentStreamWindow> window,
                     std::shared_ptr<ResultLink> link);
    ~ListenerVerifier();
    ListenerVerifier(const ListenerVerifier&) = delete;
    ListenerVerifier& operator=(const ListenerVerifier&) = delete;

    // Listens on a new thread that deletes itself when it ends; the result is posted through
    // the link unless the verifier was aborted. Returns at once.
    static QThread* start(const std::shared_ptr<ListenerVerifier>& verifier);

    // Any thread, never blocks: wakes every wait at once; the worker then posts nothing.
    void abort();
    bool isAborted() const;

private:
    // Worker thread.
    Result listen();

    const std::string m_host;
    const quint16 m_port;
    const std::string m_request;
    const std::shared_ptr<const SentStreamWindow> m_window;
    const std::unique_ptr<platform::AbortableSocket> m_socket;
    const std::shared_ptr<ResultLink> m_link;
};
