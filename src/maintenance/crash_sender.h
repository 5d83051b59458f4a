#pragma once

#include <QObject>
#include <QString>

#include "maintenance/crash_envelope.h"

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// Lives on the "SentryWorker" thread and sends the envelopes waiting in the crash database, oldest
// first and one at a time. A file is deleted once the service accepted it (or refused it for
// good); on any other outcome the round stops and is retried later or at the next start.
class CrashSender : public QObject {
    Q_OBJECT

public:
    CrashSender(const QString& databasePath, const crash::Dsn& dsn);

public Q_SLOTS:
    // Worker thread (queued from any thread).
    void sendPending();
    // Worker thread: send what is pending for at most budgetMs, then end the thread's loop.
    void drainThenQuit(int budgetMs);

private:
    void sendNext();
    void onReplyFinished();
    void finishRound(bool failed);
    QString nextFile() const;

    QString m_databasePath;
    crash::Dsn m_dsn;
    QNetworkAccessManager* m_network = nullptr;
    QNetworkReply* m_reply = nullptr;
    QString m_replyFile;
    QTimer* m_retryTimer = nullptr;
    int m_retryDelayMs = 0;
    bool m_requestedAgain = false;
    bool m_quitting = false;
};
