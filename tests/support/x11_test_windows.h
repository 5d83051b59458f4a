#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct xcb_connection_t;

// Top-level windows on a given X display, made through an X connection of the test's own (not
// the one the code under test opens), whose names and properties the test changes. Every call
// returns once the X server has applied it; false or 0 when it could not.
class X11TestWindows {
public:
    ~X11TestWindows() { stop(); }
    bool start(const QString& display, QString* error = nullptr);
    // Also removes a client list it published.
    void stop();

    // Maps a new window, named unless `title` is null.
    quintptr create(const QString& title);
    // _NET_WM_NAME and WM_NAME, both UTF-8.
    bool setTitle(quintptr window, const QByteArray& utf8);
    // WM_NAME alone as STRING (Latin-1), _NET_WM_NAME removed.
    bool setLegacyName(quintptr window, const QByteArray& latin1);
    // _NET_WM_NAME exactly these bytes (for invalid UTF-8).
    bool setRawName(quintptr window, const QByteArray& bytes);
    bool setPid(quintptr window, quint32 pid);
    // _NET_WM_WINDOW_TYPE, such as "_NET_WM_WINDOW_TYPE_DOCK".
    bool setType(quintptr window, const QByteArray& typeAtom);
    bool unmap(quintptr window);
    bool destroy(quintptr window);
    // _NET_CLIENT_LIST on the root window, as a window manager publishes it; none removes it.
    bool setClientList(const QList<quintptr>& windows = {});

private:
    quint32 atom(const QByteArray& name);
    bool set(quintptr window, const QByteArray& property, quint32 type, int format,
             const void* data, int count);
    bool sync();

    xcb_connection_t* m_connection = nullptr;
    quint32 m_root = 0;
    quint32 m_visual = 0;
    quint32 m_white = 0;
    bool m_publishedClientList = false;
};
