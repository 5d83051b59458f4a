#include "broadcast/icecast_client.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QDeadlineTimer>
#include <QThread>

#include "broadcast/icecast_wire.h"
#include "core/app_identity.h"
#include "core/log_categories.h"
#include "platform/socket.h"

namespace {

constexpr int kConnectTimeoutMs = 5000;
constexpr int kConnectTimeoutSeconds = kConnectTimeoutMs / 1000;
constexpr int kRequestSendTimeoutMs = 3000;
constexpr int kAnswerTimeoutMs = 5000;
constexpr int kAnswerBufferBytes = 1000;
constexpr auto kFallbackPause = std::chrono::milliseconds(100);
constexpr int kSendWaitMs = 3000;
constexpr int kImmediateRetryMs = 100;
constexpr int kThreadStopWaitMs = 5000;
constexpr int kCancelThreadWaitMs = 1000;
constexpr int kMetadataAnswerWaitMs = 2000;
// The source socket's kernel buffer holds about this much of the stream (at least
// kMinSendBufferBytes): enough for any link that can carry the stream, and a link that cannot
// makes writes wait within seconds instead of after megabytes of audio.
constexpr int kSendBufferSeconds = 2;
constexpr int kMinSendBufferBytes = 32 * 1024;
constexpr std::size_t kMetadataAnswerMaxBytes = 4096;

const QString kConnectionFailed = QStringLiteral("Connection failed: ");

std::string utf8(const QString& text) { return text.toUtf8().toStdString(); }

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

// Lets a connection thread post its result to the client for as long as the client exists.
struct IcecastClient::OwnerLink {
    std::mutex mutex;
    IcecastClient* owner = nullptr;
};

// One connect attempt, shared by the client and its worker thread. The worker reads only this:
// its own copy of the request, so clearing the client's fields never races with it, and its own
// socket, which it keeps until the client takes it over on its own thread.
struct IcecastClient::Attempt {
    quint64 generation = 0;
    icecast::SourceRequest request;
    std::vector<std::string> addresses;
    // Ordinary failures stay unreported while a reconnect series absorbs them.
    bool silent = false;
    platform::AbortableSocket socket;
    std::shared_ptr<OwnerLink> ownerLink;
};

struct IcecastClient::HandshakeResult {
    enum class Outcome { Connected, Failed, Aborted };
    Outcome outcome = Outcome::Failed;
    QString error;
    // Credentials and a busy mount are reported even inside a reconnect series.
    bool reportAlways = false;
};

IcecastClient::IcecastClient(QObject* parent)
    : QObject(parent), m_ownerLink(std::make_shared<OwnerLink>()) {
    m_ownerLink->owner = this;
    m_reconnectTimer = new QTimer(this);
    m_reconnectTimer->setSingleShot(true);
    connect(m_reconnectTimer, &QTimer::timeout, this, &IcecastClient::onReconnectTimer);
    m_countdownTimer = new QTimer(this);
    m_countdownTimer->setInterval(1000);
    connect(m_countdownTimer, &QTimer::timeout, this, &IcecastClient::onReconnectCountdownTimer);
    platform::initializeSockets();
}

IcecastClient::~IcecastClient() {
    m_shuttingDown = true;
    disconnectFromServer();
    // A connection thread that is still running finishes on its own and never reaches us.
    std::lock_guard<std::mutex> lock(m_ownerLink->mutex);
    m_ownerLink->owner = nullptr;
}

void IcecastClient::connectToServerAsync(const QString& host, quint16 port, const QString& mount,
                                         const QString& username, const QString& password) {
    qCInfo(lcIcecast) << "connectToServerAsync called for" << host << ":" << port;
    // The caller's values may be our own fields (a reconnect attempt passes them in).
    const QString newHost = host;
    const QString newMount = mount;
    const QString newUsername = username;
    const QString newPassword = password;

    m_shuttingDown = false;
    if (!m_isReconnecting) {
        m_reconnectAttempts = 0;
        if (!m_autoReconnect && m_wasEverConnected) m_autoReconnect = true;
    }
    // Also a connection whose write failed a moment ago (its loss event is still queued).
    if (m_isConnected || m_socket.load() >= 0) {
        disconnectFromServer();
        m_shuttingDown = false;
    }
    ++m_generation;
    abortCurrentAttempt();

    m_host = m_savedHost = newHost;
    m_port = m_savedPort = port;
    m_mount = m_savedMount = newMount;
    m_username = m_savedUsername = newUsername;
    m_password = m_savedPassword = newPassword;
    abortLookup();

    // Values that would break out of their header line are refused before anything is sent.
    icecast::SourceRequest request;
    request.host = utf8(m_host);
    request.mount = utf8(m_mount);
    request.username = utf8(m_username);
    request.password = utf8(m_password);
    request.name = utf8(m_streamName);
    request.description = utf8(m_streamDescription);
    request.genre = utf8(m_streamGenre);
    request.url = utf8(m_streamUrl);
    const std::string unsafe = icecast::unsafeFieldReason(request);
    if (!unsafe.empty()) {
        qCWarning(lcIcecast) << "connect:" << fromUtf8(unsafe);
        endSeries();
        const quint64 generation = m_generation;
        const QString error = kConnectionFailed + fromUtf8(unsafe);
        // The outcome of a connect always arrives after the call has returned.
        QMetaObject::invokeMethod(
            this,
            [this, generation, error] {
                if (generation == m_generation) Q_EMIT connectionError(error);
            },
            Qt::QueuedConnection);
        return;
    }

    qCInfo(lcIcecast) << "Starting DNS lookup for" << m_host;
    m_lookupId = startHostLookup(m_host);
    qCInfo(lcIcecast) << "DNS lookup ID:" << m_lookupId;
}

int IcecastClient::startHostLookup(const QString& host) {
    return QHostInfo::lookupHost(host, this, &IcecastClient::onHostResolved);
}

void IcecastClient::onHostResolved(const QHostInfo& hostInfo) {
    if (m_lookupId == -1 || hostInfo.lookupId() != m_lookupId) {
        qCInfo(lcIcecast) << "onHostResolved: Ignoring the result of an abandoned lookup"
                          << hostInfo.lookupId();
        return;
    }
    m_lookupId = -1;

    const QString lookedUp = hostInfo.hostName().isEmpty() ? m_savedHost : hostInfo.hostName();
    QString message;
    if (hostInfo.error() != QHostInfo::NoError) {
        message = QStringLiteral("Could not resolve hostname '%1': %2")
                      .arg(lookedUp, hostInfo.errorString());
    } else if (hostInfo.addresses().isEmpty()) {
        message = QStringLiteral("No addresses found for hostname '%1'").arg(lookedUp);
    }
    if (!message.isEmpty()) {
        qCWarning(lcIcecast) << "connect:" << message;
        if (m_isReconnecting && m_wasEverConnected && m_autoReconnect &&
            m_reconnectAttempts < m_maxReconnectAttempts) {
            scheduleRetry(m_generation);
            return;
        }
        endSeries();
        Q_EMIT connectionError(kConnectionFailed + message);
        return;
    }

    QStringList addresses;
    for (const QHostAddress& address : hostInfo.addresses()) addresses << address.toString();

    m_host = m_savedHost;
    m_port = m_savedPort;
    m_mount = m_savedMount;
    m_username = m_savedUsername;
    m_password = m_savedPassword;
    startAttempt(addresses);
}

void IcecastClient::startAttempt(const QStringList& addresses) {
    if (m_connectionThread && m_connectionThread->isRunning()) {
        abortCurrentAttempt();
        if (!waitForConnectionThread(kThreadStopWaitMs)) {
            qCWarning(lcIcecast) << "connectToServerAsync: Thread did not stop in time (abandoned)";
        }
    }
    m_connectionThread = nullptr;

    auto attempt = std::make_shared<Attempt>();
    attempt->generation = m_generation;
    attempt->ownerLink = m_ownerLink;
    for (const QString& address : addresses) attempt->addresses.push_back(utf8(address));
    icecast::SourceRequest& request = attempt->request;
    request.host = utf8(m_host);
    request.port = m_port;
    request.mount = utf8(m_mount);
    request.username = utf8(m_username);
    request.password = utf8(m_password);
    request.contentType = codecMimeType(m_codec);
    request.userAgent = utf8(appidentity::userAgent());
    request.bitrate = m_bitrate;
    request.sampleRate = m_sampleRate;
    request.channels = m_channels;
    request.name = utf8(m_streamName);
    request.description = utf8(m_streamDescription);
    request.genre = utf8(m_streamGenre);
    request.url = utf8(m_streamUrl);
    request.isPublic = m_isPublic;
    attempt->silent = m_isReconnecting && m_wasEverConnected && m_autoReconnect &&
                      m_reconnectAttempts < m_maxReconnectAttempts;
    m_attempt = attempt;

    QThread* thread = QThread::create([attempt] { runConnectionWorker(attempt); });
    thread->setObjectName(QStringLiteral("IcecastConnect"));
    // Not a child of the client: a thread that outlives the client's waits deletes itself.
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    m_connectionThread = thread;
    qCInfo(lcIcecast) << "Starting connection thread";
    thread->start(QThread::InheritPriority);
    qCInfo(lcIcecast) << "Connection thread started";
}

void IcecastClient::runConnectionWorker(const std::shared_ptr<Attempt>& attempt) {
    if (attempt->socket.isAborted()) {
        qCInfo(lcIcecast) << "Worker thread: Shutting down, aborting connection";
        return;
    }
    QStringList addresses;
    for (const std::string& address : attempt->addresses) addresses << fromUtf8(address);
    qCInfo(lcIcecast).noquote() << "Worker thread: Starting connection to"
                                << addresses.join(QStringLiteral(", ")) << ":"
                                << attempt->request.port;
    const HandshakeResult result = runHandshake(*attempt);
    qCInfo(lcIcecast) << "Worker thread: connectSocket returned"
                      << (result.outcome == HandshakeResult::Outcome::Connected);
    if (result.outcome == HandshakeResult::Outcome::Aborted || attempt->socket.isAborted()) {
        qCInfo(lcIcecast) << "Worker thread: Shutting down, not emitting signals";
        attempt->socket.close();
        return;
    }

    // Only the client's own thread publishes the socket and emits, after checking that this
    // attempt is still the one it wants.
    std::lock_guard<std::mutex> lock(attempt->ownerLink->mutex);
    IcecastClient* client = attempt->ownerLink->owner;
    if (!client) {
        attempt->socket.close();
        return;
    }
    QMetaObject::invokeMethod(
        client, [client, attempt, result] { client->finishAttempt(attempt, result); },
        Qt::QueuedConnection);
}

IcecastClient::HandshakeResult IcecastClient::runHandshake(Attempt& attempt) {
    using Outcome = HandshakeResult::Outcome;
    const icecast::SourceRequest& request = attempt.request;
    const QString host = fromUtf8(request.host);
    const quint16 port = request.port;
    auto aborted = [] { return HandshakeResult{Outcome::Aborted, QString(), false}; };
    auto fail = [](const QString& message, bool always = false) {
        return HandshakeResult{Outcome::Failed, kConnectionFailed + message, always};
    };
    auto pause = [&attempt] {
        if (!attempt.socket.isAborted()) std::this_thread::sleep_for(kFallbackPause);
    };

    char response[kAnswerBufferBytes];
    for (int number = icecast::kPutAttempt; number <= icecast::kSourceAttempt; ++number) {
        const bool lastAttempt = number == icecast::kSourceAttempt;
        if (attempt.socket.isAborted()) return aborted();

        // Every address of the lookup in turn, so that a name whose first address is not served
        // still reaches the server.
        int socket = platform::kSocketNoSocket;
        for (const std::string& address : attempt.addresses) {
            socket = platform::tcpConnect(address.c_str(), port, false, kConnectTimeoutMs,
                                          &attempt.socket);
            if (socket >= 0 || socket == platform::kSocketAborted) break;
        }
        if (socket == platform::kSocketAborted || attempt.socket.isAborted()) {
            attempt.socket.close();
            return aborted();
        }
        if (socket < 0) {
            QString message;
            switch (socket) {
                case platform::kSocketTimedOut:
                    message = QStringLiteral(
                                  "Connection timeout. Server '%1:%2' did not respond within %3 "
                                  "seconds. Check that the server is running and reachable.")
                                  .arg(host)
                                  .arg(port)
                                  .arg(kConnectTimeoutSeconds);
                    break;
                case platform::kSocketRefused:
                    message = QStringLiteral(
                                  "Connection refused by %1:%2 \u2014 no server is listening "
                                  "there. Check the port and that the server is running.")
                                  .arg(host)
                                  .arg(port);
                    break;
                case platform::kSocketUnreachable:
                    message = QStringLiteral(
                                  "No route to %1:%2. Check the server address and this "
                                  "computer's network connection.")
                                  .arg(host)
                                  .arg(port);
                    break;
                case platform::kSocketConnectError:
                    message = QStringLiteral(
                                  "Invalid socket. Could not establish connection to "
                                  "'%1:%2'.")
                                  .arg(host)
                                  .arg(port);
                    break;
                case platform::kSocketLookupFailed:
                    message = QStringLiteral(
                                  "Could not resolve hostname '%1'. Check if the "
                                  "hostname is correct and DNS is working.")
                                  .arg(host);
                    break;
                case platform::kSocketNoSocket:
                    message = QStringLiteral("Could not create network socket");
                    break;
                default:
                    message = QStringLiteral(
                                  "Connection failed (error code: %1). Could not "
                                  "connect to '%2:%3'.")
                                  .arg(socket)
                                  .arg(host)
                                  .arg(port);
                    break;
            }
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
        if (!icecast::buildSourceRequest(request, number, bytes)) {
            qCWarning(lcIcecast) << "connectSocket: Failed to encode authentication";
            attempt.socket.close();
            return fail(QStringLiteral("Authentication encoding error"));
        }
        const std::int64_t sent =
            platform::tcpSendAll(socket, bytes.data(), bytes.size(), kRequestSendTimeoutMs);
        if (sent != static_cast<std::int64_t>(bytes.size())) {
            attempt.socket.close();
            if (attempt.socket.isAborted()) return aborted();
            if (!lastAttempt) continue;
            return fail(QStringLiteral("Could not send HTTP request to server"));
        }

        const int received =
            platform::tcpReceive(socket, response, sizeof(response) - 1, kAnswerTimeoutMs);
        if (attempt.socket.isAborted()) {
            attempt.socket.close();
            return aborted();
        }
        if (received == platform::kSocketTimedOut || received == platform::kSocketPeerClosed) {
            attempt.socket.close();
            if (!lastAttempt) continue;
            return fail(QStringLiteral("Server did not respond to HTTP request"));
        }
        if (received < 0) {
            attempt.socket.close();
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
                return HandshakeResult{Outcome::Connected, QString(), false};
            case icecast::HandshakeVerdict::InvalidResponse:
                attempt.socket.close();
                if (!lastAttempt) continue;
                return fail(QStringLiteral("Invalid HTTP response from server"));
            case icecast::HandshakeVerdict::StatusTooShort:
                attempt.socket.close();
                if (!lastAttempt) continue;
                return fail(QStringLiteral("Malformed HTTP response (status code too short)"));
            case icecast::HandshakeVerdict::Unauthorized:
                qCWarning(lcIcecast) << "connect: invalid user/password!";
                attempt.socket.close();
                return fail(QStringLiteral("Invalid username or password (HTTP 401)"), true);
            case icecast::HandshakeVerdict::MountInUse:
                qCWarning(lcIcecast) << "connect: mountpoint already in use";
                attempt.socket.close();
                return fail(QStringLiteral("Mount point already in use (HTTP 403)"), true);
            case icecast::HandshakeVerdict::BadRequestOrNotFound:
                attempt.socket.close();
                if (!lastAttempt) {
                    pause();
                    continue;
                }
                qCWarning(lcIcecast) << "connect: server answered with" << status.status;
                return fail(QStringLiteral("Server returned HTTP %1 (Bad Request or Not Found)")
                                .arg(status.status));
            case icecast::HandshakeVerdict::OtherStatus:
                qCWarning(lcIcecast) << "connect: server answered with" << status.status;
                attempt.socket.close();
                return fail(QStringLiteral("Server returned HTTP %1").arg(status.status));
        }
    }
    attempt.socket.close();
    return fail(QStringLiteral("Server did not respond to HTTP request"));
}

void IcecastClient::finishAttempt(const std::shared_ptr<Attempt>& attempt,
                                  const HandshakeResult& result) {
    if (attempt != m_attempt || attempt->generation != m_generation ||
        attempt->socket.isAborted()) {
        qCInfo(lcIcecast) << "Dropping the result of a superseded connect attempt";
        attempt->socket.close();
        return;
    }
    m_attempt.reset();

    if (result.outcome == HandshakeResult::Outcome::Connected) {
        const int socket = attempt->socket.release();
        if (socket < 0) return;  // aborted after all: nothing to publish
        platform::limitSendBuffer(
            socket, std::max(kMinSendBufferBytes, m_bitrate * 1000 / 8 * kSendBufferSeconds));
        const int previous = m_socket.exchange(socket);
        if (previous >= 0 && previous != socket) platform::closeSocket(previous);
        m_connectionGeneration = attempt->generation;
        m_isConnected = true;
        m_connectionPhase = 2;
        m_wasEverConnected = true;
        m_isReconnecting = false;
        stopReconnectTimer();
        qCInfo(lcIcecast) << "Worker thread: Emitting connected() signal, socket=" << socket;
        Q_EMIT connected();
        return;
    }

    const bool retry = m_wasEverConnected && m_autoReconnect &&
                       m_reconnectAttempts < m_maxReconnectAttempts && !m_shuttingDown;
    if (retry) {
        qCInfo(lcIcecast) << "Worker thread: Connection failed, wasEverConnected=true, scheduling "
                             "retry with delay";
        if (!attempt->silent || result.reportAlways) Q_EMIT connectionError(result.error);
        scheduleRetry(attempt->generation);
        return;
    }
    // A final failure: the series is over before anyone hears about it, and it is always heard.
    endSeries();
    if (m_wasEverConnected) {
        qCInfo(lcIcecast)
            << "Worker thread: Connection failed, auto-reconnect disabled or max attempts reached";
    } else {
        qCInfo(lcIcecast) << "Worker thread: Initial connection failed (wasEverConnected=false)";
    }
    Q_EMIT connectionError(result.error);
}

bool IcecastClient::send(const QByteArray& data) {
    const int socket = m_socket.load();
    if (!m_isConnected.load() || socket < 0) return false;

    const auto start = std::chrono::steady_clock::now();
    const std::int64_t sent = platform::tcpSendAll(
        socket, data.constData(), static_cast<std::size_t>(data.size()), kSendWaitMs);
    const auto end = std::chrono::steady_clock::now();
    const qint64 latencyUs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count() / 1000;
    const int bytes = static_cast<int>(data.size());

    if (sent != static_cast<std::int64_t>(data.size())) {
        m_isConnected = false;
        Q_EMIT sendCompleted(bytes, latencyUs, false);
        const quint64 generation = m_connectionGeneration;
        QMetaObject::invokeMethod(
            this, [this, generation, socket] { handleSendFailure(generation, socket); },
            Qt::QueuedConnection);
        return false;
    }
    Q_EMIT sendCompleted(bytes, latencyUs, true);
    return true;
}

void IcecastClient::handleSendFailure(quint64 generation, int socket) {
    if (generation != m_connectionGeneration) {
        qCInfo(lcIcecast) << "handleConnectionLostForSocket: Ignoring stale loss event for socket"
                          << socket << "(connection ended)";
        return;
    }
    handleConnectionLostForSocket(socket, QStringLiteral("Send failed - connection lost"));
}

void IcecastClient::handleConnectionLost(const QString& reason) {
    handleConnectionLostForSocket(m_socket.load(), reason);
}

void IcecastClient::handleConnectionLostForSocket(int socket, const QString& reason) {
    const int current = m_socket.load();
    if (socket >= 0 && current >= 0 && socket != current) {
        qCInfo(lcIcecast) << "handleConnectionLostForSocket: Ignoring stale loss event for socket"
                          << socket << "(current socket is" << current << ")";
        return;
    }
    if (!m_isConnected && current < 0) {
        qCInfo(lcIcecast) << "handleConnectionLostForSocket: Already fully disconnected, ignoring";
        return;
    }
    qCInfo(lcIcecast) << "handleConnectionLostForSocket: Connection lost detected, isConnected="
                      << m_isConnected.load() << ", socket=" << current << ", reason=" << reason;

    const bool wasLive = m_connectionPhase == 2 || m_isConnected || current >= 0;
    m_isConnected = false;
    m_connectionPhase = 0;

    QString message = reason;
    if (message.isEmpty()) {
        message = QString::fromLocal8Bit(platform::lastSocketErrorText().c_str()).trimmed();
        if (message.isEmpty()) message = QStringLiteral("Unknown error");
    }
    if (current >= 0) {
        qCInfo(lcIcecast) << "handleConnectionLostForSocket: Closing socket" << current;
        const int taken = m_socket.exchange(-1);
        if (taken >= 0) platform::closeSocket(taken);
    }
    m_connectionGeneration = 0;

    if (message.contains(QLatin1String("aborted by the software in your host machine"),
                         Qt::CaseInsensitive) ||
        message.contains(QLatin1String("an established connection was aborted"),
                         Qt::CaseInsensitive) ||
        message.contains(QLatin1String("forcibly closed by the remote host"),
                         Qt::CaseInsensitive) ||
        message == QLatin1String("Unknown error")) {
        message = QStringLiteral("Server closed the connection");
    }

    if (wasLive) Q_EMIT disconnected();

    qCInfo(lcIcecast) << "handleConnectionLost: autoReconnect=" << m_autoReconnect
                      << ", reconnectAttempts=" << m_reconnectAttempts.load()
                      << ", MAX=" << m_maxReconnectAttempts
                      << ", wasEverConnected=" << m_wasEverConnected.load();
    if (m_wasEverConnected && m_autoReconnect && m_reconnectAttempts < m_maxReconnectAttempts) {
        qCInfo(lcIcecast)
            << "handleConnectionLost: Starting reconnect timer (wasEverConnected=true)";
        startReconnectTimer();
        return;
    }
    if (!m_wasEverConnected) {
        qCInfo(lcIcecast) << "handleConnectionLost: Initial connection failed "
                             "(wasEverConnected=false), not auto-reconnecting";
    } else {
        qCInfo(lcIcecast) << "handleConnectionLost: Auto-reconnect disabled or max attempts "
                             "reached, emitting error";
    }
    Q_EMIT connectionError(QStringLiteral("Connection lost: ") + message);
}

void IcecastClient::startReconnectTimer() {
    qCInfo(lcIcecast) << "startReconnectTimer: isReconnecting=" << m_isReconnecting.load()
                      << ", reconnectInterval=" << m_reconnectInterval;
    if (m_isReconnecting) {
        qCInfo(lcIcecast) << "startReconnectTimer: Already reconnecting, skipping";
        return;
    }
    m_isReconnecting = true;
    const int attempt = ++m_reconnectAttempts;
    qCInfo(lcIcecast) << "startReconnectTimer: Starting attempt" << attempt << "of"
                      << m_maxReconnectAttempts;
    waitForAttempt(attempt);
}

void IcecastClient::scheduleRetry(quint64 generation) {
    if (generation != m_generation || m_shuttingDown || m_host.isEmpty()) {
        qCInfo(lcIcecast) << "Worker retry: Reconnection was cancelled, aborting";
        return;
    }
    if (!m_isReconnecting) {
        m_isReconnecting = true;
        m_connectionPhase = 3;
    }
    const int attempt = ++m_reconnectAttempts;
    qCInfo(lcIcecast) << "Worker retry: Scheduling attempt" << attempt << "of"
                      << m_maxReconnectAttempts;
    waitForAttempt(attempt);
}

void IcecastClient::waitForAttempt(int attempt) {
    m_reconnectCountdown = m_reconnectInterval;
    m_countdownTimer->start();
    const quint64 generation = m_generation;
    Q_EMIT reconnecting(attempt, m_maxReconnectAttempts, m_reconnectCountdown);
    // A receiver may have cancelled or disconnected in the meantime.
    if (generation != m_generation) return;

    if (m_reconnectInterval < 2) {
        qCInfo(lcIcecast) << "startReconnectTimer: Retrying immediately (delay <= 1)";
        QTimer::singleShot(kImmediateRetryMs, this, [this, generation] {
            if (generation == m_generation) onReconnectTimer();
        });
        return;
    }
    qCInfo(lcIcecast) << "startReconnectTimer: Starting timer with delay" << m_reconnectInterval
                      << "seconds";
    if (!m_reconnectTimer->isActive()) {
        m_reconnectTimer->start(m_reconnectInterval * 1000);
    } else {
        qCInfo(lcIcecast) << "startReconnectTimer: Timer is null or already active";
    }
}

void IcecastClient::onReconnectCountdownTimer() {
    if (m_reconnectCountdown > 0) {
        --m_reconnectCountdown;
        Q_EMIT reconnecting(m_reconnectAttempts, m_maxReconnectAttempts, m_reconnectCountdown);
    } else {
        m_countdownTimer->stop();
    }
}

void IcecastClient::onReconnectTimer() {
    if (m_isConnected) {
        m_reconnectAttempts = 0;
        stopReconnectTimer();
        return;
    }
    const int attempt = m_reconnectAttempts;
    qCInfo(lcIcecast) << "onReconnectTimer: Executing attempt" << attempt;
    if (attempt > m_maxReconnectAttempts) {
        // Ended before it is reported, so listeners see a finished series with the error.
        stopReconnectTimer();
        m_autoReconnect = false;
        m_isReconnecting = false;
        m_connectionPhase = 0;
        Q_EMIT connectionError(
            QStringLiteral("Max reconnect attempts reached. Auto-reconnect disabled."));
        return;
    }
    const quint64 generation = m_generation;
    Q_EMIT reconnecting(attempt, m_maxReconnectAttempts, 0);
    if (generation != m_generation) return;
    if (m_host.isEmpty()) {
        stopReconnectTimer();
        m_autoReconnect = false;
        m_isReconnecting = false;
        return;
    }
    connectToServerAsync(m_host, m_port, m_mount, m_username, m_password);
}

void IcecastClient::stopReconnectTimer() {
    m_reconnectTimer->stop();
    m_countdownTimer->stop();
    if (m_isConnected && !m_isReconnecting) m_reconnectAttempts = 0;
    m_reconnectCountdown = 0;
    m_isReconnecting = false;
}

void IcecastClient::endSeries() {
    m_reconnectTimer->stop();
    m_countdownTimer->stop();
    m_reconnectCountdown = 0;
    m_isReconnecting = false;
    m_connectionPhase = 0;
}

void IcecastClient::cancelReconnect() {
    qCInfo(lcIcecast) << "cancelReconnect: Cancelling reconnection";
    m_shuttingDown = false;
    m_connectionPhase = 0;
    stopConnecting("cancelReconnect:", kCancelThreadWaitMs);

    m_host.clear();
    m_port = 0;
    m_mount.clear();
    m_username.clear();
    m_password.clear();
    Q_EMIT disconnected();
}

void IcecastClient::disconnectFromServer() {
    qCInfo(lcIcecast) << "disconnectFromServer: Disconnecting from server";
    m_shuttingDown = true;
    m_wasEverConnected = false;
    if (!stopConnecting("disconnectFromServer:", kThreadStopWaitMs)) {
        qCWarning(lcIcecast)
            << "disconnectFromServer: Connection thread did not finish after 5s (abandoned)";
    }

    // Also after a failed write, which already cleared the connected flag: that connection is
    // ended here, and its queued loss event finds nothing left to report.
    const int socket = m_socket.exchange(-1);
    if (socket >= 0) platform::closeSocket(socket);
    m_connectionGeneration = 0;

    const bool wasConnected = m_isConnected.exchange(false);
    m_connectionPhase = 0;
    if (wasConnected || socket >= 0) Q_EMIT disconnected();
}

bool IcecastClient::stopConnecting(const char* caller, int threadWaitMs) {
    ++m_generation;
    m_reconnectTimer->stop();
    m_countdownTimer->stop();
    m_reconnectAttempts = 0;
    m_reconnectCountdown = 0;
    m_isReconnecting = false;
    abortLookup();
    if (m_connectionThread && m_connectionThread->isRunning()) {
        qCInfo(lcIcecast) << caller << "Stopping connection thread";
    }
    abortCurrentAttempt();
    return waitForConnectionThread(threadWaitMs);
}

void IcecastClient::abortCurrentAttempt() {
    if (!m_attempt) return;
    m_attempt->socket.abort();
    m_attempt.reset();
}

bool IcecastClient::waitForConnectionThread(int timeoutMs) {
    const QPointer<QThread> thread = m_connectionThread;
    if (!thread || !thread->isRunning()) return true;
    return thread->wait(QDeadlineTimer(timeoutMs));
}

void IcecastClient::abortLookup() {
    if (m_lookupId == -1) return;
    QHostInfo::abortHostLookup(m_lookupId);
    m_lookupId = -1;
}

bool IcecastClient::sendMetadata(const QString& title, const QString& artist) {
    if (!m_isConnected || m_socket.load() < 0) {
        qCWarning(lcIcecast) << "sendMetadata: Not connected";
        return false;
    }
    icecast::SourceRequest target;
    target.host = utf8(m_host);
    target.port = m_port;
    target.mount = utf8(m_mount);
    target.username = utf8(m_username);
    target.password = utf8(m_password);
    target.userAgent = utf8(appidentity::userAgent());
    std::string request;
    if (!icecast::buildMetadataRequest(target, icecast::songText(utf8(title), utf8(artist)),
                                       request)) {
        qCWarning(lcIcecast) << "sendMetadata: Failed to encode authentication";
        return false;
    }

    qCInfo(lcIcecast).noquote() << "sendMetadata: Sending update to" << m_host << "port" << m_port
                                << "mount" << fromUtf8(icecast::normalizedMount(target.mount));
    const int socket = platform::tcpConnect(target.host.c_str(), m_port, false, kConnectTimeoutMs);
    if (socket < 0) {
        qCWarning(lcIcecast) << "sendMetadata: Failed to connect to server for metadata update";
        return false;
    }
    const std::int64_t sent =
        platform::tcpSendAll(socket, request.data(), request.size(), kRequestSendTimeoutMs);
    if (sent != static_cast<std::int64_t>(request.size())) {
        platform::closeSocket(socket);
        qCWarning(lcIcecast) << "sendMetadata: Failed to send metadata request";
        return false;
    }

    // The server's verdict, read for a short while: a refused title must not pass for a sent one.
    std::string answer;
    char buffer[1024];
    const QDeadlineTimer deadline(kMetadataAnswerWaitMs);
    while (answer.size() < kMetadataAnswerMaxBytes && !deadline.hasExpired()) {
        const std::size_t room = std::min(sizeof(buffer), kMetadataAnswerMaxBytes - answer.size());
        const int received =
            platform::tcpReceive(socket, buffer, room, static_cast<int>(deadline.remainingTime()));
        if (received <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(received));
    }
    platform::closeSocket(socket);

    const icecast::MetadataVerdict verdict = icecast::judgeMetadataAnswer(answer);
    if (verdict.reply == icecast::MetadataReply::Refused) {
        qCWarning(lcIcecast).noquote()
            << "sendMetadata: Server refused the metadata update:" << fromUtf8(verdict.serverText);
        return false;
    }
    if (verdict.reply == icecast::MetadataReply::NoAnswer) {
        qCInfo(lcIcecast) << "sendMetadata: No verdict from the server, taking the update as sent";
    }
    qCInfo(lcIcecast) << "sendMetadata: Metadata request sent";
    Q_EMIT metadataSent();
    return true;
}
