// The codec part of the encoder branch: encoder choice, properties, caps and Ogg tags.
#include "audio/encoder_chain.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include <gst/gst.h>

#include "audio/element_maker.h"
#include "audio/gst_element_util.h"
#include "audio/mixer_log.h"

using gstutil::setClampedInt;
using mixerlog::joined;

namespace {

using Enums = GStreamerMixerEnums;

// Raw values of enum properties whose types the plug-ins do not export.
constexpr int kOpusBitrateTypeCbr = 0;         // opusenc "bitrate-type"
constexpr int kOpusApplicationVoice = 2048;    // opusenc "audio-type": OPUS_APPLICATION_VOIP
constexpr int kOpusApplicationGeneric = 2049;  // opusenc "audio-type": OPUS_APPLICATION_AUDIO
constexpr int kLameTargetBitrate = 1;          // lamemp3enc "target"
constexpr int kAacMpegVersion = 4;
// How long the Ogg muxer may hold data back before it must write a page.
constexpr guint64 kOggMaxDelayNs = 500 * GST_MSECOND;

// Opus only encodes these rates; any other request is encoded at its full rate.
constexpr int kOpusRatesHz[] = {8000, 12000, 16000, 24000, 48000};
constexpr int kOpusFullRateHz = 48000;

// Best first. FFmpeg's AAC encoder comes last: it needs a parser to write ADTS.
std::vector<const char*> encoderFactories(Codec codec) {
    switch (codec) {
        case Codec::Opus:
            return {"opusenc"};
        case Codec::Vorbis:
            return {"vorbisenc"};
        case Codec::Mp3:
            return {"lamemp3enc", "avenc_mp3lame", "avenc_libmp3lame"};
        case Codec::Aac:
            return {"fdkaacenc", "voaacenc", "avenc_aac"};
    }
    return {};
}

QString encoderUnavailableMessage(Codec codec) {
    switch (codec) {
        case Codec::Opus:
            return QStringLiteral(
                "Opus encoder not available.\n\nThe Opus encoder could not be found.\nPlease "
                "install GStreamer plugins with Opus support (gst-plugins-base)\nor select a "
                "different encoder format in Settings.");
        case Codec::Mp3:
            return QStringLiteral(
                "MP3 encoder not available.\n\nThe selected MP3 encoder could not be "
                "found.\nPlease "
                "install GStreamer plugins with MP3 support (gst-plugins-ugly)\nor select a "
                "different encoder format in Settings.");
        case Codec::Aac:
            return QStringLiteral(
                "AAC encoder not available.\n\nNo AAC encoder found (tried fdkaacenc and "
                "voaacenc).\nPlease install GStreamer plugins with AAC support "
                "(gst-plugins-bad)\nor select a different encoder format in Settings.");
        case Codec::Vorbis:
            return QStringLiteral(
                "Vorbis encoder not available.\n\nThe Vorbis encoder could not be found.\nPlease "
                "install GStreamer plugins with Vorbis support (gst-plugins-base)\nor select a "
                "different encoder format in Settings.");
    }
    return QStringLiteral(
               "Selected encoder (%1) is not available.\n\nPlease select a different encoder "
               "format in Settings.")
        .arg(QStringLiteral("Unknown"));
}

const char* aacProfileCapsName(Enums::AacProfile profile) {
    switch (profile) {
        case Enums::AAC_PROFILE_AUTO:
            return nullptr;
        case Enums::AAC_PROFILE_HE_V1:
            return "he-aac-v1";
        case Enums::AAC_PROFILE_HE_V2:
            return "he-aac-v2";
        default:
            return "lc";
    }
}

bool isHeAac(Enums::AacProfile profile) {
    return profile == Enums::AAC_PROFILE_HE_V1 || profile == Enums::AAC_PROFILE_HE_V2;
}

}  // namespace

bool EncoderChain::build(ElementMaker& maker, const EncoderChainSettings& settings,
                         QString* error) {
    m_codec = settings.codec;
    if (!makeEncoder(maker)) {
        *error = encoderUnavailableMessage(m_codec);
        MIXER_WARN << "GStreamerMixer: " << *error;
        return false;
    }
    makeCaps(maker, settings);
    configureEncoder(settings);
    return true;
}

bool EncoderChain::makeEncoder(ElementMaker& maker) {
    const std::vector<const char*> factories = encoderFactories(m_codec);
    for (const char* factory : factories) {
        ElementHandle encoder = maker.makeLoose(factory, "encoder");
        if (!encoder) {
            MIXER_DEBUG << joined(factory, "not available");
            continue;
        }
        ElementHandle parse;
        if (m_codec == Codec::Aac && qstrcmp(factory, "avenc_aac") == 0) {
            parse = maker.makeLoose("aacparse", "aac_parse");
            if (!parse) {
                MIXER_DEBUG << joined(factory, "needs aacparse, which is not available");
                continue;
            }
        }
        ElementHandle muxer;
        if (isOggCodec(m_codec)) {
            // Without the muxer the stream would not be Ogg, whatever the server is told.
            muxer = maker.makeLoose("oggmux", "muxer");
            if (!muxer) {
                MIXER_WARN << "oggmux not available";
                return false;
            }
        }
        m_encoder = ElementHandle::share(maker.add(encoder));
        if (parse) m_aacParse = ElementHandle::share(maker.add(parse));
        if (muxer) m_muxer = ElementHandle::share(maker.add(muxer));
        m_encoderFactory = QString::fromLatin1(factory);
        if (factory != factories.front()) {
            MIXER_INFO << joined(factories.front(), "not available, encoding",
                                 codecShortName(m_codec), "with", m_encoderFactory);
        }
        return true;
    }
    return false;
}

void EncoderChain::makeCaps(ElementMaker& maker, const EncoderChainSettings& settings) {
    if (m_codec == Codec::Aac) {
        Enums::AacProfile profile = settings.aacProfile;
        // Only FDK-AAC makes HE-AAC; asking another encoder for it fails negotiation mid-stream.
        if (isHeAac(profile) && m_encoderFactory != QLatin1String("fdkaacenc")) {
            MIXER_WARN << joined(m_encoderFactory, "cannot encode AAC profile",
                                 aacProfileCapsName(profile), "- encoding AAC-LC instead");
            profile = Enums::AAC_PROFILE_LC;
        }
        if (GstElement* aacCaps = maker.make("capsfilter", "aac_caps")) {
            m_aacCaps = ElementHandle::share(aacCaps);
            const CapsHandle caps = CapsHandle::adopt(
                gst_caps_new_simple("audio/mpeg", "mpegversion", G_TYPE_INT, kAacMpegVersion,
                                    "stream-format", G_TYPE_STRING, "adts", nullptr));
            if (const char* name = aacProfileCapsName(profile)) {
                gst_caps_set_simple(caps.get(), "profile", G_TYPE_STRING, name, nullptr);
            }
            g_object_set(aacCaps, "caps", caps.get(), nullptr);
        } else {
            MIXER_WARN << "Failed to create AAC capsfilter";
        }
    }

    // HE-AAC v2 is parametric stereo: it needs two channels in.
    m_channels = std::clamp(settings.channels, 1, mixformat::kChannels);
    if (m_codec == Codec::Aac && settings.aacProfile == Enums::AAC_PROFILE_HE_V2) {
        m_channels = mixformat::kChannels;
    }
    m_rateHz = settings.sampleRateHz;
    if (m_codec == Codec::Opus && std::find(std::begin(kOpusRatesHz), std::end(kOpusRatesHz),
                                            m_rateHz) == std::end(kOpusRatesHz)) {
        MIXER_WARN << joined("Opus cannot encode at", m_rateHz, "Hz - encoding at", kOpusFullRateHz,
                             "Hz");
        m_rateHz = kOpusFullRateHz;
    }
    if (m_rateHz <= 0) m_rateHz = mixformat::kSampleRateHz;
    if (GstElement* rawCaps = maker.make("capsfilter", "encoder_raw_caps")) {
        m_rawCaps = ElementHandle::share(rawCaps);
        const CapsHandle caps =
            CapsHandle::adopt(gst_caps_new_simple("audio/x-raw", "channels", G_TYPE_INT, m_channels,
                                                  "rate", G_TYPE_INT, m_rateHz, nullptr));
        g_object_set(rawCaps, "caps", caps.get(), nullptr);
        MIXER_DEBUG << joined("Encoder input:", m_channels, "channels at", m_rateHz, "Hz");
    } else {
        MIXER_WARN << "Failed to create encoder raw capsfilter";
    }
}

void EncoderChain::configureEncoder(const EncoderChainSettings& settings) {
    GstElement* encoder = m_encoder.get();
    const bool ffmpeg = m_encoderFactory.startsWith(QLatin1String("avenc_"));
    const int bitrateBps = settings.bitrateKbps * 1000;
    switch (m_codec) {
        case Codec::Opus:
            setClampedInt(encoder, "bitrate", bitrateBps);
            g_object_set(encoder, "bitrate-type", kOpusBitrateTypeCbr, "audio-type",
                         settings.opusAudioType == Enums::OPUS_AUDIO_SPEECH
                             ? kOpusApplicationVoice
                             : kOpusApplicationGeneric,
                         nullptr);
            break;
        case Codec::Vorbis:
            g_object_set(encoder, "managed", TRUE, nullptr);
            setClampedInt(encoder, "bitrate", bitrateBps);
            setClampedInt(encoder, "max-bitrate", bitrateBps);
            break;
        case Codec::Mp3:
            if (ffmpeg) {
                setClampedInt(encoder, "bitrate", bitrateBps);
            } else {
                g_object_set(encoder, "target", kLameTargetBitrate, nullptr);
                setClampedInt(encoder, "bitrate", settings.bitrateKbps);  // lame counts in kbps
                g_object_set(encoder, "cbr", TRUE, nullptr);
            }
            break;
        case Codec::Aac:
            setClampedInt(encoder, "bitrate", bitrateBps);
            if (m_encoderFactory == QLatin1String("fdkaacenc") &&
                gstutil::hasProperty(encoder, "afterburner")) {
                g_object_set(encoder, "afterburner", settings.aacAfterburner ? TRUE : FALSE,
                             nullptr);
            }
            break;
    }
    MIXER_DEBUG << joined("Configuring encoder:", m_encoderFactory,
                          "bitrate:", settings.bitrateKbps, "kbps", "sampleRate:", m_rateHz, "Hz",
                          "channels:", m_channels);
    if (m_codec != Codec::Vorbis && gstutil::hasProperty(encoder, "bitrate")) {
        int readback = 0;
        g_object_get(encoder, "bitrate", &readback, nullptr);
        const bool inKbps = m_codec == Codec::Mp3 && !ffmpeg;
        MIXER_DEBUG << joined("Encoder bitrate readback:", readback, inKbps ? "kbps" : "bps");
    }
    if (m_muxer) {
        g_object_set(m_muxer.get(), "max-delay", kOggMaxDelayNs, "max-page-delay", kOggMaxDelayNs,
                     nullptr);
    }
}

bool EncoderChain::link(GstElement* input, GstElement* output) const {
    GstElement* encoded = m_encoder.get();
    const bool linked = (m_rawCaps ? gstutil::linkChain({input, m_rawCaps.get(), encoded})
                                   : gstutil::linkChain({input, encoded})) &&
                        (!m_aacParse || gstutil::linkChain({encoded, m_aacParse.get()}));
    if (!linked) {
        MIXER_WARN << "Failed to link the encoder";
        return false;
    }
    if (m_aacParse) encoded = m_aacParse.get();
    GstElement* wrapper = m_muxer ? m_muxer.get() : m_aacCaps.get();
    if (!(wrapper ? gstutil::linkChain({encoded, wrapper, output})
                  : gstutil::linkChain({encoded, output}))) {
        MIXER_WARN << joined("Failed to link the encoder to", m_muxer     ? "the Ogg muxer"
                                                              : m_aacCaps ? "the ADTS caps"
                                                                          : "its output");
        return false;
    }
    return true;
}

bool EncoderChain::setStreamTags(const QString& title, const QString& artist) const {
    if (!m_encoder || !isOggCodec(m_codec)) return false;
    if (!GST_IS_TAG_SETTER(m_encoder.get())) {
        MIXER_WARN << "Encoder does not implement GstTagSetter interface";
        return false;
    }
    const TagListHandle tags = TagListHandle::adopt(gst_tag_list_new_empty());
    if (!title.isEmpty()) {
        gst_tag_list_add(tags.get(), GST_TAG_MERGE_REPLACE, GST_TAG_TITLE,
                         title.toUtf8().constData(), nullptr);
    }
    if (!artist.isEmpty()) {
        gst_tag_list_add(tags.get(), GST_TAG_MERGE_REPLACE, GST_TAG_ARTIST,
                         artist.toUtf8().constData(), nullptr);
    }
    gst_tag_setter_merge_tags(GST_TAG_SETTER(m_encoder.get()), tags.get(), GST_TAG_MERGE_REPLACE);
    return true;
}
