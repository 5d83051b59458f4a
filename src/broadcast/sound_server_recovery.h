#pragma once

// Keeping the decks and the monitor through a sound server that goes away and comes back.

#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <memory>

class GStreamerMixer;
class OBSAudioManager;
namespace platform {
class SoundServerWatch;
}

// Watches the sound server (its own small connection, see platform::SoundServerWatch). When the
// server goes away, each deck that had an input is reported once ("Deck 1 lost its input: the
// sound server went away") and the broadcast goes on, sending what is left (silence, at worst).
// When it is back, the decks are opened again, and again every two seconds until audio flows
// from them; the monitor output is reopened the same way.
//
// Main thread only; the watch's reports are handed over to it.
class SoundServerRecovery : public QObject {
    Q_OBJECT

public:
    // A deck that delivered nothing this long after it was opened again is opened once more. A
    // new PulseAudio stream takes up to about a second to deliver its first audio.
    static constexpr int kRetryMs = 2000;
    // How often the watch looks for a server that is gone (a refused local connection is cheap).
    static constexpr int kWatchRetryMs = 500;
    // A server that has just started takes connections before it has set up all its devices:
    // the decks are opened again this long after it answers.
    static constexpr int kSettleMs = 300;

    SoundServerRecovery(OBSAudioManager* capture, GStreamerMixer* mixer, QObject* parent = nullptr);
    ~SoundServerRecovery() override;

    // Starts watching; without a call nothing is watched (tests of other parts, listing).
    void start();
    bool isServerAvailable() const { return m_available; }
    bool isDeckLost(int deck) const;

Q_SIGNALS:
    // A user-facing sentence for each thing that went wrong; the broadcast itself goes on.
    void warning(const QString& text);
    // A deck has its input again.
    void deckRecovered(int deck);

private:
    void onServerChanged(bool available);
    void reopenLostDecks();
    void checkRecovery();

    struct LostDeck {
        bool lost = false;
        std::uint64_t framesAtReopen = 0;
    };

    OBSAudioManager* m_capture;
    GStreamerMixer* m_mixer;
    std::unique_ptr<platform::SoundServerWatch> m_watch;
    bool m_available = true;
    bool m_knownOnce = false;
    std::array<LostDeck, 2> m_decks{};
    QTimer m_retryTimer;
};
