#include "xvfb_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

bool XvfbServer::start(QString* error) {
    // -displayfd 1: Xvfb prints the display number on standard output once it is ready. Alone
    // it picks the first free number, but it gives up when display 0 is served by an X server
    // whose lock file went missing; then we name numbers ourselves, skipping those in use.
    if (launch(QString(), error)) return true;
    const int base = 100 + int(QCoreApplication::applicationPid() % 400);
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int number = base + attempt * 7;
        if (QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)) ||
            QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))) {
            continue;
        }
        if (launch(QStringLiteral(":%1").arg(number), error)) return true;
    }
    return false;
}

bool XvfbServer::launch(const QString& display, QString* error) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QStringList arguments;
    if (!display.isEmpty()) arguments << display;
    arguments << QStringLiteral("-displayfd") << QStringLiteral("1") << QStringLiteral("-screen")
              << QStringLiteral("0") << QStringLiteral("1280x800x24") << QStringLiteral("-nolisten")
              << QStringLiteral("tcp")
              // No reset when the last client leaves: a client connecting right then (libobs
              // started again, say) would be refused.
              << QStringLiteral("-noreset");
    if (!m_process.start(QStringLiteral("Xvfb"), arguments, env)) {
        if (error) *error = QStringLiteral("Xvfb did not start");
        return false;
    }
    // Standard error is merged in (Xvfb complains about displays already taken): the number is
    // the line that holds nothing else.
    QProcess* process = m_process.process();
    QByteArray out;
    int number = -1;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && number < 0) {
        if (!m_process.isRunning()) break;
        process->waitForReadyRead(100);
        out += process->readAll();
        for (const QByteArray& line : out.split('\n')) {
            bool ok = false;
            const int value = line.trimmed().toInt(&ok);
            if (ok && out.contains(line + '\n')) number = value;
        }
    }
    if (number < 0) {
        if (error) {
            *error = QStringLiteral("Xvfb gave no display number: ") + QString::fromLocal8Bit(out);
        }
        stop();
        return false;
    }
    m_display = QStringLiteral(":%1").arg(number);
    return true;
}

void XvfbServer::applyToProcess() const { qputenv("DISPLAY", m_display.toLocal8Bit()); }
