#include "audio_probe.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryFile>

namespace {

QByteArray run(const QString& program, const QStringList& args, QString* error) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(1000);
        if (error) *error = program + QStringLiteral(" timed out");
        return {};
    }
    if (p.exitCode() != 0 && error) *error = QString::fromLocal8Bit(p.readAllStandardError());
    return p.readAllStandardOutput();
}

}  // namespace

AudioProbe AudioProbe::of(const QByteArray& encoded) {
    AudioProbe probe;
    QTemporaryFile file;
    if (!file.open()) {
        probe.error = QStringLiteral("no temporary file");
        return probe;
    }
    file.write(encoded);
    file.flush();

    const QByteArray json = run(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_streams"),
         QStringLiteral("-show_format"), QStringLiteral("-of"), QStringLiteral("json"),
         file.fileName()},
        &probe.error);
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    const QJsonObject stream = root.value(QStringLiteral("streams")).toArray().first().toObject();
    probe.codec = stream.value(QStringLiteral("codec_name")).toString();
    probe.sampleRate = stream.value(QStringLiteral("sample_rate")).toString().toInt();
    probe.channels = stream.value(QStringLiteral("channels")).toInt();
    for (const QJsonObject& owner :
         {root.value(QStringLiteral("format")).toObject(), stream}) {
        const QJsonObject tags = owner.value(QStringLiteral("tags")).toObject();
        for (auto it = tags.begin(); it != tags.end(); ++it) {
            probe.tags.insert(it.key().toLower(), it.value().toString());
        }
    }

    // Decode everything to raw samples and count them.
    const QByteArray pcm =
        run(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), file.fileName(),
             QStringLiteral("-f"), QStringLiteral("s16le"), QStringLiteral("-ac"),
             QStringLiteral("2"), QStringLiteral("-ar"), QStringLiteral("48000"),
             QStringLiteral("-")},
            nullptr);
    probe.decodedSeconds = pcm.size() / (48000.0 * 2 * 2);
    probe.pcm = pcm;
    probe.ok = !probe.codec.isEmpty() && probe.sampleRate > 0 && probe.channels > 0;
    return probe;
}

QByteArray encodedTestTone(const QString& encoderChain, int buffers, QString* error) {
    return run(QStringLiteral("gst-launch-1.0"),
               QProcess::splitCommand(QStringLiteral("-q audiotestsrc num-buffers=%1 ! "
                                                     "audio/x-raw,rate=48000,channels=2 ! "
                                                     "audioconvert ! %2 ! fdsink fd=1")
                                          .arg(buffers)
                                          .arg(encoderChain)),
               error);
}
