#include "platform/desktop_opener.h"

#include <windows.h>

#include <shellapi.h>

// Web addresses go to the shell's "open" verb, which starts the default browser.
namespace platform {

bool openWithDesktop(const std::string& encodedUrl, std::string& error) {
    // An encoded URL is ASCII, so widening byte by byte is exact.
    const std::wstring url(encodedUrl.begin(), encodedUrl.end());
    const HINSTANCE result =
        ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    const INT_PTR code = reinterpret_cast<INT_PTR>(result);
    if (code > 32) return true;
    error = "ShellExecuteW error " + std::to_string(code);
    return false;
}

}  // namespace platform
