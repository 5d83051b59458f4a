// One deck's way into the pipeline: blocks, format changes, counters and peak.
#include "audio/deck_feed.h"

#include <algorithm>

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include "audio/gst_element_util.h"
#include "audio/mixer_log.h"

namespace {

constexpr qint64 kLogIntervalMs = 1000;
// A deck that delivered nothing for this long has paused; matches the deck queues' limit.
constexpr qint64 kStaleBlockMs = 100;

}  // namespace

DeckFeed::DeckFeed(int deck) : m_function(QStringLiteral("feedDeck%1Audio").arg(deck)) {}

void DeckFeed::attach(GstElement* appsrc, int channels, int rateHz, int blockMs) {
    releaseBlock();
    m_appsrc = ElementHandle::share(appsrc);
    m_capsChannels = channels;
    m_capsRateHz = rateHz;
    m_blockMs = blockMs;
}

void DeckFeed::detach() {
    releaseBlock();
    m_appsrc.reset();
}

void DeckFeed::releaseBlock() {
    m_block.reset();
    m_blockFrames = 0;
    m_blockCapacityFrames = 0;
    m_blockLastAppendMs = 0;
}

void DeckFeed::append(const float* data, int frames, int channels, int rateHz, qint64 nowMs) {
    // Follow the capture format instead of letting a different rate or layout be misread.
    if (channels != m_capsChannels || rateHz != m_capsRateHz) {
        // What was gathered so far is in the old format and goes out under the old caps.
        if (m_block) pushBlock(nowMs);
        const CapsHandle caps = gstutil::floatAudioCaps(channels, rateHz);
        gst_app_src_set_caps(GST_APP_SRC(m_appsrc.get()), caps.get());
        m_capsChannels = channels;
        m_capsRateHz = rateHz;
    }
    // A block left open when the deck paused holds audio from before the pause; stamped now it
    // would play late, so it goes (the deck queue would not keep it that long either).
    if (m_block && nowMs - m_blockLastAppendMs > kStaleBlockMs) {
        m_staleFrames.fetch_add(static_cast<quint64>(m_blockFrames), std::memory_order_relaxed);
        releaseBlock();
    }

    if (m_block && m_blockFrames + frames > m_blockCapacityFrames) pushBlock(nowMs);
    if (!m_block) {
        // One allocation per block, sized for the whole block up front.
        const int blockFrames = static_cast<int>(qint64(rateHz) * m_blockMs / 1000);
        m_blockCapacityFrames = std::max(blockFrames, frames);
        m_blockFrames = 0;
        m_block = BufferHandle::adopt(gst_buffer_new_allocate(
            nullptr, static_cast<gsize>(m_blockCapacityFrames) * channels * sizeof(float),
            nullptr));
        if (!m_block) {
            releaseBlock();
            drop(QStringLiteral("could not allocate a block, dropping buffer"), nowMs);
            return;
        }
    }
    const gsize bytes = static_cast<gsize>(frames) * channels * sizeof(float);
    const gsize offset = static_cast<gsize>(m_blockFrames) * channels * sizeof(float);
    if (gst_buffer_fill(m_block.get(), offset, data, bytes) != bytes) {
        drop(QStringLiteral("could not fill the block, dropping buffer"), nowMs);
        return;
    }
    m_blockFrames += frames;
    m_blockLastAppendMs = nowMs;
    m_lastAudioMs.store(nowMs, std::memory_order_relaxed);
    // Out as soon as the next buffer of this size would not fit: a block never waits for one
    // more capture buffer than it needs.
    if (m_blockCapacityFrames - m_blockFrames < frames) pushBlock(nowMs);
}

void DeckFeed::pushBlock(qint64 nowMs) {
    BufferHandle buffer = std::move(m_block);
    const int frames = m_blockFrames;
    releaseBlock();
    if (!buffer || frames <= 0 || m_capsRateHz <= 0 || !m_appsrc) return;
    gst_buffer_set_size(buffer.get(), static_cast<gssize>(frames) * m_capsChannels * sizeof(float));
    // No time stamp: the live appsrc stamps each block with the running time on arrival.
    GST_BUFFER_DURATION(buffer.get()) =
        gst_util_uint64_scale_int(static_cast<guint64>(frames), GST_SECOND, m_capsRateHz);
    const GstFlowReturn result =
        gst_app_src_push_buffer(GST_APP_SRC(m_appsrc.get()), buffer.release());
    if (result == GST_FLOW_OK) {
        m_pushedBlocks.fetch_add(1, std::memory_order_relaxed);
        m_pushedFrames.fetch_add(static_cast<quint64>(frames), std::memory_order_relaxed);
        return;
    }
    m_droppedBuffers.fetch_add(1, std::memory_order_relaxed);
    warnThrottled(QStringLiteral("appsrc push failed, dropping buffer (ret=%1)")
                      .arg(static_cast<int>(result)),
                  nowMs);
}

void DeckFeed::traceCall(float peak, int frames, int channels, bool running, qint64 nowMs) {
    if (nowMs - m_lastTraceMs.load(std::memory_order_relaxed) < kLogIntervalMs) return;
    m_lastTraceMs.store(nowMs, std::memory_order_relaxed);
    MIXER_DEBUG << QStringLiteral("%1: peak=%2, frames=%3, channels=%4, running=%5")
                       .arg(m_function, QString::number(peak, 'f', 6))
                       .arg(frames)
                       .arg(channels)
                       .arg(running ? 1 : 0);
}

void DeckFeed::drop(const QString& reason, qint64 nowMs) {
    m_droppedBuffers.fetch_add(1, std::memory_order_relaxed);
    warnThrottled(reason, nowMs);
}

void DeckFeed::warnThrottled(const QString& text, qint64 nowMs) {
    if (nowMs - m_lastWarnMs.load(std::memory_order_relaxed) < kLogIntervalMs) return;
    m_lastWarnMs.store(nowMs, std::memory_order_relaxed);
    MIXER_WARN << m_function << ": " << text;
}

void DeckFeed::decayPeak(float factor) {
    float value = m_peak.load();
    m_peak.compare_exchange_strong(value, value * factor);
}
