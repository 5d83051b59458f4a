// The health score over a five-second window, driven by a clock the test moves by hand.
#include <QtTest>

#include <thread>
#include <vector>

#include "broadcast/stream_health_monitor.h"

using Level = StreamHealthMonitor::HealthLevel;

class TestStreamHealthMonitor : public QObject {
    Q_OBJECT

    qint64 m_nowMs = 1'000'000;
    std::unique_ptr<StreamHealthMonitor> m_monitor;

    StreamHealthMonitor& monitor() { return *m_monitor; }

    // `count` writes spread evenly over the last `spanMs`, ending now.
    void addWrites(int count, int bytes, qint64 latencyUs, bool success, qint64 spanMs = 4000) {
        const qint64 end = m_nowMs;
        for (int i = 0; i < count; ++i) {
            m_nowMs = end - spanMs + spanMs * (i + 1) / count;
            monitor().addSample(bytes, latencyUs, success);
        }
        m_nowMs = end;
    }

    // Runs one recalculation and returns what it emitted.
    QPair<int, Level> recalculate() {
        QSignalSpy spy(m_monitor.get(), &StreamHealthMonitor::healthUpdated);
        monitor().recalculate();
        if (spy.count() != 1) return {-1, Level::Unknown};
        return {spy.at(0).at(0).toInt(), spy.at(0).at(1).value<Level>()};
    }

private Q_SLOTS:
    void init() {
        m_nowMs = 1'000'000;
        m_monitor = std::make_unique<StreamHealthMonitor>([this] { return m_nowMs; });
        monitor().startMonitoring(128);
    }

    void cleanup() { m_monitor.reset(); }

    void noWritesIsUnknownNotPoor() {
        QCOMPARE(recalculate(), qMakePair(0, Level::Unknown));
        QCOMPARE(monitor().successRate(), 1.0);
        QCOMPARE(monitor().throughputRatio(), 1.0);
    }

    void fullRateFastWritesAreGood() {
        // 128 kbit/s = 16000 bytes/s = 80000 bytes in the window.
        addWrites(50, 1600, 2000, true);
        QCOMPARE(recalculate(), qMakePair(100, Level::Good));
        QCOMPARE(recalculate(), qMakePair(100, Level::Good));  // reported even when unchanged
        QCOMPARE(monitor().throughputKbps(), 128.0);
        QCOMPARE(monitor().throughputRatio(), 1.0);
        QCOMPARE(monitor().averageLatencyMs(), 2.0);
        QCOMPARE(monitor().totalBytesSent(), qint64(80000));
    }

    void failingFastWritesKeepOnlyTheLatencyPart() {
        addWrites(20, 4096, 100, false);
        QCOMPARE(recalculate(), qMakePair(20, Level::Poor));
        QCOMPARE(monitor().successRate(), 0.0);
        QCOMPARE(monitor().throughputRatio(), 0.0);
        QCOMPARE(monitor().totalBytesSent(), qint64(0));
    }

    void latencyScoreFallsLinearly() {
        // Full rate and all successful: 50 + 30 + latency part.
        addWrites(40, 2000, 525000, true);
        QCOMPARE(recalculate(), qMakePair(90, Level::Good));
        QCOMPARE(monitor().averageLatencyMs(), 525.0);
        QCOMPARE(monitor().peakLatencyMs(), 525.0);

        init();
        addWrites(40, 2000, 1'000'000, true);
        QCOMPARE(recalculate().first, 80);

        init();
        addWrites(10, 8000, 40000, true);
        addWrites(1, 0, 2'000'000, true, 1);           // one slow write pulls the average up
        QVERIFY(monitor().averageLatencyMs() == 0.0);  // published only by a recalculation
        const int score = recalculate().first;
        QCOMPARE(monitor().peakLatencyMs(), 2000.0);
        QCOMPARE(score, 96);  // an average of 218 ms keeps 82 % of the latency part
    }

    // Above the expected rate the ratio is capped; without one it is 0.
    void throughputRatioBounds() {
        addWrites(50, 16000, 1000, true);
        QCOMPARE(recalculate(), qMakePair(100, Level::Good));
        QCOMPARE(monitor().throughputRatio(), 1.0);
        QCOMPARE(monitor().throughputKbps(), 1280.0);

        init();
        monitor().startMonitoring(0);
        addWrites(10, 1000, 1000, true);
        QCOMPARE(recalculate(), qMakePair(50, Level::Warning));
        QCOMPARE(monitor().throughputRatio(), 0.0);
        QCOMPARE(monitor().expectedBitrateKbps(), 0);
    }

    void levelBoundaries() {
        // Fast and all successful: score = 50 × ratio + 50.
        addWrites(10, 4000, 1000, true);  // half the expected rate
        QCOMPARE(recalculate(), qMakePair(75, Level::Good));

        init();
        addWrites(12, 3200, 1000, true);  // 48 % of the rate
        QCOMPARE(recalculate(), qMakePair(74, Level::Warning));

        // Two thirds successful writes of no bytes: 30 × 2/3 + 20 = 40 exactly.
        init();
        addWrites(2, 0, 1000, true);
        addWrites(1, 0, 1000, false);
        QCOMPARE(recalculate(), qMakePair(40, Level::Warning));

        init();
        addWrites(1, 0, 1000, true);
        addWrites(2, 0, 1000, false);
        QCOMPARE(recalculate(), qMakePair(30, Level::Poor));
    }

    void samplesAgeOutOfTheWindow() {
        const qint64 start = m_nowMs;
        addWrites(20, 2000, 1000, true, 0);
        m_nowMs = start + 3000;
        addWrites(20, 2000, 1000, true, 0);
        QCOMPARE(recalculate().first, 100);

        m_nowMs = start + 5000;  // exactly five seconds old: still in
        QCOMPARE(recalculate().first, 100);
        m_nowMs = start + 5001;  // the first batch is out, half the rate is left
        QCOMPARE(recalculate(), qMakePair(75, Level::Good));
        QCOMPARE(monitor().throughputKbps(), 64.0);
        m_nowMs = start + 8001;
        QCOMPARE(recalculate(), qMakePair(0, Level::Unknown));
        // Dropping old samples does not forget what was sent.
        QCOMPARE(monitor().totalBytesSent(), qint64(80000));
    }

    void stoppedMonitorDoesNotRecalculate() {
        addWrites(5, 1000, 1000, true);
        monitor().resetMonitoring();
        QSignalSpy spy(m_monitor.get(), &StreamHealthMonitor::healthUpdated);
        monitor().addSample(1000, 1000, true);  // accepted while stopped
        monitor().recalculate();
        QCOMPARE(spy.count(), 0);
        QCOMPARE(monitor().uptimeSeconds(), qint64(0));
        QCOMPARE(monitor().totalBytesSent(), qint64(1000));
    }

    void resetClearsEverythingAndReportsAtOnce() {
        addWrites(50, 1600, 1000, true);
        monitor().recordReconnect();
        monitor().recordReconnect();
        recalculate();
        QCOMPARE(monitor().reconnectCount(), 2);

        QSignalSpy spy(m_monitor.get(), &StreamHealthMonitor::healthUpdated);
        monitor().resetMonitoring();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 0);
        QCOMPARE(spy.at(0).at(1).value<Level>(), Level::Unknown);
        QCOMPARE(monitor().totalBytesSent(), qint64(0));
        QCOMPARE(monitor().reconnectCount(), 0);
        QCOMPARE(monitor().averageLatencyMs(), 0.0);
        QCOMPARE(monitor().successRate(), 1.0);

        // Restarted, the old samples are gone.
        monitor().startMonitoring(128);
        QCOMPARE(recalculate(), qMakePair(0, Level::Unknown));

        // A restart after an automatic reconnect keeps the count and clears the rest.
        addWrites(50, 1600, 1000, true);
        monitor().recordReconnect();
        monitor().resetMonitoring(StreamHealthMonitor::ResetScope::KeepReconnectCount);
        QCOMPARE(monitor().reconnectCount(), 1);
        QCOMPARE(monitor().totalBytesSent(), qint64(0));
        monitor().startMonitoring(128);
        QCOMPARE(recalculate(), qMakePair(0, Level::Unknown));
    }

    void uptimeCountsWholeSeconds() {
        QCOMPARE(monitor().uptimeSeconds(), qint64(0));
        m_nowMs += 2999;
        QCOMPARE(monitor().uptimeSeconds(), qint64(2));
        m_nowMs += 1;
        QCOMPARE(monitor().uptimeSeconds(), qint64(3));
    }

    void recalculatesOnItsOwnTimer() {
        // The real timer drives recalculation once a second while running.
        StreamHealthMonitor real;
        QSignalSpy spy(&real, &StreamHealthMonitor::healthUpdated);
        real.startMonitoring(128);
        real.addSample(16000, 500, true);
        QVERIFY(spy.wait(3000));
        // 16000 bytes are 20 % of the rate: 10 + 30 + 20.
        QCOMPARE(spy.last().at(0).toInt(), 60);
        QCOMPARE(spy.last().at(1).value<Level>(), Level::Warning);
    }

    void samplesFromManyThreads() {
        std::vector<std::thread> writers;
        for (int t = 0; t < 4; ++t) {
            writers.emplace_back([this] {
                for (int i = 0; i < 2000; ++i) monitor().addSample(10, 100, true);
            });
        }
        for (int i = 0; i < 50; ++i) monitor().recalculate();
        for (auto& w : writers) w.join();
        QCOMPARE(monitor().totalBytesSent(), qint64(4 * 2000 * 10));
        monitor().recalculate();
        QCOMPARE(monitor().successRate(), 1.0);
    }
};

QTEST_GUILESS_MAIN(TestStreamHealthMonitor)
#include "test_stream_health_monitor.moc"
