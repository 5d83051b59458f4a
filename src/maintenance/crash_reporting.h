#pragma once

#include <QString>
#include <QtGlobal>

// Crash reports, breadcrumbs and usage events for the crash-reporting service.
//
// Every call is a no-op until initCrashReporting succeeds. Events are written to the crash
// database folder synchronously in the calling thread (cheap, no network) and a low-priority
// worker thread sends what is on disk; a file is removed only after the service accepted it, so
// events survive being offline and are sent at the next start. A fatal signal leaves a crash
// report in the same folder.
//
// All functions may be called from any thread and never block on the network.

// Event levels as the service numbers them.
inline constexpr int kCrashLevelDebug = -1;
inline constexpr int kCrashLevelInfo = 0;
inline constexpr int kCrashLevelWarning = 1;
inline constexpr int kCrashLevelError = 2;
inline constexpr int kCrashLevelFatal = 3;

inline constexpr int kMaxBreadcrumbs = 100;

// Main thread, once, before or after the application object exists. The organisation and
// application names must be set first: they decide where the crash database lives.
void initCrashReporting(const QString& dsn, const QString& release, const QString& environment);
// Process start, before the application object exists: the application's identity first (it
// decides where the crash database lives), then crash reporting with the application's DSN,
// release and environment, and the logger's warnings forwarded to it.
void startCrashReporting();
// What the logger hands on: warnings, errors and fatal lines become breadcrumbs; errors and
// fatal lines also become events of the level "error" and "fatal". Any thread.
void forwardLogLine(QtMsgType type, const QString& category, const QString& message);
// Main thread. Stops the worker (waiting at most 3000 ms) after it has tried to send what is
// pending.
void shutdownCrashReporting();
bool isCrashReportingEnabled();

void addBreadcrumb(const QString& category, const QString& message, const QString& type);
void captureMessage(const QString& logger, const QString& message, int level);
void setCrashReportingUser(const QString& id, const QString& email);
void clearCrashReportingUser();

void trackAppInstall();
void trackAppStart();
void trackBroadcastStart(const QString& encoder, const QString& server);

// The folder events wait in: the per-user local data location + "/sentry-db".
QString crashDatabasePath();
