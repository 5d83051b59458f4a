#pragma once

#include <QObject>
#include <QString>

#include "audio/codec.h"
#include "audio/gstreamer_mixer_enums.h"
#include "core/settings_keys.h"

// How the broadcast is encoded and how voice ducking is configured. The broadcast controller
// owns one; the main window writes it through the setters, which clamp into each field's range
// and signal only a real change. The mixer and the Icecast client copy it before each start.
//
// Main thread only.
class EncoderSettings : public QObject {
    Q_OBJECT

public:
    static constexpr int kMinBitrateKbps = 32;
    static constexpr int kMaxBitrateKbps = 320;

    explicit EncoderSettings(QObject* parent = nullptr);

    // The stored "encoder/type" number, as given (see Codec); codec() is what it encodes as.
    int encoderType() const { return m_encoderType; }
    Codec codec() const { return codecFromStored(m_encoderType); }
    int bitrate() const { return m_bitrate; }
    int sampleRate() const { return m_sampleRate; }
    int channels() const { return m_channels; }
    bool aacAfterburner() const { return m_aacAfterburner; }
    int aacProfile() const { return m_aacProfile; }
    int opusAudioType() const { return m_opusAudioType; }
    bool duckingEnabled() const { return m_duckingEnabled; }
    int duckingSourceDeck() const { return m_duckingSourceDeck; }
    float duckingThresholdDb() const { return m_duckingThresholdDb; }
    float duckingRatio() const { return m_duckingRatio; }
    int duckingAttackMs() const { return m_duckingAttackMs; }
    int duckingReleaseMs() const { return m_duckingReleaseMs; }
    float duckingKneeDb() const { return m_duckingKneeDb; }

    // Any number is kept as given (an unknown one encodes as MP3).
    void setEncoderType(int stored);
    void setBitrate(int kbps);       // 32..320
    void setSampleRate(int hz);      // kept as given
    void setChannels(int channels);  // 1..2
    void setAacAfterburner(bool enabled);
    void setAacProfile(int profile);  // 0..3, GStreamerMixer::AacProfile
    void setOpusAudioType(int type);  // 0..1, GStreamerMixer::OpusAudioType
    void setDuckingEnabled(bool enabled);
    void setDuckingSourceDeck(int deck);   // 0 = deck 1, 1 = deck 2
    void setDuckingThreshold(float dbfs);  // -60..0; a NaN is ignored
    void setDuckingRatio(float ratio);     // 1..10; a NaN is ignored
    void setDuckingAttack(int ms);         // 1..1000
    void setDuckingRelease(int ms);        // 10..5000
    void setDuckingKnee(float db);         // 0..20; a NaN is ignored

    // "MP3", "AAC", "OGG Vorbis", "OGG Opus", or "Unknown" for any other number.
    QString encoderName() const { return codecDisplayName(m_encoderType); }

Q_SIGNALS:
    void settingsChanged();

private:
    template <typename T>
    void update(T& field, T value);

    int m_encoderType = settingskeys::kEncoderType.defaultValue;
    int m_bitrate = settingskeys::kEncoderBitrate.defaultValue;
    int m_sampleRate = settingskeys::kEncoderSampleRate.defaultValue;
    int m_channels = settingskeys::kEncoderChannels.defaultValue;
    bool m_aacAfterburner = settingskeys::kEncoderAacAfterburner.defaultValue;
    int m_aacProfile = settingskeys::kEncoderAacProfile.defaultValue;
    int m_opusAudioType = settingskeys::kEncoderOpusOptimizedFor.defaultValue;
    bool m_duckingEnabled = false;
    int m_duckingSourceDeck = 0;
    float m_duckingThresholdDb = float(settingskeys::kDuckingThreshold.defaultValue);
    float m_duckingRatio = float(settingskeys::kDuckingRatio.defaultValue);
    int m_duckingAttackMs = settingskeys::kDuckingAttack.defaultValue;
    int m_duckingReleaseMs = settingskeys::kDuckingRelease.defaultValue;
    float m_duckingKneeDb = float(settingskeys::kDuckingKnee.defaultValue);
};
