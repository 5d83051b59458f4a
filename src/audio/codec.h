#pragma once

#include <QString>

// The engine's one codec numbering. The values are the numbers stored under "encoder/type" in the
// settings file; they must never change, or existing settings would read another codec.
enum class Codec { Mp3 = 0, Aac = 1, Vorbis = 2, Opus = 3 };

// The codec a stored "encoder/type" number stands for; any other number encodes as MP3.
Codec codecFromStored(int stored);

// "Opus", "MP3", "AAC", "Vorbis": the short name in labels and logs.
QString codecShortName(Codec codec);
// "OGG Opus", "MP3", "AAC", "OGG Vorbis": the name the settings show; "Unknown" for a stored
// number that names no codec.
QString codecDisplayName(int stored);

// Opus and Vorbis travel in Ogg, which carries its own titles in the stream.
bool isOggCodec(Codec codec);
// The Content-Type of the encoded stream: "audio/ogg", "audio/aac" (ADTS) or "audio/mpeg".
const char* codecMimeType(Codec codec);

// The label of a running encoder: "Opus 128kbps @ 48kHz", or with resampling
// "Vorbis 96kbps @ 48kHz → 44.1kHz" (the mix always runs at 48 kHz).
QString codecFormatLabel(Codec codec, int bitrateKbps, int targetSampleRateHz);
