#pragma once

// Helpers of the capture tests: what a capture manager hands to its callback.

#include <QElapsedTimer>
#include <QStringList>
#include <QtGlobal>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <vector>

#include <memory>

#include "audio/obs_audio_manager.h"
#include "log_capture.h"
#include "pulse_server.h"
#include "tone.h"
#include "xvfb_server.h"

// Per deck: counts, the format of every buffer, and the most recent half second of audio for
// tone checks.
class DeckRecorder {
public:
    static constexpr int kKeepFrames = 24000;

    DeckAudioCallback callback() {
        return [this](int deck, const float* data, int frames, int channels, int rate) {
            onAudio(deck, data, frames, channels, rate);
        };
    }

    // Makes every call take this long, as a receiver copying into a mixer might.
    void setBusyMicroseconds(int us) { m_busyUs = us; }

    void onAudio(int deck, const float* data, int frames, int channels, int rate) {
        QElapsedTimer busy;
        busy.start();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (deck < 1 || deck > 2) {
                ++m_badDeck;
                return;
            }
            Deck& d = m_decks[static_cast<std::size_t>(deck - 1)];
            ++d.buffers;
            d.frames += static_cast<std::uint64_t>(frames);
            if (channels != 2 || rate != 48000 || frames <= 0 || !data) {
                ++d.badFormat;
                return;
            }
            d.recent.insert(d.recent.end(), data, data + frames * 2);
            const std::size_t keep = static_cast<std::size_t>(kKeepFrames) * 2;
            if (d.recent.size() > 2 * keep) {
                d.recent.erase(d.recent.begin(), d.recent.begin() + static_cast<std::ptrdiff_t>(
                                                                        d.recent.size() - keep));
            }
        }
        while (busy.nsecsElapsed() < m_busyUs * 1000LL) {
        }
    }

    std::uint64_t buffers(int deck) const { return get(deck).buffers; }
    std::uint64_t frames(int deck) const { return get(deck).frames; }
    std::uint64_t badFormat(int deck) const { return get(deck).badFormat; }
    int badDeck() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_badDeck;
    }

    // The last 0.2 s of a deck, interleaved; empty until that much has arrived.
    std::vector<float> lastWindow(int deck) const {
        std::vector<float> recent = get(deck).recent;
        constexpr std::size_t kWindowFrames = 9600;
        if (recent.size() < kWindowFrames * 2) return {};
        return std::vector<float>(recent.end() - kWindowFrames * 2, recent.end());
    }

    static double amplitude(const std::vector<float>& window, double frequencyHz, int channel) {
        if (window.empty()) return 0.0;
        return tone::amplitudeF32(window.data() + channel, window.size() / 2, 2, frequencyHz,
                                  48000);
    }

    void clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_decks = {};
    }
    void clearAudio(int deck) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_decks[static_cast<std::size_t>(deck - 1)].recent.clear();
    }

private:
    struct Deck {
        std::uint64_t buffers = 0;
        std::uint64_t frames = 0;
        std::uint64_t badFormat = 0;
        std::vector<float> recent;
    };
    Deck get(int deck) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_decks[static_cast<std::size_t>(deck - 1)];
    }

    mutable std::mutex m_mutex;
    std::array<Deck, 2> m_decks{};
    int m_badDeck = 0;
    std::atomic<int> m_busyUs{0};
};

// What every capture test stands on: a private PulseAudio and a virtual X display, both applied
// to this process, a capture manager (not yet initialised) feeding a DeckRecorder, and the log
// (debug lines kept but not printed).
struct CaptureRig {
    PulseServer pulse;
    XvfbServer xvfb;
    std::unique_ptr<OBSAudioManager> manager;
    DeckRecorder recorder;
    std::unique_ptr<LogCapture> log;

    // `applyDisplay` false leaves DISPLAY alone, for a test that starts without one.
    bool start(bool applyDisplay, QString* error) {
        log = std::make_unique<LogCapture>(false);
        if (!pulse.start(error) || !xvfb.start(error)) return false;
        pulse.applyToProcess();
        if (applyDisplay) xvfb.applyToProcess();
        manager = std::make_unique<OBSAudioManager>();
        manager->setDeckAudioCallback(recorder.callback());
        return true;
    }
    void stop() {
        manager.reset();
        log.reset();
    }
};

// Whether a deck carried one tone at `amplitude` (within 10 %) on both channels, and none of the
// others, over one 0.2 s window. Latches: once heard, a later glitch of the player (a loaded
// machine makes them) cannot undo it, so it suits QTRY, which evaluates its condition twice.
class ToneCheck {
public:
    ToneCheck(const DeckRecorder& recorder, int deck, double frequencyHz,
              std::initializer_list<double> others, double amplitude = 0.5)
        : m_recorder(recorder),
          m_deck(deck),
          m_frequencyHz(frequencyHz),
          m_others(others),
          m_amplitude(amplitude) {}

    bool operator()() {
        if (m_heard) return true;
        const std::vector<float> window = m_recorder.lastWindow(m_deck);
        bool ok = !window.empty();
        QStringList parts;
        for (int channel : {0, 1}) {
            const double own = DeckRecorder::amplitude(window, m_frequencyHz, channel);
            ok = ok && std::fabs(own - m_amplitude) < 0.1 * m_amplitude;
            parts << QStringLiteral("%1 Hz: %2").arg(m_frequencyHz).arg(own, 0, 'f', 3);
            for (double other : m_others) {
                const double leak = DeckRecorder::amplitude(window, other, channel);
                ok = ok && leak < 0.01;
                parts << QStringLiteral("%1 Hz: %2").arg(other).arg(leak, 0, 'f', 3);
            }
        }
        m_detail =
            QStringLiteral("deck %1, %2 frames: ").arg(m_deck).arg(m_recorder.frames(m_deck)) +
            parts.join(QStringLiteral(", "));
        m_heard = ok;
        return ok;
    }
    QString detail() const { return m_detail; }

private:
    const DeckRecorder& m_recorder;
    int m_deck;
    double m_frequencyHz;
    std::vector<double> m_others;
    double m_amplitude;
    bool m_heard = false;
    QString m_detail;
};
