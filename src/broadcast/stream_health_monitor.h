#pragma once

#include <QMutex>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <deque>
#include <functional>

// Turns the outcome of every write to the source socket into a health score (0 to 100) and a
// traffic-light level, recomputed once a second over the last five seconds: throughput against
// the encoder bit rate (50 %), share of successful writes (30 %) and write time (20 %).
//
// It also counts the listener checks of the broadcast (verified or not, and how long after the
// server accepted the last verified one came).
//
// addSample, recordReconnect and recordVerification may be called from any thread (they take a
// short mutex at most); the getters may be read from any thread; everything else belongs to the
// monitor's thread.
class StreamHealthMonitor : public QObject {
    Q_OBJECT

public:
    enum class HealthLevel { Unknown = 0, Good = 1, Warning = 2, Poor = 3 };
    Q_ENUM(HealthLevel)

    // What a reset clears: a broadcast that restarts after an automatic reconnect keeps the
    // counts of reconnects and listener checks, which only a broadcast the user starts clears.
    enum class ResetScope { Everything, KeepReconnectCount };

    // Milliseconds on a steady clock; tests pass their own so they never wait for the window.
    using Clock = std::function<qint64()>;

    static constexpr qint64 kWindowMs = 5000;
    static constexpr int kRecalculateIntervalMs = 1000;

    explicit StreamHealthMonitor(QObject* parent = nullptr);
    explicit StreamHealthMonitor(Clock clock, QObject* parent = nullptr);

    void startMonitoring(int expectedBitrateKbps);
    void resetMonitoring(ResetScope scope = ResetScope::Everything);

    int score() const { return m_score.load(); }
    HealthLevel level() const { return static_cast<HealthLevel>(m_level.load()); }
    double averageLatencyMs() const { return m_averageLatencyMs.load(); }
    double peakLatencyMs() const { return m_peakLatencyMs.load(); }
    double successRate() const { return m_successRate.load(); }
    double throughputKbps() const { return m_throughputKbps.load(); }
    double throughputRatio() const { return m_throughputRatio.load(); }
    int expectedBitrateKbps() const { return m_expectedBitrateKbps.load(); }
    qint64 totalBytesSent() const { return m_totalBytesSent.load(); }
    int reconnectCount() const { return m_reconnectCount.load(); }
    int verifiedCount() const { return m_verifiedCount.load(); }
    int notVerifiedCount() const { return m_notVerifiedCount.load(); }
    // From the server accepting the source to the last "verified"; -1 before the first.
    qint64 lastVerifiedAfterMs() const { return m_lastVerifiedAfterMs.load(); }
    // Whole seconds since startMonitoring, 0 when not running.
    qint64 uptimeSeconds() const;

Q_SIGNALS:
    void healthUpdated(int score, StreamHealthMonitor::HealthLevel level);

public Q_SLOTS:
    void addSample(int bytes, qint64 latencyUs, bool success);
    void recordReconnect();
    void recordVerification(bool verified, qint64 afterAcceptedMs);
    void recalculate();

private:
    struct SendSample {
        qint64 timeMs;
        int bytes;
        qint64 latencyUs;
        bool success;
    };

    Clock m_clock;
    QMutex m_mutex;
    std::deque<SendSample> m_samples;
    std::atomic<int> m_score{0};
    std::atomic<int> m_level{static_cast<int>(HealthLevel::Unknown)};
    std::atomic<double> m_averageLatencyMs{0.0};
    std::atomic<double> m_peakLatencyMs{0.0};
    std::atomic<double> m_successRate{1.0};
    std::atomic<double> m_throughputKbps{0.0};
    std::atomic<double> m_throughputRatio{1.0};
    std::atomic<qint64> m_totalBytesSent{0};
    std::atomic<int> m_reconnectCount{0};
    std::atomic<int> m_verifiedCount{0};
    std::atomic<int> m_notVerifiedCount{0};
    std::atomic<qint64> m_lastVerifiedAfterMs{-1};
    std::atomic<int> m_expectedBitrateKbps{128};
    std::atomic<bool> m_running{false};
    QTimer* m_timer = nullptr;
    std::atomic<qint64> m_startedAtMs{0};
};
