#include "ui/system_tray_manager.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QStyle>

#include "core/log_categories.h"
#include "ui/app_state.h"

// The tray icon, its menu and its tooltip; requests go to the main window as signals.
SystemTrayManager::SystemTrayManager(AppState* appState, QObject* parent)
    : QObject(parent), m_appState(appState) {
    if (!isTrayAvailable()) {
        qCWarning(lcUi) << "System tray is not available on this platform";
        return;
    }

    // Drawn from the SVG at whatever size and scale the notification area asks for.
    QIcon icon(QStringLiteral(":/icons/tray.svg"));
    if (icon.isNull()) icon = QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
    m_trayIcon = new QSystemTrayIcon(icon, this);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &SystemTrayManager::onTrayIconActivated);

    m_contextMenu = std::make_unique<QMenu>();
    m_contextMenu->setObjectName(QStringLiteral("trayMenu"));
    m_showAction = new QAction(QStringLiteral("Show"), this);
    m_exitAction = new QAction(QStringLiteral("Exit"), this);
    connect(m_showAction, &QAction::triggered, this, &SystemTrayManager::showWindowRequested);
    connect(m_exitAction, &QAction::triggered, this, &SystemTrayManager::exitApplicationRequested);
    m_contextMenu->addAction(m_showAction);
    m_contextMenu->addSeparator();
    m_contextMenu->addAction(m_exitAction);
    m_contextMenu->setDefaultAction(m_showAction);  // shown bold: what a click on the icon does
    m_trayIcon->setContextMenu(m_contextMenu.get());

    if (m_appState) {
        connect(m_appState, &AppState::simpleStatusChanged, this,
                &SystemTrayManager::onConnectionStatusChanged);
        connect(m_appState, &AppState::isBroadcastingChanged, this,
                &SystemTrayManager::onConnectionStatusChanged);
    }
    updateTooltip();
}

// The icon goes first: it still points at the menu.
SystemTrayManager::~SystemTrayManager() { delete m_trayIcon; }

bool SystemTrayManager::isTrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

void SystemTrayManager::show() {
    if (m_trayIcon && isTrayAvailable()) m_trayIcon->show();
}

void SystemTrayManager::onTrayIconActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
        Q_EMIT showWindowRequested();
    }
}

void SystemTrayManager::onConnectionStatusChanged() { updateTooltip(); }

void SystemTrayManager::updateTooltip() {
    if (!m_trayIcon) return;
    QString tooltip = QStringLiteral("Ondaro Doredoradar");
    if (m_appState) {
        QString status = m_appState->isBroadcasting() ? QStringLiteral("Broadcasting")
                                                      : m_appState->simpleStatus();
        if (status.isEmpty()) status = QStringLiteral("Disconnected");
        tooltip += QStringLiteral("\nStatus: ") + status;
    }
    m_trayIcon->setToolTip(tooltip);
}
