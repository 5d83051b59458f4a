// doredoradar-cli: the broadcaster without a window, for servers, service managers and for
// measuring the engine. See --help and the README ("Go live from a terminal").
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <QCoreApplication>

#include "app/cli_check.h"
#include "app/cli_console.h"
#include "app/cli_options.h"
#include "app/cli_session.h"
#include "core/app_identity.h"
#include "core/log_categories.h"
#include "core/logger.h"
#include "maintenance/crash_reporting.h"
#include "platform/obs_capture.h"
#include "platform/termination_requests.h"

namespace {

// The session a termination request goes to; the request arrives on a thread of its own.
std::mutex g_sessionMutex;
CliSession* g_session = nullptr;

void setStopTarget(CliSession* session) {
    std::lock_guard<std::mutex> lock(g_sessionMutex);
    g_session = session;
}

int run(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    appidentity::apply();

    CliOptions options;
    QString error;
    if (!cli::parseArguments(QCoreApplication::arguments().mid(1),
                             qEnvironmentVariable(cli::kPasswordEnvironment), &options, &error)) {
        CliConsole::instance().printError(
            QStringLiteral("doredoradar-cli: %1\nTry doredoradar-cli --help.").arg(error));
        return cli::kExitUsage;
    }
    if (options.command == CliOptions::Command::Help) {
        CliConsole::instance().printLine(cli::usage());
        return cli::kExitDone;
    }
    if (options.command == CliOptions::Command::Version) {
        CliConsole::instance().printLine(QStringLiteral("doredoradar-cli ") +
                                         appidentity::version());
        return cli::kExitDone;
    }

    // Our handler first: the logger hands every formatted line on to it.
    CliConsole::instance().install(options.verbose);
    Logger::instance().setFileLoggingEnabled(options.logFile);
    qCInfo(lcMain) << "Starting doredoradar-cli" << appidentity::version();
    if (options.logFile) {
        CliConsole::instance().printLine(
            QStringLiteral("Log file: %1").arg(Logger::instance().logFilePath()));
    }

    if (options.command == CliOptions::Command::Check) return cli::runConnectionCheck(options);
    if (options.command == CliOptions::Command::ListDevices) return CliSession::listDevices();
    if (options.command == CliOptions::Command::ListApps) return CliSession::listApps();

    CliSession session(options);
    setStopTarget(&session);
    platform::watchTerminationRequests([](int count) {
        // A second request while stopping: the user means it.
        if (count > 1) std::_Exit(cli::kExitDone);
        std::lock_guard<std::mutex> lock(g_sessionMutex);
        if (g_session) g_session->requestStop();
    });
    const int exitCode = session.start() ? app.exec() : session.exitCode();
    session.shutdown();
    setStopTarget(nullptr);
    if (platform::obsDisplayLost()) {
        // libobs is left running without its display (it cannot be shut down then): end here,
        // before the process's static objects go while libobs's threads still use them.
        shutdownCrashReporting();
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(exitCode);
    }
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    startCrashReporting();
    const int exitCode = run(argc, argv);
    shutdownCrashReporting();
    return exitCode;
}
