#pragma once

#include <QObject>
#include <QString>

#include "audio/gstreamer_mixer_enums.h"

// How the broadcast is encoded and how voice ducking is configured. The broadcast controller
// owns one; the main window writes it through the setters, which clamp into each field's range
// and signal only a real change. The mixer and the Icecast client copy it before each start.
//
// Main thread only.
class EncoderSettings : public QObject {
    Q_OBJECT

public:
    // The settings' own codec numbering (stored under "encoder/type" and used by the dialogs).
    // The mixer numbers its encoders differently; see toMixerEncoderType.
    enum Format {
        MP3 = 0,
        AAC = 1,
        OGG_VORBIS = 2,
        OGG_OPUS = 3,
    };
    Q_ENUM(Format)

    static constexpr int kMinBitrateKbps = 32;
    static constexpr int kMaxBitrateKbps = 320;

    explicit EncoderSettings(QObject* parent = nullptr);

    int encoderType() const { return m_encoderType; }
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

    // Any code is kept as given (an unknown one encodes as MP3, see toMixerEncoderType).
    void setEncoderType(int format);
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

    // "MP3", "AAC", "OGG Vorbis", "OGG Opus", or "Unknown" for any other code.
    QString encoderName() const;
    static QString encoderName(int format);

    // The mixer's encoder for a settings code; unknown codes fall back to MP3.
    static GStreamerMixerEnums::EncoderType toMixerEncoderType(int format);

    // The mixer's short codec name for logs and labels: "Opus", "MP3", "AAC", "Vorbis", or empty.
    static QString mixerEncoderShortName(int mixerEncoderType);

    // The label of a running encoder: "Opus 128kbps @ 48kHz", or with resampling
    // "Vorbis 96kbps @ 48kHz → 44.1kHz" (the mix always runs at 48 kHz).
    static QString formatLabel(int mixerEncoderType, int bitrateKbps, int targetSampleRateHz);

Q_SIGNALS:
    void settingsChanged();

private:
    template <typename T>
    void update(T& field, T value);

    int m_encoderType = OGG_OPUS;
    int m_bitrate = 128;
    int m_sampleRate = 48000;
    int m_channels = 2;
    bool m_aacAfterburner = true;
    int m_aacProfile = GStreamerMixerEnums::AAC_PROFILE_AUTO;
    int m_opusAudioType = GStreamerMixerEnums::OPUS_AUDIO_MUSIC;
    bool m_duckingEnabled = false;
    int m_duckingSourceDeck = 0;
    float m_duckingThresholdDb = -20.0f;
    float m_duckingRatio = 4.0f;
    int m_duckingAttackMs = 10;
    int m_duckingReleaseMs = 100;
    float m_duckingKneeDb = 6.0f;
};
