#pragma once

#include <QString>

// Start with the system: whether the application starts when the user signs in, kept as the
// platform's per-user autostart entry (the registry's Run key on Windows, an XDG autostart file
// on Linux), not in the application's settings. Main thread only; calls block briefly on the
// registry or the disk.

// Clears the last error; true when the entry exists, whoever wrote it.
bool isAutoStartEnabled();
// Clears the last error, then writes or removes the entry. On failure the last error says what
// refused (naming the registry or the autostart folder) and the result is false.
bool setAutoStartEnabled(bool enable);
QString autoStartLastError();
