// --check: the connection check on the terminal.
#include "app/cli_check.h"

#include <QEventLoop>

#include "app/cli_console.h"
#include "broadcast/connection_check.h"

namespace cli {

namespace {

QString verdictTag(CheckVerdict verdict) {
    switch (verdict) {
        case CheckVerdict::Passed:
            return QStringLiteral("[ ok ]");
        case CheckVerdict::Failed:
            return QStringLiteral("[FAIL]");
        case CheckVerdict::Skipped:
            break;
    }
    return QStringLiteral("[skip]");
}

}  // namespace

int runConnectionCheck(const CliOptions& options) {
    CliConsole& console = CliConsole::instance();
    console.printLine(QStringLiteral("Checking %1 for %2 ...")
                          .arg(options.serverForDisplay(), codecDisplayName(int(options.codec))));
    ConnectionCheck check;
    QString failedStep;
    QEventLoop loop;
    QObject::connect(
        &check, &ConnectionCheck::stepFinished, &loop, [&](const CheckStepResult& result) {
            const QString name = checkStepName(result.step);
            console.printLine(
                QStringLiteral("%1 %2: %3").arg(verdictTag(result.verdict), name, result.sentence));
            if (!result.advice.isEmpty())
                console.printLine(QStringLiteral("       %1").arg(result.advice));
            if (result.verdict == CheckVerdict::Failed && failedStep.isEmpty()) failedStep = name;
        });
    QObject::connect(&check, &ConnectionCheck::finished, &loop,
                     [&](bool passed) { loop.exit(passed ? kExitDone : kExitRefused); });
    check.start({options.host, options.port, options.mount, options.username, options.password,
                 options.codec});
    const int exitCode = loop.exec();
    if (exitCode == kExitDone) {
        console.printLine(QStringLiteral("Every step passed: this computer can go live there."));
    } else {
        console.printError(QStringLiteral("The check failed at \u201c%1\u201d.").arg(failedStep));
    }
    return exitCode;
}

}  // namespace cli
