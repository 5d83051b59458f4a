// The Windows shims under Wine, one case per run: platform_windows_test.exe <case>.
#include <winsock2.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "check.h"
#include "platform/auto_start.h"
#include "platform/crash_handler.h"
#include "platform/credential_protection.h"
#include "platform/socket.h"
#include "platform/window_titles.h"

using namespace platform;

namespace {

void credentialProtection() {
    const ByteVector secret{'t', 'o', 'k', 'e', 'n', 0, 0xff};
    ByteVector blob;
    ByteVector opened;
    std::string error;
    CHECK(protectData({}, secret, blob, error), error);
    CHECK(std::search(blob.begin(), blob.end(), secret.begin(), secret.end()) == blob.end(),
          "the sealed blob holds the token in clear");
    CHECK(unprotectData({}, blob, opened, error) && opened == secret, error);
    blob[blob.size() - 8] ^= 0x01;
    CHECK(!unprotectData({}, blob, opened, error) && opened.empty() && !error.empty(),
          "a tampered blob was opened");
}

void sockets() {
    initializeSockets();
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), length);
    listen(listener, 1);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const std::uint16_t port = ntohs(address.sin_port);

    const int client = tcpConnect("127.0.0.1", port, false, 2000);
    CHECK(client >= 0, std::to_string(client));
    if (client < 0) return;
    const SOCKET peer = accept(listener, nullptr, nullptr);
    const DWORD peerWaitMs = 2000;
    setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&peerWaitMs),
               sizeof peerWaitMs);
    CHECK(tcpSendAll(client, "hello", 5, 2000) == 5, lastSocketErrorText());
    char buffer[16] = {};
    CHECK(recv(peer, buffer, sizeof buffer, 0) == 5 && std::strcmp(buffer, "hello") == 0, buffer);
    const DWORD waitStart = GetTickCount();
    CHECK(tcpReceive(client, buffer, sizeof buffer, 300) == kSocketTimedOut, "no timeout");
    CHECK(GetTickCount() - waitStart >= 250, "the wait ended early");
    send(peer, "ok", 2, 0);
    CHECK(tcpReceive(client, buffer, sizeof buffer, 2000) == 2, "nothing received");
    closesocket(peer);
    CHECK(tcpReceive(client, buffer, sizeof buffer, 2000) == kSocketPeerClosed, "close unseen");
    closeSocket(client);

    closesocket(listener);
    CHECK(tcpConnect("127.0.0.1", port, false, 2000) == kSocketRefused, "not named refused");
    CHECK(tcpConnect("localhost", port, false, 2000) == kSocketRefused, "not refused everywhere");
}

void windowTitles() {
    CHECK(windowSystemAvailable(), "no window system");
    HWND own = CreateWindowExW(0, L"STATIC", L"Doredoradar \u00e9t\u00e9", WS_OVERLAPPEDWINDOW, 0,
                               0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(own, SW_SHOW);
    const auto handle = reinterpret_cast<std::uintptr_t>(own);
    CHECK(windowTitle(handle) == u"Doredoradar \u00e9t\u00e9", "title not read back");
    CHECK(windowState(handle) == WindowState::Open, "own window not open");
    for (const WindowEntry& entry : listApplicationWindows()) {
        CHECK(entry.handle != handle && !entry.title.empty(), "own or untitled window listed");
    }
    DestroyWindow(own);
    CHECK(windowState(handle) == WindowState::Closed, "destroyed window still open");
}

// The child installs the handler and faults; the parent reads what it left behind.
void crashHandler() {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    std::string directory = std::string(folder) + "crash-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(directory.c_str(), nullptr);
    std::string command = std::string("\"") + self + "\" crash_child \"" + directory + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    CHECK(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &child),
          command);
    CHECK(WaitForSingleObject(child.hProcess, 30000) == WAIT_OBJECT_0, "the child hangs");
    DWORD exitCode = 0;
    GetExitCodeProcess(child.hProcess, &exitCode);
    CHECK(exitCode == EXCEPTION_ACCESS_VIOLATION, std::to_string(exitCode));
    TerminateProcess(child.hProcess, 1);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*-999999-c0ffee.envelope").c_str(), &found);
    CHECK(search != INVALID_HANDLE_VALUE, "no crash report in " + directory);
    if (search == INVALID_HANDLE_VALUE) return;
    FindClose(search);
    const std::string path = directory + "\\" + found.cFileName;
    std::stringstream report;
    report << std::ifstream(path).rdbuf();
    const std::string text = report.str();
    for (const char* part :
         {"{\"event_id\":\"c0ffee\"}\n{\"type\":\"event\"}\n", "\"level\":\"fatal\"",
          "\"release\":\"test\"", "\"value\":\"0xC0000005\"",
          "[{\"message\":\"first\"},{\"message\":\"last\"}]}}\n"}) {
        CHECK(text.find(part) != std::string::npos, std::string(part) + " missing in " + text);
    }
    DeleteFileA(path.c_str());
    RemoveDirectoryA(directory.c_str());
}

void crashChild(const char* directory) {
    installCrashHandler(directory, "c0ffee");
    setCrashReportTemplate("{\"event_id\":\"c0ffee\"}", "\"release\":\"test\"");
    pushCrashBreadcrumb("{\"message\":\"first\"}");
    pushCrashBreadcrumb("{\"message\":\"last\"}");
    *static_cast<volatile int*>(nullptr) = 1;
}

std::wstring runValue() {
    wchar_t value[MAX_PATH + 8] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                     L"OndaroBroadcaster", RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
        return {};
    }
    return value;
}

void autoStart() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::string error;
    CHECK(!isAutoStartEnabled() && runValue().empty(), "enabled in a new prefix");
    CHECK(setAutoStartEnabled(true, error) && isAutoStartEnabled(), error);
    CHECK(runValue() == L"\"" + std::wstring(self) + L"\"", "Run entry not the quoted path");
    CHECK(setAutoStartEnabled(false, error) && !isAutoStartEnabled() && runValue().empty(), error);
    CHECK(setAutoStartEnabled(false, error), "removing a missing entry failed: " + error);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string name = argc > 1 ? argv[1] : "";
    const std::pair<const char*, void (*)()> cases[] = {
        {"credential_protection", credentialProtection},
        {"socket", sockets},
        {"window_titles", windowTitles},
        {"crash_handler", crashHandler},
        {"auto_start", autoStart}};
    if (name == "crash_child" && argc > 2) crashChild(argv[2]);
    const auto found = std::find_if(std::begin(cases), std::end(cases),
                                    [&](const auto& entry) { return name == entry.first; });
    if (found != std::end(cases)) found->second();
    CHECK(found != std::end(cases), "unknown case " + name);
    std::printf("%s: %d failure(s)\n", name.c_str(), g_failures);
    return g_failures == 0 ? 0 : 1;
}
