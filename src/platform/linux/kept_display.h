#pragma once

#include <functional>
#include <string>

// The X display connection held open for the capture library (see obsStartupProblem), and the
// watch on it that notices when the X server ends.
namespace platform::x11 {

// Main thread. Connects to `display` unless already connected to it; "" on success, else why not.
std::string keepDisplayConnection(const char* display);

// See platform::watchObsDisplay and platform::obsDisplayLost.
void watchKeptDisplay(std::function<void()> onLost);
bool keptDisplayLost();

}  // namespace platform::x11
