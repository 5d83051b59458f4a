#pragma once

#include <QString>

#include "managed_process.h"

// A virtual X display (Xvfb) on a display number the server picks itself; stopped by PID.
class XvfbServer {
public:
    ~XvfbServer() { stop(); }
    bool start(QString* error = nullptr);
    void stop() { m_process.stop(); }
    QString display() const { return m_display; }  // ":<n>"
    // Sets DISPLAY for this process (libobs and xcb read it).
    void applyToProcess() const;

private:
    bool launch(const QString& display, QString* error);
    ManagedProcess m_process;
    QString m_display;
};
