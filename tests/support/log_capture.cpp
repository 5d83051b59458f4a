#include "log_capture.h"

#include <QStringList>

namespace {
LogCapture* g_active = nullptr;
}

LogCapture::LogCapture(bool printDebug) : m_printDebug(printDebug) {
    g_active = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture() {
    qInstallMessageHandler(m_previous);
    g_active = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& context,
                         const QString& message) {
    LogCapture* self = g_active;
    if (!self) return;
    {
        QMutexLocker lock(&self->m_mutex);
        self->m_entries.append({QLatin1String(context.category ? context.category : ""), message});
    }
    if (self->m_previous && (type != QtDebugMsg || self->m_printDebug)) {
        self->m_previous(type, context, message);
    }
}

QList<LogCapture::Entry> LogCapture::entries() const {
    QMutexLocker lock(&m_mutex);
    return m_entries;
}

QStringList LogCapture::messages(const QString& category) const {
    QStringList result;
    for (const Entry& entry : entries()) {
        if (entry.category == category) result << entry.message;
    }
    return result;
}

bool LogCapture::mentions(const QString& text) const {
    for (const Entry& entry : entries()) {
        if (entry.message.contains(text)) return true;
    }
    return false;
}

void LogCapture::clear() {
    QMutexLocker lock(&m_mutex);
    m_entries.clear();
}

QStringList LogCapture::lines() const {
    QStringList result;
    for (const Entry& entry : entries()) result << entry.category + ' ' + entry.message;
    return result;
}

QStringList LogCapture::linesContaining(const QStringList& needles,
                                        const QString& otherOutput) const {
    QStringList found;
    for (const QString& line : lines() + otherOutput.split(QLatin1Char('\n'))) {
        for (const QString& needle : needles) {
            if (!needle.isEmpty() && line.contains(needle)) {
                found << line;
                break;
            }
        }
    }
    return found;
}
