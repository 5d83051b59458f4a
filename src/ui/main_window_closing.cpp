// The main window's closing rules, minimising to the tray and the tray's requests.
#include "ui/main_window.h"

#include <QCloseEvent>
#include <QSettings>
#include <QTimer>

#include "broadcast/broadcaster.h"
#include "broadcast/icecast_client.h"
#include "core/log_categories.h"
#include "core/settings_keys.h"
#include "ui/app_state.h"
#include "ui/settings_dialog.h"
#include "ui/system_tray_manager.h"
#include "widgets/status_dot.h"

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_shuttingDown) {
        event->accept();
        return;
    }
    const bool broadcasting = m_broadcaster->isBroadcasting();
    // Without a notification area a hidden window could never be brought back.
    if (!m_forceQuit && m_settingsDialog->minimizeToTray() &&
        SystemTrayManager::isTrayAvailable()) {
        const int choice = m_prompts.askCloseAction(
            QStringLiteral("Close Ondaro Doredoradar?"),
            broadcasting
                ? QStringLiteral("You are currently broadcasting. What would you like to do?")
                : QStringLiteral("What would you like to do?"));
        if (choice == AlertDialog::kMinimizeToTray) {
            QSettings settings;
            settingskeys::write(settings, settingskeys::kWindowGeometry, saveGeometry());
            settingskeys::write(settings, settingskeys::kWindowState, saveState());
            hide();
            event->ignore();
            return;
        }
        if (choice != AlertDialog::kExit) {
            event->ignore();
            return;
        }
    }
    if (broadcasting &&
        !m_prompts.confirm(QStringLiteral("Are you sure you want to quit?"),
                           QStringLiteral("You are currently broadcasting. Quitting the app will "
                                          "stop the broadcast and disconnect your listeners."),
                           QStringLiteral("Quit"), QStringLiteral("Cancel"))) {
        // The next close asks the whole question again, also after the tray's Exit.
        m_forceQuit = false;
        event->ignore();
        return;
    }
    shutDownServices();
    event->accept();
}

void MainWindow::shutDownServices() {
    if (m_shuttingDown) return;
    m_shuttingDown = true;
    setMetersRunning(false);
    m_meterTimer->disconnect(this);
    m_statsTimer->stop();
    m_statsTimer->disconnect(this);
    m_serverStartDeadline->stop();
    m_broadcaster->disconnect(this);
    m_broadcaster->icecastClient()->disconnect(this);
    m_broadcaster->shutdown();
    applyPendingEncoderChanges();  // so they are saved
    saveSettings();
}

void MainWindow::onTrayExitRequested() {
    m_forceQuit = true;
    close();
    // A close that was refused leaves the flag down, so the next close asks again.
    if (!m_shuttingDown) m_forceQuit = false;
}

void MainWindow::onTrayShowWindowRequested() {
    show();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
    restoreStoredGeometry();
}

void MainWindow::restoreStoredGeometry() {
    QSettings settings;
    if (!settingskeys::contains(settings, settingskeys::kWindowGeometry.name)) return;
    restoreGeometry(settingskeys::read(settings, settingskeys::kWindowGeometry));
    restoreState(settingskeys::read(settings, settingskeys::kWindowState));
}

void MainWindow::onMinimizeToTrayChanged(bool enabled) {
    QSettings settings;
    settingskeys::write(settings, settingskeys::kMinimizeToTray, enabled);
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) followVisibility();
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    followVisibility();
}

void MainWindow::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    followVisibility();
}

// Nothing is painted while the window cannot be seen (minimised, or hidden in the tray).
void MainWindow::followVisibility() {
    const bool seen = isVisible() && !isMinimized();
    setMetersRunning(seen);
    m_airDot->setBreathing(seen && m_airDotBreathes);
}
