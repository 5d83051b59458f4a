#pragma once

#include <string>

// Starting the application when the user signs in: one per-user entry that runs the executable
// in use now (a value in the registry's Run key on Windows, an XDG autostart entry on Linux).
// "Enabled" means the entry exists, whoever wrote it.
//
// Main thread; each call blocks briefly on the registry or the file system.
namespace platform {

bool isAutoStartEnabled();

// Writes the entry (its path rewritten each time, so enabling again repairs a moved program) or
// removes it; removing a missing entry succeeds. On failure: false, and `error` holds the text
// the user sees, naming the place that refused (the registry or the autostart folder).
bool setAutoStartEnabled(bool enable, std::string& error);

// Where the entry lives: the registry key and value name, or the autostart file's path.
std::string autoStartLocation();

}  // namespace platform
