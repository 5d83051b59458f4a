#include "log_capture.h"

#include <QMutexLocker>

namespace {
LogCapture* s_active = nullptr;
QtMessageHandler s_previous = nullptr;
}  // namespace

LogCapture::LogCapture() {
    s_active = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
    s_previous = m_previous;
}

LogCapture::~LogCapture() {
    qInstallMessageHandler(m_previous);
    s_active = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& context,
                         const QString& message) {
    if (s_active) {
        QMutexLocker lock(&s_active->m_mutex);
        s_active->m_lines.append(QString::fromLatin1(context.category ? context.category : "") +
                                 QLatin1Char(' ') + message);
    }
    if (s_previous) s_previous(type, context, message);
}

QStringList LogCapture::lines() const {
    QMutexLocker lock(&m_mutex);
    return m_lines;
}

QStringList LogCapture::linesContaining(const QStringList& needles) const {
    QStringList found;
    for (const QString& line : lines()) {
        for (const QString& needle : needles) {
            if (!needle.isEmpty() && line.contains(needle)) {
                found << line;
                break;
            }
        }
    }
    return found;
}
