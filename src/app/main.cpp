#include <QApplication>
#include <QIcon>
#include <QPointer>
#include <QSettings>

#include "core/app_identity.h"
#include "core/log_categories.h"
#include "core/logger.h"
#include "core/settings_file_guard.h"
#include "maintenance/crash_reporting.h"
#include "platform/display.h"
#include "ui/app_appearance.h"
#include "ui/combo_box_configurer.h"
#include "ui/loading_window.h"
#include "ui/login_session_flow.h"

namespace {

int runApplication(int& argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    applyApplicationPalette();
    app.installEventFilter(new ComboBoxConfigurer(&app));

    appidentity::apply();
    QGuiApplication::setApplicationDisplayName(QLatin1String(appidentity::kApplicationName));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/appicon.png")));

    Logger::instance();
    qCInfo(lcMain) << "Starting" << appidentity::kApplicationName << appidentity::version();
    // Before anything reads a setting.
    settingsfile::removeSerializedVariants(QSettings().fileName());

    const FontChoice fontChoice = chooseInterFont();
    QApplication::setFont(applicationFont(fontChoice.family));
    loadApplicationStyleSheet(app);

    QPointer<LoadingWindow> loadingWindow = new LoadingWindow;
    loadingWindow->show();
    loadingWindow->setStatus(QStringLiteral("Initializing..."));
    QApplication::processEvents();

    LoginSessionFlow flow(loadingWindow);
    flow.start();
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    platform::enableHighDpiAwareness();
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);

    startCrashReporting();

    int exitCode = 0;
    try {
        exitCode = runApplication(argc, argv);
    } catch (...) {
        shutdownCrashReporting();
        throw;
    }
    shutdownCrashReporting();
    return exitCode;
}
