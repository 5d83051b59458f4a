// The main window's audio controls: deck inputs (through the deck input controller), faders,
// mutes, the crossfader, voice ducking and the meters.
#include "ui/main_window.h"

#include <algorithm>
#include <cmath>

#include <QComboBox>
#include <QDateTime>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include "audio/audio_levels.h"
#include "audio/encoder_settings.h"
#include "audio/gstreamer_mixer.h"
#include "audio/obs_audio_manager.h"
#include "broadcast/broadcaster.h"
#include "core/log_categories.h"
#include "core/settings_keys.h"
#include "ui/deck_input_controller.h"
#include "ui/settings_dialog.h"
#include "widgets/shadow_slider.h"
#include "widgets/stereo_vu_meter.h"
#include "widgets/tinted_icon.h"

namespace {

constexpr qint64 kClipHoldMs = 5000;
constexpr int kDuckLogEveryTicks = 30;
// The peak figures change every 100 ms: nobody reads digits that change thirty times a second,
// and each change re-lays out and repaints its label. The bars keep every tick.
constexpr int kPeakTextEveryTicks = 3;

float sliderDb(int value) { return float(value) / 10.0f; }

QString dbText(float db) {
    return QString::number(std::fabs(db) < 0.05f ? 0.0 : double(db), 'f', 1);
}

QString peakText(float db) {
    return db <= kMeterFloorDb ? QStringLiteral("-∞") : QStringLiteral("%1 dB").arg(db, 0, 'f', 1);
}

float toMeterDb(float linear) {
    return linear <= 0.0f ? kMeterFloorDb : std::max(kMeterFloorDb, linearToDb(linear));
}

// Restyled only when the clip state flips: a style sheet costs a re-polish, and the meters tick
// thirty times a second.
void stylePeakLabel(QLabel* label, bool clipping) {
    const QVariant shown = label->property("clipping");
    if (shown.isValid() && shown.toBool() == clipping) return;
    label->setProperty("clipping", clipping);
    label->setStyleSheet(
        clipping ? QStringLiteral("font-size: 14px; font-weight: 600; color: #ffffff; "
                                  "background-color: #ef4444; border-radius: 4px;")
                 : QStringLiteral("font-size: 14px; font-weight: 500; color: #374151;"));
}

}  // namespace

void MainWindow::onDeck1InputChanged(int index) {
    m_deckTouched[0] = true;
    m_deckInputs->onDeckInputChanged(1, index);
}

void MainWindow::onDeck2InputChanged(int index) {
    m_deckTouched[1] = true;
    m_deckInputs->onDeckInputChanged(2, index);
}

void MainWindow::refreshInputDevices() { m_deckInputs->refreshInputDevices(); }
void MainWindow::refreshMonitorDevices() { m_deckInputs->refreshMonitorDevices(); }
void MainWindow::showAppPickerDialog(int deckNumber) {
    m_deckInputs->showAppPickerDialog(deckNumber);
}
void MainWindow::applyMonitorState() { m_deckInputs->applyMonitorState(); }
void MainWindow::syncDeckVolumesToMixer() { m_deckInputs->syncDeckVolumesToMixer(); }
void MainWindow::onMonitorOutputChanged(int index) { m_deckInputs->onMonitorOutputChanged(index); }

void MainWindow::onVolumeChanged(int value) {
    const int deck = sender() == m_decks[1].slider ? 2 : 1;
    const float gain = dbToLinear(sliderDb(value));
    if (!m_deckMuted[deck - 1]) {
        if (m_audioManager) m_audioManager->setDeckVolume(deck, gain);
        deck == 1 ? m_broadcaster->setDeck1Volume(gain) : m_broadcaster->setDeck2Volume(gain);
    }
    m_decks[deck - 1].volumeLabel->setText(dbText(sliderDb(value)));
}

void MainWindow::onDeckMuteToggled(int deck, bool muted) {
    DeckWidgets& w = m_decks[deck - 1];
    applyMuteButtonLook(*w.mute, muted);
    m_deckMuted[deck - 1] = muted;
    w.card->setProperty("active", !muted && w.input->currentIndex() > 0);
    repolish(w.card);
    w.meter->setMuted(muted);
    const float gain = muted ? 0.0f : dbToLinear(sliderDb(w.slider->value()));
    if (m_audioManager) m_audioManager->setDeckVolume(deck, gain);
    deck == 1 ? m_broadcaster->setDeck1Volume(gain) : m_broadcaster->setDeck2Volume(gain);
}

void MainWindow::onMasterVolumeChanged(int value) {
    const float db = sliderDb(value);
    m_masterLabel->setText(dbText(db));
    m_broadcaster->setMasterVolume(dbToLinear(db));
    qCDebug(lcUi) << "Master volume:" << db << "dB (" << dbToLinear(db) << "linear)";
}

void MainWindow::onMonitorVolumeChanged(int value) {
    const float db = sliderDb(value);
    m_monitorLabel->setText(dbText(db));
    m_broadcaster->setMonitorVolume(dbToLinear(db));
    qCDebug(lcUi) << "Monitor volume:" << db << "dB (" << dbToLinear(db) << "linear)";
}

void MainWindow::onCrossfaderChanged(int value) {
    m_broadcaster->setCrossfader(float(value) / 100.0f);
    showCrossfaderLabel();
    QSettings settings;
    settingskeys::write(settings, settingskeys::kCrossfaderPosition, double(value) / 100.0);
}

void MainWindow::showCrossfaderLabel() {
    const int value = m_crossfader->value();
    m_crossfaderLabel->setText(value == 0  ? QStringLiteral("C")
                               : value < 0 ? QStringLiteral("L%1").arg(-value)
                                           : QStringLiteral("R%1").arg(value));
}

void MainWindow::onMonitorToggled(bool muted) {
    m_monitorMeter->setMuted(muted);
    applyMuteButtonLook(*m_monitorToggle, muted);
    m_monitorIcon->setPixmap(QIcon(muted ? QStringLiteral(":/icons/volume-x.svg")
                                         : QStringLiteral(":/icons/volume-2.svg"))
                                 .pixmap(QSize(20, 20), devicePixelRatioF()));
    m_monitorIconBg->setProperty("active", !muted);
    repolish(m_monitorIconBg);
    applyMonitorState();
}

void MainWindow::onVoiceToggled(int deck, bool on) {
    DeckWidgets& self = m_decks[deck - 1];
    DeckWidgets& other = m_decks[2 - deck];
    if (on) {
        m_duckingTriggerDeck = deck;
        {
            const QSignalBlocker blocker(other.voice);
            other.voice->setChecked(false);
        }
        other.voice->setEnabled(false);
        applyTintedIconLook(*other.voice, QStringLiteral(":/icons/user-speaking.svg"),
                            QStringLiteral("voice"), false,
                            QStringLiteral("Click to enable audio ducking"));
    } else {
        m_duckingTriggerDeck = 0;
        other.voice->setEnabled(true);
        other.meter->setDucked(false);
        other.slider->clearShadow();
        other.volumeLabel->setText(dbText(sliderDb(other.slider->value())));
    }
    applyTintedIconLook(*self.voice, QStringLiteral(":/icons/user-speaking.svg"),
                        QStringLiteral("voice"), on,
                        on ? QStringLiteral("Ducking active - Click to disable")
                           : QStringLiteral("Click to enable audio ducking"));
    applyDuckingConfig();
}

void MainWindow::applyDuckingConfig() {
    GStreamerMixer::DuckingConfig config;
    config.enabled = m_duckingTriggerDeck == 1 || m_duckingTriggerDeck == 2;
    config.sourceDeck = m_duckingTriggerDeck == 2 ? 1 : 0;
    config.thresholdDb = float(m_settingsDialog->duckingThresholdDb());
    config.ratio = float(m_settingsDialog->duckingRatio());
    config.attackMs = m_settingsDialog->duckingAttackMs();
    config.releaseMs = m_settingsDialog->duckingReleaseMs();
    config.kneeDb = float(m_settingsDialog->duckingKneeDb());
    m_broadcaster->setDuckingConfig(config);
    EncoderSettings* settings = m_broadcaster->encoderSettings();
    settings->setDuckingEnabled(config.enabled);
    settings->setDuckingSourceDeck(config.sourceDeck);
    settings->setDuckingThreshold(config.thresholdDb);
    settings->setDuckingRatio(config.ratio);
    settings->setDuckingAttack(config.attackMs);
    settings->setDuckingRelease(config.releaseMs);
    settings->setDuckingKnee(config.kneeDb);
}

void MainWindow::setMetersRunning(bool running) {
    if (running && !m_shuttingDown)
        m_meterTimer->start();
    else
        m_meterTimer->stop();
}

// One deck's meter and figures; `post` receives its post-fader peaks and RMS (linear).
void MainWindow::updateDeckMeter(int deck, qint64 nowMs, float duckGain,
                                 std::array<float, 4>& post) {
    DeckWidgets& w = m_decks[deck - 1];
    const DeckLevels levels = m_audioManager ? m_audioManager->getDeckLevels(deck) : DeckLevels{};
    const float faderGain = dbToLinear(sliderDb(w.slider->value()));
    const float effective = m_audioManager ? m_audioManager->getDeckVolume(deck) : 0.0f;
    const auto linear = [](float db) { return db > kMeterFloorDb ? dbToLinear(db) : 0.0f; };
    const std::array<float, 6> raw = {
        linear(levels.peakLeft),          linear(levels.peakRight), linear(levels.smoothedPeakLeft),
        linear(levels.smoothedPeakRight), linear(levels.rmsLeft),   linear(levels.rmsRight)};
    post = {raw[0] * effective, raw[1] * effective, raw[4] * effective, raw[5] * effective};
    const bool ducked = m_duckingTriggerDeck != 0 && m_duckingTriggerDeck != deck;
    const float shown = faderGain * (ducked ? duckGain : 1.0f);
    std::array<float, 6> db{};
    for (size_t i = 0; i < raw.size(); ++i) db[i] = toMeterDb(raw[i] * shown);
    w.meter->setLevels(db[0], db[1], db[2], db[3], db[4], db[5]);
    if (ducked && duckGain < 0.99f) {
        w.meter->setDucked(true);
        const float reducedDb =
            sliderDb(w.slider->value()) + 20.0f * std::log10(std::max(duckGain, 0.0001f));
        w.slider->setShadowValue(int(std::lround(reducedDb * 10.0f)));
        w.volumeLabel->setText(dbText(reducedDb));
    } else if (w.meter->look().ducked || w.slider->hasShadow()) {
        w.meter->setDucked(false);
        w.slider->clearShadow();
        w.volumeLabel->setText(dbText(sliderDb(w.slider->value())));
    }
    const float peak = std::max(db[0], db[1]);
    if (std::max({db[0], db[1], db[2], db[3]}) >= 0.0f)
        m_clipHoldUntilMs[deck - 1] = nowMs + kClipHoldMs;
    if (m_peakTextDue) w.peakLabel->setText(peakText(peak));
    stylePeakLabel(w.peakLabel, nowMs < m_clipHoldUntilMs[deck - 1]);
    const bool active = m_audioManager && m_audioManager->isDeckActive(deck);
    const QString status = active ? QStringLiteral("Active") : QStringLiteral("Inactive");
    if (w.status->text() != status) {
        w.status->setText(status);
        w.status->setStyleSheet(active ? QStringLiteral("color: green; font-weight: bold;")
                                       : QStringLiteral("color: grey;"));
    }
}

void MainWindow::updateAudioMeters() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    m_peakTextDue = ++m_peakTextTick % kPeakTextEveryTicks == 0;
    float duckGain = 1.0f;
    if (m_duckingTriggerDeck != 0) {
        GStreamerMixer* mixer = m_broadcaster->mixer();
        duckGain = mixer ? mixer->duckGain() : 1.0f;
        if (++m_meterTick % kDuckLogEveryTicks == 0)
            qCDebug(lcDuckingVu).noquote()
                << QStringLiteral("Read from mixer: duckGain=%1 mixer=%2 activeDeck=%3")
                       .arg(duckGain, 0, 'f', 4)
                       .arg(mixer ? QStringLiteral("valid") : QStringLiteral("NULL"))
                       .arg(m_duckingTriggerDeck);
    }
    std::array<float, 4> deck1{};
    std::array<float, 4> deck2{};
    updateDeckMeter(1, now, duckGain, deck1);
    updateDeckMeter(2, now, duckGain, deck2);

    // The master shows what the mixer makes of the decks: their gains by the mixer's own law
    // (headroom when both play, the crossfader's share), so it never shows a clip the mix does
    // not have.
    const float c = m_broadcaster->crossfader();
    const bool bothActive =
        m_audioManager && m_audioManager->isDeckActive(1) && m_audioManager->isDeckActive(2);
    const float v1 = m_audioManager ? m_audioManager->getDeckVolume(1) : 0.0f;
    const float v2 = m_audioManager ? m_audioManager->getDeckVolume(2) : 0.0f;
    const float share1 = v1 > 0.0f ? GStreamerMixer::deckGain(1, v1, v2, bothActive, c) / v1 : 0.0f;
    const float share2 = v2 > 0.0f ? GStreamerMixer::deckGain(2, v2, v1, bothActive, c) / v2 : 0.0f;
    const float master = dbToLinear(sliderDb(m_masterSlider->value()));
    std::array<float, 4> mix{};
    for (size_t i = 0; i < mix.size(); ++i)
        mix[i] = (share1 * deck1[i] + share2 * deck2[i]) * master;
    const auto show = [&](StereoVUMeter* meter, QLabel* label, int hold, float gain, bool muted) {
        const float pl = toMeterDb(mix[0] * gain), pr = toMeterDb(mix[1] * gain);
        meter->setLevels(pl, pr, pl, pr, toMeterDb(mix[2] * gain), toMeterDb(mix[3] * gain));
        if (std::max(pl, pr) >= 0.0f) m_clipHoldUntilMs[size_t(hold)] = now + kClipHoldMs;
        if (m_peakTextDue)
            label->setText(muted ? QStringLiteral("-∞") : peakText(std::max(pl, pr)));
        stylePeakLabel(label, now < m_clipHoldUntilMs[size_t(hold)]);
    };
    show(m_masterMeter, m_masterPeakLabel, 2, 1.0f, false);
    show(m_monitorMeter, m_monitorPeakLabel, 3, dbToLinear(sliderDb(m_monitorSlider->value())),
         m_monitorToggle->isChecked());
}
