#pragma once

#include <string>

// Last-chance crash capture: on a fatal signal (or, on Windows, an unhandled exception) a crash
// report is written into a folder using only calls that are safe at that moment, and the process
// then dies as it would have. The report is an event envelope that the crash-reporting layer
// sends at the next start.
//
// The functions below are called from ordinary threads, serialised by the caller; the handler
// only reads what they prepared.
namespace platform {

inline constexpr int kCrashBreadcrumbSlots = 100;
inline constexpr size_t kCrashBreadcrumbBytes = 1024;

bool installCrashHandler(const std::string& directory, const std::string& eventId);
void uninstallCrashHandler();

// The envelope header line (a JSON object) and the members (comma-separated JSON "key":value
// pairs without braces) that every crash event carries: release, environment, user, ...
void setCrashReportTemplate(const std::string& envelopeHeader, const std::string& eventFields);

// One breadcrumb as a JSON object; the newest kCrashBreadcrumbSlots are kept. Longer ones are
// dropped from the crash report (the caller shortens them first).
void pushCrashBreadcrumb(const std::string& json);
void clearCrashBreadcrumbs();

}  // namespace platform
