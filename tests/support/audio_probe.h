#pragma once

#include <QByteArray>
#include <QString>

// What a real decoder (ffprobe, then a full decode with ffmpeg) makes of some encoded bytes.
struct AudioProbe {
    bool ok = false;
    QString codec;        // "opus", "vorbis", "aac", "mp3"
    QString container;    // "ogg", "aac", "mp3"
    int sampleRate = 0;
    int channels = 0;
    double decodedSeconds = 0;  // audio that decoded cleanly
    QString error;

    static AudioProbe of(const QByteArray& encoded);
};
