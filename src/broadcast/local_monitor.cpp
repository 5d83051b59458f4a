// The local monitor and the silent connect prime.
#include "broadcast/local_monitor.h"

#include <QString>

#include "audio/gstreamer_mixer.h"
#include "audio/obs_audio_manager.h"
#include "core/log_categories.h"

namespace {

QString boolText(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

}  // namespace

LocalMonitor::LocalMonitor(GStreamerMixer* mixer, OBSAudioManager* audioManager, Hooks hooks)
    : m_mixer(mixer), m_audioManager(audioManager), m_hooks(std::move(hooks)) {}

void LocalMonitor::setEnabled(bool enabled) {
    qCInfo(lcBroadcaster) << (enabled ? "Local monitor on" : "Local monitor off");
    if (!enabled) {
        disablePath();
        return;
    }
    if (m_primeActive && !m_wasEnabledBeforePrime) {
        // The user wants to listen during a silent connect: their volume, and no switching off
        // once the connect is through.
        m_wasEnabledBeforePrime = true;
        restoreSavedVolume();
    }
    enablePath(true);
}

void LocalMonitor::enablePath(bool audible) {
    qCDebug(lcBroadcaster) << "Enabling local monitor (will ensure mixer + start decks if needed)";
    m_hooks.ensureMixerRunning();
    qCDebug(lcBroadcaster).noquote()
        << "Mixer running=" + boolText(m_mixer->isRunning()) +
               ", deck1Active=" + boolText(m_audioManager->isDeckActive(1)) +
               ", deck2Active=" + boolText(m_audioManager->isDeckActive(2));
    for (int deck : {1, 2}) {
        if (m_audioManager->isDeckActive(deck)) continue;
        bool& startedForMonitor = deck == 1 ? m_deck1StartedForMonitor : m_deck2StartedForMonitor;
        if (m_audioManager->startDeck(deck)) {
            startedForMonitor = true;
            qCDebug(lcBroadcaster).noquote()
                << QStringLiteral("Started deck %1 for monitoring").arg(deck);
        } else {
            qCInfo(lcBroadcaster).noquote()
                << QStringLiteral("Deck %1 not started (no source configured?)").arg(deck);
        }
    }
    passDeckActivityToMixer();
    // The silent connect prime skips the monitor-only restart: its encoder pipeline replaces the
    // graph at once.
    if (audible && !m_hooks.encodingBusy() && !m_hooks.shuttingDown() && !m_pipelinePrimed) {
        qCDebug(lcBroadcaster) << "Priming local monitor by restarting mixer pipeline (no network)";
        if (m_mixer->isRunning()) m_mixer->stop();
        if (!m_mixer->start(false)) {
            qCWarning(lcBroadcaster) << "Failed to prime mixer for monitoring";
            m_mixer->setMonitorEnabled(true);
            return;
        }
        qCDebug(lcBroadcaster) << "Local monitor primed";
        m_pipelinePrimed = true;
    }
    if (audible) m_mixer->setMonitorEnabled(true);
}

void LocalMonitor::disablePath() {
    qCDebug(lcBroadcaster) << "Disabling local monitor";
    m_mixer->setMonitorEnabled(false);
    // A primed connect counts as broadcasting: its encoder needs the decks.
    if (m_hooks.encodingBusy()) return;
    m_pipelinePrimed = false;
    if (m_deck1StartedForMonitor) {
        m_audioManager->stopDeck(1);
        m_deck1StartedForMonitor = false;
    }
    if (m_deck2StartedForMonitor) {
        m_audioManager->stopDeck(2);
        m_deck2StartedForMonitor = false;
    }
    passDeckActivityToMixer();
}

void LocalMonitor::forceRestart() {
    qCInfo(lcBroadcaster) << "Forcing full monitor restart (resetting primed state)";
    m_mixer->setMonitorEnabled(false);
    m_pipelinePrimed = false;
}

void LocalMonitor::setVolume(float volume) {
    if (m_savedVolumeValid && m_primeActive && !m_mixer->isMonitorEnabled()) {
        // Silent connect: the choice takes effect when the prime ends.
        m_savedVolume = volume;
        return;
    }
    m_mixer->setMonitorVolume(volume);
}

void LocalMonitor::passDeckActivityToMixer() {
    m_mixer->setDeck1Active(m_audioManager->isDeckActive(1));
    m_mixer->setDeck2Active(m_audioManager->isDeckActive(2));
}

void LocalMonitor::beginConnectPrime() {
    m_wasEnabledBeforePrime = m_mixer->isMonitorEnabled();
    if (m_wasEnabledBeforePrime) {
        m_primeActive = false;
        m_autoDisablePending = false;
        return;
    }
    qCDebug(lcBroadcaster) << "Priming by enabling monitoring before connect";
    if (!m_savedVolumeValid) {
        m_savedVolume = m_mixer->monitorUserVolume();
        m_savedVolumeValid = true;
    }
    m_mixer->setMonitorVolume(0.0f);
    m_primeActive = true;
    m_autoDisablePending = true;
    // Decks and mix run for the connect, but the monitor itself stays silent: switching the
    // mixer's monitor on would turn a user volume of 0 into full volume.
    enablePath(false);
}

void LocalMonitor::finishConnectPrime(bool switchMonitorOff) {
    if (switchMonitorOff && m_primeActive && !m_wasEnabledBeforePrime) disablePath();
    m_primeActive = false;
    m_autoDisablePending = false;
    // After switching off, so the restored volume never plays.
    restoreSavedVolume();
}

void LocalMonitor::endConnectPrimeHold() {
    if (!m_wasEnabledBeforePrime) {
        qCDebug(lcBroadcaster) << "Auto-disabling monitor after connect prime";
    }
    finishConnectPrime(true);
}

void LocalMonitor::forgetConnectPrime() {
    m_primeActive = false;
    m_autoDisablePending = false;
}

void LocalMonitor::restoreSavedVolume() {
    if (!m_savedVolumeValid) return;
    m_savedVolumeValid = false;
    m_mixer->setMonitorVolume(m_savedVolume);
}
