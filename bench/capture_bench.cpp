// CPU and allocations of deck capture. Starts its own PulseAudio and Xvfb (the test fixtures),
// plays a tone from a separate process, and measures one capturing deck delivering to an empty
// callback. Usage: capture_bench [seconds per scenario, default 30]
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

#include "audio/obs_audio_manager.h"
#include "capture_alloc_counter.h"
#include "pulse_server.h"
#include "xvfb_server.h"

namespace {

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
    const long rssBefore = residentKiB();
    const DeckCaptureStats before = manager.deckCaptureStats(1);
    const double processBefore = processCpuSeconds();
    const double threadBefore = threadCpuSeconds(receiver.thread);
    QElapsedTimer timer;
    timer.start();
    runEventLoopFor(seconds * 1000);
    const double wall = timer.elapsed() / 1000.0;
    const double processCpu = processCpuSeconds() - processBefore;
    const double threadCpu = threadCpuSeconds(receiver.thread) - threadBefore;
    const std::uint64_t allocations = alloccount::count();
    const long rssGrowth = residentKiB() - rssBefore;
    const DeckCaptureStats after = manager.deckCaptureStats(1);
    manager.stopDeck(1);
    manager.clearDeckAudioCallback();

    const double perMinute = 60.0 / wall;
    std::printf(
        "| %s | process %.2f s CPU per minute (%.2f%% of one core); capture thread "
        "%.2f s per minute; %.0f frames/s in %.0f buffers/s | %llu allocations on the "
        "capture thread in %.0f s; resident memory %+ld KiB |\n",
        label, processCpu * perMinute, processCpu / wall * 100, threadCpu * perMinute,
        (after.frames - before.frames) / wall, (after.buffers - before.buffers) / wall,
        static_cast<unsigned long long>(allocations), wall, rssGrowth);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 30;
    qputenv("QT_LOGGING_RULES", "*.debug=false;OBS.info=false;OBS_AUDIO.info=false");

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
    direct();

    OBSAudioManager manager;
    if (!manager.initialize()) {
        std::fprintf(stderr, "libobs did not start\n");
        return 1;
    }
    {
        const double before = processCpuSeconds();
        QElapsedTimer timer;
        timer.start();
        runEventLoopFor(seconds * 1000);
        const double cpu = processCpuSeconds() - before;
        std::printf("| libobs started, no deck running | process %.2f s CPU per minute | |\n",
                    cpu * 60.0 / (timer.elapsed() / 1000.0));
    }

    auto tone = pulse.playTone(QStringLiteral("test_sink"), 440, QStringLiteral("bench-tone"));
    manager.setDeckInputDevice(1, QStringLiteral("test_sink.monitor"));
    measureDeck(manager, "one deck on a playback monitor (libobs PulseAudio plug-in)", seconds);

    QString window;
    QElapsedTimer wait;
    wait.start();
    while (window.isEmpty() && wait.elapsed() < 10000) {
        for (const auto& appInfo : manager.getRunningApplications()) {
            if (appInfo.window.endsWith(QStringLiteral(":gst-launch-1.0"))) window = appInfo.window;
        }
        runEventLoopFor(200);
    }
    manager.setDeckAppCapture(1, window);
    measureDeck(manager, "one deck on a program (our program capture source)", seconds);

    manager.shutdown();
    return 0;
}
