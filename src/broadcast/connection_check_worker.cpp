// The connection check's steps: lookup, connect, server, mount, login and content type.
#include "broadcast/connection_check_worker.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QObject>
#include <QStringList>
#include <QThread>

#include "core/log_categories.h"
#include "platform/socket.h"

namespace {

constexpr std::size_t kProbeAnswerMaxBytes = 4096;
constexpr int kRefusalBodyWaitMs = 250;

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QString quoted(const std::string& text) {
    return QStringLiteral("\u201c%1\u201d").arg(fromUtf8(text));
}

bool containsIgnoringCase(const std::string& text, const std::string& needle) {
    return fromUtf8(text).contains(fromUtf8(needle), Qt::CaseInsensitive);
}

QString connectOutcome(int result) {
    switch (result) {
        case platform::kSocketRefused:
            return QStringLiteral("refused");
        case platform::kSocketTimedOut:
            return QStringLiteral("timed out");
        case platform::kSocketUnreachable:
            return QStringLiteral("no route");
        default:
            return result >= 0 ? QStringLiteral("accepted") : QStringLiteral("failed");
    }
}

CheckStepResult passed(CheckStep step, const QString& sentence) {
    return {step, CheckVerdict::Passed, sentence, QString()};
}

CheckStepResult failed(CheckStep step, const QString& sentence, const QString& advice) {
    return {step, CheckVerdict::Failed, sentence, advice};
}

}  // namespace

ConnectionCheckWorker::ConnectionCheckWorker(icecast::SourceRequest request, QString formatName,
                                             Timeouts timeouts, std::shared_ptr<ResultLink> link)
    : m_request(std::move(request)),
      m_formatName(std::move(formatName)),
      m_timeouts(timeouts),
      m_socket(std::make_unique<platform::AbortableSocket>()),
      m_link(std::move(link)) {}

ConnectionCheckWorker::~ConnectionCheckWorker() = default;

void ConnectionCheckWorker::abort() { m_socket->abort(); }

bool ConnectionCheckWorker::isAborted() const { return m_socket->isAborted(); }

QString ConnectionCheckWorker::host() const { return fromUtf8(m_request.host); }

QString ConnectionCheckWorker::mount() const {
    return fromUtf8(icecast::normalizedMount(m_request.mount));
}

QThread* ConnectionCheckWorker::start(const std::shared_ptr<ConnectionCheckWorker>& worker) {
    return startDetachedThread(QStringLiteral("IcecastCheck"), [worker] {
        if (!worker->post(worker, worker->resolve())) return;
        if (!worker->post(worker, worker->connect())) return;
        if (!worker->post(worker, worker->identifyServer())) return;
        if (!worker->post(worker, worker->checkMount())) return;
        for (const CheckStepResult& result : worker->probeSource()) {
            if (!worker->post(worker, result)) return;
        }
    });
}

bool ConnectionCheckWorker::post(const std::shared_ptr<ConnectionCheckWorker>& self,
                                 const CheckStepResult& result) {
    if (isAborted()) return false;
    qCInfo(lcIcecast).noquote() << "Connection check:" << checkStepName(result.step)
                                << (result.verdict == CheckVerdict::Passed ? "passed:" : "failed:")
                                << result.sentence;
    return m_link->post(self, result) && result.verdict == CheckVerdict::Passed;
}

CheckStepResult ConnectionCheckWorker::resolve() {
    const QHostInfo info = QHostInfo::fromName(host());
    for (const QHostAddress& address : info.addresses())
        m_addresses.push_back(address.toString().toStdString());
    if (info.error() != QHostInfo::NoError || m_addresses.empty()) {
        return failed(CheckStep::Resolve,
                      QStringLiteral("The name %1 does not resolve to an address (%2).")
                          .arg(host(), info.errorString()),
                      QStringLiteral("Check the server address for typing errors, and that this "
                                     "computer can reach the internet."));
    }
    QStringList addresses;
    for (const std::string& address : m_addresses) addresses << fromUtf8(address);
    const QString list = addresses.join(QStringLiteral(", "));
    if (addresses.size() == 1 && addresses.first() == host())
        return passed(CheckStep::Resolve,
                      QStringLiteral("%1 is an address; nothing to look up.").arg(host()));
    return passed(CheckStep::Resolve, QStringLiteral("%1 resolves to %2.").arg(host(), list));
}

CheckStepResult ConnectionCheckWorker::connect() {
    QStringList outcomes;
    bool anyTimedOut = false;
    bool anyUnreachable = false;
    for (const std::string& address : m_addresses) {
        const int result = platform::tcpConnect(address.c_str(), m_request.port, false,
                                                m_timeouts.connectMs, m_socket.get());
        m_socket->close();
        if (isAborted()) return {};
        if (result >= 0 && m_reachable.empty()) m_reachable = address;
        anyTimedOut = anyTimedOut || result == platform::kSocketTimedOut;
        anyUnreachable = anyUnreachable || result == platform::kSocketUnreachable;
        outcomes << QStringLiteral("%1 %2").arg(fromUtf8(address), connectOutcome(result));
    }
    const QString list = outcomes.join(QStringLiteral(", "));
    if (!m_reachable.empty()) {
        return passed(
            CheckStep::Connect,
            QStringLiteral("Port %1 accepts connections (%2).").arg(m_request.port).arg(list));
    }
    const QString sentence = QStringLiteral("Nothing accepts connections on port %1 (%2).")
                                 .arg(m_request.port)
                                 .arg(list);
    if (anyTimedOut) {
        return failed(CheckStep::Connect, sentence,
                      QStringLiteral("The server does not answer within %1 s: check that it is "
                                     "running and that no firewall drops this port.")
                          .arg(m_timeouts.connectMs / 1000.0));
    }
    if (anyUnreachable) {
        return failed(CheckStep::Connect, sentence,
                      QStringLiteral("Check this computer's network connection and the server "
                                     "address."));
    }
    return failed(CheckStep::Connect, sentence,
                  QStringLiteral("Check the port number, and that the server is running."));
}

CheckStepResult ConnectionCheckWorker::identifyServer() {
    m_status = fetchServerStatus(m_request, m_reachable, m_timeouts.connectMs, m_timeouts.answerMs,
                                 m_socket.get());
    if (isAborted()) return {};
    const QString port = QString::number(m_request.port);
    const QString checkPort =
        QStringLiteral("Check the port: it must be the Icecast server's own port.");
    if (m_status.connectResult < 0) {
        return failed(CheckStep::Server,
                      QStringLiteral("The server stopped accepting connections on port %1 (%2).")
                          .arg(port, connectOutcome(m_status.connectResult)),
                      QStringLiteral("Check that the server is running, then try again."));
    }
    if (m_status.answer.empty()) {
        return failed(CheckStep::Server,
                      QStringLiteral("Something accepts connections on port %1 but does not "
                                     "answer an HTTP request.")
                          .arg(port),
                      checkPort);
    }
    const std::string server = icecast::headerValue(m_status.answer, "Server");
    const bool saysIcecast = containsIgnoringCase(server, "icecast");
    if (!m_status.head.isHttp) {
        return failed(CheckStep::Server,
                      QStringLiteral("Something else answers on this port, not an Icecast server: "
                                     "%1.")
                          .arg(quoted(icecast::printableFirstLine(m_status.answer))),
                      checkPort);
    }
    if (saysIcecast) {
        return passed(CheckStep::Server,
                      QStringLiteral("An Icecast server answers (%1).").arg(fromUtf8(server)));
    }
    // A proxy in front of Icecast names itself, but passes the status document through.
    if (m_status.decoded) {
        const std::string id =
            m_status.status.serverId.empty() ? std::string("Icecast") : m_status.status.serverId;
        return passed(
            CheckStep::Server,
            QStringLiteral("An Icecast server answers (%1) behind %2.")
                .arg(fromUtf8(id), server.empty() ? QStringLiteral("a proxy") : fromUtf8(server)));
    }
    const QString what = server.empty() ? QStringLiteral("a web server that does not name itself")
                                        : QStringLiteral("a web server (%1)").arg(fromUtf8(server));
    return failed(CheckStep::Server,
                  QStringLiteral("Something else answers on this port: %1, not Icecast.").arg(what),
                  checkPort);
}

CheckStepResult ConnectionCheckWorker::checkMount() const {
    if (!m_status.decoded) {
        return passed(CheckStep::Mount,
                      QStringLiteral("The server does not publish its status, so whether %1 is "
                                     "free shows at the login.")
                          .arg(mount()));
    }
    const StatusMount* taken = m_status.status.find(m_request.mount);
    if (!taken) {
        return passed(CheckStep::Mount, QStringLiteral("The mount point %1 is free.").arg(mount()));
    }
    return failed(
        CheckStep::Mount,
        QStringLiteral("The mount point %1 is in use by another source (%2 %3).")
            .arg(mount())
            .arg(taken->listeners)
            .arg(taken->listeners == 1 ? QStringLiteral("listener") : QStringLiteral("listeners")),
        QStringLiteral("Stop the other source first, or stream to another mount "
                       "point."));
}

std::vector<CheckStepResult> ConnectionCheckWorker::probeSource() {
    const QString type = fromUtf8(m_request.contentType);
    const auto loginFailed = [](const QString& sentence, const QString& advice) {
        return std::vector<CheckStepResult>{failed(CheckStep::Login, sentence, advice)};
    };
    std::string answer;
    icecast::HandshakeStatus status;
    for (int attempt = icecast::kPutAttempt; attempt <= icecast::kSourceAttempt; ++attempt) {
        const int socket = platform::tcpConnect(m_reachable.c_str(), m_request.port, false,
                                                m_timeouts.connectMs, m_socket.get());
        std::string request;
        if (socket < 0 || !icecast::buildSourceRequest(m_request, attempt, request) ||
            platform::tcpSendAll(socket, request.data(), request.size(), m_timeouts.answerMs) !=
                static_cast<std::int64_t>(request.size())) {
            m_socket->close();
            if (isAborted()) return {};
            return loginFailed(
                QStringLiteral("The server stopped taking connections before the login."),
                QStringLiteral("Check that the server is running, then try again."));
        }
        // Only the answer is read: once it accepts, the connection ends before any audio.
        answer.clear();
        char buffer[1024];
        QDeadlineTimer deadline(m_timeouts.answerMs);
        while (answer.size() < kProbeAnswerMaxBytes && !deadline.hasExpired()) {
            const int received =
                platform::tcpReceive(socket, buffer, sizeof(buffer),
                                     std::max(1, static_cast<int>(deadline.remainingTime())));
            if (received <= 0) break;
            answer.append(buffer, static_cast<std::size_t>(received));
            const icecast::AnswerHead head = icecast::readAnswerHead(answer);
            if (head.complete && head.status >= 100 && head.status < 300) break;
            // A refusal's body may name the reason; a server that keeps the connection open
            // after it is not waited for long.
            if (head.complete && deadline.remainingTime() > kRefusalBodyWaitMs)
                deadline.setRemainingTime(kRefusalBodyWaitMs);
        }
        m_socket->close();
        if (isAborted()) return {};
        status = icecast::decideHandshakeStatus(answer.c_str(), answer.size());
        if (status.verdict != icecast::HandshakeVerdict::BadRequestOrNotFound) break;
    }

    const QString said = quoted(icecast::printableFirstLine(answer));
    const bool namesType = status.status == 415 || containsIgnoringCase(answer, "content-type") ||
                           containsIgnoringCase(answer, "content type") ||
                           containsIgnoringCase(answer, m_request.contentType);
    const CheckStepResult loginPassed =
        passed(CheckStep::Login,
               QStringLiteral("The server accepts the source login of user \u201c%1\u201d.")
                   .arg(fromUtf8(m_request.username)));
    if (answer.empty()) {
        return loginFailed(QStringLiteral("The server did not answer the source login within %1 s.")
                               .arg(m_timeouts.answerMs / 1000.0),
                           QStringLiteral("Check that the port is the Icecast server's, then try "
                                          "again."));
    }
    if (status.verdict == icecast::HandshakeVerdict::Accepted) {
        return {loginPassed,
                passed(CheckStep::ContentType,
                       QStringLiteral("The server accepts %1 (%2).").arg(type, m_formatName))};
    }
    if (status.verdict == icecast::HandshakeVerdict::Unauthorized) {
        return loginFailed(
            QStringLiteral("The server refuses the user name or password (%1).").arg(said),
            QStringLiteral("Check the source password of the channel, and the user name "
                           "(usually \u201csource\u201d)."));
    }
    if (namesType && (status.status == 403 || status.status == 415)) {
        return {loginPassed,
                failed(CheckStep::ContentType,
                       QStringLiteral("The server refuses the content type %1 (%2): %3.")
                           .arg(type, m_formatName, said),
                       QStringLiteral("Choose another codec in the encoder settings, or ask the "
                                      "server's operator to allow this one."))};
    }
    if (status.verdict == icecast::HandshakeVerdict::MountInUse) {
        return loginFailed(QStringLiteral("The server refuses the source for %1: the mount point "
                                          "is in use, or this login may not stream there (%2).")
                               .arg(mount(), said),
                           QStringLiteral("Stop the other source or choose another mount point, "
                                          "and check that the mount point is right."));
    }
    return loginFailed(QStringLiteral("The server refuses the source login (%1).").arg(said),
                       QStringLiteral("Check the mount point and the server's settings for "
                                      "sources."));
}
