#include "xdg_config_home.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

// The configuration folder by the XDG rules, shared by the key file and the autostart entry.
namespace platform::xdg {

std::string configHome() {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.config";
    if (const passwd* entry = getpwuid(geteuid())) return std::string(entry->pw_dir) + "/.config";
    return std::string();
}

}  // namespace platform::xdg
