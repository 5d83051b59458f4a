#include "xvfb_server.h"

#include <QElapsedTimer>

bool XvfbServer::start(QString* error) {
    // -displayfd 1: Xvfb picks a free display and prints its number on standard output.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!m_process.start(QStringLiteral("Xvfb"),
                         {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                          QStringLiteral("0"), QStringLiteral("1280x800x24"),
                          QStringLiteral("-nolisten"), QStringLiteral("tcp")},
                         env)) {
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
        if (error) *error = QStringLiteral("Xvfb gave no display number: ") + QString::fromLocal8Bit(out);
        stop();
        return false;
    }
    m_display = QStringLiteral(":%1").arg(number);
    return true;
}

void XvfbServer::applyToProcess() const { qputenv("DISPLAY", m_display.toLocal8Bit()); }
