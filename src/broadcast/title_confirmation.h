// Whether a title the server took shows up in its public status.
#pragma once

#include <memory>

#include <QObject>
#include <QString>

#include "broadcast/icecast_wire.h"

// After a title request is accepted, reads the server's public status for the mount until it
// shows the new title (every pollMs, up to giveUpMs). Only the newest title is followed: a newer
// one, cancel() or the object's end stop the older one's confirmation without a signal.
//
// Main thread (the thread it lives on): start and cancel return at once; the status is read on
// a short-lived thread of its own, and `finished` arrives on this thread.
class TitleConfirmation : public QObject {
    Q_OBJECT

public:
    enum class Outcome { Confirmed, NotShown, NotForOgg };
    Q_ENUM(Outcome)

    static constexpr int kDefaultPollMs = 250;
    static constexpr int kDefaultGiveUpMs = 5000;

    explicit TitleConfirmation(QObject* parent = nullptr);
    ~TitleConfirmation() override;

    // "title confirmed", "title accepted but not shown by the server", "cannot be confirmed for
    // Ogg streams".
    static QString outcomeText(Outcome outcome);

    void setTiming(int pollMs, int giveUpMs);
    // Follows `song` ("artist - title", as sent) on the request's mount.
    void start(const icecast::SourceRequest& target, const QString& song);
    void cancel();

Q_SIGNALS:
    void finished(TitleConfirmation::Outcome outcome, const QString& song);

private:
    class Poll;

    int m_pollMs = kDefaultPollMs;
    int m_giveUpMs = kDefaultGiveUpMs;
    std::shared_ptr<Poll> m_poll;
};
