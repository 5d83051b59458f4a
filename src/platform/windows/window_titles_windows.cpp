#include "platform/window_titles.h"

#include <windows.h>

#include <dwmapi.h>

#include <mutex>

// User32 needs no connection; the mutex only keeps the promise of serialised calls.
namespace platform {
namespace {

std::mutex g_mutex;

HWND toHwnd(std::uintptr_t handle) { return reinterpret_cast<HWND>(handle); }

std::u16string readTitle(HWND hwnd) {
    // One unit more than we keep, so a cut between the halves of a surrogate pair shows.
    wchar_t buffer[kMaxWindowTitleUnits + 2] = {};
    const int length = GetWindowTextW(hwnd, buffer, int(kMaxWindowTitleUnits + 2));
    if (length <= 0) return {};
    return limitWindowTitle(
        std::u16string(reinterpret_cast<const char16_t*>(buffer), size_t(length)));
}

// Windows that a user would pick: visible, not owned by another window, not tool windows, not
// cloaked (hidden store apps and windows on other virtual desktops), not ours, with a title.
BOOL CALLBACK collectWindow(HWND hwnd, LPARAM parameter) {
    auto* entries = reinterpret_cast<std::vector<WindowEntry>*>(parameter);
    if (!IsWindowVisible(hwnd) || GetWindow(hwnd, GW_OWNER) != nullptr) return TRUE;
    if (GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) return TRUE;
    DWORD cloaked = 0;
    if (SUCCEEDED(DwmGetWindowAttribute(hwnd, DWMWA_CLOAKED, &cloaked, sizeof cloaked)) &&
        cloaked != 0) {
        return TRUE;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(hwnd, &processId);
    if (processId == GetCurrentProcessId()) return TRUE;
    std::u16string title = readTitle(hwnd);
    if (title.empty()) return TRUE;
    entries->push_back({reinterpret_cast<std::uintptr_t>(hwnd), std::move(title)});
    return TRUE;
}

}  // namespace

bool windowSystemAvailable() { return true; }

WindowState windowState(std::uintptr_t handle) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return handle != 0 && IsWindow(toHwnd(handle)) ? WindowState::Open : WindowState::Closed;
}

std::u16string windowTitle(std::uintptr_t handle) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (handle == 0) return {};
    return readTitle(toHwnd(handle));
}

std::vector<WindowEntry> listApplicationWindows() {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<WindowEntry> entries;
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&entries));
    return entries;
}

}  // namespace platform
