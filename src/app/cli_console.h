#pragma once

#include <QString>
#include <QtGlobal>

#include <mutex>

// The terminal side of the command-line broadcaster: event lines on standard output, log lines
// on standard error (warnings and errors, or every line when verbose), and, when standard output
// is a terminal, one status line kept at the bottom and redrawn in place.
//
// Any thread may print: log lines come from capture and streaming threads too.
class CliConsole {
public:
    static CliConsole& instance();

    // Installs the message handler that the logger passes its formatted lines on to; call before
    // the logger is created.
    void install(bool verbose);

    bool isTerminal() const { return m_terminal; }

    void printLine(const QString& text);
    void printError(const QString& text);
    // Terminal only: replaces the status line.
    void setStatus(const QString& status);
    // Leaves the terminal with the status line gone.
    void clearStatus();

private:
    CliConsole();
    static void messageHandler(QtMsgType type, const QMessageLogContext& context,
                               const QString& message);
    void write(FILE* stream, const QString& text);

    std::mutex m_mutex;
    bool m_terminal = false;
    bool m_verbose = false;
    QString m_status;
};
