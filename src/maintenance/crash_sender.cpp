#include "maintenance/crash_sender.h"

#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>

namespace {
constexpr int kFirstRetryMs = 30 * 1000;
constexpr int kMaxRetryMs = 10 * 60 * 1000;
constexpr int kTransferTimeoutMs = 10 * 1000;
constexpr int kWaitForApplicationMs = 200;
}  // namespace

CrashSender::CrashSender(const QString& databasePath, const crash::Dsn& dsn)
    : m_databasePath(databasePath), m_dsn(dsn) {}

QString CrashSender::nextFile() const {
    const QStringList files = QDir(m_databasePath)
                                  .entryList({QStringLiteral("*.envelope")}, QDir::Files,
                                             QDir::Name);
    return files.isEmpty() ? QString() : m_databasePath + QLatin1Char('/') + files.first();
}

void CrashSender::sendPending() {
    if (m_reply) {
        m_requestedAgain = true;
        return;
    }
    if (m_retryTimer && m_retryTimer->isActive() && !m_quitting) return;  // backing off
    sendNext();
}

void CrashSender::sendNext() {
    // The network stack wants an application object; crash reporting starts before it exists.
    if (!QCoreApplication::instance()) {
        if (!m_quitting) QTimer::singleShot(kWaitForApplicationMs, this, &CrashSender::sendPending);
        else finishRound(true);
        return;
    }
    const QString file = nextFile();
    if (file.isEmpty()) {
        finishRound(false);
        return;
    }
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        finishRound(true);
        return;
    }
    const QByteArray body = in.readAll();
    in.close();

    if (!m_network) m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(m_dsn.envelopeUrl());
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-sentry-envelope"));
    request.setRawHeader(QByteArrayLiteral("X-Sentry-Auth"),
                         m_dsn.authHeader(QLatin1String(crash::kClientName)));
    request.setTransferTimeout(kTransferTimeoutMs);
    m_replyFile = file;
    m_reply = m_network->post(request, body);
    connect(m_reply, &QNetworkReply::finished, this, &CrashSender::onReplyFinished);
}

void CrashSender::onReplyFinished() {
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();

    // 400 and 413 will never be accepted, however often they are sent.
    const bool accepted = status >= 200 && status < 300;
    const bool refusedForGood = status == 400 || status == 413;
    if (accepted || refusedForGood) {
        if (refusedForGood) {
            std::fprintf(stderr, "Crash reporting: service refused %s (HTTP %d), dropping it\n",
                         qPrintable(m_replyFile), status);
        }
        QFile::remove(m_replyFile);
        m_retryDelayMs = 0;
        sendNext();
        return;
    }
    finishRound(true);
}

void CrashSender::finishRound(bool failed) {
    if (m_quitting) {
        QThread::currentThread()->quit();
        return;
    }
    if (failed) {
        m_retryDelayMs = m_retryDelayMs == 0 ? kFirstRetryMs : qMin(m_retryDelayMs * 2, kMaxRetryMs);
        if (!m_retryTimer) {
            m_retryTimer = new QTimer(this);
            m_retryTimer->setSingleShot(true);
            connect(m_retryTimer, &QTimer::timeout, this, &CrashSender::sendNext);
        }
        m_retryTimer->start(m_retryDelayMs);
        return;
    }
    if (m_requestedAgain) {
        m_requestedAgain = false;
        sendNext();
    }
}

void CrashSender::drainThenQuit(int budgetMs) {
    m_quitting = true;
    if (m_retryTimer) m_retryTimer->stop();
    QTimer::singleShot(budgetMs, this, [this] {
        if (m_reply) m_reply->abort();  // finished() then ends the loop
        else QThread::currentThread()->quit();
    });
    if (!m_reply) sendNext();
}
