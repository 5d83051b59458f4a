#include "platform/display.h"

// X11 and Wayland window managers draw their own decorations, and Qt already handles scaling.
namespace platform {

void enableHighDpiAwareness() {}

void applyDarkTitleBar(std::uintptr_t) {}

}  // namespace platform
