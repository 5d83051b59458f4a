#pragma once

#include <memory>

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

class AppState;
class QAction;
class QMenu;

// The application's icon in the desktop's notification area (StatusNotifier where the desktop
// offers it, the X11 embedding protocol otherwise): a tooltip that follows the broadcast status
// and a Show/Exit menu. It never touches the window; it asks the main window through signals.
// Where there is no notification area it warns once and builds nothing. Main thread only.
class SystemTrayManager : public QObject {
    Q_OBJECT

public:
    // `appState` is observed, not owned, and may be null.
    explicit SystemTrayManager(AppState* appState, QObject* parent = nullptr);
    ~SystemTrayManager() override;

    // Whether the desktop has a notification area at all, so that closing the window to the
    // tray makes sense.
    static bool isTrayAvailable();

    // Makes the icon visible; does nothing without a notification area.
    void show();

Q_SIGNALS:
    void showWindowRequested();
    void exitApplicationRequested();

public Q_SLOTS:
    void onTrayIconActivated(QSystemTrayIcon::ActivationReason reason);
    void onConnectionStatusChanged();

private:
    void updateTooltip();

    QSystemTrayIcon* m_trayIcon = nullptr;
    std::unique_ptr<QMenu> m_contextMenu;  // a menu has no QObject parent to delete it
    QAction* m_showAction = nullptr;
    QAction* m_exitAction = nullptr;
    QPointer<AppState> m_appState;
};
