#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include "app/cli_options.h"
#include "broadcast/broadcaster.h"

class OBSAudioManager;

// One run of the command-line broadcaster: sets up the broadcast controller from the options,
// goes live, reports what happens and decides the exit status.
//
// Main thread only, except requestStop, which any thread may call.
class CliSession : public QObject {
    Q_OBJECT

public:
    explicit CliSession(const CliOptions& options, QObject* parent = nullptr);
    ~CliSession() override;

    // Prepares capture, mixer and connection and starts connecting. False (with exitCode()
    // set and the reason printed) when the broadcast cannot even begin.
    bool start();
    // Ends the run with `exitCode`: the event loop is left and shutdown() does the rest.
    void finish(int exitCode, const QString& message = QString());
    // Any thread: a termination request (Ctrl+C, SIGTERM).
    void requestStop();
    // After the event loop has returned: stops the broadcast and the connection in order.
    void shutdown();
    int exitCode() const { return m_exitCode; }

    // --list-devices and --list-apps; exit status.
    static int listDevices();
    static int listApps();

private:
    void onBroadcastingStarted();
    void onBroadcastingStopped();
    void onConnectionError(const QString& error);
    void onControllerError(const QString& error);
    void onReconnecting(int attempt, int maxAttempts, int countdown);
    void onSendCompleted(int bytes, qint64 latencyUs, bool success);
    void onListenerCheckFinished(OnAirVerdict verdict, qint64 afterAcceptedMs);
    void onStatusTick();
    void publishTitle();
    void onTitleSent();
    void onTitleRefused();
    void printTitleOutcome(TitleConfirmation::Outcome outcome, const QString& song);
    bool configureDecks();
    void configureMixer();
    QString statusText(bool forTerminal) const;
    // "  verified" and the like for the status line; empty with the check off.
    QString airCheckText() const;

    CliOptions m_options;
    Doredoradar m_controller;
    QString m_title;
    QString m_artist;
    // What the title request in flight publishes, as the server shows it.
    QString m_publishedSong;
    bool m_oggTitleNoted = false;
    bool m_finishing = false;
    bool m_shutDown = false;
    int m_exitCode = cli::kExitDone;

    enum class State { Connecting, OnAir, Reconnecting, Stopped };
    State m_state = State::Connecting;
    bool m_everOnAir = false;
    int m_reconnectAttempt = 0;
    // The listener check of the current connection.
    enum class AirCheck { Off, Running, Verified, NotVerified };
    AirCheck m_airCheck = AirCheck::Off;
    int m_reconnectMax = 0;
    int m_reconnectCountdown = 0;
    QElapsedTimer m_onAirClock;
    qint64 m_totalOnAirMs = 0;
    qint64 m_bytesSent = 0;
    qint64 m_bytesAtLastTick = 0;
    double m_sentKbps = 0.0;
    int m_ticks = 0;
    QTimer m_statusTimer;
    QTimer m_durationTimer;
};
