#pragma once

#include <atomic>
#include <memory>

#include <QElapsedTimer>
#include <QHostInfo>
#include <QObject>
#include <QPointer>
#include <QString>

#include "audio/codec.h"
#include "broadcast/handshake_worker.h"
#include "broadcast/icecast_wire.h"
#include "broadcast/listener_verifier.h"
#include "broadcast/reconnect_series.h"
#include "broadcast/title_confirmation.h"
#include "broadcast/title_sender.h"

class QThread;
class SentStreamWindow;

// Our own Icecast source client over a plain TCP socket: the source handshake (PUT, then SOURCE
// for older servers) on a short-lived worker thread per attempt, the audio writes, loss detection
// by a failed write, a fixed-delay reconnect series with a countdown, and title updates through
// the server's metadata request on a short-lived worker thread of their own. With the listener
// check on, every accepted connection is then heard from the listener's side
// (listenerCheckFinished).
//
// Every public method, slot and setter is for the thread the client lives on (the main thread).
// connectToServerAsync and sendMetadata return at once; disconnectFromServer and cancelReconnect
// may block briefly (at most 5 s and 1 s) while a connection thread winds down, and
// disconnectFromServer and the destructor at most 1 s more for an aborted title request; send
// blocks at most 3 s per stall of the socket. All signals are emitted on the client's thread.
class IcecastClient : public QObject {
    Q_OBJECT

public:
    explicit IcecastClient(QObject* parent = nullptr);
    ~IcecastClient() override;

    void connectToServerAsync(const QString& host, quint16 port, const QString& mount,
                              const QString& username, const QString& password);
    void disconnectFromServer();
    void cancelReconnect();

    // Writes one encoded chunk to the source socket. False (nothing emitted) when not connected;
    // a failed write reports the loss. Allocates nothing on success. What is written is also
    // kept in a fixed window for the listener check.
    bool send(const QByteArray& data);

    // Starts publishing "artist - title" (or the title alone) as the mount's current song, on a
    // connection of its own, and returns at once: true when the request was started, false
    // (nothing emitted) when it could not even start (not connected, or the request could not be
    // built). The outcome arrives later as metadataSent or metadataFailed. Only the newest title
    // matters: one still waiting for its answer is aborted, and only the new one's outcome is
    // signalled.
    bool sendMetadata(const QString& title, const QString& artist);

    // The encoded stream's codec; it decides the Content-Type the server is told.
    void setCodec(Codec codec) { m_codec = codec; }
    void setBitrate(int kbps) { m_bitrate = kbps; }
    void setSampleRate(int hz) { m_sampleRate = hz; }
    void setChannels(int channels) { m_channels = channels; }
    void setStreamName(const QString& name) { m_streamName = name; }
    void setStreamDescription(const QString& description) { m_streamDescription = description; }
    void setStreamGenre(const QString& genre) { m_streamGenre = genre; }
    void setStreamUrl(const QString& url) { m_streamUrl = url; }
    void setPublic(bool isPublic) { m_isPublic = isPublic; }
    void setAutoReconnect(bool enabled) { m_autoReconnect = enabled; }
    void setReconnectInterval(int seconds) { m_reconnect->setIntervalSeconds(seconds); }
    void setMaxReconnectAttempts(int attempts) { m_reconnect->setMaxAttempts(attempts); }
    // After each accepted connection, listen to the mount at the same host and port for up to
    // 3 s and tell whether listeners get this stream. Off unless switched on; applies from the
    // next connection.
    void setVerifyOnAir(bool enabled) { m_verifyOnAir = enabled; }
    bool verifyOnAir() const { return m_verifyOnAir; }

    // Any thread.
    bool isConnected() const { return m_isConnected.load(); }
    bool isReconnecting() const { return m_reconnect->isActive(); }
    bool autoReconnect() const { return m_autoReconnect; }

Q_SIGNALS:
    void connected();
    void disconnected();
    void connectionError(const QString& error);
    // The server took the title, or closed or stayed silent without refusing it.
    void metadataSent();
    // The title request failed: the server's words when it refused the title, else what failed.
    void metadataFailed(const QString& error);
    // After metadataSent: whether the server's public status shows `song` (within 5 s; for Ogg
    // streams at once NotForOgg). A newer title or a disconnect drops the older one's outcome.
    void titleConfirmation(TitleConfirmation::Outcome outcome, const QString& song);
    void reconnecting(int attempt, int maxAttempts, int countdown);
    void sendCompleted(int bytes, qint64 latencyUs, bool success);
    // The listener check of the current connection ended, afterAcceptedMs after the server
    // accepted the source. Not emitted for a check that a disconnect or reconnect cut short.
    void listenerCheckFinished(OnAirVerdict verdict, qint64 afterAcceptedMs);

public Q_SLOTS:
    void onHostResolved(const QHostInfo& hostInfo);
    // Treats the connection as lost (a failed write does this on its own).
    void handleConnectionLost(const QString& reason = QString());

protected:
    // Starts the asynchronous lookup of `host` whose result must reach onHostResolved with the
    // returned id. Overridden by tests that need a lookup to fail on a given attempt.
    virtual int startHostLookup(const QString& host);

private:
    void handleConnectionLostForSocket(int socket, const QString& reason);
    void handleSendFailure(quint64 generation, int socket);
    void scheduleRetry(quint64 generation);
    void onReconnectTimer();
    // Ends any series and connect attempt in flight; false when the connection thread did not
    // stop within threadWaitMs (it is left to finish on its own).
    bool stopConnecting(const char* caller, int threadWaitMs);
    void startAttempt(const QStringList& addresses);
    void finishAttempt(const std::shared_ptr<HandshakeWorker>& attempt,
                       const HandshakeWorker::Result& result);
    void abortCurrentAttempt();
    bool waitForConnectionThread(int timeoutMs);
    void abortLookup();
    void endSeries();
    void finishTitle(const std::shared_ptr<TitleSender>& sender, const TitleSender::Result& result);
    // Aborts the title request in flight, waiting at most waitMs for its thread.
    void abortTitle(int waitMs);
    void startVerification();
    void finishVerification(const std::shared_ptr<ListenerVerifier>& verifier,
                            const ListenerVerifier::Result& result);
    void abortVerification();
    // The request for the active server, mount, credentials and stream properties.
    icecast::SourceRequest sourceRequest() const;
    // "host:port/mount" of the active connection, for the log.
    QString target() const;

    std::atomic<int> m_socket{-1};
    std::atomic<bool> m_isConnected{false};
    std::atomic<int> m_connectionPhase{0};
    QString m_host;
    quint16 m_port = 8000;
    QString m_mount;
    QString m_username;
    QString m_password;
    Codec m_codec = Codec::Mp3;
    int m_bitrate = 128;
    int m_sampleRate = 44100;
    int m_channels = 2;
    QString m_streamName = QStringLiteral("Unspecified Stream");
    QString m_streamDescription = QStringLiteral("Unspecified Stream");
    QString m_streamGenre = QStringLiteral("Unspecified");
    QString m_streamUrl;
    bool m_isPublic = false;
    bool m_autoReconnect = true;
    ReconnectSeries* m_reconnect = nullptr;
    std::atomic<bool> m_wasEverConnected{false};
    QString m_savedHost;
    quint16 m_savedPort = 8000;
    QString m_savedMount;
    QString m_savedUsername;
    QString m_savedPassword;
    int m_lookupId = -1;
    // Deletes itself when its attempt ends; the pointer clears itself then.
    QPointer<QThread> m_connectionThread;
    std::atomic<bool> m_shuttingDown{false};

    // The connect generation (ReconnectSeries::generation) whose handshake produced the socket
    // in m_socket.
    quint64 m_connectionGeneration = 0;
    std::shared_ptr<HandshakeWorker> m_attempt;
    std::shared_ptr<HandshakeWorker::ResultLink> m_resultLink;

    // The newest title request; older ones were aborted and their results are dropped.
    std::shared_ptr<TitleSender> m_titleSender;
    QPointer<QThread> m_titleThread;
    std::shared_ptr<TitleSender::ResultLink> m_titleLink;
    TitleConfirmation* m_titleConfirmation = nullptr;

    bool m_verifyOnAir = false;
    // Shared with the listener check of the moment, which reads it on its own thread.
    std::shared_ptr<SentStreamWindow> m_sentWindow;
    std::shared_ptr<ListenerVerifier> m_verifier;
    std::shared_ptr<ListenerVerifier::ResultLink> m_verifierLink;
    QElapsedTimer m_acceptedClock;
};
