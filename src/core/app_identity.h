#pragma once

#include <QString>

// Who the application is: decides where settings, logs and the crash database live.
namespace appidentity {

inline constexpr char kApplicationName[] = "Ondaro Doredoradar";
inline constexpr char kOrganizationName[] = "Ondaro";
inline constexpr char kProductName[] = "Ondaro Cloud Doredoradar";
inline constexpr char kCrashEnvironment[] = "production";

// Organisation, name, version and domain through the static setters, so it works before the
// application object exists (crash reporting starts before it).
void apply();

// The crash-reporting DSN: "ONDARO_CRASH_DSN" from the environment when set (for development
// and tests), else the build-time constant.
QString crashDsn();

QString version();
// "Doredoradar/<version>": the User-Agent of every request the application makes.
QString userAgent();
// "ondaro-broadcaster@<version>"
QString crashRelease();

}  // namespace appidentity
