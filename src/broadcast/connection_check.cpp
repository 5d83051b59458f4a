// The connection check's bookkeeping on the caller's thread: order, deadline, skipped steps.
#include "broadcast/connection_check.h"

#include "core/app_identity.h"
#include "core/log_categories.h"

namespace {

std::string utf8(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace

QString checkStepName(CheckStep step) {
    switch (step) {
        case CheckStep::Resolve:
            return QStringLiteral("Name lookup");
        case CheckStep::Connect:
            return QStringLiteral("Connection");
        case CheckStep::Server:
            return QStringLiteral("Icecast server");
        case CheckStep::Mount:
            return QStringLiteral("Mount point");
        case CheckStep::Login:
            return QStringLiteral("Source login");
        case CheckStep::ContentType:
            return QStringLiteral("Content type");
    }
    return {};
}

ConnectionCheck::ConnectionCheck(QObject* parent) : QObject(parent) {
    qRegisterMetaType<CheckStepResult>();
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &ConnectionCheck::onDeadline);
}

ConnectionCheck::~ConnectionCheck() { cancel(); }

void ConnectionCheck::start(const Target& target) {
    cancel();
    icecast::SourceRequest request;
    request.host = utf8(target.host);
    request.port = target.port;
    request.mount = utf8(target.mount);
    request.username = utf8(target.username);
    request.password = utf8(target.password);
    request.contentType = codecMimeType(target.codec);
    request.userAgent = utf8(appidentity::userAgent());

    const std::string unsafe = icecast::unsafeFieldReason(request);
    m_link = std::make_shared<ConnectionCheckWorker::ResultLink>(
        this, [this](const std::shared_ptr<ConnectionCheckWorker>& worker,
                     const CheckStepResult& result) { onResult(worker, result); });
    m_worker = std::make_shared<ConnectionCheckWorker>(
        std::move(request), codecDisplayName(int(target.codec)),
        ConnectionCheckWorker::Timeouts{m_limits.connectMs, m_limits.answerMs}, m_link);
    m_nextStep = 0;
    qCInfo(lcIcecast).noquote() << "Checking the connection to" << target.host << "port"
                                << target.port << "mount" << target.mount;
    m_deadline.start(m_limits.totalMs);
    // Values that would break out of their header line never reach the server.
    if (!unsafe.empty()) {
        const CheckStepResult refused{CheckStep::Resolve, CheckVerdict::Failed,
                                      QString::fromStdString(unsafe) + QLatin1Char('.'),
                                      QStringLiteral("Correct the server settings.")};
        m_link->post(m_worker, refused);
        return;
    }
    ConnectionCheckWorker::start(m_worker);
}

void ConnectionCheck::cancel() {
    m_deadline.stop();
    if (m_link) m_link->close();
    if (m_worker) m_worker->abort();
    m_link.reset();
    m_worker.reset();
}

void ConnectionCheck::onResult(const std::shared_ptr<ConnectionCheckWorker>& worker,
                               const CheckStepResult& result) {
    if (worker != m_worker) return;
    m_nextStep = int(result.step) + 1;
    Q_EMIT stepFinished(result);
    if (worker != m_worker) return;  // a handler started another check or cancelled it
    if (result.verdict == CheckVerdict::Failed) {
        finishFailed(m_nextStep);
    } else if (m_nextStep == kCheckStepCount) {
        cancel();
        Q_EMIT finished(true);
    }
}

void ConnectionCheck::onDeadline() {
    if (!m_worker) return;
    const int step = m_nextStep;
    m_worker->abort();
    Q_EMIT stepFinished(
        {CheckStep(step), CheckVerdict::Failed,
         QStringLiteral("The check took longer than %1 s and was stopped.")
             .arg(m_limits.totalMs / 1000.0),
         QStringLiteral("The server or the network is very slow: try again in a moment.")});
    finishFailed(step + 1);
}

void ConnectionCheck::finishFailed(int next) {
    cancel();
    for (int step = next; step < kCheckStepCount; ++step) {
        Q_EMIT stepFinished({CheckStep(step), CheckVerdict::Skipped,
                             QStringLiteral("Not checked: an earlier step failed."), QString()});
    }
    Q_EMIT finished(false);
}
