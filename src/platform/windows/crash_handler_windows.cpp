#include "platform/crash_handler.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>

// Same report as on Linux, written from an unhandled-exception filter with plain Win32 calls.
namespace platform {
namespace {

constexpr size_t kTemplateBytes = 8192;

struct TemplateBuffer {
    char header[kTemplateBytes];
    char fields[kTemplateBytes];
};

struct BreadcrumbSlot {
    std::atomic<uint32_t> length{0};
    char json[kCrashBreadcrumbBytes];
};

TemplateBuffer g_templates[2];
std::atomic<int> g_activeTemplate{-1};
BreadcrumbSlot g_breadcrumbs[kCrashBreadcrumbSlots];
std::atomic<uint32_t> g_nextBreadcrumb{0};
char g_directory[MAX_PATH * 4];
char g_eventId[40];
LPTOP_LEVEL_EXCEPTION_FILTER g_previous = nullptr;
bool g_installed = false;

void copyBounded(char* dst, size_t capacity, const std::string& src) {
    const size_t n = src.size() < capacity - 1 ? src.size() : capacity - 1;
    memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

void writeText(HANDLE file, const char* text, size_t length = SIZE_MAX) {
    if (length == SIZE_MAX) length = strlen(text);
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
}

const char* formatUnsigned(uint64_t value, char* buf, size_t bufSize, int width = 0) {
    char* end = buf + bufSize - 1;
    *end = '\0';
    char* p = end;
    do {
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && p > buf);
    while (end - p < width && p > buf) *--p = '0';
    return p;
}

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* info) {
    const int active = g_activeTemplate.load();
    if (active >= 0) {
        FILETIME ft;
        GetSystemTimeAsFileTime(&ft);
        const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        const uint64_t millis = ticks / 10000 - 11644473600000ULL;
        char digits[32];
        char path[sizeof g_directory + 96] = {};
        strcat_s(path, g_directory);
        strcat_s(path, "\\");
        strcat_s(path, formatUnsigned(millis, digits, sizeof digits, 13));
        strcat_s(path, "-999999-");
        strcat_s(path, g_eventId);
        strcat_s(path, ".envelope");
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            const TemplateBuffer& tpl = g_templates[active];
            writeText(file, tpl.header);
            writeText(file, "\n{\"type\":\"event\"}\n{\"event_id\":\"");
            writeText(file, g_eventId);
            writeText(file, "\",\"timestamp\":");
            writeText(file, formatUnsigned(millis / 1000, digits, sizeof digits));
            writeText(file, ",\"level\":\"fatal\",\"platform\":\"native\"");
            if (tpl.fields[0]) {
                writeText(file, ",");
                writeText(file, tpl.fields);
            }
            writeText(file, ",\"exception\":{\"values\":[{\"type\":\"EXCEPTION\",\"value\":\"0x");
            static const char hex[] = "0123456789ABCDEF";
            const DWORD code = info->ExceptionRecord->ExceptionCode;
            char codeText[9];
            for (int i = 0; i < 8; ++i) codeText[i] = hex[(code >> (28 - 4 * i)) & 0xF];
            codeText[8] = '\0';
            writeText(file, codeText);
            writeText(file, "\",\"mechanism\":{\"type\":\"UnhandledExceptionFilter\","
                            "\"handled\":false}}]},\"breadcrumbs\":{\"values\":[");
            const uint32_t next = g_nextBreadcrumb.load();
            bool first = true;
            for (int i = 0; i < kCrashBreadcrumbSlots; ++i) {
                const BreadcrumbSlot& slot = g_breadcrumbs[(next + i) % kCrashBreadcrumbSlots];
                const uint32_t length = slot.length.load();
                if (length == 0) continue;
                if (!first) writeText(file, ",");
                writeText(file, slot.json, length);
                first = false;
            }
            writeText(file, "]}}\n");
            FlushFileBuffers(file);
            CloseHandle(file);
        }
    }
    return g_previous ? g_previous(info) : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

bool installCrashHandler(const std::string& directory, const std::string& eventId) {
    copyBounded(g_directory, sizeof g_directory, directory);
    copyBounded(g_eventId, sizeof g_eventId, eventId);
    if (!g_installed) {
        g_previous = SetUnhandledExceptionFilter(&onUnhandledException);
        g_installed = true;
    }
    return true;
}

void uninstallCrashHandler() {
    if (!g_installed) return;
    SetUnhandledExceptionFilter(g_previous);
    g_installed = false;
}

void setCrashReportTemplate(const std::string& envelopeHeader, const std::string& eventFields) {
    const int next = g_activeTemplate.load() == 0 ? 1 : 0;
    copyBounded(g_templates[next].header, kTemplateBytes, envelopeHeader);
    if (eventFields.size() < kTemplateBytes) {
        copyBounded(g_templates[next].fields, kTemplateBytes, eventFields);
    } else {
        g_templates[next].fields[0] = '\0';
    }
    g_activeTemplate.store(next);
}

void pushCrashBreadcrumb(const std::string& json) {
    if (json.empty() || json.size() >= kCrashBreadcrumbBytes) return;
    const uint32_t index = g_nextBreadcrumb.load();
    BreadcrumbSlot& slot = g_breadcrumbs[index % kCrashBreadcrumbSlots];
    slot.length.store(0);
    memcpy(slot.json, json.data(), json.size());
    slot.length.store(static_cast<uint32_t>(json.size()));
    g_nextBreadcrumb.store((index + 1) % kCrashBreadcrumbSlots);
}

void clearCrashBreadcrumbs() {
    for (auto& slot : g_breadcrumbs) slot.length.store(0);
    g_nextBreadcrumb.store(0);
}

}  // namespace platform
