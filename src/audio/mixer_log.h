// How the mixer's parts write their log lines: the GSTREAMER category, space-separated fragments.
#pragma once

#include <QLatin1Char>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "core/log_categories.h"

// Info: one line per change a user or a support person cares about (a pipeline started or
// stopped, a fallback chosen, the monitor device changed). Debug: the steps in between.
#define MIXER_INFO qCInfo(lcGStreamer).noquote().nospace()
#define MIXER_DEBUG qCDebug(lcGStreamer).noquote().nospace()
#define MIXER_WARN qCWarning(lcGStreamer).noquote().nospace()

namespace mixerlog {

inline QString text(const char* value) { return QString::fromUtf8(value); }
inline QString text(char* value) { return QString::fromUtf8(value); }
inline QString text(const QString& value) { return value; }
inline QString text(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }
template <typename T>
QString text(const T& value) {
    return QVariant::fromValue(value).toString();
}

// "a b c": the fragments joined by single spaces.
template <typename... Parts>
QString joined(const Parts&... parts) {
    QStringList list;
    (list << ... << text(parts));
    return list.join(QLatin1Char(' '));
}

}  // namespace mixerlog
