#include "maintenance/crash_reporting.h"

#include <atomic>
#include <cstdio>
#include <deque>

#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>

#include "core/app_identity.h"
#include "core/logger.h"
#include "maintenance/crash_envelope.h"
#include "maintenance/crash_sender.h"
#include "platform/crash_handler.h"

// Nothing here may log through Qt: the log handler calls into this file while holding its lock.
namespace {

constexpr int kShutdownWaitMs = 3000;
constexpr int kShutdownSendBudgetMs = 2500;
constexpr int kMaxPendingEnvelopes = 200;
constexpr int kCrashBreadcrumbMessageChars = 600;

struct CrashState {
    QMutex mutex;
    std::atomic<bool> enabled{false};
    QString dsnText;
    crash::Dsn dsn;
    QString release;
    QString environment;
    QString databasePath;
    QString crashEventId;
    quint32 sequence = 0;
    std::deque<QJsonObject> breadcrumbs;
    QJsonObject user;
    QThread* worker = nullptr;
    CrashSender* sender = nullptr;
};

CrashState& state() {
    static CrashState s;
    return s;
}

void warn(const char* text) {
    std::fprintf(stderr, "Crash reporting: %s\n", text);
    std::fflush(stderr);
}

QByteArray compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Caller holds the mutex.
void updateCrashTemplateLocked(CrashState& s) {
    const QJsonObject header{{QStringLiteral("event_id"), s.crashEventId},
                             {QStringLiteral("dsn"), s.dsnText}};
    crash::EventContext context{s.release, s.environment, s.user, {}};
    QJsonObject fields = crash::messageEvent(s.crashEventId, kCrashLevelFatal, QString(), QString(),
                                             {}, context, QDateTime::currentDateTimeUtc());
    // The handler writes its own id, time, level, platform and exception.
    for (const char* key : {"event_id", "timestamp", "level", "platform", "logger", "message"}) {
        fields.remove(QLatin1String(key));
    }
    QByteArray members = compact(fields);
    members = members.mid(1, members.size() - 2);  // strip the braces
    platform::setCrashReportTemplate(compact(header).toStdString(), members.toStdString());
}

void trimPendingLocked(const CrashState& s) {
    QDir dir(s.databasePath);
    QStringList files = dir.entryList({QStringLiteral("*.envelope")}, QDir::Files, QDir::Name);
    // Oldest go first when a long time offline would otherwise fill the disk.
    while (files.size() > kMaxPendingEnvelopes) dir.remove(files.takeFirst());
}

void captureEvent(int level, const QString& logger, const QString& message,
                  const QJsonObject& tags) {
    CrashState& s = state();
    if (!s.enabled.load()) return;

    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString eventId = crash::newEventId();
    QByteArray bytes;
    QString path;
    {
        QMutexLocker lock(&s.mutex);
        if (!s.enabled.load()) return;
        QJsonArray breadcrumbs;
        for (const QJsonObject& b : s.breadcrumbs) breadcrumbs.append(b);
        const crash::EventContext context{s.release, s.environment, s.user, breadcrumbs};
        bytes = crash::envelope(eventId, s.dsnText,
                                crash::messageEvent(eventId, level, logger, message, tags,
                                                    context, now),
                                now);
        // Names sort in capture order: time, then a sequence for events of the same millisecond.
        path = s.databasePath + QLatin1Char('/') +
               QStringLiteral("%1-%2-")
                   .arg(now.toMSecsSinceEpoch(), 13, 10, QLatin1Char('0'))
                   .arg(s.sequence++ % 1000000, 6, 10, QLatin1Char('0')) +
               eventId + QStringLiteral(".envelope");
    }

    // Written here, synchronously, so the event survives whatever happens next. Outside the
    // lock: a file-system complaint logged from in here must not find it taken.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        warn("could not write an event to the crash database");
        return;
    }

    QMutexLocker lock(&s.mutex);
    if (s.databasePath.isEmpty()) return;
    trimPendingLocked(s);
    if (s.sender) QMetaObject::invokeMethod(s.sender, "sendPending", Qt::QueuedConnection);
}

void sendUsageEvent(const QString& name, QJsonObject tags = {}) {
    tags.insert(QStringLiteral("event.type"), name);
    captureEvent(kCrashLevelInfo, QStringLiteral("analytics"), name, tags);
}

}  // namespace

QString crashDatabasePath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           QStringLiteral("/sentry-db");
}

void initCrashReporting(const QString& dsn, const QString& release, const QString& environment) {
    CrashState& s = state();
    if (s.enabled.load() || dsn.trimmed().isEmpty()) return;

    const crash::Dsn parsed = crash::Dsn::parse(dsn);
    if (!parsed.isValid()) {
        warn("the DSN is not valid; crash reporting stays off");
        return;
    }
    const QString databasePath = crashDatabasePath();
    if (!QDir().mkpath(databasePath)) {
        warn("could not create the crash database folder; crash reporting stays off");
        return;
    }

    QMutexLocker lock(&s.mutex);
    s.dsnText = dsn.trimmed();
    s.dsn = parsed;
    s.release = release;
    s.environment = environment;
    s.databasePath = databasePath;
    s.crashEventId = crash::newEventId();
    s.breadcrumbs.clear();
    s.user = QJsonObject();
    platform::clearCrashBreadcrumbs();
    updateCrashTemplateLocked(s);
    platform::installCrashHandler(QDir::toNativeSeparators(databasePath).toStdString(),
                                  s.crashEventId.toStdString());

    s.worker = new QThread;
    s.worker->setObjectName(QStringLiteral("SentryWorker"));
    s.sender = new CrashSender(databasePath, parsed);
    s.sender->moveToThread(s.worker);
    s.enabled.store(true);
    s.worker->start(QThread::LowestPriority);
    // Whatever an earlier run left behind, a crash report included, goes out now.
    QMetaObject::invokeMethod(s.sender, "sendPending", Qt::QueuedConnection);
}

void shutdownCrashReporting() {
    CrashState& s = state();
    // Cleared first, so nothing new is captured while the worker winds down.
    if (!s.enabled.exchange(false)) return;

    QThread* worker = nullptr;
    CrashSender* sender = nullptr;
    {
        QMutexLocker lock(&s.mutex);
        worker = s.worker;
        sender = s.sender;
        s.worker = nullptr;
        s.sender = nullptr;
        platform::uninstallCrashHandler();
    }
    if (!worker) return;
    QMetaObject::invokeMethod(sender, "drainThenQuit", Qt::QueuedConnection,
                              Q_ARG(int, kShutdownSendBudgetMs));
    if (worker->wait(kShutdownWaitMs)) {
        delete sender;
        delete worker;
    } else {
        // Still busy: leave it be rather than destroy a running thread. Unsent files stay on
        // disk for the next start.
        warn("the worker did not stop within 3000 ms");
    }
}

bool isCrashReportingEnabled() { return state().enabled.load(); }

void startCrashReporting() {
    appidentity::apply();
    initCrashReporting(appidentity::crashDsn(), appidentity::crashRelease(),
                       QLatin1String(appidentity::kCrashEnvironment));
    Logger::setWarningSink(&forwardLogLine);
}

void forwardLogLine(QtMsgType type, const QString& category, const QString& message) {
    if (type != QtWarningMsg && type != QtCriticalMsg && type != QtFatalMsg) return;
    addBreadcrumb(category, message, QStringLiteral("error"));
    // The event level for these is ours to choose: critical lines are errors, fatal lines are
    // fatal.
    if (type == QtCriticalMsg) {
        captureMessage(category, message, kCrashLevelError);
    } else if (type == QtFatalMsg) {
        captureMessage(category, message, kCrashLevelFatal);
    }
}

void addBreadcrumb(const QString& category, const QString& message, const QString& type) {
    CrashState& s = state();
    if (!s.enabled.load()) return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QJsonObject crumb = crash::breadcrumb(category, message, type, now);
    QMutexLocker lock(&s.mutex);
    s.breadcrumbs.push_back(crumb);
    while (s.breadcrumbs.size() > static_cast<size_t>(kMaxBreadcrumbs)) s.breadcrumbs.pop_front();
    platform::pushCrashBreadcrumb(
        compact(crash::breadcrumb(category, message.left(kCrashBreadcrumbMessageChars), type, now))
            .toStdString());
}

void captureMessage(const QString& logger, const QString& message, int level) {
    captureEvent(level, logger, message, {});
}

void setCrashReportingUser(const QString& id, const QString& email) {
    CrashState& s = state();
    if (!s.enabled.load()) return;
    QMutexLocker lock(&s.mutex);
    s.user = QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("email"), email}};
    updateCrashTemplateLocked(s);
}

void clearCrashReportingUser() {
    CrashState& s = state();
    if (!s.enabled.load()) return;
    QMutexLocker lock(&s.mutex);
    s.user = QJsonObject();
    updateCrashTemplateLocked(s);
}

void trackAppInstall() { sendUsageEvent(QStringLiteral("app.install")); }

void trackAppStart() { sendUsageEvent(QStringLiteral("app.start")); }

void trackBroadcastStart(const QString& encoder, const QString& server) {
    QJsonObject tags;
    if (!encoder.isEmpty()) tags.insert(QStringLiteral("encoder"), encoder);
    if (!server.isEmpty()) tags.insert(QStringLiteral("server"), server);
    sendUsageEvent(QStringLiteral("broadcast.start"), tags);
}
