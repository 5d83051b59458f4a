#include "platform/auto_start.h"

#include <windows.h>

#include "module_path.h"

// The value "OndaroBroadcaster" in the current user's Run key, holding the executable's quoted
// path.
namespace platform {
namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kValueName[] = L"OndaroBroadcaster";
constexpr char kRegistryError[] =
    "Failed to access Windows registry. Permission denied or registry is read-only.";

}  // namespace

std::string autoStartLocation() {
    return "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\"
           "OndaroBroadcaster";
}

bool isAutoStartEnabled() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    const LONG status = RegQueryValueExW(key, kValueName, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
}

bool setAutoStartEnabled(bool enable, std::string& error) {
    error.clear();
    HKEY key = nullptr;
    LONG status = enable ? RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE,
                                           nullptr, &key, nullptr)
                         : RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key);
    if (status == ERROR_SUCCESS) {
        if (enable) {
            std::wstring path = win::executablePath();
            for (wchar_t& c : path) {
                if (c == L'/') c = L'\\';
            }
            const std::wstring data = L"\"" + path + L"\"";
            status = path.empty() ? LONG(ERROR_BAD_PATHNAME)
                                  : RegSetValueExW(key, kValueName, 0, REG_SZ,
                                                   reinterpret_cast<const BYTE*>(data.c_str()),
                                                   DWORD((data.size() + 1) * sizeof(wchar_t)));
        } else {
            status = RegDeleteValueW(key, kValueName);
        }
        RegCloseKey(key);
    }
    // Without the key or the value there is nothing to remove.
    const bool ok = status == ERROR_SUCCESS || (!enable && status == ERROR_FILE_NOT_FOUND);
    if (!ok) error = kRegistryError;
    return ok;
}

}  // namespace platform
