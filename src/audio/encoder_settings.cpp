#include "audio/encoder_settings.h"

#include <algorithm>
#include <cmath>

EncoderSettings::EncoderSettings(QObject* parent) : QObject(parent) {}

template <typename T>
void EncoderSettings::update(T& field, T value) {
    if (field == value) return;
    field = value;
    Q_EMIT settingsChanged();
}

void EncoderSettings::setEncoderType(int stored) { update(m_encoderType, stored); }

void EncoderSettings::setBitrate(int kbps) {
    update(m_bitrate, std::clamp(kbps, kMinBitrateKbps, kMaxBitrateKbps));
}

void EncoderSettings::setSampleRate(int hz) { update(m_sampleRate, hz); }

void EncoderSettings::setChannels(int channels) { update(m_channels, std::clamp(channels, 1, 2)); }

void EncoderSettings::setAacAfterburner(bool enabled) { update(m_aacAfterburner, enabled); }

void EncoderSettings::setAacProfile(int profile) {
    update(m_aacProfile, std::clamp<int>(profile, GStreamerMixerEnums::AAC_PROFILE_AUTO,
                                         GStreamerMixerEnums::AAC_PROFILE_HE_V2));
}

void EncoderSettings::setOpusAudioType(int type) {
    update(m_opusAudioType, std::clamp<int>(type, GStreamerMixerEnums::OPUS_AUDIO_MUSIC,
                                            GStreamerMixerEnums::OPUS_AUDIO_SPEECH));
}

void EncoderSettings::setDuckingEnabled(bool enabled) { update(m_duckingEnabled, enabled); }

void EncoderSettings::setDuckingSourceDeck(int deck) {
    update(m_duckingSourceDeck, std::clamp(deck, 0, 1));
}

// A NaN would pass any clamp and end up as a gain in the audio path.
void EncoderSettings::setDuckingThreshold(float dbfs) {
    if (!std::isnan(dbfs)) update(m_duckingThresholdDb, std::clamp(dbfs, -60.0f, 0.0f));
}

void EncoderSettings::setDuckingRatio(float ratio) {
    if (!std::isnan(ratio)) update(m_duckingRatio, std::clamp(ratio, 1.0f, 10.0f));
}

void EncoderSettings::setDuckingAttack(int ms) {
    update(m_duckingAttackMs, std::clamp(ms, 1, 1000));
}

void EncoderSettings::setDuckingRelease(int ms) {
    update(m_duckingReleaseMs, std::clamp(ms, 10, 5000));
}

void EncoderSettings::setDuckingKnee(float db) {
    if (!std::isnan(db)) update(m_duckingKneeDb, std::clamp(db, 0.0f, 20.0f));
}
