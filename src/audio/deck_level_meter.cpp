#include "audio/deck_level_meter.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

float toMeterDb(double value) {
    if (value <= 0.0) return kMeterFloorDb;
    return std::max(kMeterFloorDb, static_cast<float>(20.0 * std::log10(value)));
}

float follow(float current, float target, double dtSeconds, double timeConstantSeconds) {
    const double coefficient = 1.0 - std::exp(-dtSeconds / timeConstantSeconds);
    return current + static_cast<float>(coefficient * (target - current));
}

}  // namespace

DeckLevelMeter::DeckLevelMeter() { resetAt(monotonicNowNs()); }

std::int64_t DeckLevelMeter::monotonicNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void DeckLevelMeter::process(const float* data, int frames, int channels) {
    processAt(data, frames, channels, monotonicNowNs());
}

void DeckLevelMeter::processAt(const float* data, int frames, int channels, std::int64_t nowNs) {
    if (!isEnabled() || !data || frames <= 0 || channels <= 0) return;

    double peakL = 0.0, peakR = 0.0, sumL = 0.0, sumR = 0.0;
    if (channels == 1) {
        for (int i = 0; i < frames; ++i) {
            const double s = data[i];
            peakL = std::max(peakL, std::fabs(s));
            sumL += s * s;
        }
        peakR = peakL;
        sumR = sumL;
    } else {
        for (int i = 0; i < frames; ++i) {
            const double l = data[i * channels];
            const double r = data[i * channels + 1];
            peakL = std::max(peakL, std::fabs(l));
            peakR = std::max(peakR, std::fabs(r));
            sumL += l * l;
            sumR += r * r;
        }
    }
    const float peakLDb = toMeterDb(peakL);
    const float peakRDb = toMeterDb(peakR);
    const float rmsLDb = toMeterDb(std::sqrt(sumL / frames));
    const float rmsRDb = toMeterDb(std::sqrt(sumR / frames));

    std::lock_guard<std::mutex> lock(m_mutex);
    m_levels.peakLeft = peakLDb;
    m_levels.peakRight = peakRDb;

    const double peakDt = static_cast<double>(nowNs - m_lastPeakUpdateNs) / 1e9;
    m_lastPeakUpdateNs = nowNs;
    if (peakDt > 0.0) {
        auto step = [peakDt](float follower, float peak) {
            const double tau = peak > follower ? kPeakAttackSeconds : kPeakReleaseSeconds;
            return follow(follower, peak, peakDt, tau);
        };
        m_levels.smoothedPeakLeft = step(m_levels.smoothedPeakLeft, peakLDb);
        m_levels.smoothedPeakRight = step(m_levels.smoothedPeakRight, peakRDb);
    } else {
        m_levels.smoothedPeakLeft = peakLDb;
        m_levels.smoothedPeakRight = peakRDb;
    }
    m_levels.smoothedPeakLeft = std::max(kMeterFloorDb, m_levels.smoothedPeakLeft);
    m_levels.smoothedPeakRight = std::max(kMeterFloorDb, m_levels.smoothedPeakRight);

    const double rmsDt = static_cast<double>(nowNs - m_lastRmsUpdateNs) / 1e9;
    m_lastRmsUpdateNs = nowNs;
    if (rmsDt > 0.0) {
        m_levels.rmsLeft = follow(m_levels.rmsLeft, rmsLDb, rmsDt, kRmsSeconds);
        m_levels.rmsRight = follow(m_levels.rmsRight, rmsRDb, rmsDt, kRmsSeconds);
    } else {
        m_levels.rmsLeft = rmsLDb;
        m_levels.rmsRight = rmsRDb;
    }
}

void DeckLevelMeter::reset() { resetAt(monotonicNowNs()); }

void DeckLevelMeter::resetAt(std::int64_t nowNs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_levels = DeckLevels{};
    m_lastPeakUpdateNs = nowNs;
    m_lastRmsUpdateNs = nowNs;
}

DeckLevels DeckLevelMeter::levels() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_levels;
}
