// CPU and allocations of deck capture. Starts its own PulseAudio and Xvfb (the test fixtures),
// plays tones from separate processes, and measures one capturing deck delivering to an empty
// callback, then the whole live path of a broadcast: two capturing decks (an input device and
// a program) feeding the mixer, which mixes, plays the monitor branch and encodes Opus at
// 128 kbit/s into its appsink. Usage:
//   capture_bench [seconds per scenario, default 30] [--only=direct,idle,device,program,path]
//       [--threads]
// --threads adds each thread's CPU and wake-ups per scenario (see thread_stats.h).
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <vector>

#include "audio/gstreamer_mixer.h"
#include "audio/obs_audio_manager.h"
#include "capture_alloc_counter.h"
#include "pulse_server.h"
#include "test_environment.h"
#include "thread_stats.h"
#include "xvfb_server.h"

namespace {

bool g_threadTable = false;

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double threadCpuSeconds(pthread_t thread) {
    clockid_t clock;
    if (pthread_getcpuclockid(thread, &clock) != 0) return -1.0;
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

long residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void runEventLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// One measured stretch of the event loop: how long it took, the process's CPU and resident
// memory growth over it, and each thread's account.
struct Window {
    double wall = 0.0;
    double processCpu = 0.0;
    long rssGrowth = 0;
    QList<threadstats::Thread> threads;

    double perMinute(double cpuSeconds) const { return cpuSeconds * 60.0 / wall; }
    void printThreads() const {
        if (g_threadTable) threadstats::print(threads, wall);
    }
};

Window measureWindow(int seconds) {
    const long rssBefore = residentKiB();
    const double processBefore = processCpuSeconds();
    const QList<threadstats::Thread> threadsBefore = threadstats::snapshot();
    QElapsedTimer timer;
    timer.start();
    runEventLoopFor(seconds * 1000);
    Window window;
    window.wall = timer.elapsed() / 1000.0;
    window.threads = threadstats::difference(threadsBefore, threadstats::snapshot());
    window.processCpu = processCpuSeconds() - processBefore;
    window.rssGrowth = residentKiB() - rssBefore;
    return window;
}

// The program-capture entry of the tone player started by the bench ("" after 10 s without).
QString tonePlayerWindow(OBSAudioManager& manager) {
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 10000) {
        for (const auto& appInfo : manager.getRunningApplications()) {
            if (appInfo.window.endsWith(QStringLiteral(":gst-launch-1.0"))) return appInfo.window;
        }
        runEventLoopFor(200);
    }
    return {};
}

// The capture thread watches itself on its first buffer, so allocations on it are counted.
struct EmptyReceiver {
    std::atomic<bool> seen{false};
    std::atomic<std::uint64_t> calls{0};
    pthread_t thread{};

    DeckAudioCallback callback() {
        return [this](int, const float*, int, int, int) {
            if (!seen.load(std::memory_order_relaxed)) {
                thread = pthread_self();
                alloccount::watchThisThread();
                seen.store(true);
            }
            calls.fetch_add(1, std::memory_order_relaxed);
        };
    }
};

void direct() {
    OBSAudioManager manager;
    manager.setDeckAudioCallback([](int, const float*, int, int, int) {});
    std::vector<float> left(480), right(480);
    for (int i = 0; i < 480; ++i) {
        left[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * 440 * i / 48000.0));
        right[i] = left[i];
    }
    for (int i = 0; i < 1000; ++i)
        manager.handleAudioData(1, left.data(), right.data(), 480, false);
    constexpr int kBuffers = 200000;
    alloccount::reset();
    alloccount::watchThisThread();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kBuffers; ++i) {
        manager.handleAudioData(1, left.data(), right.data(), 480, false);
    }
    const double ns = static_cast<double>(timer.nsecsElapsed()) / kBuffers;
    alloccount::unwatchThisThread();
    std::printf(
        "| capture path alone (480-frame buffers, empty callback) | %.0f ns per buffer "
        "(%.3f%% of one core at 100 buffers/s) | %llu allocations in %d buffers |\n",
        ns, ns * 100 / 1e9 * 100, static_cast<unsigned long long>(alloccount::count()), kBuffers);
}

void measureDeck(OBSAudioManager& manager, const char* label, int seconds) {
    EmptyReceiver receiver;
    manager.setDeckAudioCallback(receiver.callback());
    if (!manager.startDeck(1)) {
        std::printf("| %s | deck did not start | |\n", label);
        return;
    }
    QElapsedTimer warmup;
    warmup.start();
    while (!receiver.seen.load() && warmup.elapsed() < 15000) runEventLoopFor(100);
    if (!receiver.seen.load()) {
        std::printf("| %s | no audio arrived | |\n", label);
        manager.stopDeck(1);
        return;
    }
    runEventLoopFor(2000);  // past start-up

    alloccount::reset();
    const DeckCaptureStats before = manager.deckCaptureStats(1);
    const double threadBefore = threadCpuSeconds(receiver.thread);
    const Window window = measureWindow(seconds);
    const double threadCpu = threadCpuSeconds(receiver.thread) - threadBefore;
    const std::uint64_t allocations = alloccount::count();
    const DeckCaptureStats after = manager.deckCaptureStats(1);
    manager.stopDeck(1);
    manager.clearDeckAudioCallback();

    const double wall = window.wall;
    std::printf(
        "| %s | process %.2f s CPU per minute (%.2f%% of one core); capture thread "
        "%.2f s per minute; %.0f frames/s in %.0f buffers/s | %llu allocations on the "
        "capture thread in %.0f s; resident memory %+ld KiB |\n",
        label, window.perMinute(window.processCpu), window.processCpu / wall * 100,
        window.perMinute(threadCpu), (after.frames - before.frames) / wall,
        (after.buffers - before.buffers) / wall, static_cast<unsigned long long>(allocations), wall,
        window.rssGrowth);
    window.printThreads();
}

// The live path of a broadcast, from the sound server to the encoded bytes: deck 1 records an
// input device, deck 2 a program; the mixer gets both through the deck callback, as the
// broadcast controller installs it, and encodes Opus with the monitor branch running muted.
void measureBroadcastPath(OBSAudioManager& manager, const PulseServer& pulse, int seconds) {
    const char* label = "two decks (input device + program) -> mixer -> Opus 128 kbit/s";
    // A microphone stand-in: a long tone file played into the sink that feeds "test_mic".
    const QString wav = pulse.scratchPath() + QStringLiteral("/mic-tone.wav");
    PulseServer::writeToneWav(wav, 440.0, seconds + 30.0);
    auto mic = pulse.playFile(QStringLiteral("mic_sink"), wav, QStringLiteral("bench-mic"));
    auto program =
        pulse.playTone(QStringLiteral("test_sink"), 1000.0, QStringLiteral("bench-program"));

    if (!manager.setDeckInputDevice(1, QStringLiteral("test_mic")) ||
        !manager.setDeckAppCapture(2, tonePlayerWindow(manager))) {
        std::printf("| %s | decks could not be set up | |\n", label);
        return;
    }

    GStreamerMixer mixer;
    mixer.initialize();
    mixer.setEncoderType(Codec::Opus);
    mixer.setBitrate(128);
    mixer.setDeck1Active(true);
    mixer.setDeck2Active(true);
    qint64 encodedBytes = 0;
    QObject::connect(&mixer, &GStreamerMixer::encodedDataReady,
                     [&encodedBytes](const QByteArray& data) { encodedBytes += data.size(); });
    manager.setDeckAudioCallback(
        [&mixer](int deck, const float* data, int frames, int channels, int sampleRate) {
            if (deck == 1) {
                mixer.feedDeck1Audio(data, frames, channels, sampleRate);
            } else {
                mixer.feedDeck2Audio(data, frames, channels, sampleRate);
            }
        });
    if (!mixer.start(true) || !manager.startDeck(1) || !manager.startDeck(2)) {
        std::printf("| %s | did not start | |\n", label);
        manager.clearDeckAudioCallback();
        return;
    }
    runEventLoopFor(3000);  // past start-up and the first Ogg pages

    const DeckCaptureStats deck1Before = manager.deckCaptureStats(1);
    const DeckCaptureStats deck2Before = manager.deckCaptureStats(2);
    const qint64 bytesBefore = encodedBytes;
    const Window window = measureWindow(seconds);
    const DeckCaptureStats deck1After = manager.deckCaptureStats(1);
    const DeckCaptureStats deck2After = manager.deckCaptureStats(2);
    const qint64 bytes = encodedBytes - bytesBefore;
    const quint64 dropped = mixer.droppedBufferCount();

    manager.stopDeck(1);
    manager.stopDeck(2);
    manager.clearDeckAudioCallback();
    mixer.shutdown();

    std::printf(
        "| %s | process %.2f s CPU per minute (%.2f%% of one core); deck 1 %.0f buffers/s, "
        "deck 2 %.0f buffers/s; %.0f kbit/s out; %llu feeds dropped | resident memory %ld KiB, "
        "%+ld KiB over the run |\n",
        label, window.perMinute(window.processCpu), window.processCpu / window.wall * 100,
        (deck1After.forwarded - deck1Before.forwarded) / window.wall,
        (deck2After.forwarded - deck2Before.forwarded) / window.wall,
        bytes * 8 / window.wall / 1000.0, static_cast<unsigned long long>(dropped), residentKiB(),
        window.rssGrowth);
    window.printThreads();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int seconds = 30;
    QStringList only;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument.startsWith(QLatin1String("--only="))) {
            only = argument.mid(7).split(QLatin1Char(','));
        } else if (argument == QLatin1String("--threads")) {
            g_threadTable = true;
        } else {
            seconds = std::max(5, argument.toInt());
        }
    }
    const auto wanted = [&only](const char* name) {
        return only.isEmpty() || only.contains(QLatin1String(name));
    };
    qputenv("QT_LOGGING_RULES", "*.debug=false;*.info=false");

    TestEnvironment
        environment;  // GStreamer's registry and the like stay out of the user's folders
    PulseServer pulse;
    XvfbServer xvfb;
    QString error;
    if (!pulse.start(&error) || !xvfb.start(&error)) {
        std::fprintf(stderr, "fixtures: %s\n", qPrintable(error));
        return 1;
    }
    pulse.applyToProcess();
    xvfb.applyToProcess();

    std::printf("| scenario | CPU | allocations, memory |\n|---|---|---|\n");
    if (wanted("direct")) direct();

    OBSAudioManager manager;
    if (!manager.initialize()) {
        std::fprintf(stderr, "libobs did not start\n");
        return 1;
    }
    if (wanted("idle")) {
        const Window window = measureWindow(seconds);
        std::printf("| libobs started, no deck running | process %.2f s CPU per minute | |\n",
                    window.perMinute(window.processCpu));
        window.printThreads();
    }

    if (wanted("device")) {
        auto tone = pulse.playTone(QStringLiteral("test_sink"), 440, QStringLiteral("bench-tone"));
        manager.setDeckInputDevice(1, QStringLiteral("test_sink.monitor"));
        measureDeck(manager, "one deck on a playback monitor (libobs PulseAudio plug-in)", seconds);
    }

    if (wanted("program")) {
        auto tone = pulse.playTone(QStringLiteral("test_sink"), 440, QStringLiteral("bench-tone"));
        manager.setDeckAppCapture(1, tonePlayerWindow(manager));
        measureDeck(manager, "one deck on a program (our program capture source)", seconds);
    }

    if (wanted("path")) {
        manager.setDeckInput(1, -1);
        GStreamerMixer::initializeGStreamer();
        measureBroadcastPath(manager, pulse, seconds);
    }

    manager.shutdown();
    return 0;
}
