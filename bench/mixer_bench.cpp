// Mixer cost, measured rather than asserted:
//  - CPU seconds per minute of audio for the monitor-only pipeline and for Opus at 128 kbit/s,
//    both decks fed at real time from two threads in 10 ms buffers, against the bare floor
//    "audiotestsrc ! opusenc ! oggmux ! fakesink" on the same amount of the same format;
//  - the feed call's p50/p99 time and the buffers dropped.
// Runs against a private PulseAudio (the monitor needs a sink). Usage:
//   doredoradar_mixer_bench [seconds per scenario, default 20] [frames per buffer, default 480]
//       [--only=floor,monitor,opus] [--threads]
// --threads adds, per scenario, each thread's CPU and wake-ups (see thread_stats.h).
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>

#include <QCoreApplication>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>

#include "audio/gstreamer_mixer.h"
#include "deck_feeder.h"
#include "pulse_server.h"
#include "test_environment.h"
#include "thread_stats.h"

extern char** environ;

namespace {

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs a program to its end and returns the CPU time it used (user + system), -1 on failure.
double childCpuSeconds(const QStringList& arguments) {
    QList<QByteArray> storage;
    std::vector<char*> argv;
    for (const QString& argument : arguments) storage << argument.toLocal8Bit();
    for (QByteArray& argument : storage) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The floor: the same format, 10 ms buffers, encoded as fast as possible; or, with `live`, at
// real time, which shows what pacing alone costs.
double floorCpuSeconds(double audioSeconds, bool live = false) {
    const int buffers = int(audioSeconds * 100);  // 480 frames = 10 ms
    return childCpuSeconds(QStringList{
        QStringLiteral("gst-launch-1.0"), QStringLiteral("-q"), QStringLiteral("audiotestsrc"),
        QStringLiteral("is-live=%1").arg(live ? "true" : "false"),
        QStringLiteral("num-buffers=%1").arg(buffers), QStringLiteral("samplesperbuffer=480"),
        QStringLiteral("!"), QStringLiteral("audio/x-raw,format=F32LE,rate=48000,channels=2"),
        QStringLiteral("!"), QStringLiteral("audioconvert"), QStringLiteral("!"),
        QStringLiteral("opusenc"), QStringLiteral("bitrate=128000"),
        QStringLiteral("bitrate-type=cbr"), QStringLiteral("!"), QStringLiteral("oggmux"),
        QStringLiteral("!"), QStringLiteral("fakesink")});
}

struct Scenario {
    double cpuPerMinute = 0;
    double p50Us = 0;
    double p99Us = 0;
    double maxUs = 0;
    quint64 dropped = 0;
    qint64 buffers = 0;
    qint64 encodedBytes = 0;
    double feederCpuPerMinute = 0;  // the two feeding threads, part of cpuPerMinute
    QList<threadstats::Thread> threads;
};

void wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int g_framesPerBuffer = 480;
bool g_threadTable = false;

Scenario runMixer(bool encoding, double seconds) {
    Scenario result;
    GStreamerMixer mixer;
    mixer.initialize();
    mixer.setEncoderType(Codec::Opus);
    mixer.setBitrate(128);
    mixer.setDeck1Active(true);
    mixer.setDeck2Active(true);
    mixer.setMonitorEnabled(true);
    QObject::connect(&mixer, &GStreamerMixer::encodedDataReady,
                     [&result](const QByteArray& data) { result.encodedBytes += data.size(); });
    if (!mixer.start(encoding)) {
        std::fprintf(stderr, "mixer did not start\n");
        return result;
    }
    DeckFeeder deck1(
        [&mixer](const float* d, int f, int c, int r) { mixer.feedDeck1Audio(d, f, c, r); }, 440.0,
        0.3, g_framesPerBuffer);
    DeckFeeder deck2(
        [&mixer](const float* d, int f, int c, int r) { mixer.feedDeck2Audio(d, f, c, r); }, 1000.0,
        0.3, g_framesPerBuffer);
    wait(300);  // past pipeline start-up
    const double cpuBefore = processCpuSeconds();
    const QList<threadstats::Thread> threadsBefore = threadstats::snapshot();
    deck1.start(true);
    deck2.start(true);
    wait(int(seconds * 1000));
    // Read while the feeders still exist: a thread's account goes with it.
    const QList<threadstats::Thread> threadsAfter = threadstats::snapshot();
    deck1.stop();
    deck2.stop();
    const double cpu = processCpuSeconds() - cpuBefore;
    result.threads = threadstats::difference(threadsBefore, threadsAfter);
    for (const threadstats::Thread& thread : result.threads) {
        if (thread.name == QLatin1String("deck-feeder")) {
            result.feederCpuPerMinute = thread.cpuNs / 1e9 / seconds * 60.0;
        }
    }
    result.dropped = mixer.droppedBufferCount();
    mixer.shutdown();

    QVector<qint64> times = deck1.callTimesNs() + deck2.callTimesNs();
    std::sort(times.begin(), times.end());
    result.buffers = times.size();
    if (!times.isEmpty()) {
        result.p50Us = times.at(times.size() / 2) / 1000.0;
        result.p99Us =
            times.at(std::min<qsizetype>(times.size() - 1, times.size() * 99 / 100)) / 1000.0;
        result.maxUs = times.last() / 1000.0;
    }
    result.cpuPerMinute = cpu / seconds * 60.0;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    double seconds = 20.0;
    QStringList only;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument.startsWith(QLatin1String("--only="))) {
            only = argument.mid(7).split(QLatin1Char(','));
        } else if (argument == QLatin1String("--threads")) {
            g_threadTable = true;
        } else if (positional++ == 0) {
            seconds = argument.toDouble();
        } else {
            g_framesPerBuffer = argument.toInt();
        }
    }
    const auto wanted = [&only](const char* name) {
        return only.isEmpty() || only.contains(QLatin1String(name));
    };
    TestEnvironment environment;
    PulseServer pulse;
    QString error;
    if (!pulse.start(&error)) {
        std::fprintf(stderr, "PulseAudio: %s\n", qPrintable(error));
        return 1;
    }
    pulse.applyToProcess();
    // Quiet: the mixer logs every step at info level.
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false"));
    GStreamerMixer::initializeGStreamer();

    double floorCpu = 0;
    double liveFloorCpu = 0;
    if (wanted("floor")) {
        floorCpuSeconds(1.0);  // warm the registry cache
        floorCpu = floorCpuSeconds(60.0);
        liveFloorCpu = floorCpuSeconds(seconds, true) / seconds * 60.0;
    }
    // In the order asked for (a scenario named twice runs twice), by default monitor then Opus.
    QList<std::pair<const char*, Scenario>> scenarios;
    for (const QString& name :
         only.isEmpty() ? QStringList{QStringLiteral("monitor"), QStringLiteral("opus")} : only) {
        if (name == QLatin1String("monitor")) {
            scenarios.append({"mixer monitor-only", runMixer(false, seconds)});
        } else if (name == QLatin1String("opus")) {
            scenarios.append({"mixer + Opus 128 kbit/s", runMixer(true, seconds)});
        }
    }

    std::printf(
        "audio per scenario: %.0f s (mixer, real time, %d-frame buffers), 60 s (floor, as fast "
        "as possible)\n",
        seconds, g_framesPerBuffer);
    std::printf("%-34s %10s %8s %9s %9s %9s %8s %9s\n", "scenario", "cpu s/min", "ratio",
                "feed p50", "feed p99", "feed max", "dropped", "feeders");
    if (wanted("floor")) {
        std::printf("%-34s %10.3f %8s %9s %9s %9s %8s\n", "floor: audiotestsrc!opusenc!oggmux",
                    floorCpu, "1.00", "-", "-", "-", "-");
        std::printf("%-34s %10.3f %8.2f %9s %9s %9s %8s\n", "same floor, live (real time)",
                    liveFloorCpu, floorCpu > 0 ? liveFloorCpu / floorCpu : 0.0, "-", "-", "-",
                    "-");
    }
    for (const auto& [name, s] : scenarios) {
        std::printf("%-34s %10.3f %8.2f %7.1fus %7.1fus %7.1fus %5llu/%lld %9.3f\n", name,
                    s.cpuPerMinute, floorCpu > 0 ? s.cpuPerMinute / floorCpu : 0.0, s.p50Us,
                    s.p99Us, s.maxUs, static_cast<unsigned long long>(s.dropped),
                    static_cast<long long>(s.buffers), s.feederCpuPerMinute);
    }
    for (const auto& [name, s] : scenarios) {
        if (s.encodedBytes > 0) {
            std::printf("Opus bytes out: %lld (%.0f kbit/s)\n",
                        static_cast<long long>(s.encodedBytes),
                        s.encodedBytes * 8 / seconds / 1000.0);
        }
    }
    if (g_threadTable) {
        for (const auto& [name, s] : scenarios) {
            std::printf("\n%s, per thread:\n", name);
            threadstats::print(s.threads, seconds);
        }
    }
    return 0;
}

