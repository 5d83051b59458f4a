// One deck's source, running state and capture path.
#include "audio/capture_deck.h"

#include <algorithm>
#include <cmath>

#include "audio/mix_format.h"
#include "audio/obs_handles.h"
#include "core/log_categories.h"

namespace {

constexpr std::size_t kInitialScratchFrames = 8192;
constexpr std::int64_t kRateReportIntervalMs = 5000;

double toLogDb(double value) { return value > 0.0 ? 20.0 * std::log10(value) : -90.0; }

}  // namespace

CaptureDeck::CaptureDeck(int number)
    : m_number(number), m_interleaved(kInitialScratchFrames * mixformat::kChannels, 0.0f) {}

CaptureDeck::~CaptureDeck() = default;

void CaptureDeck::adoptSource(obs_source* source, const QString& inputId) {
    obshandle::Source(m_source.exchange(source));
    m_inputId = inputId;
}

bool CaptureDeck::releaseSource() {
    m_inputId.clear();
    return obshandle::Source(m_source.exchange(nullptr)) != nullptr;
}

void CaptureDeck::abandonSource() {
    m_inputId.clear();
    m_source.store(nullptr);
}

bool CaptureDeck::start(AudioCallback callback, void* param) {
    obs_source_t* source = m_source.load();
    if (!source) return false;
    m_meter.reset();
    m_active.store(true);
    m_tap = std::make_unique<obshandle::AudioTap>(source, callback, param);
    return true;
}

bool CaptureDeck::stop() {
    if (!m_active.load()) return false;
    m_active.store(false);
    m_tap.reset();
    m_meter.reset();
    return true;
}

const float* CaptureDeck::take(const float* left, const float* right, std::uint32_t frames,
                               bool muted, bool keepLevels) {
    const std::size_t needed = static_cast<std::size_t>(frames) * mixformat::kChannels;
    if (m_interleaved.size() < needed) {
        qCWarning(lcObsAudio).nospace() << "Interleaved buffer too small (" << m_interleaved.size()
                                        << " < " << needed << "), resizing on audio thread";
        m_interleaved.resize(needed);
    }
    float* out = m_interleaved.data();
    for (std::uint32_t i = 0; i < frames; ++i) {
        out[2 * i] = left ? left[i] : 0.0f;
        out[2 * i + 1] = right ? right[i] : 0.0f;
    }

    m_buffers.fetch_add(1, std::memory_order_relaxed);
    m_frames.fetch_add(frames, std::memory_order_relaxed);
    if (keepLevels) {
        float peak = 0.0f;
        double sumSquares = 0.0;
        for (std::size_t i = 0; i < needed; ++i) {
            peak = std::max(peak, std::fabs(out[i]));
            sumSquares += static_cast<double>(out[i]) * out[i];
        }
        m_lastPeak.store(peak, std::memory_order_relaxed);
        m_lastRms.store(static_cast<float>(std::sqrt(sumSquares / static_cast<double>(needed))),
                        std::memory_order_relaxed);
        m_lastMuted.store(muted, std::memory_order_relaxed);
    }
    if (muted) {
        m_muted.fetch_add(1, std::memory_order_relaxed);
        return nullptr;
    }
    m_meter.process(out, static_cast<int>(frames), mixformat::kChannels);
    return out;
}

void CaptureDeck::countDelivery(bool forwarded) {
    (forwarded ? m_forwarded : m_unforwarded).fetch_add(1, std::memory_order_relaxed);
}

DeckCaptureStats CaptureDeck::stats() const {
    DeckCaptureStats stats;
    stats.buffers = m_buffers.load(std::memory_order_relaxed);
    stats.frames = m_frames.load(std::memory_order_relaxed);
    stats.muted = m_muted.load(std::memory_order_relaxed);
    stats.forwarded = m_forwarded.load(std::memory_order_relaxed);
    stats.unforwarded = m_unforwarded.load(std::memory_order_relaxed);
    return stats;
}

void CaptureDeck::reportDiagnostics(std::int64_t nowMs, bool verbose) {
    const std::uint64_t frames = m_frames.load(std::memory_order_relaxed);
    if (m_reportedAtMs < 0) {
        m_reportedAtMs = nowMs;
        m_reportedFrames = frames;
    } else if (nowMs - m_reportedAtMs >= kRateReportIntervalMs) {
        const std::int64_t elapsedMs = nowMs - m_reportedAtMs;
        const auto counted = static_cast<std::int64_t>(frames - m_reportedFrames);
        qCDebug(lcObsAudio) << "Deck" << m_number << "frame rate:" << counted * 1000 / elapsedMs
                            << "fps"
                            << "(expected:" << mixformat::kSampleRateHz << ","
                            << "frames:" << counted << "in" << elapsedMs << "ms)";
        m_reportedAtMs = nowMs;
        m_reportedFrames = frames;
    }

    const std::uint64_t buffers = m_buffers.load(std::memory_order_relaxed);
    if (!verbose || buffers == m_levelsLoggedAtBuffer) return;
    m_levelsLoggedAtBuffer = buffers;
    if (!lcObsAudio().isDebugEnabled()) return;
    const double peak = m_lastPeak.load(std::memory_order_relaxed);
    const double rms = m_lastRms.load(std::memory_order_relaxed);
    QDebug line = QMessageLogger(QT_MESSAGELOG_FILE, QT_MESSAGELOG_LINE, QT_MESSAGELOG_FUNC)
                      .debug(lcObsAudio());
    line << "Deck" << m_number << "audio";
    if (m_lastMuted.load(std::memory_order_relaxed)) line << "(muted)";
    line << "peak" << peak << "(" << toLogDb(peak) << "dB)"
         << "rms" << rms << "(" << toLogDb(rms) << "dB)";
}
