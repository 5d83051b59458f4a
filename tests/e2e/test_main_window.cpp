// The main window end to end under Xvfb: a stored token logs in through the stand-in cloud in
// front of a real Icecast, the PulseAudio test microphone goes on air and a listener decodes it;
// the server start, the reconnect series, a token revoked while live, titles and closing.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

#include <functional>
#include <memory>

#include "audio/encoder_settings.h"
#include "audio/gstreamer_mixer.h"
#include "audio/voice_ducker.h"
#include "audio_probe.h"
#include "broadcast/broadcaster.h"
#include "broadcast/icecast_client.h"
#include "cloud/ondaro_api_client.h"
#include "core/app_identity.h"
#include "core/settings_keys.h"
#include "core/settings_manager.h"
#include "dev_cloud_server.h"
#include "icecast_server.h"
#include "log_capture.h"
#include "metadata/metadata_manager.h"
#include "pulse_server.h"
#include "test_environment.h"
#include "tone.h"
#include "tray_host.h"
#include "ui/app_state.h"
#include "ui/connection_check_dialog.h"
#include "ui/deck_input_controller.h"
#include "ui/main_window.h"
#include "ui/settings_dialog.h"
#include "ui/widgets/shadow_slider.h"
#include "ui/widgets/stereo_vu_meter.h"
#include "xvfb_server.h"

namespace {

const QString kSourcePassword = QStringLiteral("Zq81-main-window-source");
const QString kMount = QStringLiteral("/live");
constexpr double kMicHz = 440.0;
constexpr double kProgramHz = 1000.0;
constexpr int kLiveTimeoutMs = 20000;

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<IcecastServer> m_icecast;
    std::unique_ptr<DevCloudServer> m_cloud;
    QString m_token;
    QString m_secondChannelId;
    std::unique_ptr<MainWindow> m_window;
    QStringList m_alerts;
    std::function<bool()> m_confirm;
    int m_closeQuestions = 0;
    int m_closeAnswer = AlertDialog::kCancel;
    bool m_checkConnection = false;  // the answer to a failed Go Live's alert

    AppState* state() { return m_window->appState(); }
    QPushButton* connectButton() { return m_window->findChild<QPushButton*>("connectButton"); }

    // A window over the stored token, logged in with its server online and deck 1 on the test
    // microphone.
    void openWindow() {
        showWindow();
        QTRY_VERIFY_WITH_TIMEOUT(state()->isLoggedIn() && state()->serverOnline(), 20000);
        chooseDeck1();
    }

    // A new window whose alerts are recorded and whose questions the test answers.
    void showWindow() {
        m_alerts.clear();
        m_confirm = [] { return true; };
        m_closeAnswer = AlertDialog::kExit;
        m_window = std::make_unique<MainWindow>();
        MainWindow::Prompts prompts;
        prompts.notify = [this](AlertDialog::Variant, const QString& title, const QString& text) {
            m_alerts << title + QStringLiteral(": ") + text;
        };
        prompts.confirm = [this](const QString&, const QString&, const QString&, const QString&) {
            return m_confirm();
        };
        prompts.connectionFailed = [this](const QString& title, const QString& text) {
            m_alerts << title + QStringLiteral(": ") + text;
            return m_checkConnection;
        };
        prompts.askCloseAction = [this](const QString&, const QString&) {
            ++m_closeQuestions;
            return m_closeAnswer;
        };
        m_window->setPrompts(prompts);
        m_window->show();
    }

    void chooseDeck1() {
        auto* deck1 = m_window->findChild<QComboBox*>(QStringLiteral("deck1Input"));
        const int mic = deck1->findData(QStringLiteral("test_mic"));
        QVERIFY(mic > 0);
        deck1->setCurrentIndex(mic);
        Q_EMIT deck1->activated(mic);
        QTest::qWait(400);  // the deck starts 250 ms after the choice
    }

    StereoVUMeter* meter(const QString& accessibleName) {
        for (auto* widget : m_window->findChildren<StereoVUMeter*>()) {
            if (widget->accessibleName() == accessibleName) return widget;
        }
        return nullptr;
    }

    // Deck 2 on the program playing 1000 Hz at -12 dBFS, chosen through the picker; returns once
    // its meter reads the tone.
    void chooseProgramOnDeck2() {
        m_window->deckInputs()->setProgramPicker(
            [](const QList<CaptureProgram>& programs) -> std::optional<CaptureProgram> {
                for (const CaptureProgram& program : programs) {
                    if (program.window.endsWith(QLatin1String(":gst-launch-1.0"))) return program;
                }
                return std::nullopt;
            });
        auto* deck2 = m_window->findChild<QComboBox*>(QStringLiteral("deck2Input"));
        const int programItem = deck2->findData(DeckInputController::kProgramItem);
        deck2->setCurrentIndex(programItem);
        Q_EMIT deck2->activated(programItem);
        StereoVUMeter* deck2Meter = meter(QStringLiteral("Deck 2 level"));
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(deck2Meter->look().levels.peakLeft + 12.0f) <= 1.0f, 10000);
    }

    void goLive() {
        QTest::mouseClick(connectButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(state()->isBroadcasting(), kLiveTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(!m_icecast->sourceStats(kMount).isEmpty(), 10000);
    }

    void closeWindow() {
        m_closeAnswer = AlertDialog::kExit;
        m_window->close();
        m_window.reset();
        QTRY_VERIFY_WITH_TIMEOUT(m_icecast->sourceStats(kMount).isEmpty(), 10000);
    }

private Q_SLOTS:
    void initTestCase() {
        m_log = std::make_unique<LogCapture>(false);
        IcecastServer::Options options;
        options.sourcePassword = kSourcePassword;
        m_icecast = std::make_unique<IcecastServer>(options);
        QString error;
        QVERIFY2(m_icecast->start(&error), qPrintable(error));
        m_cloud = std::make_unique<DevCloudServer>(m_icecast.get());
        DevCloudServer::Account account;
        account.channels = {{QStringLiteral("/other"), kSourcePassword}, {kMount, kSourcePassword}};
        m_token = m_cloud->addAccount(account);
        QVERIFY2(m_cloud->start(&error), qPrintable(error));
        m_cloud->exportEnvironment();
        // Only now: applied before the stand-in started, its HTTPS control requests fail.
        appidentity::apply();
        // The last channel used is the second one: the window must come back to it.
        OndaroApiClient client;
        QSignalSpy received(&client, &OndaroApiClient::accountInfoReceived);
        client.fetchAccountInfo(m_token);
        QVERIFY(received.wait(10000));
        m_secondChannelId = received.first().first().value<OndaroAccount>().channels.value(1).id;
        SettingsManager settings;
        QVERIFY(settings.setOndaroPrivateToken(m_token));
        settings.setLastSelectedChannelId(m_secondChannelId);
    }

    void cleanup() {
        m_window.reset();
        QSettings settings;  // every case starts from the default audio and encoder settings
        settings.remove(QStringLiteral("audio"));
        settings.remove(QStringLiteral("encoder"));
        settings.remove(QStringLiteral("metadata"));
        m_cloud->setFaults(m_token, {});
        m_cloud->setServerRunning(m_token, true);
    }

    void cleanupTestCase() {
        // Neither the token nor the source password ever reaches the log.
        for (const QString& line : m_log->lines()) {
            QVERIFY2(!line.contains(m_token), qPrintable(line));
            QVERIFY2(!line.contains(kSourcePassword), qPrintable(line));
        }
    }

    // The stored channel comes back, the microphone goes on air and reaches a listener, and
    // Stop (confirmed) frees the mount.
    void goesLiveAndStops() {
        openWindow();
        QCOMPARE(state()->selectedChannelId(), m_secondChannelId);
        // MP3: a listener joining mid-stream decodes from any frame (the Ogg codecs' own
        // listeners are proven by the broadcast tests).
        Q_EMIT m_window->settingsDialog()->encoderChanged(QStringLiteral("MP3"));
        // Both decks carry a tone; the crossfader fully left leaves deck 2 out of the mix.
        chooseProgramOnDeck2();
        m_window->findChild<ShadowSlider*>(QStringLiteral("crossfader"))->setValue(-100);
        goLive();
        QTest::qWait(3000);  // what the listener's burst will hold
        const AudioProbe probe = AudioProbe::of(m_icecast->listen(kMount, 64000, 12000));
        QVERIFY2(probe.ok, qPrintable(probe.error));
        // The newest second: the stream's first second may still be the decks starting up.
        QVERIFY2(probe.decodedSeconds > 2.0, qPrintable(QString::number(probe.decodedSeconds)));
        const double from = probe.decodedSeconds - 1.2;
        const double heard = tone::amplitudeS16(probe.pcm, 2, 0, 48000, kMicHz, from, 1.0);
        const double deck2 = tone::amplitudeS16(probe.pcm, 2, 0, 48000, kProgramHz, from, 1.0);
        // Deck 2 let through would read about 0.2; what the encoder leaves near 1 kHz is ~0.006.
        QVERIFY2(heard > 0.05 && deck2 < 0.03, qPrintable(QStringLiteral("%1 and %2 over %3 s")
                                                              .arg(heard)
                                                              .arg(deck2)
                                                              .arg(probe.decodedSeconds)));
        QTest::mouseClick(connectButton(), Qt::LeftButton);
        QTRY_COMPARE(state()->connectionState(), AppState::Disconnected);
        QTRY_VERIFY_WITH_TIMEOUT(m_icecast->sourceStats(kMount).isEmpty(), 10000);
        QVERIFY(m_alerts.isEmpty());
    }

    // An offline server is started by Go Live, which goes on air once the statistics report it
    // online; statistics that never do end at the deadline, back at "Go Live".
    void startsTheServerForGoLive() {
        m_cloud->setServerRunning(m_token, false);
        openWindowWhileOffline();
        chooseDeck1();
        goLive();
        QVERIFY(m_alerts.isEmpty());
        closeWindow();

        m_cloud->setServerRunning(m_token, false);
        m_cloud->setFaults(m_token, QJsonObject{{QStringLiteral("stats"),
                                                 QJsonObject{{QStringLiteral("status"), 500}}}});
        openWindowWhileOffline();
        chooseDeck1();
        m_window->setServerStartDeadlineMs(3000);
        QTest::mouseClick(connectButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!m_alerts.isEmpty(), 10000);
        QVERIFY2(m_alerts.first().startsWith(QStringLiteral("Connection Failed: ")),
                 qPrintable(m_alerts.first()));
        QCOMPARE(state()->connectionState(), AppState::Disconnected);
        QVERIFY(connectButton()->isEnabled());
        QCOMPARE(connectButton()->text(), QStringLiteral("Go Live"));
    }

    // While the server is away the window counts down and offers Cancel, which ends it; a loss
    // during the Stop question also ends disconnected.
    void reconnectsAndCancels() {
        openWindow();
        goLive();
        m_icecast->stop();
        QTRY_COMPARE_WITH_TIMEOUT(state()->connectionState(), AppState::Reconnecting, 10000);
        QVERIFY(
            m_window->findChild<QWidget*>(QStringLiteral("reconnectStatusContainer"))->isVisible());
        QTest::mouseClick(connectButton(), Qt::LeftButton);
        QTRY_COMPARE(state()->connectionState(), AppState::Disconnected);
        QString error;
        QVERIFY2(m_icecast->restart(&error), qPrintable(error));

        goLive();
        m_confirm = [this] {
            m_icecast->stop();
            const QDeadlineTimer deadline(10000);
            while (m_window->broadcaster()->icecastClient()->isConnected() &&
                   !deadline.hasExpired())
                QTest::qWait(50);
            return true;
        };
        QTest::mouseClick(connectButton(), Qt::LeftButton);
        QTRY_COMPARE(state()->connectionState(), AppState::Disconnected);
        QVERIFY2(m_icecast->restart(&error), qPrintable(error));
    }

    // A token the cloud no longer accepts while live: the broadcast stops, the mount is freed,
    // the account is cleared and the window asks for the login.
    void revokedTokenWhileLiveLogsOut() {
        openWindow();
        goLive();
        QSignalSpy logout(m_window.get(), &MainWindow::logoutRequested);
        m_cloud->setFaults(m_token, QJsonObject{{QStringLiteral("account_info"),
                                                 QJsonObject{{QStringLiteral("status"), 401}}}});
        Q_EMIT m_window->settingsDialog()->refreshChannelsRequested();
        QTRY_COMPARE_WITH_TIMEOUT(logout.count(), 1, 10000);
        QVERIFY(!state()->isLoggedIn() && !m_window->broadcaster()->isBroadcasting());
        QTRY_VERIFY_WITH_TIMEOUT(m_icecast->sourceStats(kMount).isEmpty(), 10000);
        // The logout forgot all the account left behind.
        QVERIFY(!SettingsManager().hasOndaroPrivateToken());
        QVERIFY(SettingsManager().getLastSelectedChannelId().isEmpty());
        SettingsManager settings;
        QVERIFY(settings.setOndaroPrivateToken(m_token));
        settings.setLastSelectedChannelId(m_secondChannelId);
    }

    // "A - B - C" reaches the server whole on MP3; on Opus titles cannot change mid-stream; a
    // file source that goes away hands the row back to the manual entry.
    void titleRow() {
        openWindow();
        Q_EMIT m_window->settingsDialog()->encoderChanged(QStringLiteral("MP3"));
        goLive();
        auto* entry = m_window->findChild<QLineEdit*>(QStringLiteral("metadataEntry"));
        auto* update = m_window->findChild<QPushButton*>(QStringLiteral("updateMetadataButton"));
        QTRY_VERIFY2(update->isEnabled(), qPrintable(update->toolTip()));
        entry->setText(QStringLiteral("A - B - C"));
        QTest::mouseClick(update, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(
            m_icecast->sourceStats(kMount).value(QStringLiteral("title")).toString(),
            QStringLiteral("A - B - C"), 10000);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("now.txt"));
        QVERIFY(testsupport::writeFile(path, "Artist - Song\n"));
        Q_EMIT m_window->settingsDialog()->metadataFilePathChanged(path);
        Q_EMIT m_window->settingsDialog()->metadataSourceChanged(QStringLiteral("File"));
        Q_EMIT m_window->settingsDialog()->metadataSettingsConfirmed();
        QTRY_VERIFY(!update->isEnabled());
        QFile::remove(path);
        QTRY_VERIFY_WITH_TIMEOUT(update->isEnabled(), 10000);
        QCOMPARE(m_window->metadataManager()->source(), MetadataSource::Manual);
        closeWindow();

        openWindow();
        Q_EMIT m_window->settingsDialog()->encoderChanged(QStringLiteral("OGG Opus"));
        goLive();
        QVERIFY(!m_window->findChild<QPushButton*>(QStringLiteral("updateMetadataButton"))
                     ->isEnabled());
    }

    // A codec chosen while live waits for the broadcast's end: after a reconnect the mount
    // still carries MP3, and the next Go Live is Opus.
    void encoderChangeWaitsForTheEnd() {
        openWindow();
        Q_EMIT m_window->settingsDialog()->encoderChanged(QStringLiteral("MP3"));
        goLive();
        const auto format = [this] {
            return m_icecast->sourceStats(kMount).value(QStringLiteral("server_type")).toString();
        };
        QCOMPARE(format(), QStringLiteral("audio/mpeg"));
        Q_EMIT m_window->settingsDialog()->encoderChanged(QStringLiteral("OGG Opus"));
        QString error;
        QVERIFY2(m_icecast->restart(&error), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(state()->connectionState(), AppState::Reconnecting, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(state()->connectionState(), AppState::Connected, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(format(), QStringLiteral("audio/mpeg"), 10000);
        QTest::mouseClick(connectButton(), Qt::LeftButton);
        QTRY_COMPARE(state()->connectionState(), AppState::Disconnected);
        QTRY_VERIFY_WITH_TIMEOUT(m_icecast->sourceStats(kMount).isEmpty(), 10000);
        goLive();
        QCOMPARE(format(), QStringLiteral("audio/ogg"));
    }

    // A Go Live refused for a busy mount: its alert's "Check connection" names the mount.
    void failedGoLiveOffersTheCheck() {
        IcecastClient other;
        other.connectToServerAsync(m_icecast->host(), m_icecast->port(), kMount,
                                   QStringLiteral("source"), kSourcePassword);
        QTRY_VERIFY_WITH_TIMEOUT(!m_icecast->sourceStats(kMount).isEmpty(), 5000);
        openWindow();
        m_checkConnection = true;
        QTest::mouseClick(connectButton(), Qt::LeftButton);
        ConnectionCheckDialog* dialog = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(dialog = m_window->findChild<ConnectionCheckDialog*>(),
                                 kLiveTimeoutMs);
        const auto shown = [dialog] {
            QStringList texts;
            for (const QLabel* label : dialog->findChildren<QLabel*>()) texts << label->text();
            return texts.join(QLatin1Char('\n'));
        };
        QTRY_VERIFY2_WITH_TIMEOUT(shown().contains(QStringLiteral("The mount point /live is in "
                                                                  "use by another source")),
                                  qPrintable(shown()), 10000);
        m_checkConnection = false;
        other.disconnectFromServer();
    }

    // Stored settings come back: a device that is missing keeps its name, a stored preset gives
    // the mixer that preset's values, and a stored file source under Opus stays Manual.
    void settingsSurviveARestart() {
        QSettings settings;
        settingskeys::write(settings, settingskeys::kDeck2Device,
                            QStringLiteral("USB Mic (unplugged)"));
        settingskeys::write(settings, settingskeys::kDuckingPreset, 2);
        QTemporaryDir dir;
        const QString titles = dir.filePath(QStringLiteral("now.txt"));
        QVERIFY(testsupport::writeFile(titles, "Artist - Song\n"));
        settingskeys::write(settings, settingskeys::kMetadataSource, 1);
        settingskeys::write(settings, settingskeys::kMetadataFilePath, titles);
        openWindow();
        // Opus, the default, locks the list at Manual: Manual is also what runs.
        QCOMPARE(m_window->metadataManager()->source(), MetadataSource::Manual);
        const auto config = m_window->broadcaster()->mixer()->duckingConfig();
        QCOMPARE(config.thresholdDb, float(kDuckingPresets[2].thresholdDb));
        QCOMPARE(config.releaseMs, kDuckingPresets[2].releaseMs);
        closeWindow();
        QSettings after;
        QCOMPARE(settingskeys::read(after, settingskeys::kDeck2Device),
                 QStringLiteral("USB Mic (unplugged)"));
        QCOMPARE(settingskeys::read(after, settingskeys::kDuckingPreset), 2);
        QCOMPARE(settingskeys::read(after, settingskeys::kDuckingThreshold),
                 double(kDuckingPresets[2].thresholdDb));
    }

    // The meters read what the decks carry: a -12 dBFS program tone reads -12 dB on its deck,
    // the voice button ducks the other deck, the master fader moves the master meter by its dB,
    // and a muted deck draws pale.
    void metersAndDucking() {
        openWindow();
        chooseProgramOnDeck2();
        const auto button = [this](const QString& name) {
            for (auto* widget : m_window->findChildren<QAbstractButton*>()) {
                if (widget->accessibleName() == name) return widget;
            }
            return static_cast<QAbstractButton*>(nullptr);
        };
        StereoVUMeter* deck2Meter = meter(QStringLiteral("Deck 2 level"));

        QTest::mouseClick(button(QStringLiteral("Deck 1 voice ducking")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(deck2Meter->look().ducked, 5000);
        QTest::mouseClick(button(QStringLiteral("Deck 1 voice ducking")), Qt::LeftButton);
        QVERIFY(!deck2Meter->look().ducked);

        QTest::mouseClick(button(QStringLiteral("Deck 1 mute")), Qt::LeftButton);
        StereoVUMeter* master = meter(QStringLiteral("Master level"));
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(master->look().levels.peakLeft + 12.0f) <= 1.0f, 5000);
        for (auto* slider : m_window->findChildren<ShadowSlider*>()) {
            if (slider->accessibleName() == QLatin1String("Master volume")) slider->setValue(-60);
        }
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(master->look().levels.peakLeft + 18.0f) <= 1.0f, 5000);
        QTest::mouseClick(button(QStringLiteral("Deck 2 mute")), Qt::LeftButton);
        QVERIFY(deck2Meter->look().muted);
    }

    // Go Live with no deck: the broadcaster's alert, disconnected, nothing left on the mount.
    void goLiveWithoutDeck() {
        openWindowWhileOffline();  // logged in; no deck chosen
        QTest::mouseClick(connectButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!m_alerts.isEmpty(), kLiveTimeoutMs);
        QCOMPARE(m_alerts.join(QLatin1Char('|')),
                 QStringLiteral("Error: No audio input selected - please select "
                                "at least one deck input"));
        QTRY_COMPARE(state()->connectionState(), AppState::Disconnected);
        QTRY_VERIFY_WITH_TIMEOUT(m_icecast->sourceStats(kMount).isEmpty(), 10000);
    }

    // Minimising to the tray keeps the broadcast; the tray's Exit then Cancel leaves the next
    // close asking again; without a notification area the question is never asked.
    void closingAndTray() {
        openWindow();
        m_window->settingsDialog()->setMinimizeToTray(true);
        goLive();
        m_closeQuestions = 0;
        m_confirm = [] { return false; };
        m_window->close();  // no tray host yet: straight to the quit question
        QCOMPARE(m_closeQuestions, 0);
        QVERIFY(m_window->isVisible());

        TrayHost host;
        QVERIFY(host.start(qEnvironmentVariable("DISPLAY")));
        m_closeAnswer = AlertDialog::kMinimizeToTray;
        m_window->close();
        QCOMPARE(m_closeQuestions, 1);
        QVERIFY(!m_window->isVisible() && m_window->broadcaster()->isBroadcasting());

        m_confirm = [] { return false; };
        QMetaObject::invokeMethod(m_window.get(), "onTrayExitRequested");
        QVERIFY(m_window->broadcaster()->isBroadcasting());
        m_closeAnswer = AlertDialog::kCancel;
        m_window->close();
        QCOMPARE(m_closeQuestions, 2);
        QVERIFY(m_window->broadcaster()->isBroadcasting());
        closeWindow();
    }

private:
    // A window logged in while its server may be offline; no deck chosen.
    void openWindowWhileOffline() {
        showWindow();
        QTRY_VERIFY_WITH_TIMEOUT(state()->isLoggedIn() && !state()->selectedChannelId().isEmpty(),
                                 20000);
    }
};

int main(int argc, char** argv) {
    TestEnvironment environment;
    XvfbServer xvfb;
    PulseServer pulse;
    QString error;
    if (!xvfb.start(&error) || !pulse.start(&error)) qFatal("%s", qPrintable(error));
    xvfb.applyToProcess();
    pulse.applyToProcess();
    if (pulse.pactl({"load-module", "module-sine", "sink=mic_sink", "frequency=440"})
            .trimmed()
            .isEmpty())
        qFatal("no sine on the microphone");
    // A program playing 1000 Hz at -12 dBFS, for deck 2.
    const auto program = pulse.playTone(QStringLiteral("test_sink"), kProgramHz,
                                        QStringLiteral("TonePlayer"), 0.2512);
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    QApplication app(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_main_window.moc"
