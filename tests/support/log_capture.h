#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>

// Records every Qt message of this process (category and text) while it lives, and still passes
// each one on to the handler that was there before (QtTest's, which prints it). Create it in
// initTestCase: QtTest installs its own handler when it starts running the test functions.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;
    // The recorded lines that contain any of `needles` (empty needles are ignored).
    QStringList linesContaining(const QStringList& needles) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};
