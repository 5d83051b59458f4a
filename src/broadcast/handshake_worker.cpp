// The handshake worker: one connect attempt, on its own thread, posted back to the client.
#include "broadcast/handshake_worker.h"

#include <chrono>
#include <thread>

#include <QObject>
#include <QStringList>
#include <QThread>

#include "core/log_categories.h"
#include "platform/socket.h"

namespace {

constexpr int kConnectTimeoutMs = 5000;
constexpr int kConnectTimeoutSeconds = kConnectTimeoutMs / 1000;
constexpr int kRequestSendTimeoutMs = 3000;
constexpr int kAnswerTimeoutMs = 5000;
constexpr int kAnswerBufferBytes = 1000;
constexpr auto kFallbackPause = std::chrono::milliseconds(100);

const QString kConnectionFailed = QStringLiteral("Connection failed: ");

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// The warning text for a failed TCP connect (one of the platform's negative results).
QString connectFailureMessage(int result, const QString& host, quint16 port) {
    switch (result) {
        case platform::kSocketTimedOut:
            return QStringLiteral(
                       "Connection timeout. Server '%1:%2' did not respond within %3 seconds. "
                       "Check that the server is running and reachable.")
                .arg(host)
                .arg(port)
                .arg(kConnectTimeoutSeconds);
        case platform::kSocketRefused:
            return QStringLiteral(
                       "Connection refused by %1:%2 \u2014 no server is listening there. Check "
                       "the port and that the server is running.")
                .arg(host)
                .arg(port);
        case platform::kSocketUnreachable:
            return QStringLiteral(
                       "No route to %1:%2. Check the server address and this computer's network "
                       "connection.")
                .arg(host)
                .arg(port);
        case platform::kSocketConnectError:
            return QStringLiteral("Invalid socket. Could not establish connection to '%1:%2'.")
                .arg(host)
                .arg(port);
        case platform::kSocketLookupFailed:
            return QStringLiteral(
                       "Could not resolve hostname '%1'. Check if the hostname is correct and DNS "
                       "is working.")
                .arg(host);
        case platform::kSocketNoSocket:
            return QStringLiteral("Could not create network socket");
        default:
            return QStringLiteral(
                       "Connection failed (error code: %1). Could not connect to '%2:%3'.")
                .arg(result)
                .arg(host)
                .arg(port);
    }
}

}  // namespace

HandshakeWorker::HandshakeWorker(quint64 generation, icecast::SourceRequest request,
                                 std::vector<std::string> addresses, bool silent,
                                 std::shared_ptr<ResultLink> link)
    : m_generation(generation),
      m_request(std::move(request)),
      m_addresses(std::move(addresses)),
      m_silent(silent),
      m_socket(std::make_unique<platform::AbortableSocket>()),
      m_link(std::move(link)) {}

HandshakeWorker::~HandshakeWorker() = default;

void HandshakeWorker::abort() { m_socket->abort(); }

bool HandshakeWorker::isAborted() const { return m_socket->isAborted(); }

int HandshakeWorker::takeSocket() { return m_socket->release(); }

void HandshakeWorker::discard() { m_socket->close(); }

QThread* HandshakeWorker::start(const std::shared_ptr<HandshakeWorker>& worker) {
    qCDebug(lcIcecast) << "Starting connection thread";
    return startDetachedThread(QStringLiteral("IcecastConnect"), [worker] { run(worker); });
}

void HandshakeWorker::run(const std::shared_ptr<HandshakeWorker>& worker) {
    if (worker->isAborted()) {
        qCDebug(lcIcecast) << "Worker thread: Shutting down, aborting connection";
        return;
    }
    QStringList addresses;
    for (const std::string& address : worker->m_addresses) addresses << fromUtf8(address);
    qCDebug(lcIcecast).noquote() << "Worker thread: Starting connection to"
                                 << addresses.join(QStringLiteral(", ")) << ":"
                                 << worker->m_request.port;
    const Result result = worker->handshake();
    qCDebug(lcIcecast) << "Worker thread: connectSocket returned"
                       << (result.outcome == Result::Outcome::Connected);
    if (result.outcome == Result::Outcome::Aborted || worker->isAborted()) {
        qCDebug(lcIcecast) << "Worker thread: Shutting down, not emitting signals";
        worker->discard();
        return;
    }
    // Only the client's own thread publishes the socket and emits, after checking that this
    // attempt is still the one it wants.
    if (!worker->m_link->post(worker, result)) worker->discard();
}

HandshakeWorker::Result HandshakeWorker::handshake() {
    using Outcome = Result::Outcome;
    const QString host = fromUtf8(m_request.host);
    const quint16 port = m_request.port;
    auto aborted = [] { return Result{Outcome::Aborted, QString(), false}; };
    auto fail = [](const QString& message, bool always = false) {
        return Result{Outcome::Failed, kConnectionFailed + message, always};
    };
    auto pause = [this] {
        if (!isAborted()) std::this_thread::sleep_for(kFallbackPause);
    };

    char response[kAnswerBufferBytes];
    for (int number = icecast::kPutAttempt; number <= icecast::kSourceAttempt; ++number) {
        const bool lastAttempt = number == icecast::kSourceAttempt;
        if (isAborted()) return aborted();

        // Every address of the lookup in turn, so that a name whose first address is not served
        // still reaches the server.
        int socket = platform::kSocketNoSocket;
        for (const std::string& address : m_addresses) {
            socket = platform::tcpConnect(address.c_str(), port, false, kConnectTimeoutMs,
                                          m_socket.get());
            if (socket >= 0 || socket == platform::kSocketAborted) break;
        }
        if (socket == platform::kSocketAborted || isAborted()) {
            discard();
            return aborted();
        }
        if (socket < 0) {
            const QString message = connectFailureMessage(socket, host, port);
            qCWarning(lcIcecast) << "connect:" << message;
            const bool transient =
                socket == platform::kSocketTimedOut || socket == platform::kSocketConnectError;
            if (transient && !lastAttempt) {
                pause();
                continue;
            }
            return fail(message);
        }

        std::string bytes;
        if (!icecast::buildSourceRequest(m_request, number, bytes)) {
            qCWarning(lcIcecast) << "connectSocket: Failed to encode authentication";
            discard();
            return fail(QStringLiteral("Authentication encoding error"));
        }
        const std::int64_t sent =
            platform::tcpSendAll(socket, bytes.data(), bytes.size(), kRequestSendTimeoutMs);
        if (sent != static_cast<std::int64_t>(bytes.size())) {
            discard();
            if (isAborted()) return aborted();
            if (!lastAttempt) continue;
            return fail(QStringLiteral("Could not send HTTP request to server"));
        }

        const int received =
            platform::tcpReceive(socket, response, sizeof(response) - 1, kAnswerTimeoutMs);
        if (isAborted()) {
            discard();
            return aborted();
        }
        if (received == platform::kSocketTimedOut || received == platform::kSocketPeerClosed) {
            discard();
            if (!lastAttempt) continue;
            return fail(QStringLiteral("Server did not respond to HTTP request"));
        }
        if (received < 0) {
            discard();
            if (!lastAttempt) {
                pause();
                continue;
            }
            return fail(QStringLiteral("Error receiving server response"));
        }
        response[received] = '\0';

        const icecast::HandshakeStatus status =
            icecast::decideHandshakeStatus(response, static_cast<std::size_t>(received));
        switch (status.verdict) {
            case icecast::HandshakeVerdict::Accepted:
                return Result{Outcome::Connected, QString(), false};
            case icecast::HandshakeVerdict::InvalidResponse:
                discard();
                if (!lastAttempt) continue;
                return fail(QStringLiteral("Invalid HTTP response from server"));
            case icecast::HandshakeVerdict::StatusTooShort:
                discard();
                if (!lastAttempt) continue;
                return fail(QStringLiteral("Malformed HTTP response (status code too short)"));
            case icecast::HandshakeVerdict::Unauthorized:
                qCWarning(lcIcecast) << "connect: invalid user/password!";
                discard();
                return fail(QStringLiteral("Invalid username or password (HTTP 401)"), true);
            case icecast::HandshakeVerdict::MountInUse:
                qCWarning(lcIcecast) << "connect: mountpoint already in use";
                discard();
                return fail(QStringLiteral("Mount point already in use (HTTP 403)"), true);
            case icecast::HandshakeVerdict::BadRequestOrNotFound:
                discard();
                if (!lastAttempt) {
                    pause();
                    continue;
                }
                qCWarning(lcIcecast) << "connect: server answered with" << status.status;
                return fail(QStringLiteral("Server returned HTTP %1 (Bad Request or Not Found)")
                                .arg(status.status));
            case icecast::HandshakeVerdict::OtherStatus:
                qCWarning(lcIcecast) << "connect: server answered with" << status.status;
                discard();
                return fail(QStringLiteral("Server returned HTTP %1").arg(status.status));
        }
    }
    discard();
    return fail(QStringLiteral("Server did not respond to HTTP request"));
}
