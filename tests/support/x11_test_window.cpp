// A small X11 client for tests: opens top-level windows and changes their names and properties
// on command, one command per line on standard input, one answer line per command on standard
// output. Every answer is written only after the X server has processed the request, so a test
// that reads the answer can look at the window at once.
//
//   new <title>             map a window named <title>; answers its id (decimal)
//   new-untitled            map a window without any name; answers its id
//   title <id> <text>       set _NET_WM_NAME and WM_NAME (UTF-8)
//   wmname <id> <bytes>     remove _NET_WM_NAME, set WM_NAME as STRING (Latin-1 bytes)
//   rawname <id> <hex>      set _NET_WM_NAME to these bytes (for invalid UTF-8)
//   pid <id> <n>            set _NET_WM_PID
//   type <id> <atom>        set _NET_WM_WINDOW_TYPE, e.g. _NET_WM_WINDOW_TYPE_DOCK
//   unmap <id> | destroy <id>
//   clientlist [<id> ...]   publish _NET_CLIENT_LIST on the root as a window manager would;
//                           without ids the property is removed
// Standard input closing ends the program (and removes a client list it published).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <xcb/xcb.h>

namespace {

xcb_connection_t* g_connection = nullptr;
xcb_screen_t* g_screen = nullptr;
bool g_publishedClientList = false;

xcb_atom_t atom(const std::string& name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        g_connection, xcb_intern_atom(g_connection, 0, uint16_t(name.size()), name.c_str()),
        nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

// A round trip: once it returns, the server has handled everything sent before.
bool sync() {
    xcb_get_input_focus_reply_t* reply =
        xcb_get_input_focus_reply(g_connection, xcb_get_input_focus(g_connection), nullptr);
    std::free(reply);
    return reply != nullptr;
}

void setBytes(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, const std::string& bytes) {
    xcb_change_property(g_connection, XCB_PROP_MODE_REPLACE, window, property, type, 8,
                        uint32_t(bytes.size()), bytes.data());
}

void setName(xcb_window_t window, const std::string& text) {
    const xcb_atom_t utf8 = atom("UTF8_STRING");
    setBytes(window, atom("_NET_WM_NAME"), utf8, text);
    setBytes(window, XCB_ATOM_WM_NAME, utf8, text);
}

xcb_window_t createWindow() {
    const xcb_window_t window = xcb_generate_id(g_connection);
    const uint32_t values[] = {g_screen->white_pixel};
    xcb_create_window(g_connection, XCB_COPY_FROM_PARENT, window, g_screen->root, 10, 10, 200, 100,
                      0, XCB_WINDOW_CLASS_INPUT_OUTPUT, g_screen->root_visual, XCB_CW_BACK_PIXEL,
                      values);
    return window;
}

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(char(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    }
    return bytes;
}

std::string handle(const std::string& line) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "new" || command == "new-untitled") {
        const xcb_window_t window = createWindow();
        if (command == "new") {
            std::string title;
            std::getline(in >> std::ws, title);
            setName(window, title);
        }
        xcb_map_window(g_connection, window);
        return sync() ? std::to_string(window) : "error sync";
    }
    if (command == "clientlist") {
        std::vector<xcb_window_t> windows;
        for (uint32_t id; in >> id;) windows.push_back(id);
        const xcb_atom_t property = atom("_NET_CLIENT_LIST");
        if (windows.empty()) {
            xcb_delete_property(g_connection, g_screen->root, property);
            g_publishedClientList = false;
        } else {
            xcb_change_property(g_connection, XCB_PROP_MODE_REPLACE, g_screen->root, property,
                                XCB_ATOM_WINDOW, 32, uint32_t(windows.size()), windows.data());
            g_publishedClientList = true;
        }
        return sync() ? "ok" : "error sync";
    }

    uint32_t window = 0;
    if (!(in >> window)) return "error no window id";
    std::string rest;
    std::getline(in >> std::ws, rest);
    if (command == "title") {
        setName(window, rest);
    } else if (command == "wmname") {
        xcb_delete_property(g_connection, window, atom("_NET_WM_NAME"));
        setBytes(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, rest);
    } else if (command == "rawname") {
        setBytes(window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), fromHex(rest));
    } else if (command == "pid") {
        const uint32_t pid = uint32_t(std::strtoul(rest.c_str(), nullptr, 10));
        xcb_change_property(g_connection, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_PID"),
                            XCB_ATOM_CARDINAL, 32, 1, &pid);
    } else if (command == "type") {
        const xcb_atom_t type = atom(rest);
        xcb_change_property(g_connection, XCB_PROP_MODE_REPLACE, window,
                            atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1, &type);
    } else if (command == "unmap") {
        xcb_unmap_window(g_connection, window);
    } else if (command == "destroy") {
        xcb_destroy_window(g_connection, window);
    } else {
        return "error unknown command " + command;
    }
    return sync() ? "ok" : "error sync";
}

}  // namespace

int main() {
    int screenNumber = 0;
    g_connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(g_connection)) {
        std::printf("error cannot connect to the X server\n");
        return 1;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(g_connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    g_screen = screens.data;

    std::printf("ready\n");
    std::fflush(stdout);
    for (std::string line; std::getline(std::cin, line);) {
        std::printf("%s\n", handle(line).c_str());
        std::fflush(stdout);
    }
    if (g_publishedClientList) {
        xcb_delete_property(g_connection, g_screen->root, atom("_NET_CLIENT_LIST"));
        sync();
    }
    xcb_disconnect(g_connection);
    return 0;
}
