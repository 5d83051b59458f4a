// The source client's reconnect series: attempts counted against the maximum, the wait before
// each attempt with its once-a-second countdown, and the generation that retires stale retries.
#pragma once

#include <atomic>

#include <QObject>

class QTimer;

// Counts and times the attempts only; what an attempt does is the client's (attemptDue).
//
// Everything belongs to the owner's thread (the main thread) and never blocks, except the
// getters marked "any thread".
class ReconnectSeries : public QObject {
    Q_OBJECT

public:
    explicit ReconnectSeries(QObject* parent = nullptr);

    void setIntervalSeconds(int seconds) { m_intervalSeconds = seconds; }
    int intervalSeconds() const { return m_intervalSeconds; }
    void setMaxAttempts(int attempts) { m_maxAttempts = attempts; }
    int maxAttempts() const { return m_maxAttempts; }

    // Any thread.
    bool isActive() const { return m_active.load(); }
    int attempts() const { return m_attempts.load(); }
    bool hasAttemptsLeft() const { return m_attempts.load() < m_maxAttempts; }

    // Each connect request, explicit disconnect and cancellation starts a new generation; an
    // attempt scheduled under an older one never runs, and late results of one are dropped.
    quint64 generation() const { return m_generation; }
    void startGeneration() { ++m_generation; }

    // Starts a series with its first attempt; false when one is already running.
    bool start();
    // Counts the next attempt and waits for it (a series that was not running is now).
    void scheduleNextAttempt();
    // Stops the wait and the countdown and ends the series; the attempt count stays.
    void end();
    void resetAttempts() { m_attempts = 0; }

Q_SIGNALS:
    // On scheduling an attempt, at every countdown second, and with countdown 0 as it starts.
    void reconnecting(int attempt, int maxAttempts, int countdown);
    void attemptDue();

private:
    void waitForAttempt(int attempt);
    void onCountdownTick();

    int m_intervalSeconds = 5;
    int m_maxAttempts = 10;
    QTimer* m_attemptTimer = nullptr;
    QTimer* m_countdownTimer = nullptr;
    std::atomic<int> m_attempts{0};
    int m_countdown = 0;
    std::atomic<bool> m_active{false};
    quint64 m_generation = 0;
};
