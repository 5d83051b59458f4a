#include "audio/voice_ducker.h"

#include <algorithm>
#include <cmath>

#include <QDateTime>

#include "core/log_categories.h"

namespace {

constexpr float kIdleGain = 0.99f;
constexpr int kActiveLogEveryTicks = 20;  // 20 ticks of 50 ms: once a second

QString oneDecimal(double value) { return QString::number(value, 'f', 1); }

}  // namespace

VoiceDucker::VoiceDucker() : m_clock([] { return QDateTime::currentMSecsSinceEpoch(); }) {}

void VoiceDucker::setClock(Clock clock) {
    m_clock = clock ? std::move(clock) : Clock([] { return QDateTime::currentMSecsSinceEpoch(); });
}

void VoiceDucker::setConfig(const Config& config) {
    const bool wasEnabled = m_config.enabled;
    const bool directionChanged = config.sourceDeck != m_config.sourceDeck;
    m_config = config;
    if (config.enabled) {
        qCInfo(lcDucking).noquote()
            << QStringLiteral(
                   "Config set: enabled=true source=Deck%1 threshold=%2dB ratio=%3 attack=%4ms "
                   "release=%5ms knee=%6dB")
                   .arg(config.sourceDeck == 1 ? 2 : 1)
                   .arg(oneDecimal(config.thresholdDb), oneDecimal(config.ratio))
                   .arg(config.attackMs)
                   .arg(config.releaseMs)
                   .arg(oneDecimal(config.kneeDb));
    } else if (wasEnabled) {
        qCInfo(lcDucking).noquote()
            << QStringLiteral("Config set: enabled=false — ducking disabled");
    }
    // A gain computed for the other deck must not carry over to this one.
    if (!config.enabled || directionChanged || !wasEnabled) reset();
}

float VoiceDucker::computeDuckTarget(const Config& config, float levelDb) {
    const float threshold = config.thresholdDb;
    const float knee = config.kneeDb;
    const float slope = config.ratio != 0.0f ? 1.0f - 1.0f / config.ratio : 0.0f;
    float reductionDb = 0.0f;
    if (levelDb <= threshold - knee / 2.0f) {
        reductionDb = 0.0f;
    } else if (levelDb >= threshold + knee / 2.0f) {
        reductionDb = (levelDb - threshold) * slope;
    } else {
        // Only reached with knee > 0: the level lies strictly inside the knee.
        const float x = levelDb - (threshold - knee / 2.0f);
        reductionDb = slope * x * x / (2.0f * knee);
    }
    return std::pow(10.0f, -reductionDb / 20.0f);
}

void VoiceDucker::smoothDuckGain(float target) {
    if (!m_config.enabled) {
        m_gain.store(1.0f);
        return;
    }
    const qint64 now = m_clock();
    const qint64 last = m_lastDuckUpdateMs;
    m_lastDuckUpdateMs = now;
    if (last == 0) {
        m_gain.store(std::clamp(target, 0.0f, 1.0f));
        return;
    }
    const float dt = static_cast<float>(now - last);
    if (dt <= 0.0f) return;
    const float current = m_gain.load();
    const float tau = static_cast<float>(current > target ? m_config.attackMs : m_config.releaseMs);
    const float next = tau > 0.0f ? std::exp(-dt / tau) * (current - target) + target : target;
    m_gain.store(std::clamp(next, 0.0f, 1.0f));
}

float VoiceDucker::levelToDb(float linearLevel) {
    return 20.0f * std::log10(std::max(linearLevel, 0.00001f));
}

void VoiceDucker::logTick(float previousGain, float currentGain, float triggerDb) {
    const float gainDb = 20.0f * std::log10(std::max(currentGain, 0.0001f));
    if (previousGain >= kIdleGain && currentGain < kIdleGain) {
        qCInfo(lcDucking).noquote()
            << QStringLiteral(
                   "Kicked in: triggerLevel=%1dB threshold=%2dB gain=%3dB (Deck%4 ducks "
                   "Deck%5)")
                   .arg(oneDecimal(triggerDb), oneDecimal(m_config.thresholdDb), oneDecimal(gainDb))
                   .arg(triggerDeck())
                   .arg(duckedDeck());
    } else if (previousGain < kIdleGain && currentGain >= kIdleGain) {
        qCInfo(lcDucking).noquote()
            << QStringLiteral("Released: triggerLevel=%1dB (below threshold %2dB)")
                   .arg(oneDecimal(triggerDb), oneDecimal(m_config.thresholdDb));
    }
    if (currentGain < kIdleGain) {
        if (++m_activeTicks >= kActiveLogEveryTicks) {
            qCInfo(lcDucking).noquote()
                << QStringLiteral("Active: gain=%1dB triggerLevel=%2dB reduction=%3")
                       .arg(oneDecimal(gainDb), oneDecimal(triggerDb))
                       .arg(QString::number(currentGain, 'f', 3));
            m_activeTicks = 0;
        }
    } else {
        m_activeTicks = 0;
    }
}

void VoiceDucker::reset() {
    m_gain.store(1.0f);
    m_lastDuckUpdateMs = 0;
    m_activeTicks = 0;
}
