// The send path: timed writes, the backlog rule and the sampled stream logs.
#include "broadcast/chunk_sender.h"

#include <QString>

#include "audio/encoder_settings.h"
#include "broadcast/icecast_client.h"
#include "core/log_categories.h"

namespace {

constexpr int kBitrateReportIntervalMs = 5000;
constexpr int kBlockedReportIntervalMs = 1000;
constexpr int kLogFirstChunks = 5;
constexpr int kLogEveryChunks = 100;

}  // namespace

void ChunkSender::chunkHandedOut(qint64 bytes) {
    const qint64 pending = m_pendingBytes.fetch_add(bytes) + bytes;
    qint64 peak = m_peakPendingBytes.load();
    while (pending > peak && !m_peakPendingBytes.compare_exchange_weak(peak, pending)) {
    }
}

qint64 ChunkSender::backlogLimitBytes() const {
    const qint64 bitrateKbps = m_settings ? m_settings->bitrate() : 128;
    return bitrateKbps * 1000 / 8 * m_backlogLimitMs / 1000;
}

bool ChunkSender::treatBacklogAsLoss() {
    const qint64 backlogBytes = m_pendingBytes.load();
    if (backlogBytes <= backlogLimitBytes()) return false;
    const double seconds = double(backlogBytes) * 8.0 / (m_settings->bitrate() * 1000.0);
    qCWarning(lcBroadcaster).noquote()
        << "Send backlog of" << backlogBytes << "bytes (" << QString::number(seconds, 'f', 1)
        << "s of audio) - the connection is slower than the stream, treating it as lost";
    m_client->handleConnectionLost(
        QStringLiteral("The connection is too slow for the stream (%1 s of audio waiting)")
            .arg(QString::number(seconds, 'f', 1)));
    return true;
}

void ChunkSender::countChunk(int bytes) {
    const int chunk = ++m_chunkCount;
    if (chunk <= kLogFirstChunks || chunk % kLogEveryChunks == 0) {
        qCDebug(lcBroadcaster).noquote()
            << "Encoded data ready -" << bytes << "bytes (packet" << chunk << ")";
    }
    if (!m_bitrateWindow.isValid()) m_bitrateWindow.start();
    m_bitrateWindowBytes += bytes;
    const qint64 elapsedMs = m_bitrateWindow.elapsed();
    if (elapsedMs >= kBitrateReportIntervalMs) {
        const double kbps = double(m_bitrateWindowBytes) * 8.0 / double(elapsedMs);
        qCDebug(lcBroadcaster).noquote()
            << "Actual encoded bitrate:" << QString::number(kbps, 'f', 1) << "kbps"
            << "(target:" << (m_settings ? m_settings->bitrate() : -1) << "kbps,"
            << "bytes:" << m_bitrateWindowBytes << "in" << elapsedMs << "ms)";
        m_bitrateWindowBytes = 0;
        m_bitrateWindow.restart();
    }
}

void ChunkSender::send(const QByteArray& data) {
    QElapsedTimer timer;
    timer.start();
    const bool sent = m_client->send(data);
    const qint64 elapsedMs = timer.elapsed();
    if (!sent) qCWarning(lcBroadcaster).noquote() << "Failed to send audio data";
    if (elapsedMs < kSendBlockedWarnMs) return;
    if (m_blockedReportClock.isValid() &&
        m_blockedReportClock.elapsed() < kBlockedReportIntervalMs) {
        ++m_blockedSinceReport;
        return;
    }
    if (m_blockedSinceReport > 0) {
        qCWarning(lcBroadcaster).noquote()
            << "sendAudioData blocked for" << elapsedMs << "ms"
            << QStringLiteral("(%1 more blocked sends since the last report)")
                   .arg(m_blockedSinceReport);
    } else {
        qCWarning(lcBroadcaster).noquote() << "sendAudioData blocked for" << elapsedMs << "ms";
    }
    m_blockedSinceReport = 0;
    m_blockedReportClock.start();
}
