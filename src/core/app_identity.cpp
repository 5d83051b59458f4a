#include "core/app_identity.h"

#include <QCoreApplication>

#include "build_config.h"

namespace appidentity {

void apply() {
    QCoreApplication::setOrganizationName(QLatin1String(kOrganizationName));
    QCoreApplication::setOrganizationDomain(QLatin1String(buildconfig::kOrgDomain));
    QCoreApplication::setApplicationName(QLatin1String(kApplicationName));
    QCoreApplication::setApplicationVersion(version());
}

QString crashDsn() {
    if (qEnvironmentVariableIsSet("ONDARO_CRASH_DSN")) {
        return qEnvironmentVariable("ONDARO_CRASH_DSN");
    }
    return QLatin1String(buildconfig::kCrashDsn);
}

QString version() { return QLatin1String(buildconfig::kAppVersion); }

QString userAgent() { return QStringLiteral("Doredoradar/%1").arg(version()); }

QString crashRelease() { return QStringLiteral("ondaro-broadcaster@%1").arg(version()); }

}  // namespace appidentity
