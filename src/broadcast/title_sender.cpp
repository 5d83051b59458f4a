// The title sender: one connect, one metadata request, a wait for the verdict, on a worker thread.
#include "broadcast/title_sender.h"

#include <algorithm>

#include <QDeadlineTimer>
#include <QObject>
#include <QThread>

#include "core/log_categories.h"
#include "platform/socket.h"

namespace {

constexpr int kConnectTimeoutMs = 5000;
constexpr int kRequestSendTimeoutMs = 3000;
// Off the main thread a slow server costs nothing but time, and its verdict is worth the wait.
constexpr int kAnswerWaitMs = 5000;
constexpr std::size_t kAnswerMaxBytes = 4096;

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

std::shared_ptr<TitleSender> TitleSender::create(const icecast::SourceRequest& target,
                                                 const QString& title, const QString& artist,
                                                 std::shared_ptr<ResultLink> link) {
    std::string song =
        icecast::songText(title.toUtf8().toStdString(), artist.toUtf8().toStdString());
    std::string request;
    if (!icecast::buildMetadataRequest(target, song, request)) {
        qCWarning(lcIcecast) << "sendMetadata: Failed to encode authentication";
        return nullptr;
    }
    qCDebug(lcIcecast).noquote() << "sendMetadata: Sending update to" << fromUtf8(target.host)
                                 << "port" << target.port << "mount"
                                 << fromUtf8(icecast::normalizedMount(target.mount));
    return std::shared_ptr<TitleSender>(new TitleSender(
        target.host, target.port, std::move(request), std::move(song), std::move(link)));
}

TitleSender::TitleSender(std::string host, quint16 port, std::string request, std::string song,
                         std::shared_ptr<ResultLink> link)
    : m_host(std::move(host)),
      m_port(port),
      m_request(std::move(request)),
      m_song(std::move(song)),
      m_socket(std::make_unique<platform::AbortableSocket>()),
      m_link(std::move(link)) {}

TitleSender::~TitleSender() = default;

void TitleSender::abort() { m_socket->abort(); }

bool TitleSender::isAborted() const { return m_socket->isAborted(); }

QThread* TitleSender::start(const std::shared_ptr<TitleSender>& sender) {
    return startDetachedThread(QStringLiteral("IcecastTitle"), [sender] {
        const Result result = sender->send();
        if (!sender->isAborted()) sender->m_link->post(sender, result);
    });
}

TitleSender::Result TitleSender::send() {
    const auto fail = [this](const QString& error) {
        m_socket->close();
        if (!isAborted()) qCWarning(lcIcecast).noquote() << "sendMetadata:" << error;
        return Result{false, error};
    };
    const int socket =
        platform::tcpConnect(m_host.c_str(), m_port, false, kConnectTimeoutMs, m_socket.get());
    if (socket < 0) return fail(QStringLiteral("Failed to connect to server for metadata update"));
    const std::int64_t sent =
        platform::tcpSendAll(socket, m_request.data(), m_request.size(), kRequestSendTimeoutMs);
    if (sent != static_cast<std::int64_t>(m_request.size())) {
        return fail(QStringLiteral("Failed to send metadata request"));
    }

    // The server's verdict: a refused title must not pass for a sent one.
    std::string answer;
    char buffer[1024];
    const QDeadlineTimer deadline(kAnswerWaitMs);
    while (answer.size() < kAnswerMaxBytes && !deadline.hasExpired() && !isAborted()) {
        const std::size_t room = std::min(sizeof(buffer), kAnswerMaxBytes - answer.size());
        const int received =
            platform::tcpReceive(socket, buffer, room, static_cast<int>(deadline.remainingTime()));
        if (received <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(received));
    }
    m_socket->close();
    if (isAborted()) return Result{false, QString()};

    const icecast::MetadataVerdict verdict = icecast::judgeMetadataAnswer(answer);
    if (verdict.reply == icecast::MetadataReply::Refused) {
        const QString words = fromUtf8(verdict.serverText);
        qCWarning(lcIcecast).noquote()
            << "sendMetadata: Server refused the metadata update:" << words;
        return Result{false, words};
    }
    if (verdict.reply == icecast::MetadataReply::NoAnswer) {
        qCDebug(lcIcecast) << "sendMetadata: No verdict from the server, taking the update as sent";
    }
    qCInfo(lcIcecast).noquote() << "Title published:" << fromUtf8(m_song);
    return Result{true, QString()};
}
