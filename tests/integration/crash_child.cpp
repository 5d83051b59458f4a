// Starts crash reporting the way the application does, leaves a trail, then dies of a real
// segmentation fault. Used by the crash-reporting tests.
#include <sys/resource.h>

#include <QCoreApplication>

#include "core/app_identity.h"
#include "maintenance/crash_reporting.h"

int main(int argc, char** argv) {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);

    startCrashReporting();
    QCoreApplication app(argc, argv);
    addBreadcrumb(QStringLiteral("test"), QStringLiteral("before \"the\" crash"),
                  QStringLiteral("default"));
    setCrashReportingUser(QStringLiteral("public-token-1"), QStringLiteral("dj@example.com"));

    volatile int* nowhere = nullptr;
    *nowhere = 42;
    return 0;
}
