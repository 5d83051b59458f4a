#include "platform/display.h"

#include <windows.h>
#include <dwmapi.h>

namespace platform {

void enableHighDpiAwareness() {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (!user32) return;
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    using SetAwareFn = BOOL(WINAPI*)();
    // Through void*: GetProcAddress's generic function type converts to no other directly.
    if (auto setContext = reinterpret_cast<SetContextFn>(reinterpret_cast<void*>(
            GetProcAddress(user32, "SetProcessDpiAwarenessContext")))) {
        setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));  // per-monitor v2
    } else if (auto setAware = reinterpret_cast<SetAwareFn>(
                   reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDPIAware")))) {
        setAware();
    }
}

void applyDarkTitleBar(std::uintptr_t nativeWindowHandle) {
    HWND hwnd = reinterpret_cast<HWND>(nativeWindowHandle);
    if (!hwnd) return;
    const BOOL dark = TRUE;
    DwmSetWindowAttribute(hwnd, 20 /* immersive dark mode */, &dark, sizeof dark);
    const COLORREF caption = RGB(53, 53, 53);
    DwmSetWindowAttribute(hwnd, 35 /* caption colour */, &caption, sizeof caption);
}

}  // namespace platform
