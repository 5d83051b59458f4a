#include "broadcast/sound_server_recovery.h"

#include <QMetaObject>
#include <QPointer>

#include "audio/gstreamer_mixer.h"
#include "audio/obs_audio_manager.h"
#include "core/log_categories.h"
#include "platform/sound_server_watch.h"

SoundServerRecovery::SoundServerRecovery(OBSAudioManager* capture, GStreamerMixer* mixer,
                                         QObject* parent)
    : QObject(parent), m_capture(capture), m_mixer(mixer) {
    m_retryTimer.setInterval(kRetryMs);
    connect(&m_retryTimer, &QTimer::timeout, this, &SoundServerRecovery::checkRecovery);
}

SoundServerRecovery::~SoundServerRecovery() = default;

void SoundServerRecovery::start() {
    if (m_watch) return;
    QPointer<SoundServerRecovery> self(this);
    m_watch = std::make_unique<platform::SoundServerWatch>(
        [self](bool available) {
            // The watch's own thread: the decision is taken on the main thread.
            QMetaObject::invokeMethod(
                self.data(),
                [self, available] {
                    if (self) self->onServerChanged(available);
                },
                Qt::QueuedConnection);
        },
        kWatchRetryMs);
}

bool SoundServerRecovery::isDeckLost(int deck) const {
    return deck >= 1 && deck <= 2 && m_decks[std::size_t(deck - 1)].lost;
}

void SoundServerRecovery::onServerChanged(bool available) {
    const bool first = !m_knownOnce;
    m_knownOnce = true;
    if (available == m_available && !first) return;
    m_available = available;
    if (first && available) return;

    if (!available) {
        m_retryTimer.stop();
        qCWarning(lcBroadcaster) << "The sound server went away";
        for (int deck = 1; deck <= 2; ++deck) {
            LostDeck& state = m_decks[std::size_t(deck - 1)];
            if (state.lost || m_capture->deckInputId(deck).isEmpty()) continue;
            state.lost = true;
            const QString text =
                QStringLiteral("Deck %1 lost its input: the sound server went away").arg(deck);
            qCWarning(lcBroadcaster).noquote() << text;
            Q_EMIT warning(text);
        }
        m_mixer->monitorServiceLost();
        if (m_mixer->isMonitorEnabled()) {
            Q_EMIT warning(
                QStringLiteral("The monitor output stopped: the sound server went away"));
        }
        return;
    }
    qCInfo(lcBroadcaster) << "The sound server is back";
    QTimer::singleShot(kSettleMs, this, [this] {
        if (m_available) reopenLostDecks();
    });
}

void SoundServerRecovery::reopenLostDecks() {
    bool pending = m_mixer->restartMonitorOutput();
    QList<int> lost;
    for (int deck = 1; deck <= 2; ++deck) {
        if (m_decks[std::size_t(deck - 1)].lost) lost.append(deck);
    }
    if (!lost.isEmpty()) {
        pending = true;
        if (!m_capture->reopenDecks(lost)) {
            qCWarning(lcBroadcaster) << "A deck could not be opened again yet";
        }
        // Counted from after the reopen: what a source delivers from now on is new audio.
        for (int deck : lost) {
            m_decks[std::size_t(deck - 1)].framesAtReopen =
                m_capture->deckCaptureStats(deck).frames;
        }
    }
    if (pending) m_retryTimer.start();
}

// A deck is back once audio flows from it; one that stays quiet while the server runs is opened
// again (its source may have started before the server took new clients).
void SoundServerRecovery::checkRecovery() {
    if (!m_available) {
        m_retryTimer.stop();
        return;
    }
    bool pending = false;
    for (int deck = 1; deck <= 2; ++deck) {
        LostDeck& state = m_decks[std::size_t(deck - 1)];
        if (!state.lost) continue;
        const bool idle = !m_capture->isDeckActive(deck);
        if (idle || m_capture->deckCaptureStats(deck).frames > state.framesAtReopen) {
            state.lost = false;
            qCInfo(lcBroadcaster) << "Deck" << deck << "has its input back";
            Q_EMIT deckRecovered(deck);
            continue;
        }
        pending = true;
    }
    if (m_mixer->hasMonitorFailed()) pending = true;
    if (pending) {
        reopenLostDecks();
    } else {
        m_retryTimer.stop();
    }
}
