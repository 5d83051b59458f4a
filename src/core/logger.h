#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>

// Process-wide message handler: formats every Qt message into one line, passes it on to the
// handler that was installed before, appends it to a rotating log file while file logging is on,
// and hands warnings and errors to the sink it was given (crash reporting).
//
// Any thread may log. The logger never logs through Qt itself; its own trouble goes to stderr.
class Logger : public QObject {
    Q_OBJECT

public:
    static Logger& instance();

    // Any thread; blocks briefly on the logger's mutex.
    void setFileLoggingEnabled(bool enabled);
    bool isFileLoggingEnabled() const;

    QString logDirectory() const { return m_logDirectory; }
    QString logFilePath() const;

    // Pure helpers, exposed so the formatting rules can be checked without a handler.
    static QString categoryFor(const char* category, const char* function);
    static QString levelName(QtMsgType type);
    static QString formatLine(QtMsgType type, const QMessageLogContext& context,
                              const QString& message);

    // Where warnings, errors and fatal lines go besides the log (crash reporting installs
    // itself here at start-up); null for nowhere. Any thread; the logger need not exist yet.
    using WarningSink = void (*)(QtMsgType type, const QString& category, const QString& message);
    static void setWarningSink(WarningSink sink) { s_warningSink.store(sink); }

    // How long to wait before trying again after a rotation could not rename the log.
    void setRotationRetryDelay(std::chrono::milliseconds delay);

    static constexpr qint64 kRotateSizeBytes = 5 * 1024 * 1024;
    static constexpr int kRotatedFiles = 3;

private:
    Logger();
    ~Logger() override;

    static void messageHandler(QtMsgType type, const QMessageLogContext& context,
                               const QString& message);
    void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message);
    void openFileLocked();
    void rotateIfNeededLocked();
    bool finishPendingRotationLocked();

    QFile m_file;
    mutable QMutex m_mutex;
    bool m_fileLoggingEnabled = false;
    QString m_logDirectory;

    QElapsedTimer m_rotationFailedAt;
    std::chrono::milliseconds m_rotationRetryDelay{5000};

    static QtMessageHandler s_previousHandler;
    static inline std::atomic<WarningSink> s_warningSink{nullptr};
};
