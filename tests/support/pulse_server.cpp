#include "pulse_server.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

PulseServer::PulseServer() = default;

PulseServer::~PulseServer() { stop(); }

QString PulseServer::serverAddress() const {
    return QStringLiteral("unix:") + m_dir.path() + QStringLiteral("/native");
}

QProcessEnvironment PulseServer::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PULSE_SERVER"), serverAddress());
    env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_dir.path() + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("PULSE_STATE_PATH"), m_dir.path() + QStringLiteral("/state"));
    env.insert(QStringLiteral("PULSE_COOKIE"), m_dir.path() + QStringLiteral("/cookie"));
    return env;
}

void PulseServer::applyToProcess() const {
    const QProcessEnvironment env = environment();
    for (const char* name : {"PULSE_SERVER", "PULSE_RUNTIME_PATH", "PULSE_STATE_PATH",
                             "PULSE_COOKIE"}) {
        qputenv(name, env.value(QLatin1String(name)).toLocal8Bit());
    }
}

bool PulseServer::start(QString* error) {
    const QString socket = m_dir.path() + QStringLiteral("/native");
    const QString script =
        QStringLiteral(
            "load-module module-native-protocol-unix socket=%1 auth-anonymous=1\n"
            "load-module module-null-sink sink_name=test_sink rate=48000 channels=2 "
            "sink_properties=device.description=Test_Sink\n"
            "load-module module-null-sink sink_name=mic_sink rate=48000 channels=2 "
            "sink_properties=device.description=Test_Mic_Feed\n"
            "load-module module-remap-source source_name=test_mic master=mic_sink.monitor "
            "rate=48000 channels=2 source_properties=device.description=Test_Microphone\n"
            "set-default-sink test_sink\n"
            "set-default-source test_mic\n")
            .arg(socket);
    QFile file(m_dir.path() + QStringLiteral("/default.pa"));
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) *error = QStringLiteral("cannot write the PulseAudio script");
        return false;
    }
    file.write(script.toUtf8());
    file.close();

    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
    env.remove(QStringLiteral("PULSE_SERVER"));
    env.remove(QStringLiteral("DISPLAY"));
    const QStringList options{"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                              "--log-target=stderr", "--disallow-exit", "-F", file.fileName()};
    if (!m_process.start(QStringLiteral("pulseaudio"), options, env)) {
        if (error) *error = QStringLiteral("pulseaudio did not start");
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (!m_process.isRunning()) break;
        if (pactl({"list", "short", "sinks"}).contains(QStringLiteral("test_sink"))) return true;
        QThread::msleep(100);
    }
    if (error) *error = QStringLiteral("pulseaudio did not come up:\n") + m_process.output();
    stop();
    return false;
}

void PulseServer::stop() { m_process.stop(); }

QString PulseServer::pactl(const QStringList& arguments) const {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    return process.exitCode() == 0 ? QString::fromLocal8Bit(process.readAllStandardOutput())
                                   : QString();
}

std::unique_ptr<ManagedProcess> PulseServer::playTone(const QString& sink, double frequencyHz,
                                                      const QString& applicationName,
                                                      double volume) const {
    auto player = std::make_unique<ManagedProcess>();
    const QString pipeline =
        QStringLiteral(
            "audiotestsrc is-live=true wave=sine freq=%1 volume=%2 ! "
            "audio/x-raw,rate=48000,channels=2 ! pulsesink device=%3 client-name=%4")
            .arg(frequencyHz)
            .arg(volume)
            .arg(sink, applicationName);
    player->start(QStringLiteral("gst-launch-1.0"),
                  QProcess::splitCommand(QStringLiteral("-q ") + pipeline), environment());
    return player;
}

bool PulseServer::writeToneWav(const QString& path, double frequencyHz, double seconds,
                               double volume) {
    QProcess process;
    process.start(QStringLiteral("gst-launch-1.0"),
                  QProcess::splitCommand(
                      QStringLiteral("-q audiotestsrc wave=sine freq=%1 volume=%2 "
                                     "samplesperbuffer=4800 num-buffers=%3 ! "
                                     "audio/x-raw,format=S16LE,rate=48000,channels=2 ! wavenc ! "
                                     "filesink")
                          .arg(frequencyHz)
                          .arg(volume)
                          .arg(qRound(seconds * 10)))
                      << QStringLiteral("location=") + path);
    return process.waitForFinished(30000) && process.exitCode() == 0;
}

std::unique_ptr<ManagedProcess> PulseServer::playFile(const QString& sink, const QString& path,
                                                      const QString& clientName) const {
    auto player = std::make_unique<ManagedProcess>();
    player->start(QStringLiteral("paplay"),
                  {"--device=" + sink, "--client-name=" + clientName, "--stream-name=" + clientName,
                   path},
                  environment());
    return player;
}

bool PulseServer::addSinkWithInput(const QString& name) const {
    return !pactl({"load-module", "module-null-sink", "sink_name=" + name, "rate=48000",
                   "channels=2"})
                .trimmed()
                .isEmpty() &&
           !pactl({"load-module", "module-remap-source", "master=" + name + ".monitor",
                   "source_name=" + name + "_in", "rate=48000", "channels=2"})
                .trimmed()
                .isEmpty();
}

std::unique_ptr<ManagedProcess> PulseServer::record(const QString& sink,
                                                    const QString& rawFile) const {
    auto recorder = std::make_unique<ManagedProcess>();
    // Without a short latency parec hands over almost nothing before it is stopped.
    recorder->start(QStringLiteral("parec"),
                    {"--latency-msec=20", "-d", sink + ".monitor", "--format=s16le",
                     "--rate=48000", "--channels=2", "--raw", rawFile},
                    environment());
    return recorder;
}
