#include "xvfb_server.h"

#include <QElapsedTimer>

bool XvfbServer::start(QString* error) {
    // -displayfd 1: Xvfb picks a free display and prints its number on standard output.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!m_process.start(QStringLiteral("Xvfb"),
                         {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                          QStringLiteral("0"), QStringLiteral("1280x800x24"),
                          QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                          // No reset when the last client leaves: a client connecting right then
                          // (libobs started again, say) would be refused.
                          QStringLiteral("-noreset")},
                         env)) {
        if (error) *error = QStringLiteral("Xvfb did not start");
        return false;
    }
    // Standard error is merged in: when other X servers run (parallel tests), Xvfb first
    // complains about the displays it cannot take, then prints the number it took on a line of
    // its own.
    QProcess* process = m_process.process();
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    bool ok = false;
    int number = -1;
    while (timer.elapsed() < 10000 && !ok) {
        if (!m_process.isRunning()) break;
        process->waitForReadyRead(100);
        out += process->readAll();
        QList<QByteArray> lines = out.split('\n');
        lines.removeLast();  // not finished yet: a number may still be arriving
        for (const QByteArray& line : lines) {
            number = line.trimmed().toInt(&ok);
            if (ok) break;
        }
    }
    if (!ok) {
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
