#include "platform/native_updater.h"

#include <windows.h>

#include "module_path.h"

// WinSparkle's C interface, resolved at run time. The library is taken only from the
// application's own folder by absolute path: a copy planted anywhere on the search path (the
// working folder, PATH) must never run, and its own dependencies come from its folder and
// System32 only.
namespace platform {
namespace {

using SetAppcastUrlFn = void(__cdecl*)(const char*);
using SetAppDetailsFn = void(__cdecl*)(const wchar_t*, const wchar_t*, const wchar_t*);
using SetEdDsaPublicKeyFn = int(__cdecl*)(const char*);
using VoidFn = void(__cdecl*)();

constexpr size_t kPublicKeyBase64Chars = 44;

struct WinSparkle {
    HMODULE library = nullptr;
    SetAppcastUrlFn setAppcastUrl = nullptr;
    SetAppDetailsFn setAppDetails = nullptr;
    SetEdDsaPublicKeyFn setEdDsaPublicKey = nullptr;
    VoidFn init = nullptr;
    VoidFn cleanup = nullptr;
    VoidFn checkUpdateWithUi = nullptr;
    std::string loadError;
    bool loadTried = false;
    bool initialized = false;
};

WinSparkle g_sparkle;  // process-wide; the library stays loaded until the process ends

std::string systemErrorText(DWORD code) {
    char buffer[512] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof(buffer), nullptr);
    std::string text(buffer, length);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text.empty() ? "error " + std::to_string(code) : text;
}

template <typename Fn>
Fn resolve(HMODULE library, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// Once per process; later calls return the first outcome.
bool loadWinSparkle(std::string& error) {
    if (!g_sparkle.loadTried) {
        g_sparkle.loadTried = true;
        const std::wstring folder = win::executableFolder();
        if (folder.empty()) {
            g_sparkle.loadError =
                "Failed to load WinSparkle.dll: the application's folder is unknown";
        } else {
            const std::wstring path = folder + L"\\WinSparkle.dll";
            HMODULE library =
                LoadLibraryExW(path.c_str(), nullptr,
                               LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
            if (!library) {
                g_sparkle.loadError =
                    "Failed to load WinSparkle.dll: " + systemErrorText(GetLastError());
            } else {
                g_sparkle.library = library;
                g_sparkle.setAppcastUrl =
                    resolve<SetAppcastUrlFn>(library, "win_sparkle_set_appcast_url");
                g_sparkle.setAppDetails =
                    resolve<SetAppDetailsFn>(library, "win_sparkle_set_app_details");
                g_sparkle.setEdDsaPublicKey =
                    resolve<SetEdDsaPublicKeyFn>(library, "win_sparkle_set_eddsa_public_key");
                g_sparkle.init = resolve<VoidFn>(library, "win_sparkle_init");
                g_sparkle.cleanup = resolve<VoidFn>(library, "win_sparkle_cleanup");
                g_sparkle.checkUpdateWithUi =
                    resolve<VoidFn>(library, "win_sparkle_check_update_with_ui");
                if (!g_sparkle.setAppcastUrl || !g_sparkle.setAppDetails || !g_sparkle.init ||
                    !g_sparkle.cleanup || !g_sparkle.checkUpdateWithUi) {
                    g_sparkle.loadError = "WinSparkle API symbols are missing in loaded DLL";
                } else if (!g_sparkle.setEdDsaPublicKey) {
                    // Without it the updater would install whatever the feed offers, signed or not.
                    g_sparkle.loadError =
                        "WinSparkle.dll cannot verify update signatures "
                        "(win_sparkle_set_eddsa_public_key is missing); updates stay off";
                }
            }
        }
    }
    error = g_sparkle.loadError;
    return error.empty();
}

bool isBase64Key(const std::string& key) {
    if (key.size() != kPublicKeyBase64Chars || key.back() != '=') return false;
    for (size_t i = 0; i + 1 < key.size(); ++i) {
        const char c = key[i];
        const bool valid = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (!valid) return false;
    }
    return true;
}

const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

}  // namespace

bool hasNativeUpdater() { return true; }

bool startNativeUpdater(const NativeUpdaterDetails& details, std::string& error) {
    error.clear();
    if (g_sparkle.initialized) return true;
    if (!loadWinSparkle(error)) return false;
    if (details.appcastUrl.empty()) {
        error = "WinSparkle appcast URL is empty";
        return false;
    }
    if (!isBase64Key(details.publicKeyBase64)) {
        error = "The update signing key is not configured; updates stay off";
        return false;
    }
    g_sparkle.setAppcastUrl(details.appcastUrl.c_str());
    g_sparkle.setAppDetails(wide(details.companyName), wide(details.applicationName),
                            wide(details.version));
    if (g_sparkle.setEdDsaPublicKey(details.publicKeyBase64.c_str()) == 0) {
        error = "WinSparkle refused the update signing key; updates stay off";
        return false;
    }
    g_sparkle.init();
    g_sparkle.initialized = true;
    return true;
}

bool checkNativeUpdaterWithUi(std::string& error) {
    error.clear();
    if (!g_sparkle.initialized) {
        error = "WinSparkle is not initialized";
        return false;
    }
    if (!g_sparkle.checkUpdateWithUi) {
        error = "WinSparkle check function is unavailable";
        return false;
    }
    g_sparkle.checkUpdateWithUi();
    return true;
}

}  // namespace platform
