#include "platform/termination_requests.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

namespace platform {

namespace {

// The signal handler only writes one byte into this pipe (async-signal-safe); a thread of our
// own reads it and runs the handler in ordinary thread context.
int g_pipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

bool watchTerminationRequests(std::function<void(int count)> handler) {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true)) return false;
    if (::pipe2(g_pipe, O_CLOEXEC) != 0) return false;
    // A burst of signals must never block the handler on a full pipe.
    ::fcntl(g_pipe[1], F_SETFL, ::fcntl(g_pipe[1], F_GETFL) | O_NONBLOCK);

    std::thread([handler = std::move(handler)] {
        int count = 0;
        char byte = 0;
        for (;;) {
            const ssize_t got = ::read(g_pipe[0], &byte, 1);
            if (got == 1) {
                handler(++count);
            } else if (got < 0 && errno == EINTR) {
                continue;
            } else {
                return;
            }
        }
    }).detach();

    struct sigaction action = {};
    action.sa_handler = &onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
    return true;
}

}  // namespace platform
