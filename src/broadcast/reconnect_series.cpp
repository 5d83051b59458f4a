// The reconnect series: attempt counting, the wait and countdown before each attempt.
#include "broadcast/reconnect_series.h"

#include <QTimer>

#include "core/log_categories.h"

namespace {

constexpr int kCountdownStepMs = 1000;
// A delay of 0 or 1 s retries right away, after this short breath.
constexpr int kImmediateRetryMs = 100;

}  // namespace

ReconnectSeries::ReconnectSeries(QObject* parent) : QObject(parent) {
    m_attemptTimer = new QTimer(this);
    m_attemptTimer->setSingleShot(true);
    connect(m_attemptTimer, &QTimer::timeout, this, &ReconnectSeries::attemptDue);
    m_countdownTimer = new QTimer(this);
    m_countdownTimer->setInterval(kCountdownStepMs);
    connect(m_countdownTimer, &QTimer::timeout, this, &ReconnectSeries::onCountdownTick);
}

bool ReconnectSeries::start() {
    if (m_active) {
        qCDebug(lcIcecast) << "A reconnect series is already running";
        return false;
    }
    scheduleNextAttempt();
    return true;
}

void ReconnectSeries::scheduleNextAttempt() {
    m_active = true;
    waitForAttempt(++m_attempts);
}

void ReconnectSeries::waitForAttempt(int attempt) {
    m_countdown = m_intervalSeconds;
    m_countdownTimer->start();
    qCInfo(lcIcecast).noquote() << QStringLiteral("Reconnecting in %1 s (attempt %2 of %3)")
                                       .arg(m_countdown)
                                       .arg(attempt)
                                       .arg(m_maxAttempts);
    const quint64 generation = m_generation;
    Q_EMIT reconnecting(attempt, m_maxAttempts, m_countdown);
    // A receiver may have cancelled or disconnected in the meantime.
    if (generation != m_generation) return;

    if (m_intervalSeconds < 2) {
        QTimer::singleShot(kImmediateRetryMs, this, [this, generation] {
            if (generation == m_generation) Q_EMIT attemptDue();
        });
        return;
    }
    if (!m_attemptTimer->isActive()) {
        m_attemptTimer->start(m_intervalSeconds * 1000);
    } else {
        qCDebug(lcIcecast) << "The reconnect timer is already running";
    }
}

void ReconnectSeries::onCountdownTick() {
    if (m_countdown > 0) {
        --m_countdown;
        Q_EMIT reconnecting(m_attempts, m_maxAttempts, m_countdown);
    } else {
        m_countdownTimer->stop();
    }
}

void ReconnectSeries::end() {
    m_attemptTimer->stop();
    m_countdownTimer->stop();
    m_countdown = 0;
    m_active = false;
}
