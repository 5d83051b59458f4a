#pragma once

#include <QObject>

// The mixer's codec options, apart from the mixer itself so that the encoder settings can use
// them without pulling in GStreamer. GStreamerMixer inherits them, so they read as
// GStreamerMixer::AAC_PROFILE_LC and so on. The codec itself is a Codec (audio/codec.h).
class GStreamerMixerEnums {
    Q_GADGET

public:
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
