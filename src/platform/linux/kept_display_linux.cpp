// The X display connection kept for libobs, and a thread that watches it for the X server's end.
#include "kept_display.h"

#include <poll.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace platform::x11 {

namespace {

struct KeptDisplay {
    std::mutex mutex;
    xcb_connection_t* connection = nullptr;  // main thread only, but for the watch's copy
    std::string display;
    std::function<void()> onLost;
    bool watching = false;
    std::atomic<bool> lost{false};
};

KeptDisplay& kept() {
    static KeptDisplay* instance = new KeptDisplay;  // lives as long as the watch's thread
    return *instance;
}

// Sleeps in poll until the server writes or hangs up. Events are drained and dropped: nobody
// asked for any, but an X server may still send some (keymap changes, mapping notices).
void watch(xcb_connection_t* connection) {
    pollfd entry{xcb_get_file_descriptor(connection), POLLIN, 0};
    for (;;) {
        if (::poll(&entry, 1, -1) < 0) continue;
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) std::free(event);
        if (xcb_connection_has_error(connection) || (entry.revents & (POLLHUP | POLLERR))) break;
    }
    KeptDisplay& state = kept();
    std::function<void()> onLost;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.lost.store(true);
        onLost = state.onLost;
    }
    if (onLost) onLost();
}

}  // namespace

std::string keepDisplayConnection(const char* display) {
    KeptDisplay& state = kept();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.connection && state.display == display) return {};
    // A watched connection belongs to the watch's thread from then on.
    if (state.watching) return std::string("the X display ") + state.display + " is in use";
    xcb_connection_t* connection = xcb_connect(display, nullptr);
    const int failure = xcb_connection_has_error(connection);
    if (failure != 0) {
        xcb_disconnect(connection);
        return std::string("libobs needs an X display, but ") + display +
               " cannot be opened (xcb error " + std::to_string(failure) + ")";
    }
    if (state.connection) xcb_disconnect(state.connection);
    state.connection = connection;
    state.display = display;
    state.lost.store(false);
    return {};
}

void watchKeptDisplay(std::function<void()> onLost) {
    KeptDisplay& state = kept();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.onLost = std::move(onLost);
    if (state.watching || !state.connection) return;
    state.watching = true;
    std::thread(&watch, state.connection).detach();
}

bool keptDisplayLost() { return kept().lost.load(); }

}  // namespace platform::x11
