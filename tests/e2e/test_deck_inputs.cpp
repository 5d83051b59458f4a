// The deck inputs, the monitor state and the program picker on the broadcast rig: real capture
// from a private PulseAudio (a microphone tone, a program playing), the real mixer and monitor;
// the window's widgets stand alone and the picker's answer is injected.
#include <QtTest>

#include <QComboBox>
#include <QPushButton>
#include <optional>

#include "audio/obs_audio_manager.h"
#include "broadcast_rig.h"
#include "scripted_source_server.h"
#include "ui/deck_input_controller.h"

class TestDeckInputs : public QObject {
    Q_OBJECT

    TestEnvironment m_env;
    BroadcastRig m_rig;
    QWidget m_window;
    std::array<QComboBox*, 2> m_decks{new QComboBox(&m_window), new QComboBox(&m_window)};
    std::array<QWidget*, 2> m_cards{new QWidget(&m_window), new QWidget(&m_window)};
    QComboBox* m_output = new QComboBox(&m_window);
    QPushButton* m_monitorMuted = new QPushButton(&m_window);
    std::unique_ptr<DeckInputController> m_inputs;
    bool m_pickerCancels = false;
    std::optional<CaptureProgram> m_picked;
    QStringList m_alerts;

    OBSAudioManager* capture() { return m_rig.controller().audioManager(); }
    bool monitorOn() { return m_rig.controller().mixer()->isMonitorEnabled(); }
    void choose(int deck, const QVariant& data) {
        const int index = m_decks[deck - 1]->findData(data);
        QVERIFY(index >= 0);
        m_decks[deck - 1]->setCurrentIndex(index);  // as the combo does before `activated`
        m_inputs->onDeckInputChanged(deck, index);
    }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(m_rig.start(&error), qPrintable(error));
        m_monitorMuted->setCheckable(true);
        // Both decks unmuted at 0 dB.
        m_inputs = std::make_unique<DeckInputController>(DeckInputController::Controls{
            &m_rig.controller(), m_decks, m_cards, m_output, m_monitorMuted});
        m_inputs->setProgramPicker([this](const QList<CaptureProgram>& programs) {
            m_picked.reset();
            for (const CaptureProgram& program : programs) {
                if (!m_pickerCancels && program.window.endsWith(":gst-launch-1.0"))
                    m_picked = program;
            }
            return m_picked;
        });
        m_inputs->setAlertPresenter([this](DeckInputController::AlertKind, const QString& title,
                                           const QString&) { m_alerts << title; });
        connect(m_monitorMuted, &QPushButton::toggled, m_inputs.get(),
                &DeckInputController::applyMonitorState);
        m_inputs->refreshInputDevices();
        m_inputs->refreshMonitorDevices();
        QVERIFY(m_output->count() > 1);
    }

    void init() {
        m_pickerCancels = false;
        m_monitorMuted->setChecked(false);
        m_output->setCurrentIndex(1);
        choose(1, QStringLiteral("test_mic"));
        QTRY_VERIFY(capture()->isDeckActive(1) && monitorOn());
    }

    void cleanup() { m_rig.reset(); }

    void secondDeviceWithin250MsIsTheOnlyOneStarted() {
        const QStringList ids = capture()->getInputDeviceIds();
        QVERIFY(ids.size() > 1);
        QElapsedTimer sinceSecond;
        QList<qint64> startsMs;
        QObject scope;
        connect(capture(), &OBSAudioManager::deckStarted, &scope,
                [&] { startsMs << sinceSecond.elapsed(); });
        choose(1, ids.last());
        QTest::qWait(DeckInputController::kDeviceStartDelayMs / 2);
        sinceSecond.start();
        choose(1, ids.first());
        QTest::qWait(DeckInputController::kDeviceStartDelayMs * 3);
        QCOMPARE(startsMs.size(), 1);
        QVERIFY(startsMs.first() >= DeckInputController::kDeviceStartDelayMs);
        QCOMPARE(capture()->deckInputId(1), ids.first());
    }

    void mutedMonitorIsNeverSwitchedOnByADeck() {
        m_monitorMuted->setChecked(true);
        QVERIFY(!monitorOn());
        choose(1, QStringLiteral("test_mic"));
        QTest::qWait(DeckInputController::kDeviceStartDelayMs * 2);
        QVERIFY(!monitorOn());
        QVERIFY(capture()->isDeckActive(1));

        // While live the monitor comes back late on its new source, unless muted meanwhile.
        ScriptedSourceServer server;
        server.setSourceReplies({ScriptedSourceServer::Reply::answer("HTTP/1.0 200 OK\r\n\r\n")});
        m_rig.controller().connectAndBroadcast(QStringLiteral("127.0.0.1"), server.port(),
                                               QStringLiteral("/live"), QStringLiteral("source"),
                                               QStringLiteral("secret"));
        QTRY_VERIFY(m_rig.controller().isBroadcasting() &&
                    !m_rig.controller().isMonitorPrimeActive());
        m_monitorMuted->setChecked(false);
        QTRY_VERIFY(monitorOn());
        m_inputs->applyMonitorState();
        m_monitorMuted->setChecked(true);
        QTest::qWait(DeckInputController::kMonitorReenableDelayMs * 4);
        QVERIFY(!monitorOn());
    }

    void programPickedOnDeck2ReachesTheMixer() {
        choose(2, -1);
        float deck2Peak = 0.0f;
        QObject scope;
        connect(m_rig.controller().mixer(), &GStreamerMixer::levelsUpdated, &scope,
                [&deck2Peak](float, float deck2, float) { deck2Peak = deck2; });
        choose(2, DeckInputController::kProgramItem);
        QCOMPARE(m_decks[1]->currentText(), m_picked->name);
        QCOMPARE(m_decks[1]->currentData().toInt(), DeckInputController::kCapturedProgramItem);
        QVERIFY(m_cards[1]->property("active").toBool());
        QTRY_VERIFY(deck2Peak > 0.3f);
        QTRY_VERIFY(monitorOn());

        // Refreshing the list keeps both decks' inputs, shown as they were, and restarts nothing.
        QSignalSpy started(capture(), &OBSAudioManager::deckStarted);
        m_inputs->refreshInputDevices();
        QCOMPARE(m_decks[0]->currentData().toString(), QStringLiteral("test_mic"));
        QCOMPARE(m_decks[1]->currentText(), m_picked->name);
        QTest::qWait(DeckInputController::kDeviceStartDelayMs * 2);
        QCOMPARE(started.count(), 0);
    }

    // Last: it ends the program.
    void cancelledPickerAndNoProgramsKeepTheInput() {
        const QString micText = m_decks[0]->currentText();
        for (bool noPrograms : {false, true}) {
            m_pickerCancels = true;
            if (noPrograms) m_rig.stopPrograms();
            QTRY_VERIFY_WITH_TIMEOUT(!noPrograms || capture()->getRunningApplications().isEmpty(),
                                     10000);
            choose(1, DeckInputController::kProgramItem);
            QCOMPARE(m_decks[0]->currentText(), micText);
            QCOMPARE(m_decks[0]->itemText(m_decks[0]->count() - 1),
                     QStringLiteral("Capture from program..."));
            QCOMPARE(capture()->deckInputId(1), QStringLiteral("test_mic"));
            QTRY_VERIFY(monitorOn());
        }
        QTRY_COMPARE(m_alerts, QStringList{QStringLiteral("No Applications")});
    }
};

QTEST_MAIN(TestDeckInputs)
#include "test_deck_inputs.moc"
