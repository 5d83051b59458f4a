#include "managed_process.h"

#include <signal.h>
#include <sys/prctl.h>

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

bool ManagedProcess::start(const QString& program, const QStringList& arguments,
                           const QProcessEnvironment& environment, int startTimeoutMs) {
    stop();
    m_output.clear();
    m_process = new QProcess;
    m_process->setProcessEnvironment(environment);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    // A test that crashes never reaches stop(): its helpers must not outlive it.
    m_process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process->start(program, arguments);
    return m_process->waitForStarted(startTimeoutMs);
}

void ManagedProcess::stop(int graceMs) {
    if (!m_process) return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(graceMs)) {
            m_process->kill();
            m_process->waitForFinished(graceMs);
        }
    }
    m_output += m_process->readAll();
    delete m_process;
    m_process = nullptr;
}

QString ManagedProcess::output() {
    if (m_process) m_output += m_process->readAll();
    return QString::fromLocal8Bit(m_output);
}

namespace testsupport {

bool waitForTcpPort(quint16 port, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(200)) return true;
        QThread::msleep(50);
    }
    return false;
}

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

}  // namespace testsupport
