#include "platform/window_titles.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <QString>

// X11 through xcb and the EWMH conventions. One connection is kept open and reused; it is
// reopened when the server went away or DISPLAY changed, so a poll every two seconds costs a
// couple of local round trips and no connection set-up.
namespace platform {
namespace {

// Enough bytes for any title that survives the UTF-16 cut (at most 4 bytes per unit), so a
// window cannot make us copy megabytes of name.
constexpr uint32_t kTitleReadLongs = 1024;
constexpr uint32_t kListReadLongs = 4096;
constexpr uint8_t kBadWindowError = 3;

template <typename T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter<T>>;

class XDisplay {
public:
    ~XDisplay() { close(); }

    // Connects on first use or after a failure. False without a reachable X server.
    bool ensureOpen() {
        const char* env = std::getenv("DISPLAY");
        const std::string display = env ? env : "";
        if (m_connection && (xcb_connection_has_error(m_connection) || display != m_display)) {
            close();
        }
        if (m_connection) return true;
        if (display.empty()) return false;

        int screenNumber = 0;
        xcb_connection_t* connection = xcb_connect(display.c_str(), &screenNumber);
        if (xcb_connection_has_error(connection)) {
            xcb_disconnect(connection);
            return false;
        }
        m_connection = connection;
        m_display = display;
        xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(m_connection, &m_ewmh);
        // On failure the replies call has already released what the atoms call allocated.
        m_ewmhReady = xcb_ewmh_init_atoms_replies(&m_ewmh, cookies, nullptr);
        if (!m_ewmhReady || screenNumber < 0 || screenNumber >= m_ewmh.nb_screens) {
            close();
            return false;
        }
        m_screen = screenNumber;
        m_root = m_ewmh.screens[screenNumber]->root;
        m_wmStateAtom = internAtom("WM_STATE");
        m_clientMachineAtom = internAtom("WM_CLIENT_MACHINE");
        return !xcb_connection_has_error(m_connection);
    }

    // After a failed request: drop a broken connection so the next call starts afresh.
    bool broken() {
        if (m_connection && xcb_connection_has_error(m_connection)) {
            close();
            return true;
        }
        return !m_connection;
    }

    WindowState state(xcb_window_t window) {
        xcb_generic_error_t* error = nullptr;
        XcbReply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
            m_connection, xcb_get_window_attributes(m_connection, window), &error));
        if (!attributes) {
            const bool badWindow = error && error->error_code == kBadWindowError;
            std::free(error);
            if (broken()) return WindowState::Unknown;
            return badWindow ? WindowState::Closed : WindowState::Unknown;
        }
        // A window manager lists the windows it manages; one that left the list was closed (or
        // withdrawn) even if the X id lingers for a moment.
        std::vector<xcb_window_t> clients;
        if (clientList(&clients) &&
            std::find(clients.begin(), clients.end(), window) == clients.end()) {
            return WindowState::Closed;
        }
        return broken() ? WindowState::Unknown : WindowState::Open;
    }

    std::u16string title(xcb_window_t window) {
        std::string bytes;
        xcb_atom_t type = XCB_ATOM_NONE;
        if (!readProperty(window, m_ewmh._NET_WM_NAME, m_ewmh.UTF8_STRING, kTitleReadLongs, &bytes,
                          &type) ||
            bytes.empty()) {
            bytes.clear();
            if (!readProperty(window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, kTitleReadLongs,
                              &bytes, &type)) {
                return {};
            }
        }
        // STRING is Latin-1 by definition; UTF8_STRING and anything else is read as UTF-8.
        const QString text = type == XCB_ATOM_STRING
                                 ? QString::fromLatin1(bytes.data(), qsizetype(bytes.size()))
                                 : QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
        return limitWindowTitle(text.toStdU16String());
    }

    std::vector<WindowEntry> list() {
        std::vector<xcb_window_t> candidates;
        if (!clientList(&candidates)) candidates = topLevelWindows();

        std::vector<WindowEntry> entries;
        for (xcb_window_t window : candidates) {
            if (isOwnWindow(window) || !isApplicationWindow(window)) continue;
            std::u16string text = title(window);
            if (text.empty()) continue;
            entries.push_back({window, std::move(text)});
        }
        return entries;
    }

private:
    void close() {
        if (m_ewmhReady) xcb_ewmh_connection_wipe(&m_ewmh);
        m_ewmhReady = false;
        if (m_connection) xcb_disconnect(m_connection);
        m_connection = nullptr;
        m_display.clear();
    }

    xcb_atom_t internAtom(const char* name) {
        XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, uint16_t(std::strlen(name)), name),
            nullptr));
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    bool readProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, uint32_t longs,
                      std::string* bytes, xcb_atom_t* actualType = nullptr) {
        XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, property, type, 0, longs),
            nullptr));
        if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 8) return false;
        const int length = xcb_get_property_value_length(reply.get());
        bytes->assign(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      size_t(std::max(length, 0)));
        if (actualType) *actualType = reply->type;
        return true;
    }

    bool readAtoms(xcb_window_t window, xcb_atom_t property, std::vector<xcb_atom_t>* atoms) {
        XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 0, window, property, XCB_ATOM_ATOM, 0, kListReadLongs),
            nullptr));
        if (!reply || reply->type != XCB_ATOM_ATOM || reply->format != 32) return false;
        const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
        const int count = xcb_get_property_value_length(reply.get()) / 4;
        atoms->assign(values, values + std::max(count, 0));
        return true;
    }

    // False when no window manager publishes a client list (a bare X server, as under Xvfb).
    bool clientList(std::vector<xcb_window_t>* windows) {
        xcb_ewmh_get_windows_reply_t reply;
        if (!xcb_ewmh_get_client_list_reply(&m_ewmh, xcb_ewmh_get_client_list(&m_ewmh, m_screen),
                                            &reply, nullptr)) {
            return false;
        }
        windows->assign(reply.windows, reply.windows + reply.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&reply);
        return true;
    }

    bool hasWmState(xcb_window_t window) {
        XcbReply<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(m_connection,
                                   xcb_get_property(m_connection, 0, window, m_wmStateAtom,
                                                    XCB_GET_PROPERTY_TYPE_ANY, 0, 0),
                                   nullptr));
        return reply && reply->type != XCB_ATOM_NONE;
    }

    std::vector<xcb_window_t> children(xcb_window_t parent) {
        XcbReply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, parent), nullptr));
        if (!tree) return {};
        const xcb_window_t* first = xcb_query_tree_children(tree.get());
        return {first, first + xcb_query_tree_children_length(tree.get())};
    }

    // Without a client list: the mapped children of the root, or, under a reparenting window
    // manager that publishes no list, the client window (the one with WM_STATE) inside a frame.
    std::vector<xcb_window_t> topLevelWindows() {
        std::vector<xcb_window_t> result;
        for (xcb_window_t window : children(m_root)) {
            XcbReply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
                m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
            if (!attributes || attributes->override_redirect ||
                attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
                attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT) {
                continue;
            }
            xcb_window_t client = window;
            if (!hasWmState(window)) {
                for (xcb_window_t child : children(window)) {
                    if (hasWmState(child)) {
                        client = child;
                        break;
                    }
                }
            }
            result.push_back(client);
        }
        return result;
    }

    bool isOwnWindow(xcb_window_t window) {
        uint32_t pid = 0;
        if (!xcb_ewmh_get_wm_pid_reply(&m_ewmh, xcb_ewmh_get_wm_pid(&m_ewmh, window), &pid,
                                       nullptr) ||
            pid != uint32_t(::getpid())) {
            return false;
        }
        // The same process id on another machine (a remote X client) is not us.
        std::string machine;
        if (!m_clientMachineAtom ||
            !readProperty(window, m_clientMachineAtom, XCB_GET_PROPERTY_TYPE_ANY, 64, &machine)) {
            return true;
        }
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0) return true;
        return machine.c_str() == std::string(host);
    }

    // Panels, docks, desktops, menus and tool windows are not what a user would pick, nor are
    // windows that ask to stay out of the task bar.
    bool isApplicationWindow(xcb_window_t window) {
        std::vector<xcb_atom_t> types;
        if (readAtoms(window, m_ewmh._NET_WM_WINDOW_TYPE, &types) && !types.empty() &&
            std::none_of(types.begin(), types.end(), [this](xcb_atom_t type) {
                return type == m_ewmh._NET_WM_WINDOW_TYPE_NORMAL ||
                       type == m_ewmh._NET_WM_WINDOW_TYPE_DIALOG;
            })) {
            return false;
        }
        std::vector<xcb_atom_t> states;
        return !(readAtoms(window, m_ewmh._NET_WM_STATE, &states) &&
                 std::find(states.begin(), states.end(), m_ewmh._NET_WM_STATE_SKIP_TASKBAR) !=
                     states.end());
    }

    xcb_connection_t* m_connection = nullptr;
    xcb_ewmh_connection_t m_ewmh{};
    bool m_ewmhReady = false;
    std::string m_display;
    int m_screen = 0;
    xcb_window_t m_root = XCB_WINDOW_NONE;
    xcb_atom_t m_wmStateAtom = XCB_ATOM_NONE;
    xcb_atom_t m_clientMachineAtom = XCB_ATOM_NONE;
};

std::mutex g_mutex;

XDisplay& xDisplay() {
    static XDisplay display;
    return display;
}

// X window ids are 29-bit values; anything else cannot name a window.
bool isWindowId(std::uintptr_t handle) { return handle != 0 && handle <= 0x1FFFFFFFu; }

}  // namespace

bool windowSystemAvailable() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return xDisplay().ensureOpen();
}

WindowState windowState(std::uintptr_t handle) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!xDisplay().ensureOpen()) return WindowState::Unknown;
    if (!isWindowId(handle)) return WindowState::Closed;
    return xDisplay().state(xcb_window_t(handle));
}

std::u16string windowTitle(std::uintptr_t handle) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!isWindowId(handle) || !xDisplay().ensureOpen()) return {};
    std::u16string title = xDisplay().title(xcb_window_t(handle));
    xDisplay().broken();
    return title;
}

std::vector<WindowEntry> listApplicationWindows() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!xDisplay().ensureOpen()) return {};
    std::vector<WindowEntry> entries = xDisplay().list();
    if (xDisplay().broken()) return {};
    return entries;
}

}  // namespace platform
