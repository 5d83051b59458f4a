#pragma once

#include <QObject>

// The mixer's codec enumerations, apart from the mixer itself so that the encoder settings can
// map onto them without pulling in GStreamer. GStreamerMixer inherits them, so they read as
// GStreamerMixer::ENCODER_OPUS and so on. The settings' own numbering is EncoderSettings::Format.
class GStreamerMixerEnums {
    Q_GADGET

public:
    enum EncoderType {
        ENCODER_OPUS = 0,
        ENCODER_MP3 = 1,
        ENCODER_AAC = 2,
        ENCODER_VORBIS = 3,
    };
    Q_ENUM(EncoderType)

    enum AacProfile {
        AAC_PROFILE_AUTO = 0,
        AAC_PROFILE_LC = 1,
        AAC_PROFILE_HE_V1 = 2,
        AAC_PROFILE_HE_V2 = 3,
    };
    Q_ENUM(AacProfile)

    enum OpusAudioType {
        OPUS_AUDIO_MUSIC = 0,
        OPUS_AUDIO_SPEECH = 1,
    };
    Q_ENUM(OpusAudioType)
};
