#pragma once

#include <cstdint>

// Window-system details that only some platforms need.
namespace platform {

// Once, before the application object exists: per-monitor DPI awareness where the OS asks for it.
void enableHighDpiAwareness();

// Main thread: ask the window manager for a dark title bar with a dark caption colour. Does
// nothing where the window manager decides on its own.
void applyDarkTitleBar(std::uintptr_t nativeWindowHandle);

}  // namespace platform
