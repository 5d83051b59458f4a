// What the desktop application costs: start-up to the main window shown, CPU while idle (window
// shown and minimised) and on air with both decks and the four meters beside doredoradar-cli
// broadcasting the same decks in the same run, and memory after a long time on air.
//
// Usage: desktop_bench [SECONDS per CPU figure, default 60] [MINUTES on air for memory, default 0]
// It starts its own stage: Xvfb, a private PulseAudio (a 440 Hz tone on the stand-in microphone,
// a program playing 1000 Hz), a local Icecast and the stand-in cloud with one account.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <optional>

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include "core/app_identity.h"
#include "core/settings_manager.h"
#include "dev_cloud_server.h"
#include "icecast_server.h"
#include "managed_process.h"
#include "pulse_server.h"
#include "test_environment.h"
#include "thread_stats.h"
#include "ui/app_appearance.h"
#include "ui/app_state.h"
#include "ui/deck_input_controller.h"
#include "ui/login_session_flow.h"
#include "ui/main_window.h"
#include "ui/settings_dialog.h"
#include "xvfb_server.h"

namespace {

constexpr char kPassword[] = "bench-source-secret";
constexpr int kWarmUpMs = 5000;

// Runs the event loop as the application does (no polling of our own in between) until `done`,
// checked every 50 ms, or the timeout.
bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done()) return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    check.start(50);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

// The event loop alone for `milliseconds`.
void runFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// User + system CPU seconds of a process, all its threads (this one for pid 0).
double cpuSeconds(qint64 pid) {
    QFile file(pid ? QStringLiteral("/proc/%1/stat").arg(pid) : QStringLiteral("/proc/self/stat"));
    if (!file.open(QIODevice::ReadOnly)) return -1;
    const QByteArray line = file.readAll();
    // Fields after the command name, which may hold spaces: state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return -1;
    return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

long residentKiB(qint64 pid) {
    QFile file(pid ? QStringLiteral("/proc/%1/status").arg(pid)
                   : QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly)) return -1;
    const QRegularExpression rss(QStringLiteral("^VmRSS:\\s+(\\d+)"),
                                 QRegularExpression::MultilineOption);
    return rss.match(QString::fromLatin1(file.readAll())).captured(1).toLong();
}

// CPU of this process and its main thread (the window's) over `milliseconds`, per minute, and
// of `other` when given.
struct CpuFigure {
    double processPerMinute = 0;
    double mainThreadPerMinute = 0;
    double otherPerMinute = 0;
};

CpuFigure measureCpu(int milliseconds, qint64 other = 0) {
    const QList<threadstats::Thread> threadsBefore = threadstats::snapshot();
    const double selfBefore = cpuSeconds(0);
    const double otherBefore = other ? cpuSeconds(other) : 0;
    QElapsedTimer clock;
    clock.start();
    runFor(milliseconds);
    const double minutes = double(clock.elapsed()) / 60000.0;
    CpuFigure figure;
    figure.processPerMinute = (cpuSeconds(0) - selfBefore) / minutes;
    if (other) figure.otherPerMinute = (cpuSeconds(other) - otherBefore) / minutes;
    const QList<threadstats::Thread> threadsAfter = threadstats::snapshot();
    const auto mainThreadNs = [](const QList<threadstats::Thread>& threads) {
        for (const threadstats::Thread& thread : threads) {
            if (thread.tid == getpid()) return thread.cpuNs;
        }
        return std::uint64_t(0);
    };
    figure.mainThreadPerMinute =
        double(mainThreadNs(threadsAfter) - mainThreadNs(threadsBefore)) / 1e9 / minutes;
    const QList<threadstats::Thread> delta = threadstats::difference(threadsBefore, threadsAfter);
    if (qEnvironmentVariableIsSet("DESKTOP_BENCH_THREADS"))
        threadstats::print(delta, double(clock.elapsed()) / 1000.0, 10);
    return figure;
}

// Whether a top-level window named exactly `title` is mapped on the display.
bool windowViewable(const QString& title) {
    QProcess tree;
    tree.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    if (!tree.waitForFinished(5000)) return false;
    const QRegularExpression line(
        QStringLiteral("^\\s+(0x[0-9a-f]+) \"%1\":").arg(QRegularExpression::escape(title)),
        QRegularExpression::MultilineOption);
    auto matches = line.globalMatch(QString::fromUtf8(tree.readAllStandardOutput()));
    while (matches.hasNext()) {
        QProcess info;
        info.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), matches.next().captured(1)});
        if (info.waitForFinished(5000) && info.readAllStandardOutput().contains("IsViewable"))
            return true;
    }
    return false;
}

// Milliseconds from starting the application to its main window shown, with a stored token.
std::optional<qint64> startUpMs() {
    QProcess app;
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    app.start(QStringLiteral(DOREDORADAR_APP_EXECUTABLE), {});
    std::optional<qint64> shown;
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && app.state() != QProcess::NotRunning) {
        if (windowViewable(QStringLiteral("Ondaro Doredoradar"))) {
            shown = clock.elapsed();
            break;
        }
        QThread::msleep(20);
    }
    app.kill();
    app.waitForFinished(5000);
    return shown;
}

void chooseDecks(MainWindow& window) {
    auto* deck1 = window.findChild<QComboBox*>(QStringLiteral("deck1Input"));
    const int mic = deck1->findData(QStringLiteral("test_mic"));
    deck1->setCurrentIndex(mic);
    Q_EMIT deck1->activated(mic);
    window.deckInputs()->setProgramPicker(
        [](const QList<CaptureProgram>& programs) -> std::optional<CaptureProgram> {
            for (const CaptureProgram& program : programs) {
                if (program.window.endsWith(QLatin1String(":gst-launch-1.0"))) return program;
            }
            return std::nullopt;
        });
    auto* deck2 = window.findChild<QComboBox*>(QStringLiteral("deck2Input"));
    const int programItem = deck2->findData(DeckInputController::kProgramItem);
    deck2->setCurrentIndex(programItem);
    Q_EMIT deck2->activated(programItem);
}

int fail(const char* what) {
    std::fprintf(stderr, "desktop_bench: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(5, atoi(argv[1])) : 60;
    const int minutes = argc > 2 ? std::max(0, atoi(argv[2])) : 0;

    TestEnvironment environment;
    XvfbServer xvfb;
    PulseServer pulse;
    QString error;
    if (!xvfb.start(&error) || !pulse.start(&error)) return fail(qPrintable(error));
    xvfb.applyToProcess();
    pulse.applyToProcess();
    // Minimising is the window manager's work: without one the window stays on screen.
    ManagedProcess windowManager;
    const bool haveWindowManager =
        !QStandardPaths::findExecutable(QStringLiteral("twm")).isEmpty() &&
        windowManager.start(QStringLiteral("twm"), {});
    qputenv("QT_QPA_PLATFORM", "xcb");
    pulse.pactl({"load-module", "module-sine", "sink=mic_sink", "frequency=440"});
    const auto program =
        pulse.playTone(QStringLiteral("test_sink"), 1000.0, QStringLiteral("TonePlayer"), 0.25);

    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    applyApplicationPalette();
    loadApplicationStyleSheet(app);

    IcecastServer::Options options;
    options.sourcePassword = QString::fromLatin1(kPassword);
    IcecastServer icecast(options);
    if (!icecast.start(&error)) return fail(qPrintable(error));
    DevCloudServer cloud(&icecast);
    DevCloudServer::Account account;
    account.channels = {{QStringLiteral("/live"), QString::fromLatin1(kPassword)}};
    const QString token = cloud.addAccount(account);
    if (!cloud.start(&error)) return fail(qPrintable(error));
    cloud.exportEnvironment();
    appidentity::apply();
    if (!SettingsManager().setOndaroPrivateToken(token)) return fail("cannot store the token");

    std::printf("desktop_bench: %d s per CPU figure, %d min on air for memory\n\n", seconds,
                minutes);

    // The real application, started five times over the stored token.
    QList<qint64> starts;
    for (int run = 0; run < 5; ++run) {
        if (const auto ms = startUpMs()) starts << *ms;
    }
    std::sort(starts.begin(), starts.end());
    if (starts.isEmpty()) return fail("the application's main window never showed");
    std::printf("start-up to the main window shown: median %lld ms (%lld .. %lld ms, %lld runs)\n",
                starts[starts.size() / 2], starts.first(), starts.last(), qint64(starts.size()));

    LoginSessionFlow flow(nullptr);
    flow.start();
    if (!waitUntil([&] { return flow.mainWindow() != nullptr; }, 30000))
        return fail("the main window did not open");
    MainWindow& window = *flow.mainWindow();
    MainWindow::Prompts prompts;
    prompts.notify = [](AlertDialog::Variant, const QString& title, const QString& text) {
        std::fprintf(stderr, "alert: %s: %s\n", qPrintable(title), qPrintable(text));
    };
    prompts.confirm = [](const QString&, const QString&, const QString&, const QString&) {
        return true;
    };
    prompts.askCloseAction = [](const QString&, const QString&) { return AlertDialog::kExit; };
    window.setPrompts(prompts);
    AppState* state = window.appState();
    if (!waitUntil([&] { return state->serverOnline() && !state->selectedChannelId().isEmpty(); },
                   30000))
        return fail("the channel's server never showed online");
    Q_EMIT window.settingsDialog()->encoderChanged(QStringLiteral("Opus"));
    Q_EMIT window.settingsDialog()->bitrateChanged(QStringLiteral("128"));
    chooseDecks(window);
    runFor(kWarmUpMs);

    const auto row = [](const char* what, const CpuFigure& figure) {
        std::printf("%-52s %6.2f s CPU per minute (window thread %5.2f s)\n", what,
                    figure.processPerMinute, figure.mainThreadPerMinute);
    };
    row("idle, both decks running, window shown:", measureCpu(seconds * 1000));
    window.showMinimized();
    runFor(2000);
    if (window.isMinimized()) {
        row("idle, both decks running, window minimised:", measureCpu(seconds * 1000));
    } else {
        std::printf("minimised: not measured, %s\n",
                    haveWindowManager ? "the window manager did not minimise the window"
                                      : "needs a window manager (apt-get install twm)");
    }
    window.showNormal();
    window.hide();  // what minimising to the tray does
    runFor(2000);
    row("idle, both decks running, window hidden in the tray:", measureCpu(seconds * 1000));
    window.show();
    runFor(2000);

    window.findChild<QPushButton*>(QStringLiteral("connectButton"))->click();
    if (!waitUntil([&] { return state->isBroadcasting(); }, 20000))
        return fail("the window did not go live");

    QProcess cli;
    QProcessEnvironment cliEnvironment = QProcessEnvironment::systemEnvironment();
    cliEnvironment.insert(QStringLiteral("DOREDORADAR_SOURCE_PASSWORD"),
                          QString::fromLatin1(kPassword));
    cli.setProcessEnvironment(cliEnvironment);
    cli.setProcessChannelMode(QProcess::MergedChannels);
    cli.setStandardOutputFile(QProcess::nullDevice());
    cli.start(
        QStringLiteral(DOREDORADAR_CLI_EXECUTABLE),
        {QStringLiteral("icecast://source@127.0.0.1:%1/cli").arg(icecast.port()),
         QStringLiteral("--deck1"), QStringLiteral("test_mic"), QStringLiteral("--deck2-app"),
         QStringLiteral("gst-launch-1.0"), QStringLiteral("--monitor"), QStringLiteral("--codec"),
         QStringLiteral("opus"), QStringLiteral("--bitrate"), QStringLiteral("128")});
    if (!waitUntil([&] { return !icecast.sourceStats(QStringLiteral("/cli")).isEmpty(); }, 20000))
        return fail("doredoradar-cli did not go live");
    runFor(kWarmUpMs);

    const CpuFigure onAir = measureCpu(seconds * 1000, cli.processId());
    row("on air, both decks, four meters, window shown:", onAir);
    std::printf("%-52s %6.2f s CPU per minute\n",
                "doredoradar-cli, same decks, same run:", onAir.otherPerMinute);
    std::printf("%-52s %6.2f x\n", "desktop application / command-line broadcaster:",
                onAir.processPerMinute / onAir.otherPerMinute);

    const long startKiB = residentKiB(0);
    const long cliStartKiB = residentKiB(cli.processId());
    std::printf("resident memory on air: %ld KiB (doredoradar-cli %ld KiB)\n", startKiB,
                cliStartKiB);
    for (int minute = 1; minute <= minutes; ++minute) {
        runFor(60000);
        if (minute % 5 == 0 || minute == minutes) {
            std::printf("after %2d min on air: %ld KiB (%+ld), doredoradar-cli %ld KiB (%+ld)\n",
                        minute, residentKiB(0), residentKiB(0) - startKiB,
                        residentKiB(cli.processId()), residentKiB(cli.processId()) - cliStartKiB);
            std::fflush(stdout);
        }
    }
    if (!state->isBroadcasting()) return fail("the window went off air during the run");

    cli.terminate();
    cli.waitForFinished(10000);
    window.findChild<QPushButton*>(QStringLiteral("connectButton"))->click();
    waitUntil([&] { return !state->isBroadcasting(); }, 10000);
    return 0;
}
