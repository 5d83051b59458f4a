#pragma once

// One deck of the capture side: the libobs source it records, whether it runs, and its
// capture path's scratch space, meter, counters and diagnostics.

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/audio_levels.h"
#include "audio/deck_level_meter.h"

struct obs_source;
struct audio_data;
namespace obshandle {
class AudioTap;
}

// Counters of one deck's capture path since the manager was created.
// Every buffer is muted, forwarded or unforwarded.
struct DeckCaptureStats {
    std::uint64_t buffers = 0;      // buffers that reached the deck
    std::uint64_t frames = 0;       // frames in those buffers
    std::uint64_t muted = 0;        // muted at the source: neither metered nor forwarded
    std::uint64_t forwarded = 0;    // handed to the DeckAudioCallback
    std::uint64_t unforwarded = 0;  // dropped because no callback was installed
};

// Threads: the main thread gives the deck its source, starts and stops it; the capture thread
// of its source runs the capture path (take, countDelivery); the rest may be read from any.
class CaptureDeck {
public:
    using AudioCallback = void (*)(void* param, obs_source* source, const audio_data* data,
                                   bool muted);

    explicit CaptureDeck(int number);
    ~CaptureDeck();
    CaptureDeck(const CaptureDeck&) = delete;
    CaptureDeck& operator=(const CaptureDeck&) = delete;

    int number() const { return m_number; }

    // Main thread, deck stopped and without a source: takes over one libobs reference.
    // `inputId` is the device id, or "app:" + the program's window id.
    void adoptSource(obs_source* source, const QString& inputId);
    // Main thread, deck stopped, libobs's hotkeys unparked: gives the reference back and
    // forgets the input. False when the deck had no source.
    bool releaseSource();
    // Main thread, deck stopped: forgets the source without giving its reference back, for
    // when libobs must not be called any more (its display went away).
    void abandonSource();
    // Any thread.
    bool hasSource() const { return m_source.load() != nullptr; }
    // Main thread: the source itself (the deck keeps the reference), or null.
    obs_source* source() const { return m_source.load(); }
    // Main thread.
    const QString& inputId() const { return m_inputId; }

    // Main thread. Shows and activates the source and attaches `callback`; false without a
    // source. Active before the callback is attached, so the very first buffer is taken.
    bool start(AudioCallback callback, void* param);
    // Main thread. Once it returns no buffer of this deck is on its way any more. False when
    // the deck was not running.
    bool stop();
    // Any thread.
    bool isActive() const { return m_active.load(std::memory_order_acquire); }
    // Capture thread: whether a buffer of `source` is this running deck's.
    bool isCapturing(const obs_source* source) const {
        return isActive() && m_source.load(std::memory_order_acquire) == source;
    }

    // Capture thread, never blocks for long. Interleaves the planes (a null one is silence),
    // counts the buffer and meters it; returns the interleaved stereo buffer to forward, or
    // null for a muted one. Allocates nothing unless a buffer is larger than any before.
    // `keepLevels` keeps this buffer's peak and RMS for the diagnostics.
    const float* take(const float* left, const float* right, std::uint32_t frames, bool muted,
                      bool keepLevels);
    // Capture thread: whether the buffer `take` returned reached a callback.
    void countDelivery(bool forwarded);

    // Any thread; never blocks for long.
    DeckLevels levels() const { return m_meter.levels(); }
    void resetLevels() { m_meter.reset(); }
    DeckCaptureStats stats() const;

    // Main thread; stored for the main window, the mixer applies deck gains.
    float volume() const { return m_volume; }
    void setVolume(float linear) { m_volume = linear; }

    // Main thread. The frame rate is measured from the next report on; each report logs the
    // rate every few seconds and, when `verbose`, the latest buffer's levels.
    void restartDiagnostics() { m_reportedAtMs = -1; }
    void reportDiagnostics(std::int64_t nowMs, bool verbose);

private:
    const int m_number;
    // Owns one libobs reference. Exchanged atomically: the capture thread compares it.
    std::atomic<obs_source*> m_source{nullptr};
    std::unique_ptr<obshandle::AudioTap> m_tap;  // while running
    std::atomic<bool> m_active{false};
    QString m_inputId;
    float m_volume = 1.0f;
    DeckLevelMeter m_meter;

    // Capture thread only: this deck's own scratch space, so two decks never share one.
    std::vector<float> m_interleaved;
    // Capture thread writes, any thread reads.
    std::atomic<std::uint64_t> m_buffers{0};
    std::atomic<std::uint64_t> m_frames{0};
    std::atomic<std::uint64_t> m_muted{0};
    std::atomic<std::uint64_t> m_forwarded{0};
    std::atomic<std::uint64_t> m_unforwarded{0};
    // Peak and RMS over both channels of the latest buffer, kept only while asked to.
    std::atomic<float> m_lastPeak{0.0f};
    std::atomic<float> m_lastRms{0.0f};
    std::atomic<bool> m_lastMuted{false};

    // Main thread only: what the diagnostics last reported.
    std::uint64_t m_reportedFrames = 0;
    std::int64_t m_reportedAtMs = -1;
    std::uint64_t m_levelsLoggedAtBuffer = 0;
};
