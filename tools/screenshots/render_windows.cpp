// Renders the windows into PNG files: the settings dialog section by section with a sample
// account and its window picker, the connection check, and with --live the main window on air.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include "core/app_identity.h"
#include "ui/app_appearance.h"
#include "ui/app_state.h"
#include "ui/connection_check_dialog.h"
#include "ui/deck_input_controller.h"
#include "ui/login_session_flow.h"
#include "ui/main_window.h"
#include "ui/settings_dialog.h"
#include "ui/window_picker_dialog.h"

namespace {

OndaroAccount sampleAccount() {
    OndaroAccount account;
    account.name = QStringLiteral("Mira Okonkwo");
    account.email = QStringLiteral("mira@example.com");
    account.subscription.planName = QStringLiteral("Studio");
    account.subscription.listenersSlots = 250;
    account.subscription.bitrate = 96;
    for (const char* name : {"Morning Show", "Late Night Jazz"}) {
        OndaroChannel channel;
        channel.id =
            QString::fromLatin1(name).toLower().replace(QLatin1Char(' '), QLatin1Char('-'));
        channel.name = QString::fromLatin1(name);
        account.channels.append(channel);
    }
    return account;
}

bool save(QWidget& widget, const QString& path) {
    // Lets the toggles' slides finish.
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    if (widget.grab().save(path)) return true;
    std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    return false;
}

// Runs the event loop until `done` holds or `timeoutMs` passed; whether it held.
bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    return true;
}

void pause(int milliseconds) {
    waitUntil([] { return false; }, milliseconds);
}

// The main window as a host sees it on air: logged in to the stand-in cloud's demo account, the
// default input on deck 1 and a playing program on deck 2, a title sent. Needs the environment
// of scripts/screenshots.sh (a token handed over, the stand-in, Icecast, PulseAudio with tones).
bool renderLiveMainWindow(const QString& folder) {
    LoginSessionFlow flow(nullptr);
    flow.start();
    if (!waitUntil([&] { return flow.mainWindow() != nullptr; }, 30000)) {
        std::fprintf(stderr, "the main window did not open (no token handed over?)\n");
        return false;
    }
    MainWindow* window = flow.mainWindow();
    AppState* state = window->appState();
    if (!waitUntil([&] { return state->serverOnline() && !state->selectedChannelId().isEmpty(); },
                   30000)) {
        std::fprintf(stderr, "the demo channel's server never showed online\n");
        return false;
    }
    window->resize(1280, 760);
    Q_EMIT window->settingsDialog()->encoderChanged(QStringLiteral("MP3"));
    auto* deck1 = window->findChild<QComboBox*>(QStringLiteral("deck1Input"));
    auto* deck2 = window->findChild<QComboBox*>(QStringLiteral("deck2Input"));
    // The stand-in microphone: the tone's sink as an input (the stage names it).
    const int microphone = std::max(1, deck1->findData(QStringLiteral("shots_sink.monitor")));
    deck1->setCurrentIndex(microphone);
    Q_EMIT deck1->activated(microphone);
    window->deckInputs()->setProgramPicker(
        [](const QList<CaptureProgram>& programs) -> std::optional<CaptureProgram> {
            for (const CaptureProgram& program : programs) {
                if (program.window.endsWith(QLatin1String(":gst-launch-1.0"))) return program;
            }
            return std::nullopt;
        });
    const int programItem = deck2->findData(DeckInputController::kProgramItem);
    deck2->setCurrentIndex(programItem);
    Q_EMIT deck2->activated(programItem);
    pause(800);
    window->findChild<QLineEdit*>(QStringLiteral("metadataEntry"))
        ->setText(QStringLiteral("Nightjar - Harbour Lights"));
    window->findChild<QPushButton*>(QStringLiteral("connectButton"))->click();
    if (!waitUntil([&] { return state->isBroadcasting(); }, 20000)) {
        std::fprintf(stderr, "the window did not go live\n");
        return false;
    }
    pause(1500);
    window->findChild<QPushButton*>(QStringLiteral("updateMetadataButton"))->click();
    pause(5000);  // meters moving, a few seconds on air, a statistics poll
    return save(*window, folder + QStringLiteral("/main-window.png"));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    const bool live = arguments.contains(QStringLiteral("--live"));
    const QStringList folders =
        arguments.mid(1).filter(QRegularExpression(QStringLiteral("^[^-]")));
    if (folders.size() != 1) {
        std::fprintf(stderr, "usage: %s [--live] OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = folders.first();
    appidentity::apply();
    QDir().mkpath(folder);
    applyApplicationPalette();
    QApplication::setFont(applicationFont(chooseInterFont().family));
    loadApplicationStyleSheet(app);

    AppState state;
    state.setAccountInfo(sampleAccount());
    SettingsDialog dialog(&state);
    dialog.setMaxBitrate(state.maxBitrate());
    dialog.setEncoder(QStringLiteral("AAC"));
    dialog.setMetadataSource(QStringLiteral("URL"));
    dialog.setMetadataUrl(QStringLiteral("https://radio.example.com/nowplaying.txt"));
    dialog.setStreamName(QStringLiteral("Doredo Radio"));
    dialog.setDebugLogging(true);
    dialog.show();

    bool written = true;
    const QStringList sections = {QStringLiteral("audio"), QStringLiteral("streaming"),
                                  QStringLiteral("metadata"), QStringLiteral("account"),
                                  QStringLiteral("about")};
    for (int i = 0; i < sections.size(); ++i) {
        dialog.onSectionChanged(i);
        written &= save(dialog, QStringLiteral("%1/settings-%2.png").arg(folder, sections[i]));
    }
    dialog.setEncoder(QStringLiteral("OGG Opus"));
    dialog.setOpusMetadataLock(true);
    dialog.setDuckingPreset(6, -24, 5.0, 12, 300, 6.0);
    dialog.onSectionChanged(0);
    written &= save(dialog, folder + QStringLiteral("/settings-audio-advanced.png"));
    dialog.onSectionChanged(2);
    written &= save(dialog, folder + QStringLiteral("/settings-metadata-opus.png"));
    dialog.onSectionChanged(0);
    for (QComboBox* combo : dialog.findChildren<QComboBox*>()) {
        if (combo->accessibleName() != QLatin1String("Ducking preset")) continue;
        combo->showPopup();
        written &= save(*combo->view()->window(), folder + QStringLiteral("/settings-presets.png"));
        combo->hidePopup();
    }
    dialog.hide();

    WindowPickerDialog picker({{QStringLiteral("Artist - Song - Music Player"), 1},
                               {QStringLiteral("Studio Notes - Editor"), 2},
                               {QStringLiteral("Terminal"), 3}});
    picker.show();
    written &= save(picker, folder + QStringLiteral("/settings-window-picker.png"));

    // A check that stopped at a busy mount, as the window shows it after a failed Go Live.
    ConnectionCheckDialog check;
    check.showStep({CheckStep::Resolve, CheckVerdict::Passed,
                    QStringLiteral("stream.example.com resolves to 203.0.113.24."), QString()});
    check.showStep({CheckStep::Connect, CheckVerdict::Passed,
                    QStringLiteral("Port 8000 accepts connections (203.0.113.24 accepted)."),
                    QString()});
    check.showStep({CheckStep::Server, CheckVerdict::Passed,
                    QStringLiteral("An Icecast server answers (Icecast 2.4.4)."), QString()});
    check.showStep({CheckStep::Mount, CheckVerdict::Failed,
                    QStringLiteral("The mount point /live is in use by another source (12 "
                                   "listeners)."),
                    QStringLiteral("Stop the other source first, or stream to another mount "
                                   "point.")});
    for (const CheckStep step : {CheckStep::Login, CheckStep::ContentType}) {
        check.showStep({step, CheckVerdict::Skipped,
                        QStringLiteral("Not checked: an earlier step failed."), QString()});
    }
    check.showEnd(false);
    check.show();
    written &= save(check, folder + QStringLiteral("/connection-check.png"));
    check.hide();

    if (live) written &= renderLiveMainWindow(folder);
    return written ? 0 : 1;
}
