#include "x11_test_windows.h"

#include <QElapsedTimer>

namespace {
constexpr int kAnswerTimeoutMs = 5000;
}

bool X11TestWindows::start(const QString& display, QString* error) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    if (!m_process.start(QStringLiteral(DOREDORADAR_X11_TEST_WINDOW), {}, environment)) {
        if (error) *error = QStringLiteral("x11_test_window did not start");
        return false;
    }
    const QByteArray greeting = request(QByteArray());
    if (greeting != "ready") {
        if (error) *error = QStringLiteral("x11_test_window: ") + m_process.output();
        stop();
        return false;
    }
    return true;
}

void X11TestWindows::stop() {
    // Closing its input lets the helper remove what it published on the root window.
    if (QProcess* process = m_process.process()) {
        process->closeWriteChannel();
        process->waitForFinished(2000);
    }
    m_process.stop();
}

quintptr X11TestWindows::create(const QString& title) {
    return request("new " + title.toUtf8()).toULongLong();
}

quintptr X11TestWindows::createUntitled() { return request("new-untitled").toULongLong(); }

bool X11TestWindows::command(const QByteArray& line) { return request(line) == "ok"; }

// Sends a line (none for an empty one) and waits, bounded, for the helper's answer line.
QByteArray X11TestWindows::request(const QByteArray& line) {
    QProcess* process = m_process.process();
    if (!process || !m_process.isRunning()) return {};
    if (!line.isEmpty()) process->write(line + '\n');
    QElapsedTimer timer;
    timer.start();
    while (!process->canReadLine() && timer.elapsed() < kAnswerTimeoutMs && m_process.isRunning()) {
        process->waitForReadyRead(100);
    }
    return process->readLine().trimmed();
}
