#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QtTest>

#include "log_capture.h"
#include "test_environment.h"
#include "tray_host.h"
#include "ui/app_state.h"
#include "ui/system_tray_manager.h"
#include "xvfb_server.h"

// The tray icon on a virtual display, with no notification area and with the tray host.
class TestSystemTray : public QObject {
    Q_OBJECT

    TestEnvironment m_env;

private Q_SLOTS:
    // First with no notification area on the display, then with the tray host.
    void trayIcon() {
        AppState state;
        {
            LogCapture log;
            SystemTrayManager tray(&state);
            tray.show();
            state.setStatus(QStringLiteral("Connecting..."));
            QVERIFY(!SystemTrayManager::isTrayAvailable() && !tray.findChild<QSystemTrayIcon*>());
            QVERIFY(QApplication::topLevelWidgets().isEmpty());
            QCOMPARE(log.messages(QStringLiteral("UI")),
                     QStringList{QStringLiteral("System tray is not available on this platform")});
        }
        TrayHost host;
        QVERIFY(host.start(qEnvironmentVariable("DISPLAY")));
        QVERIFY(SystemTrayManager::isTrayAvailable());
        SystemTrayManager tray(&state);
        QSignalSpy showRequests(&tray, &SystemTrayManager::showWindowRequested);
        tray.show();
        QTRY_COMPARE(host.dockedIcons().size(), 1);
        QWidget* docked = nullptr;  // the icon's own window, which Qt made and the host holds
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->internalWinId() == host.dockedIcons().constFirst()) docked = widget;
        }
        QVERIFY(docked && docked->isVisible());

        const auto* icon = tray.findChild<QSystemTrayIcon*>();
        const QString prefix = QStringLiteral("Ondaro Doredoradar\nStatus: ");
        QCOMPARE(icon->toolTip(), prefix + QStringLiteral("Connecting..."));
        state.setBroadcasting(true);
        QCOMPARE(icon->toolTip(), prefix + QStringLiteral("Broadcasting"));
        state.setBroadcasting(false);
        state.setStatus(QString());
        QCOMPARE(icon->toolTip(), prefix + QStringLiteral("Disconnected"));

        QTest::mouseClick(docked, Qt::LeftButton);
        QCOMPARE(showRequests.count(), 1);
        QTest::mouseClick(docked, Qt::RightButton);
        QTRY_VERIFY(icon->contextMenu()->isVisible());
        QCOMPARE(showRequests.count(), 1);
        icon->contextMenu()->hide();
    }
};

int main(int argc, char** argv) {
    XvfbServer xvfb;
    QString error;
    if (!xvfb.start(&error)) qFatal("%s", qPrintable(error));
    xvfb.applyToProcess();
    qputenv("QT_QPA_PLATFORM", "xcb");
    // No session bus, so no StatusNotifier: the icon takes the X11 embedding path.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    QApplication app(argc, argv);
    TestSystemTray test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_system_tray.moc"
