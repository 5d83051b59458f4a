#pragma once

// What a capture manager hands to its callback, per deck, for the capture tests: counts, the
// format of every buffer, and the most recent half second of audio for tone checks.

#include <QElapsedTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "audio/obs_audio_manager.h"
#include "tone_analysis.h"

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

    // Amplitude of a tone over the last 0.2 s of a channel (0 left, 1 right).
    double toneAmplitude(int deck, double frequencyHz, int channel = 0) const {
        const std::vector<float> recent = get(deck).recent;
        const std::size_t frames = std::min<std::size_t>(recent.size() / 2, 9600);
        if (frames < 4800) return 0.0;
        const float* start = recent.data() + (recent.size() - frames * 2) + channel;
        return toneanalysis::amplitudeAt(start, frames, 2, frequencyHz, 48000);
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
