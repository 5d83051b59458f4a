#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Other programs' top-level windows: the title of one window for the window-title metadata
// source, and the list of application windows that the window picker offers. A handle is the
// native window id as an integer (HWND on Windows, the X window id on Linux).
//
// Any thread may call these functions; calls are serialised internally. Each asks the window
// system and blocks for a few short round trips (a local X server or User32).
namespace platform {

// Titles are read as Windows reads them into a buffer of 512 UTF-16 units, the terminating null
// included; longer titles are cut.
inline constexpr std::size_t kMaxWindowTitleUnits = 511;

enum class WindowState {
    Open,     // the handle names a live window
    Closed,   // the window system says the window is gone
    Unknown,  // no window system to ask (no X server): nothing can be said
};

struct WindowEntry {
    std::uintptr_t handle = 0;
    std::u16string title;
};

// False when there is no window system to ask (on Linux: no X server reachable through DISPLAY).
// The window picker uses it to say why its list is empty.
bool windowSystemAvailable();

WindowState windowState(std::uintptr_t handle);

// The window's title, at most kMaxWindowTitleUnits UTF-16 units; empty when the window has none
// or it cannot be read. Undecodable bytes become U+FFFD.
std::u16string windowTitle(std::uintptr_t handle);

// Top-level, visible, titled application windows of other processes (never this one), in the
// window system's order. Empty without a window system.
std::vector<WindowEntry> listApplicationWindows();

// Cuts a title to kMaxWindowTitleUnits without leaving half of a surrogate pair at the end.
inline std::u16string limitWindowTitle(std::u16string title) {
    if (title.size() <= kMaxWindowTitleUnits) return title;
    title.resize(kMaxWindowTitleUnits);
    const char16_t last = title.back();
    if (last >= 0xD800 && last <= 0xDBFF) title.pop_back();
    return title;
}

}  // namespace platform
