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
    QProcess* process = m_process.process();
    process->setProcessChannelMode(QProcess::SeparateChannels);
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && !out.contains('\n')) {
        if (!m_process.isRunning()) break;
        process->waitForReadyRead(100);
        out += process->readAllStandardOutput();
    }
    bool ok = false;
    const int number = out.trimmed().toInt(&ok);
    if (!ok) {
        if (error) *error = QStringLiteral("Xvfb gave no display number: ") + m_process.output();
        stop();
        return false;
    }
    m_display = QStringLiteral(":%1").arg(number);
    return true;
}

void XvfbServer::applyToProcess() const { qputenv("DISPLAY", m_display.toLocal8Bit()); }
