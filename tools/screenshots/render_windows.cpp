// Renders the settings dialog, section by section, with a sample account, and its window
// picker into PNG files.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

#include "ui/app_appearance.h"
#include "ui/app_state.h"
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

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
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

    MainWindow window;
    window.appState()->setAccountInfo(sampleAccount());
    window.show();
    written &= save(window, folder + QStringLiteral("/main-window.png"));
    window.resize(1280, 720);
    written &= save(window, folder + QStringLiteral("/main-window-720.png"));
    return written ? 0 : 1;
}
