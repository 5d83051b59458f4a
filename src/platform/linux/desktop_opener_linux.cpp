#include "platform/desktop_opener.h"

#include <fcntl.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>

#include <thread>

extern char** environ;

// Web addresses go to xdg-open, started on its own and never waited for.
namespace platform {

bool openWithDesktop(const std::string& encodedUrl, std::string& error) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    char program[] = "xdg-open";
    std::string url = encodedUrl;
    char* arguments[] = {program, url.data(), nullptr};
    pid_t pid = 0;
    // glibc reports a program that cannot be run through the result, not through the child.
    const int result = posix_spawnp(&pid, program, &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        error = std::string("xdg-open: ") + strerror(result);
        return false;
    }
    // The opener may live as long as the browser it starts; a waiter keeps it from staying a
    // zombie without holding up the caller.
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return true;
}

}  // namespace platform
