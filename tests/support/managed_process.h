#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A helper process that a fixture starts and always stops again by its PID: terminate, wait,
// then kill. Its output is kept for failure messages.
class ManagedProcess {
public:
    ManagedProcess() = default;
    ~ManagedProcess() { stop(); }
    ManagedProcess(const ManagedProcess&) = delete;
    ManagedProcess& operator=(const ManagedProcess&) = delete;

    bool start(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
               int startTimeoutMs = 10000);
    void stop(int graceMs = 3000);
    bool isRunning() const { return m_process && m_process->state() != QProcess::NotRunning; }
    qint64 pid() const { return m_process ? m_process->processId() : 0; }
    QProcess* process() { return m_process; }
    QString output();

private:
    QProcess* m_process = nullptr;
    QByteArray m_output;
};

namespace testsupport {
// Polls a TCP connect to 127.0.0.1:port for at most timeoutMs.
bool waitForTcpPort(quint16 port, int timeoutMs);
// A port on 127.0.0.1 that was free a moment ago.
quint16 freePort();
}  // namespace testsupport
