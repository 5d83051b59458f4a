#include "tray_host.h"

#include <stdlib.h>
#include <string.h>

#include <xcb/xcb.h>

// The tray side of the X11 embedding protocol, just enough to dock icons.
namespace {

constexpr uint32_t kRequestDock = 0;

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return atom;
}

}  // namespace

// Disconnecting gives the selection up; the icons, in our save-set, go back to the root window.
TrayHost::~TrayHost() {
    if (m_connection) xcb_disconnect(m_connection);
}

bool TrayHost::start(const QString& display) {
    m_connection = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    if (xcb_connection_has_error(m_connection)) return false;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
    m_window = xcb_generate_id(m_connection);
    const uint32_t overrideRedirect = 1;
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 1240, 8, 22, 22,
                      0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
    xcb_map_window(m_connection, m_window);
    m_opcodeAtom = internAtom(m_connection, "_NET_SYSTEM_TRAY_OPCODE");
    const xcb_atom_t selection = internAtom(m_connection, "_NET_SYSTEM_TRAY_S0");
    xcb_set_selection_owner(m_connection, m_window, selection, XCB_CURRENT_TIME);
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        m_connection, xcb_get_selection_owner(m_connection, selection), nullptr);
    const bool owned = owner && owner->owner == m_window;
    free(owner);
    return owned;
}

QList<quint32> TrayHost::dockedIcons() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
        const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && message->type == m_opcodeAtom &&
            message->data.data32[1] == kRequestDock) {
            const xcb_window_t icon = message->data.data32[2];
            xcb_change_save_set(m_connection, XCB_SET_MODE_INSERT, icon);
            xcb_reparent_window(m_connection, icon, m_window, 0, 0);
            xcb_map_window(m_connection, icon);
            xcb_flush(m_connection);
            m_icons.append(icon);
        }
        free(event);
    }
    return m_icons;
}
