#include "maintenance/crash_envelope.h"

#include <QJsonDocument>
#include <QSysInfo>
#include <QUuid>

#include "build_config.h"

namespace crash {

Dsn Dsn::parse(const QString& text) {
    Dsn dsn;
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid()) return dsn;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) return dsn;

    QString path = url.path();
    while (path.endsWith(QLatin1Char('/'))) path.chop(1);
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return dsn;

    dsn.scheme = scheme;
    dsn.publicKey = url.userName();
    dsn.host = url.host();
    dsn.port = url.port();
    dsn.pathPrefix = path.left(slash);
    dsn.projectId = path.mid(slash + 1);
    return dsn;
}

QUrl Dsn::envelopeUrl() const {
    QUrl url;
    url.setScheme(scheme);
    url.setHost(host);
    if (port > 0) url.setPort(port);
    url.setPath(pathPrefix + QStringLiteral("/api/") + projectId + QStringLiteral("/envelope/"));
    return url;
}

QByteArray Dsn::authHeader(const QString& clientName) const {
    return QStringLiteral("Sentry sentry_version=7, sentry_client=%1/%2, sentry_key=%3")
        .arg(clientName, QLatin1String(buildconfig::kAppVersion), publicKey)
        .toUtf8();
}

QString newEventId() { return QUuid::createUuid().toString(QUuid::Id128); }

QString timestampText(const QDateTime& when) {
    return when.toUTC().toString(Qt::ISODateWithMs);
}

QString levelName(int level) {
    switch (level) {
        case -2: return QStringLiteral("trace");
        case -1: return QStringLiteral("debug");
        case 1: return QStringLiteral("warning");
        case 2: return QStringLiteral("error");
        case 3: return QStringLiteral("fatal");
        default: return QStringLiteral("info");
    }
}

QJsonObject breadcrumb(const QString& category, const QString& message, const QString& type,
                       const QDateTime& when) {
    return QJsonObject{{QStringLiteral("timestamp"), timestampText(when)},
                       {QStringLiteral("type"), type},
                       {QStringLiteral("message"), message},
                       {QStringLiteral("category"), category}};
}

QJsonObject messageEvent(const QString& eventId, int level, const QString& logger,
                         const QString& message, const QJsonObject& tags,
                         const EventContext& context, const QDateTime& when) {
    QJsonObject event{
        {QStringLiteral("event_id"), eventId},
        {QStringLiteral("timestamp"), timestampText(when)},
        {QStringLiteral("platform"), QStringLiteral("native")},
        {QStringLiteral("level"), levelName(level)},
        {QStringLiteral("logger"), logger},
        {QStringLiteral("message"), QJsonObject{{QStringLiteral("formatted"), message}}},
        {QStringLiteral("release"), context.release},
        {QStringLiteral("environment"), context.environment},
        {QStringLiteral("sdk"),
         QJsonObject{{QStringLiteral("name"), QLatin1String(kClientName)},
                     {QStringLiteral("version"), QLatin1String(buildconfig::kAppVersion)}}},
        {QStringLiteral("contexts"),
         QJsonObject{{QStringLiteral("os"),
                      QJsonObject{{QStringLiteral("name"), QSysInfo::productType()},
                                  {QStringLiteral("version"), QSysInfo::productVersion()},
                                  {QStringLiteral("kernel_version"),
                                   QSysInfo::kernelVersion()}}}}},
    };
    if (!tags.isEmpty()) event.insert(QStringLiteral("tags"), tags);
    if (!context.user.isEmpty()) event.insert(QStringLiteral("user"), context.user);
    if (!context.breadcrumbs.isEmpty()) {
        event.insert(QStringLiteral("breadcrumbs"),
                     QJsonObject{{QStringLiteral("values"), context.breadcrumbs}});
    }
    return event;
}

QByteArray envelope(const QString& eventId, const QString& dsnText, const QJsonObject& event,
                    const QDateTime& sentAt) {
    const QByteArray payload = QJsonDocument(event).toJson(QJsonDocument::Compact);
    const QJsonObject header{{QStringLiteral("event_id"), eventId},
                             {QStringLiteral("dsn"), dsnText},
                             {QStringLiteral("sent_at"), timestampText(sentAt)}};
    const QJsonObject itemHeader{{QStringLiteral("type"), QStringLiteral("event")},
                                 {QStringLiteral("length"), payload.size()}};
    return QJsonDocument(header).toJson(QJsonDocument::Compact) + '\n' +
           QJsonDocument(itemHeader).toJson(QJsonDocument::Compact) + '\n' + payload + '\n';
}

QJsonObject eventFromEnvelope(const QByteArray& bytes) {
    // header \n item-header \n payload [\n]
    const int first = bytes.indexOf('\n');
    if (first < 0) return {};
    const int second = bytes.indexOf('\n', first + 1);
    if (second < 0) return {};
    const QJsonObject itemHeader =
        QJsonDocument::fromJson(bytes.mid(first + 1, second - first - 1)).object();
    if (itemHeader.value(QStringLiteral("type")).toString() != QLatin1String("event")) return {};
    QByteArray payload;
    const int length = itemHeader.value(QStringLiteral("length")).toInt(-1);
    if (length >= 0) {
        payload = bytes.mid(second + 1, length);
    } else {
        const int end = bytes.indexOf('\n', second + 1);
        payload = bytes.mid(second + 1, end < 0 ? -1 : end - second - 1);
    }
    return QJsonDocument::fromJson(payload).object();
}

}  // namespace crash
