#pragma once

#include <string>

// Hands a web address to the desktop's opener (xdg-open on Linux, the shell on Windows), which
// shows it in the user's browser.
namespace platform {

// Main thread. `encodedUrl` is the URL in its encoded (ASCII) form. Returns once the opener has
// been started, without waiting for the browser; false with `error` (a few words for the log and
// the user) when no opener could be started.
bool openWithDesktop(const std::string& encodedUrl, std::string& error);

}  // namespace platform
