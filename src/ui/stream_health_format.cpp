#include "ui/stream_health_format.h"

namespace {

constexpr qint64 kKiB = 1024;
constexpr qint64 kMiB = kKiB * 1024;
constexpr qint64 kGiB = kMiB * 1024;

QString fixed(double value, int decimals) { return QString::number(value, 'f', decimals); }

QString twoDigits(qint64 value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); }

}  // namespace

QString formatLatencyMs(double latencyMs) {
    if (latencyMs < 0.001) return QStringLiteral("< 1 µs");
    if (latencyMs < 1.0) return fixed(latencyMs * 1000.0, 0) + QStringLiteral(" µs");
    return fixed(latencyMs, 1) + QStringLiteral(" ms");
}

QString formatShare(double share) { return fixed(share * 100.0, 1) + QLatin1Char('%'); }

QString formatKbps(double kbps) { return fixed(kbps, 1) + QStringLiteral(" kbps"); }

QString formatByteCount(qint64 bytes) {
    if (bytes < kKiB) return QString::number(bytes) + QStringLiteral(" B");
    if (bytes < kMiB) return fixed(double(bytes) / double(kKiB), 1) + QStringLiteral(" KB");
    if (bytes >= kGiB) return fixed(double(bytes) / double(kGiB), 2) + QStringLiteral(" GB");
    return fixed(double(bytes) / double(kMiB), 1) + QStringLiteral(" MB");
}

QString formatUptime(qint64 seconds) {
    return QStringLiteral("%1:%2:%3")
        .arg(twoDigits(seconds / 3600), twoDigits((seconds / 60) % 60), twoDigits(seconds % 60));
}
