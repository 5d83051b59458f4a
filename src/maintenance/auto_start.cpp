#include "maintenance/auto_start.h"

#include <string>

#include "core/log_categories.h"
#include "platform/auto_start.h"

// Start with the system as the settings dialog sees it: the platform entry plus the last error.
namespace {
QString g_lastError;  // main thread only
}

bool isAutoStartEnabled() {
    g_lastError.clear();
    return platform::isAutoStartEnabled();
}

bool setAutoStartEnabled(bool enable) {
    g_lastError.clear();
    std::string error;
    if (platform::setAutoStartEnabled(enable, error)) return true;
    g_lastError = QString::fromStdString(error);
    qCWarning(lcSettings).noquote() << "Start with the system:" << g_lastError;
    return false;
}

QString autoStartLastError() { return g_lastError; }
