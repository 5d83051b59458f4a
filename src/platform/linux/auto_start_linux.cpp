#include "platform/auto_start.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "xdg_config_home.h"

// The XDG autostart entry: a desktop file in $XDG_CONFIG_HOME/autostart whose Exec line holds
// the quoted path of the running executable (of the AppImage when run from one).
namespace platform {
namespace {

constexpr char kEntryFileName[] = "ondaro-doredoradar.desktop";

std::string autostartFolder() {
    const std::string config = xdg::configHome();
    return config.empty() ? std::string() : config + "/autostart";
}

std::string executablePath() {
    // Inside an AppImage the running file is a temporary mount; the image itself is what starts.
    const char* image = getenv("APPIMAGE");
    if (image && image[0] == '/') return image;
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

// The path as one quoted Exec argument: the quoting rule escapes " ` $ \ inside the quotes, the
// string rule then escapes every backslash again and writes control characters as escapes (a
// newline in the path must not start a new key), and % doubles so it is no field code.
std::string execArgument(const std::string& path) {
    std::string quoted = "\"";
    for (const char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string escaped;
    for (const char c : quoted) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\r':
                escaped += "\\r";
                break;
            case '%':
                escaped += "%%";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string entryText(const std::string& executable) {
    std::string text = "[Desktop Entry]\nType=Application\nName=Ondaro Doredoradar\n";
    text += "Comment=Live internet radio broadcaster\n";
    text += "Exec=" + execArgument(executable) + "\n";
    text += "Terminal=false\nX-GNOME-Autostart-enabled=true\n";
    return text;
}

bool makeFolders(const std::string& folder) {
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat info;
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Written beside the entry under a name the session ignores, then renamed over it: a reader sees
// the old entry or the new one, never half of one.
bool writeEntry(const std::string& folder, const std::string& text) {
    if (!makeFolders(folder)) return false;
    std::string temporary = folder + "/." + kEntryFileName + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return false;
    const bool written = fchmod(fd, 0644) == 0 && writeAll(fd, text) && fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (written && closed &&
        rename(temporary.c_str(), (folder + "/" + kEntryFileName).c_str()) == 0) {
        return true;
    }
    unlink(temporary.c_str());
    return false;
}

}  // namespace

std::string autoStartLocation() {
    const std::string folder = autostartFolder();
    return folder.empty() ? std::string() : folder + "/" + kEntryFileName;
}

bool isAutoStartEnabled() {
    const std::string entry = autoStartLocation();
    struct stat info;
    return !entry.empty() && lstat(entry.c_str(), &info) == 0;
}

bool setAutoStartEnabled(bool enable, std::string& error) {
    error.clear();
    const std::string folder = autostartFolder();
    bool ok = false;
    if (!folder.empty()) {
        if (enable) {
            const std::string executable = executablePath();
            ok = !executable.empty() && writeEntry(folder, entryText(executable));
        } else {
            ok = unlink(autoStartLocation().c_str()) == 0 || errno == ENOENT || errno == ENOTDIR;
        }
    }
    if (!ok) {
        error = "Failed to access autostart folder " + (folder.empty() ? "(none)" : folder) +
                ". Permission denied or folder is read-only.";
    }
    return ok;
}

}  // namespace platform
