#include "module_path.h"

#include <windows.h>

// The running executable's path from the loader.
namespace platform::win {

std::wstring executablePath() {
    // GetModuleFileNameW cuts silently at the buffer's size: grow until the path fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 32768) return std::wstring();
        path.resize(path.size() * 2);
    }
}

std::wstring executableFolder() {
    const std::wstring path = executablePath();
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace platform::win
