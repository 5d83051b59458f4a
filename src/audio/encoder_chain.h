// The codec part of the encoder branch: the encoder with its fallbacks, properties and caps, the
// Ogg muxer or the AAC parser and ADTS caps, and the Ogg stream's title and artist.
#pragma once

#include <QString>

#include "audio/codec.h"
#include "audio/gst_object_handle.h"
#include "audio/gstreamer_mixer_enums.h"
#include "audio/mix_format.h"

class ElementMaker;

// What the listener gets. Values out of range are corrected when the chain is built.
struct EncoderChainSettings {
    Codec codec = Codec::Opus;
    int bitrateKbps = 128;
    int sampleRateHz = mixformat::kSampleRateHz;
    int channels = mixformat::kChannels;
    bool aacAfterburner = true;
    GStreamerMixerEnums::AacProfile aacProfile = GStreamerMixerEnums::AAC_PROFILE_AUTO;
    GStreamerMixerEnums::OpusAudioType opusAudioType = GStreamerMixerEnums::OPUS_AUDIO_MUSIC;
};

// Main thread. Holds a reference to each of its elements; the pipeline's bin holds them too.
class EncoderChain {
public:
    // Makes and sets up the chain's elements in the maker's bin. Without an installed encoder
    // for the codec: false, and *error is the message for the user.
    bool build(ElementMaker& maker, const EncoderChainSettings& settings, QString* error);

    // input → raw caps → encoder → [AAC parser] → [Ogg muxer | ADTS caps] → output.
    bool link(GstElement* input, GstElement* output) const;

    // The encoder's factory ("opusenc", "avenc_aac"), empty before a build.
    QString encoderFactory() const { return m_encoderFactory; }

    // Title and artist for the comment header of the Ogg stream to come. False for a codec
    // without one, or an encoder that takes no tags.
    bool setStreamTags(const QString& title, const QString& artist) const;

private:
    bool makeEncoder(ElementMaker& maker);
    void makeCaps(ElementMaker& maker, const EncoderChainSettings& settings);
    void configureEncoder(const EncoderChainSettings& settings);

    Codec m_codec = Codec::Opus;
    QString m_encoderFactory;
    int m_rateHz = mixformat::kSampleRateHz;
    int m_channels = mixformat::kChannels;
    ElementHandle m_rawCaps;
    ElementHandle m_encoder;
    ElementHandle m_aacParse;  // FFmpeg's AAC encoder only: it writes raw AAC, not ADTS
    ElementHandle m_aacCaps;
    ElementHandle m_muxer;
};
