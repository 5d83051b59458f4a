#include "x11_test_windows.h"

#include <cstdlib>
#include <vector>

#include <xcb/xcb.h>

bool X11TestWindows::start(const QString& display, QString* error) {
    int screenNumber = 0;
    m_connection = xcb_connect(display.toLocal8Bit().constData(), &screenNumber);
    if (xcb_connection_has_error(m_connection)) {
        if (error) *error = QStringLiteral("cannot connect to the X server at ") + display;
        stop();
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    m_root = screens.data->root;
    m_visual = screens.data->root_visual;
    m_white = screens.data->white_pixel;
    return true;
}

void X11TestWindows::stop() {
    if (!m_connection) return;
    if (m_publishedClientList && !xcb_connection_has_error(m_connection)) setClientList();
    xcb_disconnect(m_connection);
    m_connection = nullptr;
}

quint32 X11TestWindows::atom(const QByteArray& name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, uint16_t(name.size()), name.constData()),
        nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

// A round trip: once it returns, the server has handled everything sent before.
bool X11TestWindows::sync() {
    xcb_get_input_focus_reply_t* reply =
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr);
    std::free(reply);
    return reply != nullptr;
}

bool X11TestWindows::set(quintptr window, const QByteArray& property, quint32 type, int format,
                         const void* data, int count) {
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window), atom(property),
                        type, uint8_t(format), uint32_t(count), data);
    return sync();
}

quintptr X11TestWindows::create(const QString& title) {
    if (!m_connection) return 0;
    const xcb_window_t window = xcb_generate_id(m_connection);
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, m_root, 10, 10, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, m_visual, XCB_CW_BACK_PIXEL, &m_white);
    if (!title.isNull() && !setTitle(window, title.toUtf8())) return 0;
    xcb_map_window(m_connection, window);
    return sync() ? window : 0;
}

bool X11TestWindows::setTitle(quintptr window, const QByteArray& utf8) {
    return setRawName(window, utf8) &&
           set(window, "WM_NAME", atom("UTF8_STRING"), 8, utf8.constData(), int(utf8.size()));
}

bool X11TestWindows::setLegacyName(quintptr window, const QByteArray& latin1) {
    xcb_delete_property(m_connection, xcb_window_t(window), atom("_NET_WM_NAME"));
    return set(window, "WM_NAME", XCB_ATOM_STRING, 8, latin1.constData(), int(latin1.size()));
}

bool X11TestWindows::setRawName(quintptr window, const QByteArray& bytes) {
    return set(window, "_NET_WM_NAME", atom("UTF8_STRING"), 8, bytes.constData(),
               int(bytes.size()));
}

bool X11TestWindows::setPid(quintptr window, quint32 pid) {
    return set(window, "_NET_WM_PID", XCB_ATOM_CARDINAL, 32, &pid, 1);
}

bool X11TestWindows::setType(quintptr window, const QByteArray& typeAtom) {
    const xcb_atom_t type = atom(typeAtom);
    return set(window, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, 32, &type, 1);
}

bool X11TestWindows::unmap(quintptr window) {
    xcb_unmap_window(m_connection, xcb_window_t(window));
    return sync();
}

bool X11TestWindows::destroy(quintptr window) {
    xcb_destroy_window(m_connection, xcb_window_t(window));
    return sync();
}

bool X11TestWindows::setClientList(const QList<quintptr>& windows) {
    m_publishedClientList = !windows.isEmpty();
    if (windows.isEmpty()) {
        xcb_delete_property(m_connection, m_root, atom("_NET_CLIENT_LIST"));
        return sync();
    }
    const std::vector<xcb_window_t> ids(windows.cbegin(), windows.cend());
    return set(m_root, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, 32, ids.data(), int(ids.size()));
}
