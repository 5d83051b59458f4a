#pragma once

#include <QByteArray>
#include <QString>

#include "managed_process.h"

// Top-level windows owned by another process (the x11_test_window helper) on a given X display,
// whose names and properties a test changes on command. Stopped by PID.
class X11TestWindows {
public:
    ~X11TestWindows() { stop(); }
    bool start(const QString& display, QString* error = nullptr);
    void stop();
    qint64 pid() const { return m_process.pid(); }

    // Maps a new window; 0 on failure.
    quintptr create(const QString& title);
    quintptr createUntitled();
    // One helper command (see x11_test_window.cpp); true once the helper answered "ok", by
    // which time the X server has applied it.
    bool command(const QByteArray& line);

private:
    QByteArray request(const QByteArray& line);
    ManagedProcess m_process;
};
