// The source client's connection: connect requests and lookups, the audio writes, loss and
// teardown.
#include "broadcast/icecast_client.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <QDeadlineTimer>
#include <QThread>

#include "broadcast/sent_stream_window.h"
#include "core/app_identity.h"
#include "core/log_categories.h"
#include "platform/socket.h"

namespace {

constexpr int kSendWaitMs = 3000;
constexpr int kThreadStopWaitMs = 5000;
constexpr int kCancelThreadWaitMs = 1000;
// An aborted title request wakes at once unless it is still inside the host lookup, which cannot
// be interrupted; it then finishes on its own.
constexpr int kTitleStopWaitMs = 1000;
// The source socket's kernel buffer holds about this much of the stream (at least
// kMinSendBufferBytes): enough for any link that can carry the stream, and a link that cannot
// makes writes wait within seconds instead of after megabytes of audio.
constexpr int kSendBufferSeconds = 2;
constexpr int kMinSendBufferBytes = 32 * 1024;

const QString kConnectionFailed = QStringLiteral("Connection failed: ");

std::string utf8(const QString& text) { return text.toUtf8().toStdString(); }

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

IcecastClient::IcecastClient(QObject* parent) : QObject(parent) {
    m_resultLink = std::make_shared<HandshakeWorker::ResultLink>(
        this, [this](const std::shared_ptr<HandshakeWorker>& attempt,
                     const HandshakeWorker::Result& result) { finishAttempt(attempt, result); });
    m_titleLink = std::make_shared<TitleSender::ResultLink>(
        this, [this](const std::shared_ptr<TitleSender>& sender,
                     const TitleSender::Result& result) { finishTitle(sender, result); });
    m_titleConfirmation = new TitleConfirmation(this);
    connect(m_titleConfirmation, &TitleConfirmation::finished, this,
            &IcecastClient::titleConfirmation);
    m_verifierLink = std::make_shared<ListenerVerifier::ResultLink>(
        this,
        [this](const std::shared_ptr<ListenerVerifier>& verifier,
               const ListenerVerifier::Result& result) { finishVerification(verifier, result); });
    m_sentWindow = std::make_shared<SentStreamWindow>();
    m_reconnect = new ReconnectSeries(this);
    connect(m_reconnect, &ReconnectSeries::reconnecting, this, &IcecastClient::reconnecting);
    connect(m_reconnect, &ReconnectSeries::attemptDue, this, &IcecastClient::onReconnectTimer);
    platform::initializeSockets();
}

IcecastClient::~IcecastClient() {
    m_shuttingDown = true;
    disconnectFromServer();
    // A connection thread that is still running finishes on its own and never reaches us.
    m_resultLink->close();
    m_titleLink->close();
    m_verifierLink->close();
}

icecast::SourceRequest IcecastClient::sourceRequest() const {
    icecast::SourceRequest request;
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
    return request;
}

QString IcecastClient::target() const {
    return QStringLiteral("%1:%2%3").arg(m_host).arg(m_port).arg(
        fromUtf8(icecast::normalizedMount(utf8(m_mount))));
}

void IcecastClient::connectToServerAsync(const QString& host, quint16 port, const QString& mount,
                                         const QString& username, const QString& password) {
    qCDebug(lcIcecast) << "connectToServerAsync called for" << host << ":" << port;
    // The caller's values may be our own fields (a reconnect attempt passes them in).
    const QString newHost = host;
    const QString newMount = mount;
    const QString newUsername = username;
    const QString newPassword = password;

    m_shuttingDown = false;
    if (!m_reconnect->isActive()) {
        m_reconnect->resetAttempts();
        if (!m_autoReconnect && m_wasEverConnected) m_autoReconnect = true;
    }
    // Also a connection whose write failed a moment ago (its loss event is still queued).
    if (m_isConnected || m_socket.load() >= 0) {
        disconnectFromServer();
        m_shuttingDown = false;
    }
    m_reconnect->startGeneration();
    abortCurrentAttempt();

    m_host = m_savedHost = newHost;
    m_port = m_savedPort = port;
    m_mount = m_savedMount = newMount;
    m_username = m_savedUsername = newUsername;
    m_password = m_savedPassword = newPassword;
    abortLookup();
    qCInfo(lcIcecast).noquote() << "Connecting to" << target();

    // Values that would break out of their header line are refused before anything is sent.
    const std::string unsafe = icecast::unsafeFieldReason(sourceRequest());
    if (!unsafe.empty()) {
        qCWarning(lcIcecast) << "connect:" << fromUtf8(unsafe);
        endSeries();
        const quint64 generation = m_reconnect->generation();
        const QString error = kConnectionFailed + fromUtf8(unsafe);
        // The outcome of a connect always arrives after the call has returned.
        QMetaObject::invokeMethod(
            this,
            [this, generation, error] {
                if (generation == m_reconnect->generation()) Q_EMIT connectionError(error);
            },
            Qt::QueuedConnection);
        return;
    }

    qCDebug(lcIcecast) << "Starting DNS lookup for" << m_host;
    m_lookupId = startHostLookup(m_host);
    qCDebug(lcIcecast) << "DNS lookup ID:" << m_lookupId;
}

int IcecastClient::startHostLookup(const QString& host) {
    return QHostInfo::lookupHost(host, this, &IcecastClient::onHostResolved);
}

void IcecastClient::onHostResolved(const QHostInfo& hostInfo) {
    if (m_lookupId == -1 || hostInfo.lookupId() != m_lookupId) {
        qCDebug(lcIcecast) << "onHostResolved: Ignoring the result of an abandoned lookup"
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
        if (m_reconnect->isActive() && m_wasEverConnected && m_autoReconnect &&
            m_reconnect->hasAttemptsLeft()) {
            scheduleRetry(m_reconnect->generation());
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

    std::vector<std::string> addressList;
    for (const QString& address : addresses) addressList.push_back(utf8(address));
    const bool silent = m_reconnect->isActive() && m_wasEverConnected && m_autoReconnect &&
                        m_reconnect->hasAttemptsLeft();
    m_attempt = std::make_shared<HandshakeWorker>(m_reconnect->generation(), sourceRequest(),
                                                  std::move(addressList), silent, m_resultLink);
    m_connectionThread = HandshakeWorker::start(m_attempt);
}

void IcecastClient::finishAttempt(const std::shared_ptr<HandshakeWorker>& attempt,
                                  const HandshakeWorker::Result& result) {
    if (attempt != m_attempt || attempt->generation() != m_reconnect->generation() ||
        attempt->isAborted()) {
        qCDebug(lcIcecast) << "Dropping the result of a superseded connect attempt";
        attempt->discard();
        return;
    }
    m_attempt.reset();

    if (result.outcome == HandshakeWorker::Result::Outcome::Connected) {
        const int socket = attempt->takeSocket();
        if (socket < 0) return;  // aborted after all: nothing to publish
        platform::limitSendBuffer(
            socket, std::max(kMinSendBufferBytes, m_bitrate * 1000 / 8 * kSendBufferSeconds));
        const int previous = m_socket.exchange(socket);
        if (previous >= 0 && previous != socket) platform::closeSocket(previous);
        m_connectionGeneration = attempt->generation();
        m_isConnected = true;
        m_connectionPhase = 2;
        m_wasEverConnected = true;
        // A reconnect that succeeds ends the series and clears its count.
        m_reconnect->end();
        m_reconnect->resetAttempts();
        qCDebug(lcIcecast) << "Worker thread: Emitting connected() signal, socket=" << socket;
        qCInfo(lcIcecast).noquote() << "Connected to" << target();
        m_acceptedClock.start();
        m_sentWindow->reset(isOggCodec(m_codec));
        startVerification();
        Q_EMIT connected();
        return;
    }

    qCInfo(lcIcecast).noquote() << result.error;
    const bool retry =
        m_wasEverConnected && m_autoReconnect && m_reconnect->hasAttemptsLeft() && !m_shuttingDown;
    if (retry) {
        qCDebug(lcIcecast) << "Worker thread: Connection failed, wasEverConnected=true, "
                              "scheduling retry with delay";
        if (!attempt->isSilent() || result.reportAlways) Q_EMIT connectionError(result.error);
        scheduleRetry(attempt->generation());
        return;
    }
    // A final failure: the series is over before anyone hears about it, and it is always heard.
    const int attempts = m_reconnect->attempts();
    endSeries();
    if (m_wasEverConnected && m_autoReconnect) {
        qCInfo(lcIcecast) << "Gave up reconnecting after" << attempts << "attempts";
    } else if (m_wasEverConnected) {
        qCDebug(lcIcecast)
            << "Worker thread: Connection failed, auto-reconnect disabled or max attempts reached";
    } else {
        qCDebug(lcIcecast) << "Worker thread: Initial connection failed (wasEverConnected=false)";
    }
    Q_EMIT connectionError(result.error);
}

bool IcecastClient::send(const QByteArray& data) {
    const int socket = m_socket.load();
    if (!m_isConnected.load() || socket < 0) return false;

    const auto start = std::chrono::steady_clock::now();
    // Kept before the write, so a listener can never hear a byte the window does not hold yet.
    m_sentWindow->append(data.constData(), static_cast<std::size_t>(data.size()));
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
        qCDebug(lcIcecast) << "handleConnectionLostForSocket: Ignoring stale loss event for socket"
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
        qCDebug(lcIcecast) << "handleConnectionLostForSocket: Ignoring stale loss event for socket"
                           << socket << "(current socket is" << current << ")";
        return;
    }
    if (!m_isConnected && current < 0) {
        qCDebug(lcIcecast) << "handleConnectionLostForSocket: Already fully disconnected, ignoring";
        return;
    }
    qCDebug(lcIcecast) << "handleConnectionLostForSocket: Connection lost detected, isConnected="
                       << m_isConnected.load() << ", socket=" << current << ", reason=" << reason;

    const bool wasLive = m_connectionPhase == 2 || m_isConnected || current >= 0;
    m_isConnected = false;
    abortVerification();
    m_connectionPhase = 0;

    // Without a reason of the caller's, the socket says what happened; a reset, an abort or
    // no error at all is the server closing.
    QString message = reason;
    if (message.isEmpty()) {
        const platform::SocketError error = platform::lastSocketError();
        message = error == platform::SocketError::None || error == platform::SocketError::PeerClosed
                      ? QStringLiteral("Server closed the connection")
                      : QString::fromLocal8Bit(platform::lastSocketErrorText().c_str()).trimmed();
    }
    if (current >= 0) {
        qCDebug(lcIcecast) << "handleConnectionLostForSocket: Closing socket" << current;
        const int taken = m_socket.exchange(-1);
        if (taken >= 0) platform::closeSocket(taken);
    }
    m_connectionGeneration = 0;

    qCInfo(lcIcecast).noquote() << "Connection to" << target() << "lost:" << message;

    if (wasLive) Q_EMIT disconnected();

    qCDebug(lcIcecast) << "handleConnectionLost: autoReconnect=" << m_autoReconnect
                       << ", reconnectAttempts=" << m_reconnect->attempts()
                       << ", MAX=" << m_reconnect->maxAttempts()
                       << ", wasEverConnected=" << m_wasEverConnected.load();
    if (m_wasEverConnected && m_autoReconnect && m_reconnect->hasAttemptsLeft()) {
        m_reconnect->start();
        return;
    }
    if (!m_wasEverConnected) {
        qCDebug(lcIcecast) << "handleConnectionLost: Initial connection failed "
                              "(wasEverConnected=false), not auto-reconnecting";
    } else {
        qCDebug(lcIcecast) << "handleConnectionLost: Auto-reconnect disabled or max attempts "
                              "reached, emitting error";
    }
    Q_EMIT connectionError(QStringLiteral("Connection lost: ") + message);
}

void IcecastClient::scheduleRetry(quint64 generation) {
    if (generation != m_reconnect->generation() || m_shuttingDown || m_host.isEmpty()) {
        qCDebug(lcIcecast) << "Worker retry: Reconnection was cancelled, aborting";
        return;
    }
    if (!m_reconnect->isActive()) m_connectionPhase = 3;
    m_reconnect->scheduleNextAttempt();
}

void IcecastClient::onReconnectTimer() {
    if (m_isConnected) {
        m_reconnect->resetAttempts();
        m_reconnect->end();
        return;
    }
    const int attempt = m_reconnect->attempts();
    const int maxAttempts = m_reconnect->maxAttempts();
    qCDebug(lcIcecast) << "onReconnectTimer: Executing attempt" << attempt;
    if (attempt > maxAttempts) {
        // Ended before it is reported, so listeners see a finished series with the error.
        m_reconnect->end();
        m_autoReconnect = false;
        m_connectionPhase = 0;
        qCInfo(lcIcecast) << "Gave up reconnecting: the maximum of" << maxAttempts
                          << "attempts was reached";
        Q_EMIT connectionError(
            QStringLiteral("Max reconnect attempts reached. Auto-reconnect disabled."));
        return;
    }
    const quint64 generation = m_reconnect->generation();
    Q_EMIT reconnecting(attempt, maxAttempts, 0);
    if (generation != m_reconnect->generation()) return;
    if (m_host.isEmpty()) {
        m_reconnect->end();
        m_autoReconnect = false;
        return;
    }
    connectToServerAsync(m_host, m_port, m_mount, m_username, m_password);
}

void IcecastClient::endSeries() {
    m_reconnect->end();
    m_connectionPhase = 0;
}

void IcecastClient::cancelReconnect() {
    qCInfo(lcIcecast) << "Reconnecting cancelled";
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
    qCDebug(lcIcecast) << "disconnectFromServer: Disconnecting from server";
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
    abortTitle(kTitleStopWaitMs);
    m_titleConfirmation->cancel();
    abortVerification();

    const bool wasConnected = m_isConnected.exchange(false);
    m_connectionPhase = 0;
    if (wasConnected || socket >= 0) {
        qCInfo(lcIcecast).noquote() << "Disconnected from" << target();
        Q_EMIT disconnected();
    }
}

bool IcecastClient::stopConnecting(const char* caller, int threadWaitMs) {
    m_reconnect->startGeneration();
    m_reconnect->end();
    m_reconnect->resetAttempts();
    abortLookup();
    if (m_connectionThread && m_connectionThread->isRunning()) {
        qCDebug(lcIcecast) << caller << "Stopping connection thread";
    }
    abortCurrentAttempt();
    return waitForConnectionThread(threadWaitMs);
}

void IcecastClient::abortCurrentAttempt() {
    if (!m_attempt) return;
    m_attempt->abort();
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
    std::shared_ptr<TitleSender> sender =
        TitleSender::create(sourceRequest(), title, artist, m_titleLink);
    if (!sender) return false;
    abortTitle(0);
    m_titleConfirmation->cancel();
    m_titleSender = std::move(sender);
    m_titleThread = TitleSender::start(m_titleSender);
    return true;
}

void IcecastClient::finishTitle(const std::shared_ptr<TitleSender>& sender,
                                const TitleSender::Result& result) {
    if (sender != m_titleSender || sender->isAborted()) return;
    m_titleSender.reset();
    if (result.sent) {
        const QString song = fromUtf8(sender->song());
        // Ogg streams show the title of their own header, which does not change while live.
        const bool ogg = isOggCodec(m_codec);
        if (!ogg) m_titleConfirmation->start(sourceRequest(), song);
        Q_EMIT metadataSent();
        if (ogg) Q_EMIT titleConfirmation(TitleConfirmation::Outcome::NotForOgg, song);
    } else {
        Q_EMIT metadataFailed(result.error);
    }
}

void IcecastClient::abortTitle(int waitMs) {
    if (!m_titleSender) return;
    m_titleSender->abort();
    m_titleSender.reset();
    const QPointer<QThread> thread = m_titleThread;
    if (waitMs > 0 && thread && thread->isRunning() && !thread->wait(QDeadlineTimer(waitMs))) {
        qCWarning(lcIcecast) << "sendMetadata: Title request did not stop in time (abandoned)";
    }
}

void IcecastClient::startVerification() {
    abortVerification();
    if (!m_verifyOnAir) return;
    icecast::SourceRequest request = sourceRequest();
    std::string listenerRequest = icecast::buildListenerRequest(request);
    m_verifier = std::make_shared<ListenerVerifier>(
        std::move(request.host), m_port, std::move(listenerRequest), m_sentWindow, m_verifierLink);
    qCDebug(lcIcecast).noquote() << "Listening to" << target() << "as a listener would";
    ListenerVerifier::start(m_verifier);
}

void IcecastClient::finishVerification(const std::shared_ptr<ListenerVerifier>& verifier,
                                       const ListenerVerifier::Result& result) {
    if (verifier != m_verifier || verifier->isAborted()) return;
    m_verifier.reset();
    const qint64 afterAcceptedMs = m_acceptedClock.elapsed();
    const QString verdict = onAirVerdictText(result.verdict);
    if (result.verdict == OnAirVerdict::Verified) {
        qCInfo(lcIcecast).noquote() << "On air:" << verdict << "at" << target() << "after"
                                    << afterAcceptedMs << "ms (" + result.detail + ")";
    } else {
        qCWarning(lcIcecast).noquote()
            << "On air:" << verdict << "at" << target() << "(" + result.detail + ")";
    }
    Q_EMIT listenerCheckFinished(result.verdict, afterAcceptedMs);
}

void IcecastClient::abortVerification() {
    if (!m_verifier) return;
    m_verifier->abort();
    m_verifier.reset();
}
