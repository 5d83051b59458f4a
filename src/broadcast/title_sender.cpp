// The title sender: one connect, one metadata request, a short wait for the verdict.
#include "broadcast/title_sender.h"

#include <algorithm>
#include <string>

#include <QDeadlineTimer>

#include "core/log_categories.h"
#include "platform/socket.h"

namespace {

constexpr int kConnectTimeoutMs = 5000;
constexpr int kRequestSendTimeoutMs = 3000;
constexpr int kAnswerWaitMs = 2000;
constexpr std::size_t kAnswerMaxBytes = 4096;

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

bool TitleSender::send(const QString& title, const QString& artist) const {
    const std::string song =
        icecast::songText(title.toUtf8().toStdString(), artist.toUtf8().toStdString());
    std::string request;
    if (!icecast::buildMetadataRequest(m_target, song, request)) {
        qCWarning(lcIcecast) << "sendMetadata: Failed to encode authentication";
        return false;
    }

    qCDebug(lcIcecast).noquote() << "sendMetadata: Sending update to" << fromUtf8(m_target.host)
                                 << "port" << m_target.port << "mount"
                                 << fromUtf8(icecast::normalizedMount(m_target.mount));
    const int socket =
        platform::tcpConnect(m_target.host.c_str(), m_target.port, false, kConnectTimeoutMs);
    if (socket < 0) {
        qCWarning(lcIcecast) << "sendMetadata: Failed to connect to server for metadata update";
        return false;
    }
    const std::int64_t sent =
        platform::tcpSendAll(socket, request.data(), request.size(), kRequestSendTimeoutMs);
    if (sent != static_cast<std::int64_t>(request.size())) {
        platform::closeSocket(socket);
        qCWarning(lcIcecast) << "sendMetadata: Failed to send metadata request";
        return false;
    }

    // The server's verdict, read for a short while: a refused title must not pass for a sent one.
    std::string answer;
    char buffer[1024];
    const QDeadlineTimer deadline(kAnswerWaitMs);
    while (answer.size() < kAnswerMaxBytes && !deadline.hasExpired()) {
        const std::size_t room = std::min(sizeof(buffer), kAnswerMaxBytes - answer.size());
        const int received =
            platform::tcpReceive(socket, buffer, room, static_cast<int>(deadline.remainingTime()));
        if (received <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(received));
    }
    platform::closeSocket(socket);

    const icecast::MetadataVerdict verdict = icecast::judgeMetadataAnswer(answer);
    if (verdict.reply == icecast::MetadataReply::Refused) {
        qCWarning(lcIcecast).noquote()
            << "sendMetadata: Server refused the metadata update:" << fromUtf8(verdict.serverText);
        return false;
    }
    if (verdict.reply == icecast::MetadataReply::NoAnswer) {
        qCDebug(lcIcecast) << "sendMetadata: No verdict from the server, taking the update as sent";
    }
    qCInfo(lcIcecast).noquote() << "Title published:" << fromUtf8(song);
    return true;
}
