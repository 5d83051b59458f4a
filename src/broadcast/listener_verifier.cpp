// The listener check: one listener connection, its answer, and the match against what was sent.
#include "broadcast/listener_verifier.h"

#include <algorithm>
#include <string_view>

#include <QDeadlineTimer>
#include <QObject>
#include <QThread>

#include "broadcast/icecast_wire.h"
#include "broadcast/ogg_page_scanner.h"
#include "broadcast/sent_stream_window.h"
#include "platform/socket.h"

namespace {

// An answer's header block longer than this is no streaming server's.
constexpr std::size_t kMaxHeadBytes = 16 * 1024;
// Ogg heard is kept by the page (a page holds at most 65307 bytes), enough to leave a block of
// packets once the page cut short at the end is left out.
constexpr std::size_t kOggKeepBytes = 4 * 65307;

}  // namespace

QString onAirVerdictText(OnAirVerdict verdict) {
    switch (verdict) {
        case OnAirVerdict::Verified:
            return QStringLiteral("verified");
        case OnAirVerdict::SomethingElse:
            return QStringLiteral("not verified: listeners get something else");
        case OnAirVerdict::Unreachable:
            break;
    }
    return QStringLiteral("not verified: the listener address is not reachable");
}

ListenerVerifier::ListenerVerifier(std::string host, quint16 port, std::string request,
                                   std::shared_ptr<const SentStreamWindow> window,
                                   std::shared_ptr<ResultLink> link)
    : m_host(std::move(host)),
      m_port(port),
      m_request(std::move(request)),
      m_window(std::move(window)),
      m_socket(std::make_unique<platform::AbortableSocket>()),
      m_link(std::move(link)) {}

ListenerVerifier::~ListenerVerifier() = default;

void ListenerVerifier::abort() { m_socket->abort(); }

bool ListenerVerifier::isAborted() const { return m_socket->isAborted(); }

QThread* ListenerVerifier::start(const std::shared_ptr<ListenerVerifier>& verifier) {
    return startDetachedThread(QStringLiteral("IcecastListen"), [verifier] {
        const Result result = verifier->listen();
        if (!verifier->isAborted()) verifier->m_link->post(verifier, result);
    });
}

ListenerVerifier::Result ListenerVerifier::listen() {
    const QDeadlineTimer deadline(kListenMs);
    const auto remainingMs = [&deadline] {
        return static_cast<int>(std::max<qint64>(0, deadline.remainingTime()));
    };
    const auto finish = [this](OnAirVerdict verdict, const QString& detail) {
        m_socket->close();
        return Result{verdict, detail};
    };

    const int socket =
        platform::tcpConnect(m_host.c_str(), m_port, false, remainingMs(), m_socket.get());
    if (socket < 0 || deadline.hasExpired()) {
        return finish(OnAirVerdict::Unreachable, QStringLiteral("no listener connection to %1:%2")
                                                     .arg(QString::fromStdString(m_host))
                                                     .arg(m_port));
    }
    if (platform::tcpSendAll(socket, m_request.data(), m_request.size(), remainingMs()) !=
        static_cast<std::int64_t>(m_request.size())) {
        return finish(OnAirVerdict::Unreachable, QStringLiteral("the request could not be sent"));
    }

    std::string head;
    bool answered = false;
    // The newest bytes heard, all that the match needs: two blocks, or for Ogg enough pages for
    // a block of their bodies.
    std::string tail;
    const std::size_t keepBytes = m_window->isOgg() ? kOggKeepBytes : 2 * kBlockBytes;
    std::size_t heardBytes = 0;
    std::size_t sinceLastTry = 0;
    bool sameBytesOtherSerial = false;
    OggPageScanner heardOgg;
    char buffer[16 * 1024];
    while (!isAborted()) {
        const int received = platform::tcpReceive(socket, buffer, sizeof(buffer), remainingMs());
        if (received <= 0) break;  // closed, failed or out of time
        std::string_view piece(buffer, static_cast<std::size_t>(received));
        if (!answered) {
            head.append(piece);
            const std::size_t end = head.find("\r\n\r\n");
            if (end == std::string::npos) {
                if (head.size() > kMaxHeadBytes) break;
                continue;
            }
            answered = true;
            const int status = icecast::httpStatusCode(head);
            if (status != 200) {
                return finish(OnAirVerdict::SomethingElse,
                              status < 0 ? QStringLiteral("the answer is not HTTP")
                                         : QStringLiteral("the answer is HTTP %1").arg(status));
            }
            piece = std::string_view(head).substr(end + 4);
        }
        heardOgg.feed(piece.data(), piece.size());
        heardBytes += piece.size();
        sinceLastTry += piece.size();
        tail.append(piece);
        if (tail.size() > keepBytes) tail.erase(0, tail.size() - keepBytes / 2);
        if (tail.size() < kBlockBytes || sinceLastTry < kBlockBytes) continue;

        sinceLastTry = 0;
        const SentStreamWindow::Snapshot sent = m_window->snapshot();
        if (sent.contains(std::string_view(tail).substr(tail.size() - kBlockBytes))) {
            // Our pages as they are: they must belong to the stream we opened last.
            if (!sent.isOgg || (sent.hasBosSerial && heardOgg.sawSerial(sent.bosSerial))) {
                return finish(OnAirVerdict::Verified,
                              QStringLiteral("%1 bytes heard, the newest of them sent by us")
                                  .arg(heardBytes));
            }
            sameBytesOtherSerial = true;
            continue;
        }
        if (!sent.isOgg) continue;
        // A server may cut the packets into pages of its own, under a serial of its own (Icecast
        // does for Vorbis, to put titles into the stream): then the packets must be ours.
        const std::string heardPackets = OggPageScanner::pageBodies(tail);
        if (heardPackets.size() >= kBlockBytes &&
            sent.packetsContain(
                std::string_view(heardPackets).substr(heardPackets.size() - kBlockBytes))) {
            return finish(OnAirVerdict::Verified,
                          QStringLiteral("%1 bytes heard, the newest packets sent by us, in "
                                         "pages of the server's own")
                              .arg(heardBytes));
        }
    }
    if (!answered) {
        return finish(head.empty() ? OnAirVerdict::Unreachable : OnAirVerdict::SomethingElse,
                      head.empty() ? QStringLiteral("no answer from the listener address")
                                   : QStringLiteral("the answer is not HTTP"));
    }
    return finish(OnAirVerdict::SomethingElse,
                  sameBytesOtherSerial
                      ? QStringLiteral("our bytes, but not in the Ogg stream we opened last")
                      : QStringLiteral("%1 bytes heard, none of them found in what was sent")
                            .arg(heardBytes));
}
