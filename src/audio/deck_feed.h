// One deck's way into the pipeline: its appsrc, the block being gathered, the format it
// announces, its counters and its peak level.
#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>

#include "audio/gst_object_handle.h"

// Threads: the functions marked "feed lock" run under the mixer's feed lock, on the main thread
// (attach, detach, releaseBlock) or on the deck's capture thread (append). traceCall and drop
// are for the capture thread without the lock; the counters and the peak any thread. Nothing
// blocks.
class DeckFeed {
public:
    explicit DeckFeed(int deck);  // 1 or 2: the deck the logs name

    DeckFeed(const DeckFeed&) = delete;
    DeckFeed& operator=(const DeckFeed&) = delete;

    // Feed lock. Takes the deck's appsrc of a new pipeline, which announces channels × rateHz;
    // audio enters in blocks of blockMs (0: every buffer as it comes).
    void attach(GstElement* appsrc, int channels, int rateHz, int blockMs);
    // Feed lock. Lets go of the block in the making and of the appsrc.
    void detach();
    // Feed lock. Lets go of the block in the making.
    void releaseBlock();
    bool isAttached() const { return static_cast<bool>(m_appsrc); }

    // Feed lock. Adds frames × channels interleaved samples (a valid format), announcing a
    // format change first, and hands each full block to the appsrc.
    void append(const float* data, int frames, int channels, int rateHz, qint64 nowMs);

    // Capture thread. A debug line about the call, at most once a second.
    void traceCall(float peak, int frames, int channels, bool running, qint64 nowMs);
    // Capture thread. Counts a dropped buffer; warns at most once a second.
    void drop(const QString& reason, qint64 nowMs);

    float peak() const { return m_peak.load(); }
    void setPeak(float peak) { m_peak.store(peak); }
    // Lowers the peak by the factor, unless a capture thread has just stored a fresh one.
    void decayPeak(float factor);

    quint64 droppedBuffers() const { return m_droppedBuffers.load(std::memory_order_relaxed); }
    quint64 pushedBlocks() const { return m_pushedBlocks.load(std::memory_order_relaxed); }
    quint64 pushedFrames() const { return m_pushedFrames.load(std::memory_order_relaxed); }
    quint64 staleFrames() const { return m_staleFrames.load(std::memory_order_relaxed); }
    // When audio last arrived (ms since the epoch), 0 for never.
    qint64 lastAudioMs() const { return m_lastAudioMs.load(std::memory_order_relaxed); }

private:
    // Hands the block to the appsrc under the caps it was gathered in, or drops it with a
    // warning. Feed lock.
    void pushBlock(qint64 nowMs);
    void warnThrottled(const QString& text, qint64 nowMs);

    const QString m_function;  // the feed function the logs name

    // Guarded by the feed lock.
    ElementHandle m_appsrc;
    BufferHandle m_block;  // null while no block is open
    int m_blockFrames = 0;
    int m_blockCapacityFrames = 0;
    qint64 m_blockLastAppendMs = 0;
    int m_capsChannels = 0;  // what the appsrc currently announces
    int m_capsRateHz = 0;
    int m_blockMs = 0;

    std::atomic<float> m_peak{0.0f};
    std::atomic<qint64> m_lastTraceMs{0};
    std::atomic<qint64> m_lastWarnMs{0};
    std::atomic<quint64> m_droppedBuffers{0};
    std::atomic<quint64> m_pushedBlocks{0};
    std::atomic<quint64> m_pushedFrames{0};
    std::atomic<quint64> m_staleFrames{0};
    std::atomic<qint64> m_lastAudioMs{0};
};
