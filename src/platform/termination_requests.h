#pragma once

#include <functional>

namespace platform {

// Calls `handler` each time the user or the system asks the process to stop: Ctrl+C, SIGTERM
// and SIGHUP on Linux; Ctrl+C, Ctrl+Break and the console window closing on Windows. `count` is
// how many requests arrived so far (1 for the first), so a second one can force the way out.
//
// The handler runs on a thread of its own, never inside a signal handler; it must hand work to
// the main thread itself. Once per process (a second call returns false); main thread.
bool watchTerminationRequests(std::function<void(int count)> handler);

}  // namespace platform
