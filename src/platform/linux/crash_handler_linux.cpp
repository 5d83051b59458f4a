#include "platform/crash_handler.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

// Everything the handler touches lives in static storage, written ahead of time.
namespace platform {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int kSignalCount = sizeof(kFatalSignals) / sizeof(kFatalSignals[0]);
constexpr size_t kTemplateBytes = 8192;
constexpr size_t kPathBytes = 4096;

struct TemplateBuffer {
    char header[kTemplateBytes];
    char fields[kTemplateBytes];
};

struct BreadcrumbSlot {
    std::atomic<uint32_t> length{0};  // 0 while empty or being written
    char json[kCrashBreadcrumbBytes];
};

TemplateBuffer g_templates[2];
std::atomic<int> g_activeTemplate{-1};
BreadcrumbSlot g_breadcrumbs[kCrashBreadcrumbSlots];
std::atomic<uint32_t> g_nextBreadcrumb{0};

char g_directory[kPathBytes];
char g_eventId[40];
std::atomic<bool> g_installed{false};
struct sigaction g_previous[kSignalCount];
char* g_altStack = nullptr;

void copyBounded(char* dst, size_t capacity, const std::string& src) {
    const size_t n = src.size() < capacity - 1 ? src.size() : capacity - 1;
    memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

// --- async-signal-safe helpers -------------------------------------------------------------

void writeAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n <= 0) return;
        data += n;
        length -= static_cast<size_t>(n);
    }
}

void writeText(int fd, const char* text) { writeAll(fd, text, strlen(text)); }

// Decimal digits of value into buf (at least 21 bytes), zero-padded to width.
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

void append(char* dst, size_t capacity, size_t& used, const char* src) {
    while (*src && used + 1 < capacity) dst[used++] = *src++;
    dst[used] = '\0';
}

const char* signalName(int sig) {
    switch (sig) {
        case SIGSEGV: return "SIGSEGV";
        case SIGBUS: return "SIGBUS";
        case SIGILL: return "SIGILL";
        case SIGFPE: return "SIGFPE";
        case SIGABRT: return "SIGABRT";
        default: return "SIGNAL";
    }
}

const char* signalDescription(int sig) {
    switch (sig) {
        case SIGSEGV: return "Segmentation fault";
        case SIGBUS: return "Bus error";
        case SIGILL: return "Illegal instruction";
        case SIGFPE: return "Floating-point exception";
        case SIGABRT: return "Aborted";
        default: return "Fatal signal";
    }
}

void writeCrashReport(int sig) {
    const int active = g_activeTemplate.load(std::memory_order_acquire);
    if (active < 0) return;
    const TemplateBuffer& tpl = g_templates[active];

    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const uint64_t millis = static_cast<uint64_t>(now.tv_sec) * 1000u +
                            static_cast<uint64_t>(now.tv_nsec / 1000000);

    char tmpPath[kPathBytes + 64];
    char finalPath[kPathBytes + 96];
    char digits[32];
    size_t used = 0;
    tmpPath[0] = '\0';
    append(tmpPath, sizeof tmpPath, used, g_directory);
    append(tmpPath, sizeof tmpPath, used, "/crash-");
    append(tmpPath, sizeof tmpPath, used,
           formatUnsigned(static_cast<uint64_t>(getpid()), digits, sizeof digits));
    append(tmpPath, sizeof tmpPath, used, ".tmp");

    used = 0;
    finalPath[0] = '\0';
    append(finalPath, sizeof finalPath, used, g_directory);
    append(finalPath, sizeof finalPath, used, "/");
    append(finalPath, sizeof finalPath, used, formatUnsigned(millis, digits, sizeof digits, 13));
    // The crash is the last thing this process captures: it sorts after its other events.
    append(finalPath, sizeof finalPath, used, "-999999-");
    append(finalPath, sizeof finalPath, used, g_eventId);
    append(finalPath, sizeof finalPath, used, ".envelope");

    const int fd = ::open(tmpPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;

    writeText(fd, tpl.header);
    writeText(fd, "\n{\"type\":\"event\"}\n{\"event_id\":\"");
    writeText(fd, g_eventId);
    writeText(fd, "\",\"timestamp\":");
    writeText(fd, formatUnsigned(static_cast<uint64_t>(now.tv_sec), digits, sizeof digits));
    writeText(fd, ".");
    writeText(fd, formatUnsigned(static_cast<uint64_t>(now.tv_nsec / 1000000), digits,
                                 sizeof digits, 3));
    writeText(fd, ",\"level\":\"fatal\",\"platform\":\"native\"");
    if (tpl.fields[0] != '\0') {
        writeText(fd, ",");
        writeText(fd, tpl.fields);
    }
    writeText(fd, ",\"exception\":{\"values\":[{\"type\":\"");
    writeText(fd, signalName(sig));
    writeText(fd, "\",\"value\":\"");
    writeText(fd, signalDescription(sig));
    writeText(fd, "\",\"mechanism\":{\"type\":\"signalhandler\",\"handled\":false,"
                  "\"meta\":{\"signal\":{\"number\":");
    writeText(fd, formatUnsigned(static_cast<uint64_t>(sig), digits, sizeof digits));
    writeText(fd, ",\"name\":\"");
    writeText(fd, signalName(sig));
    writeText(fd, "\"}}}}]},\"breadcrumbs\":{\"values\":[");

    // Oldest first: the ring starts at the slot that will be overwritten next.
    const uint32_t next = g_nextBreadcrumb.load(std::memory_order_acquire);
    bool first = true;
    for (int i = 0; i < kCrashBreadcrumbSlots; ++i) {
        const BreadcrumbSlot& slot = g_breadcrumbs[(next + i) % kCrashBreadcrumbSlots];
        const uint32_t length = slot.length.load(std::memory_order_acquire);
        if (length == 0) continue;
        if (!first) writeText(fd, ",");
        writeAll(fd, slot.json, length);
        first = false;
    }
    writeText(fd, "]}}\n");
    ::fsync(fd);
    ::close(fd);
    ::rename(tmpPath, finalPath);
}

void onFatalSignal(int sig, siginfo_t* info, void* context) {
    static std::atomic<bool> handling{false};
    if (!handling.exchange(true)) writeCrashReport(sig);

    // Hand the signal back to whoever had it before (normally the default action), so the
    // process dies exactly as it would have without us.
    for (int i = 0; i < kSignalCount; ++i) {
        if (kFatalSignals[i] != sig) continue;
        const struct sigaction& prev = g_previous[i];
        if ((prev.sa_flags & SA_SIGINFO) && prev.sa_sigaction) {
            sigaction(sig, &prev, nullptr);
            prev.sa_sigaction(sig, info, context);
            return;
        }
        if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN && prev.sa_handler) {
            sigaction(sig, &prev, nullptr);
            prev.sa_handler(sig);
            return;
        }
    }
    signal(sig, SIG_DFL);
    // A fault re-executes and dies on return; a raised signal needs raising again.
    raise(sig);
}

}  // namespace

bool installCrashHandler(const std::string& directory, const std::string& eventId) {
    copyBounded(g_directory, sizeof g_directory, directory);
    copyBounded(g_eventId, sizeof g_eventId, eventId);
    if (g_installed.exchange(true)) return true;

    // Room to run even when the crash is a stack overflow.
    constexpr size_t kAltStackBytes = 64 * 1024;
    if (!g_altStack) g_altStack = static_cast<char*>(malloc(kAltStackBytes));
    if (g_altStack) {
        stack_t stack{};
        stack.ss_sp = g_altStack;
        stack.ss_size = kAltStackBytes;
        sigaltstack(&stack, nullptr);
    }

    struct sigaction action {};
    action.sa_sigaction = &onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) sigaction(kFatalSignals[i], &action, &g_previous[i]);
    return true;
}

void uninstallCrashHandler() {
    if (!g_installed.exchange(false)) return;
    for (int i = 0; i < kSignalCount; ++i) sigaction(kFatalSignals[i], &g_previous[i], nullptr);
}

void setCrashReportTemplate(const std::string& envelopeHeader, const std::string& eventFields) {
    // Write the idle buffer, then publish it; a crash meanwhile reads the previous one.
    const int next = g_activeTemplate.load(std::memory_order_relaxed) == 0 ? 1 : 0;
    copyBounded(g_templates[next].header, kTemplateBytes, envelopeHeader);
    if (eventFields.size() < kTemplateBytes) {
        copyBounded(g_templates[next].fields, kTemplateBytes, eventFields);
    } else {
        g_templates[next].fields[0] = '\0';  // half a JSON member would spoil the whole report
    }
    g_activeTemplate.store(next, std::memory_order_release);
}

void pushCrashBreadcrumb(const std::string& json) {
    if (json.empty() || json.size() >= kCrashBreadcrumbBytes) return;
    const uint32_t index = g_nextBreadcrumb.load(std::memory_order_relaxed);
    BreadcrumbSlot& slot = g_breadcrumbs[index % kCrashBreadcrumbSlots];
    slot.length.store(0, std::memory_order_release);
    memcpy(slot.json, json.data(), json.size());
    slot.length.store(static_cast<uint32_t>(json.size()), std::memory_order_release);
    g_nextBreadcrumb.store((index + 1) % kCrashBreadcrumbSlots, std::memory_order_release);
}

void clearCrashBreadcrumbs() {
    for (auto& slot : g_breadcrumbs) slot.length.store(0, std::memory_order_release);
    g_nextBreadcrumb.store(0, std::memory_order_release);
}

}  // namespace platform
