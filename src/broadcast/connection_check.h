// The connection check: what stands between this computer and a working source connection.
#pragma once

#include <memory>

#include <QObject>
#include <QString>
#include <QTimer>

#include "audio/codec.h"
#include "broadcast/connection_check_step.h"
#include "broadcast/connection_check_worker.h"

// Checks a server address step by step, stopping at the first step that fails: the name
// resolves, each address accepts a connection on the port, an Icecast server answers, the mount
// point is free, the source login is accepted (never tried on a mount in use; the probe ends
// before any audio is sent) and the codec's content type is accepted.
//
// Main thread (the thread it lives on): start and cancel return at once; every signal arrives on
// this thread, one stepFinished per step in order (the steps after a failure as skipped), then
// finished. The whole check is bounded by Limits::totalMs.
class ConnectionCheck : public QObject {
    Q_OBJECT

public:
    struct Target {
        QString host;
        quint16 port = 8000;
        QString mount;
        QString username = QStringLiteral("source");
        QString password;
        Codec codec = Codec::Mp3;
    };
    struct Limits {
        int connectMs = 5000;
        int answerMs = 5000;
        int totalMs = 30000;
    };

    explicit ConnectionCheck(QObject* parent = nullptr);
    ~ConnectionCheck() override;

    void setLimits(const Limits& limits) { m_limits = limits; }
    // Starts a check, ending any one still running (which then signals nothing more).
    void start(const Target& target);
    // Ends the running check; nothing more is signalled.
    void cancel();
    bool isRunning() const { return m_worker != nullptr; }

Q_SIGNALS:
    void stepFinished(const CheckStepResult& result);
    // Every step passed, or not.
    void finished(bool passed);

private:
    void onResult(const std::shared_ptr<ConnectionCheckWorker>& worker,
                  const CheckStepResult& result);
    void onDeadline();
    // Reports the steps from `next` on as skipped, then the end.
    void finishFailed(int next);

    Limits m_limits;
    std::shared_ptr<ConnectionCheckWorker> m_worker;
    std::shared_ptr<ConnectionCheckWorker::ResultLink> m_link;
    int m_nextStep = 0;
    QTimer m_deadline;
};
