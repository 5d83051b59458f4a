// Following a title into the server's public status, on a short-lived thread.
#include "broadcast/title_confirmation.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include <QDeadlineTimer>
#include <QThread>

#include "broadcast/server_status.h"
#include "broadcast/worker_result_link.h"
#include "core/log_categories.h"
#include "platform/socket.h"

namespace {

constexpr int kConnectTimeoutMs = 2000;

// Servers that keep titles in Latin-1 show UTF-8 text byte by byte; that is still our title.
bool showsSong(const std::string& shown, const QString& song) {
    const QString text = QString::fromUtf8(shown.data(), qsizetype(shown.size())).trimmed();
    const QString wanted = song.trimmed();
    return text == wanted || text == QString::fromLatin1(wanted.toUtf8());
}

}  // namespace

// One title's polling: the worker thread reads, the owner aborts.
class TitleConfirmation::Poll {
public:
    using ResultLink = WorkerResultLink<Poll, Outcome>;

    Poll(icecast::SourceRequest target, QString song, int pollMs, int giveUpMs,
         std::shared_ptr<ResultLink> link)
        : m_target(std::move(target)),
          m_song(std::move(song)),
          m_pollMs(pollMs),
          m_giveUpMs(giveUpMs),
          m_link(std::move(link)) {}

    const QString& song() const { return m_song; }
    const std::shared_ptr<ResultLink>& link() const { return m_link; }

    void abort() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_aborted = true;
        }
        m_wake.notify_all();
        m_socket.abort();
    }

    // Worker thread.
    static void run(const std::shared_ptr<Poll>& poll) {
        const Outcome outcome = poll->follow();
        if (!poll->m_socket.isAborted()) poll->m_link->post(poll, outcome);
    }

private:
    Outcome follow() {
        const QDeadlineTimer deadline(m_giveUpMs);
        for (;;) {
            const int remainingMs = std::max(1, int(deadline.remainingTime()));
            const StatusFetch fetch =
                fetchServerStatus(m_target, m_target.host, std::min(kConnectTimeoutMs, remainingMs),
                                  remainingMs, &m_socket);
            const StatusMount* mount = fetch.decoded ? fetch.status.find(m_target.mount) : nullptr;
            if (mount && showsSong(mount->title, m_song)) return Outcome::Confirmed;
            std::unique_lock<std::mutex> lock(m_mutex);
            const int pauseMs = std::min<qint64>(m_pollMs, deadline.remainingTime());
            if (m_aborted || deadline.hasExpired() ||
                m_wake.wait_for(lock, std::chrono::milliseconds(pauseMs),
                                [this] { return m_aborted; }) ||
                deadline.hasExpired()) {
                return Outcome::NotShown;
            }
        }
    }

    const icecast::SourceRequest m_target;
    const QString m_song;
    const int m_pollMs;
    const int m_giveUpMs;
    const std::shared_ptr<ResultLink> m_link;
    platform::AbortableSocket m_socket;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_aborted = false;
};

TitleConfirmation::TitleConfirmation(QObject* parent) : QObject(parent) {}

TitleConfirmation::~TitleConfirmation() { cancel(); }

QString TitleConfirmation::outcomeText(Outcome outcome) {
    switch (outcome) {
        case Outcome::Confirmed:
            return QStringLiteral("title confirmed");
        case Outcome::NotShown:
            return QStringLiteral("title accepted but not shown by the server");
        case Outcome::NotForOgg:
            return QStringLiteral("cannot be confirmed for Ogg streams");
    }
    return {};
}

void TitleConfirmation::setTiming(int pollMs, int giveUpMs) {
    m_pollMs = pollMs;
    m_giveUpMs = giveUpMs;
}

void TitleConfirmation::start(const icecast::SourceRequest& target, const QString& song) {
    cancel();
    auto link = std::make_shared<Poll::ResultLink>(
        this, [this](const std::shared_ptr<Poll>& poll, const Outcome& outcome) {
            if (poll != m_poll) return;
            m_poll.reset();
            qCInfo(lcIcecast).noquote() << "Title" << poll->song() << "-" << outcomeText(outcome);
            Q_EMIT finished(outcome, poll->song());
        });
    m_poll = std::make_shared<Poll>(target, song, m_pollMs, m_giveUpMs, std::move(link));
    const std::shared_ptr<Poll> poll = m_poll;
    startDetachedThread(QStringLiteral("IcecastTitleCheck"), [poll] { Poll::run(poll); });
}

void TitleConfirmation::cancel() {
    if (!m_poll) return;
    m_poll->link()->close();
    m_poll->abort();
    m_poll.reset();
}
