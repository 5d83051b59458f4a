#include "platform/termination_requests.h"

#include <windows.h>

#include <atomic>
#include <utility>

namespace platform {

namespace {

std::function<void(int)> g_handler;
std::atomic<int> g_count{0};

// Windows runs console control handlers on a thread of their own.
BOOL WINAPI onConsoleControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            if (g_handler) g_handler(++g_count);
            // For a closing console the process ends when this returns: give the main thread
            // the moment it needs to stop cleanly.
            if (type == CTRL_CLOSE_EVENT) ::Sleep(2000);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

bool watchTerminationRequests(std::function<void(int count)> handler) {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true)) return false;
    g_handler = std::move(handler);
    return ::SetConsoleCtrlHandler(&onConsoleControl, TRUE) != 0;
}

}  // namespace platform
