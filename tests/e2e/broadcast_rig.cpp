#include "broadcast_rig.h"

#include <QtTest>

#include "audio/encoder_settings.h"
#include "audio/obs_audio_manager.h"

namespace {

constexpr int kProgramTimeoutMs = 10000;

}  // namespace

bool BroadcastRig::start(QString* error) {
    if (!m_pulse.start(error) || !m_xvfb.start(error)) return false;
    m_pulse.applyToProcess();
    m_xvfb.applyToProcess();
    // PulseAudio's own sine (amplitude 0.5) feeds the microphone: it is no program, so the
    // program list offers the deck 2 player alone.
    const QString sine = QStringLiteral("frequency=%1").arg(kDeck1Hz);
    if (m_pulse.pactl({"load-module", "module-sine", "sink=mic_sink", sine}).trimmed().isEmpty()) {
        *error = QStringLiteral("no sine on the microphone");
        return false;
    }
    m_controller = std::make_unique<Doredoradar>();
    if (!m_controller->initialize()) {
        *error = QStringLiteral("the controller did not initialize");
        return false;
    }
    // A program playing kDeck2Hz into the default sink, captured on deck 2.
    m_programTone = m_pulse.playTone(QStringLiteral("test_sink"), kDeck2Hz,
                                     QLatin1String(kProgramName), kToneAmplitude);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kProgramTimeoutMs && m_programWindow.isEmpty()) {
        for (const auto& app : m_controller->audioManager()->getRunningApplications()) {
            if (app.window.endsWith(QLatin1String(":gst-launch-1.0"))) m_programWindow = app.window;
        }
        if (m_programWindow.isEmpty()) QTest::qWait(100);
    }
    if (m_programWindow.isEmpty()) {
        *error = QStringLiteral("the tone program never showed up");
        return false;
    }
    return restoreDecks(error) && warmUpDeck(1, error) && warmUpDeck(2, error);
}

bool BroadcastRig::warmUpDeck(int deck, QString* error) {
    // A capture stream takes a moment to deliver its first audio; afterwards a deck starts at
    // once. Cases that time the start of a broadcast must not measure this.
    OBSAudioManager* capture = m_controller->audioManager();
    const std::uint64_t before = capture->deckCaptureStats(deck).buffers;
    if (!capture->startDeck(deck)) {
        *error = QStringLiteral("deck %1 does not start").arg(deck);
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kProgramTimeoutMs &&
           capture->deckCaptureStats(deck).buffers == before) {
        QTest::qWait(20);
    }
    capture->stopDeck(deck);
    if (capture->deckCaptureStats(deck).buffers == before) {
        *error = QStringLiteral("deck %1 delivers no audio").arg(deck);
        return false;
    }
    return true;
}

bool BroadcastRig::restoreDecks(QString* error) {
    // A deck that already has its input keeps its running capture stream.
    OBSAudioManager* capture = m_controller->audioManager();
    if (capture->deckInputId(1) != QLatin1String("test_mic") &&
        !capture->setDeckInputDevice(1, QStringLiteral("test_mic"))) {
        *error = QStringLiteral("deck 1 cannot capture test_mic");
        return false;
    }
    if (!m_programWindow.isEmpty() &&
        capture->deckInputId(2) != QStringLiteral("app:") + m_programWindow &&
        !capture->setDeckAppCapture(2, m_programWindow)) {
        *error = QStringLiteral("deck 2 cannot capture the tone program");
        return false;
    }
    return true;
}

void BroadcastRig::reset() {
    if (!m_controller) return;
    Doredoradar& controller = *m_controller;
    controller.stopBroadcasting();
    IcecastClient* client = controller.icecastClient();
    if (client->isReconnecting()) client->cancelReconnect();
    client->disconnectFromServer();
    controller.setMonitorEnabled(false);
    QTest::qWait(50);  // let queued chunks and client events run out
    if (controller.mixer()->isRunning()) controller.mixer()->stop();
    controller.audioManager()->stopDeck(1);
    controller.audioManager()->stopDeck(2);
    controller.setInitialStreamMetadata(QString(), QString());
    controller.setDeck1Volume(1.0f);
    controller.setDeck2Volume(1.0f);
    controller.setCrossfader(0.0f);
    controller.setMonitorVolume(1.0f);
    controller.setSendBacklogLimitMs(Doredoradar::kDefaultSendBacklogLimitMs);
    EncoderSettings* settings = controller.encoderSettings();
    settings->setEncoderType(int(Codec::Opus));
    settings->setBitrate(128);
    settings->setSampleRate(48000);
    settings->setChannels(2);
    client->setAutoReconnect(true);
    client->setReconnectInterval(5);
    client->setMaxReconnectAttempts(10);
}

void BroadcastRig::stopPrograms() {
    m_programTone.reset();
    m_programWindow.clear();
    m_pulse.pactl({"unload-module", "module-sine"});
}

void BroadcastRig::stop() {
    m_controller.reset();
    m_programTone.reset();
    m_xvfb.stop();
    m_pulse.stop();
}
