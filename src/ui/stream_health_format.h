#pragma once

// Texts of the stream health figures, as the health dialog shows them.

#include <QString>
#include <QtGlobal>

// "< 1 µs" below a microsecond, "500 µs" below a millisecond, "12.3 ms" from there on.
QString formatLatencyMs(double latencyMs);

// A share from 0 to 1 as "99.5%".
QString formatShare(double share);

// "128.0 kbps".
QString formatKbps(double kbps);

// "512 B", "1.5 KB", "2.0 MB", "3.00 GB" (steps of 1024).
QString formatByteCount(qint64 bytes);

// "01:02:05"; the hours grow past two digits when they must.
QString formatUptime(qint64 seconds);
