#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// What a real decoder (ffprobe, then a full decode with ffmpeg) makes of some encoded bytes.
struct AudioProbe {
    bool ok = false;
    QString codec;  // "opus", "vorbis", "aac", "mp3"
    int sampleRate = 0;
    int channels = 0;
    double decodedSeconds = 0;  // audio that decoded cleanly
    QMap<QString, QString> tags;  // stream and container tags, names in lower case
    QByteArray pcm;               // the decoded audio: s16le, 48 kHz, stereo
    QString error;

    static AudioProbe of(const QByteArray& encoded);
};

// A test tone (`buffers` buffers of 1024 frames, 48 kHz stereo) through a real GStreamer encoder
// chain such as "opusenc ! oggmux", run as gst-launch-1.0. Empty on failure, with the reason.
QByteArray encodedTestTone(const QString& encoderChain, int buffers, QString* error);
