#include "broadcast/stream_health_monitor.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr double kThroughputWeight = 0.5;
constexpr double kSuccessWeight = 0.3;
constexpr double kLatencyWeight = 0.2;
constexpr double kFastWriteUs = 50000.0;
constexpr double kSlowWriteUs = 1000000.0;
constexpr int kGoodScore = 75;
constexpr int kWarningScore = 40;
// The weighted sum is truncated; this keeps a result that is exactly an integer on paper (such as
// 75) from landing one below it through floating-point rounding.
constexpr double kTruncationSlack = 1e-9;

qint64 steadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

StreamHealthMonitor::StreamHealthMonitor(QObject* parent)
    : StreamHealthMonitor(Clock(steadyNowMs), parent) {}

StreamHealthMonitor::StreamHealthMonitor(Clock clock, QObject* parent)
    : QObject(parent), m_clock(std::move(clock)) {
    m_timer = new QTimer(this);
    m_timer->setInterval(kRecalculateIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &StreamHealthMonitor::recalculate);
}

void StreamHealthMonitor::addSample(int bytes, qint64 latencyUs, bool success) {
    {
        QMutexLocker lock(&m_mutex);
        m_samples.push_back(SendSample{m_clock(), bytes, latencyUs, success});
    }
    if (success) m_totalBytesSent += bytes;
}

void StreamHealthMonitor::recordReconnect() { ++m_reconnectCount; }

void StreamHealthMonitor::recordVerification(bool verified, qint64 afterAcceptedMs) {
    if (!verified) {
        ++m_notVerifiedCount;
        return;
    }
    ++m_verifiedCount;
    m_lastVerifiedAfterMs = afterAcceptedMs;
}

void StreamHealthMonitor::startMonitoring(int expectedBitrateKbps) {
    m_expectedBitrateKbps = expectedBitrateKbps;
    m_running = true;
    m_startedAtMs = m_clock();
    m_timer->start();
}

void StreamHealthMonitor::resetMonitoring(ResetScope scope) {
    {
        QMutexLocker lock(&m_mutex);
        m_samples.clear();
    }
    m_score = 0;
    m_level = static_cast<int>(HealthLevel::Unknown);
    m_averageLatencyMs = 0.0;
    m_peakLatencyMs = 0.0;
    m_successRate = 1.0;
    m_throughputKbps = 0.0;
    m_throughputRatio = 1.0;
    m_totalBytesSent = 0;
    if (scope == ResetScope::Everything) {
        m_reconnectCount = 0;
        m_verifiedCount = 0;
        m_notVerifiedCount = 0;
        m_lastVerifiedAfterMs = -1;
    }
    m_running = false;
    m_timer->stop();
    Q_EMIT healthUpdated(0, HealthLevel::Unknown);
}

qint64 StreamHealthMonitor::uptimeSeconds() const {
    if (!m_running) return 0;
    return (m_clock() - m_startedAtMs.load()) / 1000;
}

void StreamHealthMonitor::recalculate() {
    if (!m_running) return;

    const qint64 now = m_clock();
    qint64 count = 0;
    qint64 latencySumUs = 0;
    qint64 latencyPeakUs = 0;
    qint64 successCount = 0;
    qint64 successBytes = 0;
    {
        QMutexLocker lock(&m_mutex);
        while (!m_samples.empty() && m_samples.front().timeMs < now - kWindowMs) {
            m_samples.pop_front();
        }
        for (const SendSample& sample : m_samples) {
            ++count;
            latencySumUs += sample.latencyUs;
            latencyPeakUs = std::max(latencyPeakUs, sample.latencyUs);
            if (sample.success) {
                ++successCount;
                successBytes += sample.bytes;
            }
        }
    }

    const double averageUs = count > 0 ? double(latencySumUs) / double(count) : 0.0;
    const double successRate = count > 0 ? double(successCount) / double(count) : 1.0;
    // Always over the whole window, however old the oldest sample is.
    const double bytesPerSecond = double(successBytes) / (double(kWindowMs) / 1000.0);
    const double expectedBytesPerSecond = m_expectedBitrateKbps * 1000.0 * 0.125;
    double ratio;
    if (expectedBytesPerSecond > 0 && successBytes > 0) {
        ratio = bytesPerSecond / expectedBytesPerSecond;
    } else {
        ratio = count > 0 ? 0.0 : 1.0;
    }
    ratio = std::min(ratio, 1.0);

    m_averageLatencyMs = averageUs / 1000.0;
    m_peakLatencyMs = double(latencyPeakUs) / 1000.0;
    m_successRate = successRate;
    m_throughputKbps = bytesPerSecond * 8.0 / 1000.0;
    m_throughputRatio = ratio;

    double latencyScore;
    if (averageUs <= kFastWriteUs) {
        latencyScore = 100.0;
    } else if (averageUs >= kSlowWriteUs) {
        latencyScore = 0.0;
    } else {
        latencyScore = (1.0 - (averageUs - kFastWriteUs) / (kSlowWriteUs - kFastWriteUs)) * 100.0;
    }

    const double weighted = ratio * 100.0 * kThroughputWeight +
                            successRate * 100.0 * kSuccessWeight + latencyScore * kLatencyWeight;
    int score = std::clamp(static_cast<int>(weighted + kTruncationSlack), 0, 100);

    HealthLevel level;
    if (count == 0) {
        score = 0;
        level = HealthLevel::Unknown;
    } else if (score >= kGoodScore) {
        level = HealthLevel::Good;
    } else if (score >= kWarningScore) {
        level = HealthLevel::Warning;
    } else {
        level = HealthLevel::Poor;
    }
    m_score = score;
    m_level = static_cast<int>(level);
    Q_EMIT healthUpdated(score, level);
}
