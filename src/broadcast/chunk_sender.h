// The send path of encoded audio: each chunk timed into the source client, a backlog beyond the
// limit taken as a lost connection, and sampled logs of what the encoder makes.
#pragma once

#include <atomic>

#include <QByteArray>
#include <QElapsedTimer>
#include <QtGlobal>

class EncoderSettings;
class IcecastClient;

// Everything runs on the main thread and never blocks beyond the client's write (at most 3 s per
// stall of the socket), except where a comment says otherwise.
class ChunkSender {
public:
    // A send that takes this long is reported as blocked (at most once a second).
    static constexpr int kSendBlockedWarnMs = 21;
    // Encoded audio waiting to be sent, in milliseconds of the stream's bit rate, beyond which the
    // connection counts as lost: the uplink is slower than the stream.
    static constexpr int kDefaultBacklogLimitMs = 10000;

    ChunkSender(IcecastClient* client, const EncoderSettings* settings)
        : m_client(client), m_settings(settings) {}

    // Any thread (the encoder's streaming thread): a chunk on its way to the main thread.
    void chunkHandedOut(qint64 bytes);
    // The chunk has arrived on the main thread.
    void chunkTakenUp(qint64 bytes) { m_pendingBytes.fetch_sub(bytes); }
    // Any thread: bytes handed out and not yet taken up, now and at most.
    qint64 pendingBytes() const { return m_pendingBytes.load(); }
    qint64 peakPendingBytes() const { return m_peakPendingBytes.load(); }

    void setBacklogLimitMs(int milliseconds) { m_backlogLimitMs = milliseconds; }
    // The backlog limit in bytes at the current bit rate.
    qint64 backlogLimitBytes() const;
    // True, after reporting the connection as lost, when more than the limit waits to be sent.
    bool treatBacklogAsLoss();

    // Logs the first chunks, every 100th and the measured bit rate every 5 s.
    void countChunk(int bytes);
    // Writes one chunk; a failed write is reported by the client itself.
    void send(const QByteArray& data);

private:
    IcecastClient* m_client;
    const EncoderSettings* m_settings;

    std::atomic<qint64> m_pendingBytes{0};
    std::atomic<qint64> m_peakPendingBytes{0};
    int m_backlogLimitMs = kDefaultBacklogLimitMs;

    int m_chunkCount = 0;
    // Encoded bit rate over 5 s windows, for the log.
    qint64 m_bitrateWindowBytes = 0;
    QElapsedTimer m_bitrateWindow;
    // "sendAudioData blocked" is reported at most once a second.
    QElapsedTimer m_blockedReportClock;
    int m_blockedSinceReport = 0;
};
