// The command-line broadcaster as a user runs it: a process against a real Icecast, capturing a
// private PulseAudio under Xvfb; what a listener hears, what a refusal and an interrupt do.
#include <signal.h>

#include <QtTest>

#include <memory>

#include "audio_probe.h"
#include "icecast_server.h"
#include "managed_process.h"
#include "pulse_server.h"
#include "test_environment.h"
#include "tone.h"
#include "xvfb_server.h"

namespace {

constexpr int kOnAirTimeoutMs = 20000;
constexpr double kToneHz = 440.0;

}  // namespace

class TestBroadcastCli : public QObject {
    Q_OBJECT

    TestEnvironment m_env;
    PulseServer m_pulse;
    XvfbServer m_xvfb;
    IcecastServer m_icecast;

    QString server(const QString& mount, const QString& password = QString()) const {
        return QStringLiteral("icecast://source:%1@127.0.0.1:%2%3")
            .arg(password.isEmpty() ? m_icecast.options().sourcePassword : password)
            .arg(m_icecast.port())
            .arg(mount);
    }

    QProcessEnvironment environment(bool withDisplay = true) const {
        QProcessEnvironment env = m_pulse.environment();
        if (withDisplay) {
            env.insert(QStringLiteral("DISPLAY"), m_xvfb.display());
        } else {
            env.remove(QStringLiteral("DISPLAY"));
        }
        return env;
    }

    // Runs the broadcaster against `mount` with the options in `more` (split as a shell would).
    void startCli(QProcess& cli, const QString& mount, const QString& more,
                  const QString& password = QString(), bool withDisplay = true) const {
        startCliIn(environment(withDisplay), cli, mount, more, password);
    }

    // The same in an environment of the caller's (another display or sound server).
    void startCliIn(const QProcessEnvironment& env, QProcess& cli, const QString& mount,
                    const QString& more, const QString& password = QString()) const {
        cli.setProcessEnvironment(env);
        cli.setProcessChannelMode(QProcess::MergedChannels);
        cli.start(QStringLiteral(DOREDORADAR_CLI_EXECUTABLE),
                  QStringList{server(mount, password)} + QProcess::splitCommand(more));
        QVERIFY(cli.waitForStarted(5000));
    }

    // Everything the process printed so far, kept across reads.
    static QString output(QProcess& cli, QString& seen) {
        seen += QString::fromLocal8Bit(cli.readAll());
        return seen;
    }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(m_pulse.start(&error), qPrintable(error));
        QVERIFY2(m_xvfb.start(&error), qPrintable(error));
        QVERIFY2(m_icecast.start(&error), qPrintable(error));
        QVERIFY(!m_pulse
                     .pactl({QStringLiteral("load-module"), QStringLiteral("module-sine"),
                             QStringLiteral("sink=mic_sink"), QStringLiteral("frequency=440")})
                     .trimmed()
                     .isEmpty());
    }

    // Ten seconds of Opus: a listener decodes the tone and the title the stream started with;
    // the run ends by itself with status 0.
    void broadcastsForTheGivenDuration() {
        QProcess cli;
        QString seen;
        startCli(cli, QStringLiteral("/cli"),
                 QStringLiteral("--deck1 Test_Microphone --duration 10 --title \"The Testers - "
                                "Night Train\" --name \"CLI Radio\""));
        QTRY_VERIFY2_WITH_TIMEOUT(output(cli, seen).contains(QStringLiteral("On air")),
                                  qPrintable(seen), kOnAirTimeoutMs);
        QVERIFY(seen.contains(
            QStringLiteral("Listen at http://127.0.0.1:%1/cli").arg(m_icecast.port())));
        QTest::qWait(4000);
        const QJsonObject source = m_icecast.sourceStats(QStringLiteral("/cli"));
        QCOMPARE(source.value(QStringLiteral("server_name")).toString(),
                 QStringLiteral("CLI Radio"));
        const AudioProbe probe =
            AudioProbe::of(m_icecast.listen(QStringLiteral("/cli"), 40000, 8000));
        QVERIFY2(probe.ok, qPrintable(probe.error));
        QCOMPARE(probe.codec, QStringLiteral("opus"));
        QCOMPARE(probe.channels, 2);
        QCOMPARE(probe.tags.value(QStringLiteral("title")), QStringLiteral("Night Train"));
        QCOMPARE(probe.tags.value(QStringLiteral("artist")), QStringLiteral("The Testers"));
        const double heard =
            tone::amplitudeS16(probe.pcm, 2, 0, 48000, kToneHz, probe.decodedSeconds - 1.7, 1.5);
        QVERIFY2(qAbs(tone::ratioDb(heard, 0.5)) < 1.0, qPrintable(QString::number(heard)));

        QVERIFY(cli.waitForFinished(15000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 0);
        QVERIFY2(output(cli, seen).contains(QStringLiteral("Stopped.")), qPrintable(seen));
        QVERIFY(!seen.contains(m_icecast.options().sourcePassword));
    }

    // MP3 carries no title of its own: the CLI publishes it through the server once on air,
    // characters that would break the query included.
    void mp3TitleIsPublishedToTheServer() {
        QProcess cli;
        QString seen;
        startCli(cli, QStringLiteral("/cli.mp3"),
                 QStringLiteral("--deck1 default --codec mp3 --duration 4 --title \"The Testers - "
                                "Night & Day = 1+1 100%\""));
        QTRY_VERIFY2_WITH_TIMEOUT(output(cli, seen).contains(QStringLiteral("title confirmed")),
                                  qPrintable(seen), kOnAirTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_icecast.sourceStats(QStringLiteral("/cli.mp3"))
                                      .value(QStringLiteral("title"))
                                      .toString(),
                                  QStringLiteral("The Testers - Night & Day = 1+1 100%"), 3000);
        QVERIFY(cli.waitForFinished(15000));
        QCOMPARE(cli.exitCode(), 0);
    }

    // Ctrl+C on air: a clean stop with status 0 within 2 s, and the mount is free again. While
    // it is on air, a second source for its mount is refused with status 3.
    void interruptStopsCleanly() {
        QProcess cli;
        QString seen;
        startCli(cli, QStringLiteral("/interrupted"), QStringLiteral("--deck1 1"));
        QTRY_VERIFY2_WITH_TIMEOUT(output(cli, seen).contains(QStringLiteral("On air")),
                                  qPrintable(seen), kOnAirTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(!m_icecast.sourceStats(QStringLiteral("/interrupted")).isEmpty(),
                                 5000);
        QProcess second;
        QString secondSeen;
        startCli(second, QStringLiteral("/interrupted"), QStringLiteral("--deck1 1"));
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 3);
        QVERIFY2(output(second, secondSeen)
                     .contains(QStringLiteral(
                         "Connection failed: Mount point already in use (HTTP 403)")),
                 qPrintable(secondSeen));
        // --check stops at the busy mount without logging in, and the source on it goes on
        // undisturbed: a listener stays connected across the check and hears the tone throughout.
        const QJsonValue streamStart = m_icecast.sourceStats(QStringLiteral("/interrupted"))
                                           .value(QStringLiteral("stream_start"));
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(QStringLiteral(DOREDORADAR_CLI_EXECUTABLE),
                    {QStringLiteral("--check"), server(QStringLiteral("/interrupted"))});
        QElapsedTimer listening;
        listening.start();
        const AudioProbe heard =
            AudioProbe::of(m_icecast.listen(QStringLiteral("/interrupted"), 1 << 20, 3000));
        QVERIFY(listening.elapsed() >= 2900);  // the listener was not dropped
        QVERIFY(check.waitForFinished(10000));
        const QString checked = QString::fromLocal8Bit(check.readAll());
        QCOMPARE(check.exitCode(), 3);
        QVERIFY2(checked.contains(QStringLiteral("[FAIL] Mount point: The mount point "
                                                 "/interrupted is in use by another source")) &&
                     checked.contains(QStringLiteral("[skip] Source login")),
                 qPrintable(checked));
        QVERIFY2(heard.ok, qPrintable(heard.error));
        for (double at = 0.5; at + 0.5 <= heard.decodedSeconds; at += 0.5) {
            const double level = tone::amplitudeS16(heard.pcm, 2, 0, 48000, kToneHz, at, 0.5);
            QVERIFY2(level > 0.3, qPrintable(QStringLiteral("%1 at %2 s").arg(level).arg(at)));
        }
        QCOMPARE(m_icecast.sourceStats(QStringLiteral("/interrupted"))
                     .value(QStringLiteral("stream_start")),
                 streamStart);

        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(cli.processId()), SIGINT);
        const bool finished = cli.waitForFinished(2000);
        const qint64 tookMs = clock.elapsed();
        if (!finished) cli.kill();
        QVERIFY2(finished, qPrintable(output(cli, seen)));
        QVERIFY2(tookMs <= 2000, qPrintable(QString::number(tookMs)));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_icecast.sourceStats(QStringLiteral("/interrupted")).isEmpty(),
                                 5000);
    }

    // Runs that end before going on air: the status, what the user is told, and never the
    // password.
    void refusedRuns_data() {
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("password");  // empty: the right one
        QTest::addColumn<bool>("withDisplay");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("told");
        QTest::newRow("wrong password")
            << "--deck1 default"
            << "wrong" << true << 3
            << QStringList{"Connection failed: Invalid username or password (HTTP 401)"};
        // Without an X display libobs cannot capture: the CLI says so and names xvfb-run.
        QTest::newRow("no X display") << "--deck1 default"
                                      << "" << false << 4 << QStringList{"xvfb-run", "X display"};
        // A device that is not there: the list of those that are.
        QTest::newRow("unknown device")
            << "--deck1 \"Studio Microphone\""
            << "" << true << 4
            << QStringList{"No input device \"Studio Microphone\"", "Test_Microphone"};
        QTest::newRow("usage error") << "--deck1 default --codec flac"
                                     << "" << true << 2 << QStringList{"--codec"};
    }

    void refusedRuns() {
        QFETCH(QString, options);
        QFETCH(QString, password);
        QFETCH(bool, withDisplay);
        QFETCH(QStringList, told);
        QProcess cli;
        QString seen;
        startCli(cli, QStringLiteral("/refused"), options, password, withDisplay);
        QVERIFY(cli.waitForFinished(20000));
        QTEST(cli.exitCode(), "exitCode");
        output(cli, seen);
        for (const QString& text : told) QVERIFY2(seen.contains(text), qPrintable(seen));
        QVERIFY(!seen.contains(password.isEmpty() ? m_icecast.options().sourcePassword : password));
    }

    // The way the README runs it on a machine without a display. xvfb-run's server resets when
    // its last client leaves, which must not make libobs's start-up fail now and again.
    void runsUnderXvfbRun() {
        for (int run = 0; run < 10; ++run) {
            QProcess cli;
            cli.setProcessEnvironment(environment(false));
            cli.setProcessChannelMode(QProcess::MergedChannels);
            cli.start(QStringLiteral("xvfb-run"),
                      {QStringLiteral("-a"), QStringLiteral(DOREDORADAR_CLI_EXECUTABLE),
                       QStringLiteral("--list-devices")});
            QVERIFY(cli.waitForFinished(15000));
            const QString text = QString::fromLocal8Bit(cli.readAll());
            QVERIFY2(cli.exitCode() == 0 && text.contains(QStringLiteral("Test_Microphone")),
                     qPrintable(QStringLiteral("run %1: %2").arg(run).arg(text)));
        }
    }

    // The X server ends mid-broadcast (a virtual display that is stopped, a session that ends):
    // the run stops cleanly with status 4 and lets the mount go, instead of crashing in libobs.
    void displayGoingAwayEndsTheRunCleanly() {
        XvfbServer display;
        QString error;
        QVERIFY2(display.start(&error), qPrintable(error));
        QProcessEnvironment env = environment(false);
        env.insert(QStringLiteral("DISPLAY"), display.display());
        QProcess cli;
        QString seen;
        startCliIn(env, cli, QStringLiteral("/xgone"), QStringLiteral("--deck1 Test_Microphone"));
        QTRY_VERIFY2_WITH_TIMEOUT(output(cli, seen).contains(QStringLiteral("On air")),
                                  qPrintable(seen), kOnAirTimeoutMs);
        QTest::qWait(1500);
        display.stop();
        QTRY_VERIFY_WITH_TIMEOUT(m_icecast.sourceStats(QStringLiteral("/xgone")).isEmpty(), 2000);
        const bool finished = cli.state() == QProcess::NotRunning || cli.waitForFinished(10000);
        if (!finished) cli.kill();
        QVERIFY2(finished, qPrintable(output(cli, seen)));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);  // no crash, no core dump
        QCOMPARE(cli.exitCode(), 4);
        QVERIFY2(output(cli, seen).contains(QStringLiteral("The X display went away")),
                 qPrintable(seen));
    }

    // The sound server goes away and comes back on the same socket (a crash and a restart),
    // mid-broadcast or before the first audio was mixed: the run stays on air on the same
    // connection, says what happened, and the deck is heard again.
    void soundServerRestartKeepsTheBroadcast_data() {
        QTest::addColumn<bool>("midBroadcast");
        QTest::addColumn<double>("heardSeconds");  // at least, in the 5 s after the restart
        QTest::newRow("mid-broadcast") << true << 4.5;
        QTest::newRow("before the first audio") << false << 1.5;
    }

    void soundServerRestartKeepsTheBroadcast() {
        QFETCH(bool, midBroadcast);
        QFETCH(double, heardSeconds);
        PulseServer pulse;
        QString error;
        QVERIFY2(pulse.start(&error), qPrintable(error));
        const QStringList tone{QStringLiteral("load-module"), QStringLiteral("module-sine"),
                               QStringLiteral("sink=mic_sink"), QStringLiteral("frequency=440")};
        QVERIFY(!pulse.pactl(tone).trimmed().isEmpty());
        QProcessEnvironment env = pulse.environment();
        env.insert(QStringLiteral("DISPLAY"), m_xvfb.display());
        QProcess cli;
        QString seen;
        startCliIn(env, cli, QStringLiteral("/restart"), QStringLiteral("--deck1 Test_Microphone"));
        QTRY_VERIFY2_WITH_TIMEOUT(output(cli, seen).contains(QStringLiteral("On air")),
                                  qPrintable(seen), kOnAirTimeoutMs);
        QJsonValue streamStart;
        QTRY_VERIFY_WITH_TIMEOUT(!(streamStart = m_icecast.sourceStats(QStringLiteral("/restart"))
                                                     .value(QStringLiteral("stream_start")))
                                      .isUndefined(),
                                 5000);
        if (midBroadcast) {
            QCOMPARE(m_icecast.listen(QStringLiteral("/restart"), 8000, 5000).size(), 8000);
        }

        pulse.stop();
        QTRY_VERIFY2_WITH_TIMEOUT(output(cli, seen).contains(QStringLiteral(
                                      "Deck 1 lost its input: the sound server went away")),
                                  qPrintable(seen), 3000);
        QVERIFY2(pulse.start(&error), qPrintable(error));
        QVERIFY(!pulse.pactl(tone).trimmed().isEmpty());
        // What a listener gets until 5 s after the restart ends with the tone. Mid-broadcast it
        // is the server's burst of the last seconds and then 5 s of live stream: a stream that
        // stalled would end with the burst alone.
        const AudioProbe probe =
            AudioProbe::of(m_icecast.listen(QStringLiteral("/restart"), 1 << 20, 5000));
        QVERIFY2(probe.ok, qPrintable(probe.error + output(cli, seen)));
        QVERIFY2(probe.decodedSeconds > heardSeconds,
                 qPrintable(QString::number(probe.decodedSeconds)));
        const double heard =
            tone::amplitudeS16(probe.pcm, 2, 0, 48000, kToneHz, probe.decodedSeconds - 1.2, 1.0);
        QVERIFY2(qAbs(tone::ratioDb(heard, 0.5)) < 1.0,
                 qPrintable(QStringLiteral("%1\n%2").arg(heard).arg(output(cli, seen))));

        // One connection all along: the server's stream never restarted, no reconnect.
        QCOMPARE(
            m_icecast.sourceStats(QStringLiteral("/restart")).value(QStringLiteral("stream_start")),
            streamStart);
        QVERIFY(!output(cli, seen).contains(QStringLiteral("Reconnecting")));
        QTRY_VERIFY2_WITH_TIMEOUT(
            output(cli, seen).contains(QStringLiteral("Deck 1 has its input back")),
            qPrintable(seen), 5000);
        ::kill(pid_t(cli.processId()), SIGINT);
        QVERIFY(cli.waitForFinished(5000));
        QCOMPARE(cli.exitCode(), 0);
    }

    // A deck that sends silence: dead air after the given time, said once and shown in the
    // status line; when a tone starts, sound is back.
    void deadAirIsReportedAndSoundBack() {
        QVERIFY(m_pulse.addSinkWithInput(QStringLiteral("quiet")));
        QProcess cli;
        QString seen;
        startCli(cli, QStringLiteral("/quiet"),
                 QStringLiteral("--deck1 quiet_in --dead-air-seconds 2"));
        QTRY_VERIFY2_WITH_TIMEOUT(output(cli, seen).contains(QStringLiteral("On air")),
                                  qPrintable(seen), kOnAirTimeoutMs);
        QTRY_VERIFY2_WITH_TIMEOUT(
            output(cli, seen).contains(QStringLiteral("Dead air: nothing above -50 dBFS for 2 s")),
            qPrintable(seen), 8000);
        QTRY_VERIFY2_WITH_TIMEOUT(output(cli, seen).contains(QStringLiteral("  DEAD AIR")),
                                  qPrintable(seen), 12000);
        QVERIFY(!m_pulse
                     .pactl({QStringLiteral("load-module"), QStringLiteral("module-sine"),
                             QStringLiteral("sink=quiet"), QStringLiteral("frequency=440")})
                     .trimmed()
                     .isEmpty());
        QTRY_VERIFY2_WITH_TIMEOUT(output(cli, seen).contains(QStringLiteral("Sound is back")),
                                  qPrintable(seen), 8000);
        QCOMPARE(seen.count(QStringLiteral("Dead air:")), 2);  // the log line and the notice
        ::kill(pid_t(cli.processId()), SIGINT);
        QVERIFY(cli.waitForFinished(5000));
    }

    // Last (it stops the server): without reconnecting, a lost connection ends the run with 5.
    void lostConnectionWithoutReconnectExitsWithFive() {
        QProcess cli;
        QString seen;
        startCli(cli, QStringLiteral("/lost"), QStringLiteral("--deck1 default --no-reconnect"));
        QTRY_VERIFY2_WITH_TIMEOUT(output(cli, seen).contains(QStringLiteral("On air")),
                                  qPrintable(seen), kOnAirTimeoutMs);
        m_icecast.stop();
        QVERIFY(cli.waitForFinished(15000));
        QCOMPARE(cli.exitCode(), 5);
        QVERIFY2(output(cli, seen).contains(QLatin1String("Gave up reconnecting")),
                 qPrintable(seen));
    }
};

QTEST_GUILESS_MAIN(TestBroadcastCli)
#include "test_broadcast_cli.moc"
