#include "audio/codec.h"

#include "audio/mix_format.h"

Codec codecFromStored(int stored) {
    switch (stored) {
        case int(Codec::Aac):
            return Codec::Aac;
        case int(Codec::Vorbis):
            return Codec::Vorbis;
        case int(Codec::Opus):
            return Codec::Opus;
        default:
            return Codec::Mp3;
    }
}

QString codecShortName(Codec codec) {
    switch (codec) {
        case Codec::Opus:
            return QStringLiteral("Opus");
        case Codec::Aac:
            return QStringLiteral("AAC");
        case Codec::Vorbis:
            return QStringLiteral("Vorbis");
        case Codec::Mp3:
            break;
    }
    return QStringLiteral("MP3");
}

QString codecDisplayName(int stored) {
    switch (stored) {
        case int(Codec::Mp3):
            return QStringLiteral("MP3");
        case int(Codec::Aac):
            return QStringLiteral("AAC");
        case int(Codec::Vorbis):
            return QStringLiteral("OGG Vorbis");
        case int(Codec::Opus):
            return QStringLiteral("OGG Opus");
        default:
            return QStringLiteral("Unknown");
    }
}

bool isOggCodec(Codec codec) { return codec == Codec::Opus || codec == Codec::Vorbis; }

const char* codecMimeType(Codec codec) {
    if (isOggCodec(codec)) return "audio/ogg";
    return codec == Codec::Aac ? "audio/aac" : "audio/mpeg";
}

QString codecFormatLabel(Codec codec, int bitrateKbps, int targetSampleRateHz) {
    const QString rate = targetSampleRateHz == mixformat::kSampleRateHz
                             ? QStringLiteral("%1kHz").arg(targetSampleRateHz / 1000)
                             : QStringLiteral("%1kHz \u2192 %2kHz")
                                   .arg(mixformat::kSampleRateHz / 1000)
                                   .arg(QString::number(targetSampleRateHz / 1000.0, 'g', 3));
    return QStringLiteral("%1 %2kbps @ %3").arg(codecShortName(codec)).arg(bitrateKbps).arg(rate);
}
