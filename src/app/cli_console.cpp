#include "app/cli_console.h"

#include <cstdio>

#include <QByteArray>

#include "platform/console.h"

namespace {

constexpr char kClearLine[] = "\r\033[2K";

}  // namespace

CliConsole& CliConsole::instance() {
    static CliConsole console;
    return console;
}

CliConsole::CliConsole() : m_terminal(platform::isTerminal(stdout)) {}

void CliConsole::install(bool verbose) {
    m_verbose = verbose;
    qInstallMessageHandler(&CliConsole::messageHandler);
}

void CliConsole::messageHandler(QtMsgType type, const QMessageLogContext&, const QString& message) {
    CliConsole& console = instance();
    if (type == QtDebugMsg || (type == QtInfoMsg && !console.m_verbose)) return;
    console.write(stderr, message);
}

void CliConsole::printLine(const QString& text) { write(stdout, text); }

void CliConsole::printError(const QString& text) { write(stderr, text); }

void CliConsole::write(FILE* stream, const QString& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // The status line makes way for the line and comes back below it.
    if (m_terminal && !m_status.isEmpty()) {
        std::fputs(kClearLine, stdout);
        std::fflush(stdout);
    }
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
    if (m_terminal && !m_status.isEmpty()) {
        std::fputs(m_status.toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
    }
}

void CliConsole::setStatus(const QString& status) {
    if (!m_terminal) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status = status;
    std::fputs(kClearLine, stdout);
    std::fputs(m_status.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void CliConsole::clearStatus() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_terminal || m_status.isEmpty()) return;
    m_status.clear();
    std::fputs(kClearLine, stdout);
    std::fflush(stdout);
}
