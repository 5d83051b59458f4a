#pragma once

#include <QList>
#include <QString>

struct xcb_connection_t;

// A minimal X11 notification area for tests under Xvfb: it owns the system-tray selection of
// screen 0 and docks every icon that sends the embedding protocol's dock request into a window of
// its own near the top right corner. Main thread; dockedIcons() handles the X events that came.
class TrayHost {
public:
    TrayHost() = default;
    ~TrayHost();
    TrayHost(const TrayHost&) = delete;
    TrayHost& operator=(const TrayHost&) = delete;

    bool start(const QString& display);
    QList<quint32> dockedIcons();

private:
    xcb_connection_t* m_connection = nullptr;
    quint32 m_window = 0;
    quint32 m_opcodeAtom = 0;
    QList<quint32> m_icons;
};
