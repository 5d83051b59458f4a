#include "logger.h"

#include <cstdio>
#include <cstring>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QTextStream>


QtMessageHandler Logger::s_previousHandler = nullptr;

namespace {

constexpr char kLogFileName[] = "/broadcaster.log";

// Set while this thread is inside the handler: anything Qt logs from there (a QFile warning, say)
// must not take the non-recursive mutex again.
thread_local bool t_inHandler = false;

struct FunctionCategory {
    const char* needle;
    const char* category;
};

// Order matters: the first match wins.
constexpr FunctionCategory kFunctionCategories[] = {
    {"IcecastClient", "ICECAST"},
    {"GStreamerMixer", "GSTREAMER"},
    {"Doredoradar", "BROADCASTER"},
    {"OBSAudioManager", "OBS_AUDIO"},
    {"MetadataManager", "METADATA"},
    {"OndaroApiClient", "ONDARO"},
    {"OndaroLoginDialog", "UI"},
    {"MainWindow", "UI"},
    {"SettingsDialog", "UI"},
    {"SettingsManager", "SETTINGS"},
    {"LoginWindow", "UI"},
    {"LoadingWindow", "UI"},
    {"AppState", "APP_STATE"},
    {"EncoderSettings", "ENCODER"},
    {"main", "MAIN"},
};

void writeStderr(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

}  // namespace

Logger& Logger::instance() {
    static Logger logger;
    return logger;
}

Logger::Logger() {
    m_logDirectory =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/logs");
    s_previousHandler = qInstallMessageHandler(&Logger::messageHandler);
}

Logger::~Logger() {
    qInstallMessageHandler(s_previousHandler);
    QMutexLocker lock(&m_mutex);
    if (m_file.isOpen()) {
        m_file.flush();
        m_file.close();
    }
}

QString Logger::logFilePath() const { return m_logDirectory + QLatin1String(kLogFileName); }

void Logger::setFileLoggingEnabled(bool enabled) {
    QMutexLocker lock(&m_mutex);
    if (m_fileLoggingEnabled == enabled) return;
    m_fileLoggingEnabled = enabled;
    if (enabled) {
        QDir dir(m_logDirectory);
        if (!dir.exists()) dir.mkpath(QStringLiteral("."));
        openFileLocked();
    } else if (m_file.isOpen()) {
        m_file.flush();
        m_file.close();
    }
}

bool Logger::isFileLoggingEnabled() const {
    QMutexLocker lock(&m_mutex);
    return m_fileLoggingEnabled;
}

void Logger::setRotationRetryDelay(std::chrono::milliseconds delay) {
    QMutexLocker lock(&m_mutex);
    m_rotationRetryDelay = delay;
}

QString Logger::categoryFor(const char* category, const char* function) {
    if (category && *category && qstrcmp(category, "default") != 0) {
        return QString::fromUtf8(category);
    }
    if (function) {
        for (const auto& entry : kFunctionCategories) {
            if (std::strstr(function, entry.needle)) return QString::fromLatin1(entry.category);
        }
    }
    return QStringLiteral("GENERAL");
}

QString Logger::levelName(QtMsgType type) {
    switch (type) {
        case QtDebugMsg: return QStringLiteral("DEBUG");
        case QtWarningMsg: return QStringLiteral("WARN");
        case QtCriticalMsg: return QStringLiteral("ERROR");
        case QtFatalMsg: return QStringLiteral("FATAL");
        case QtInfoMsg: return QStringLiteral("INFO");
    }
    return QStringLiteral("DEBUG");
}

QString Logger::formatLine(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    // One multi-argument pass, so a "%1" inside the message is never substituted.
    return QStringLiteral("[%1] [%2] [%3] %4")
        .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")),
             levelName(type), categoryFor(context.category, context.function), message);
}

void Logger::messageHandler(QtMsgType type, const QMessageLogContext& context,
                            const QString& message) {
    instance().handleMessage(type, context, message);
}

void Logger::handleMessage(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    const QString category = categoryFor(context.category, context.function);
    const QString line = formatLine(type, context, message);

    if (t_inHandler) {
        writeStderr(line.toLocal8Bit() + '\n');
        return;
    }
    t_inHandler = true;
    {
        QMutexLocker lock(&m_mutex);

        if (s_previousHandler) {
            s_previousHandler(type, context, line);
        } else {
            writeStderr(line.toLocal8Bit() + '\n');
        }

        if (m_fileLoggingEnabled && m_file.isOpen()) {
            rotateIfNeededLocked();
            if (m_file.isOpen()) {
                QTextStream stream(&m_file);
                stream.setEncoding(QStringConverter::Utf8);
                stream << line << '\n';
                stream.flush();
                m_file.flush();
            }
        }

        if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg) {
            if (const WarningSink sink = s_warningSink.load()) sink(type, category, message);
        }
    }
    t_inHandler = false;
}

void Logger::openFileLocked() {
    m_file.setFileName(logFilePath());
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        std::fprintf(stderr, "Logger: Failed to open log file: %s\n",
                     qPrintable(QDir::toNativeSeparators(logFilePath())));
        std::fflush(stderr);
    }
}

// Moves a log that was set aside (".rotating") into ".1" after shifting the older ones.
// Only the oldest file is ever deleted, and only once its successor can take its place.
bool Logger::finishPendingRotationLocked() {
    const QString base = logFilePath();
    const QString pending = base + QStringLiteral(".rotating");
    if (!QFileInfo::exists(pending)) return true;

    auto numbered = [&base](int n) { return base + QLatin1Char('.') + QString::number(n); };
    if (QFileInfo::exists(numbered(kRotatedFiles - 1))) QFile::remove(numbered(kRotatedFiles));
    for (int n = kRotatedFiles - 1; n >= 1; --n) {
        // A shift that fails leaves its file where it is, and so blocks the ones below it.
        if (QFileInfo::exists(numbered(n))) QFile::rename(numbered(n), numbered(n + 1));
    }
    return QFile::rename(pending, numbered(1));
}

void Logger::rotateIfNeededLocked() {
    if (!m_file.isOpen() || m_file.size() < kRotateSizeBytes) return;
    if (m_rotationFailedAt.isValid() &&
        m_rotationFailedAt.elapsed() < m_rotationRetryDelay.count()) {
        return;
    }

    m_file.flush();
    m_file.close();

    const QString base = logFilePath();
    const QString pending = base + QStringLiteral(".rotating");
    // The current log is set aside first; nothing older moves unless that worked.
    bool ok = finishPendingRotationLocked() && QFile::rename(base, pending) &&
              finishPendingRotationLocked();
    if (ok) {
        m_rotationFailedAt.invalidate();
    } else {
        m_rotationFailedAt.start();
        std::fprintf(stderr, "Logger: Failed to rotate log file: %s\n",
                     qPrintable(QDir::toNativeSeparators(base)));
        std::fflush(stderr);
    }
    openFileLocked();
}
