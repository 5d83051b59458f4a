#include "icecast_stats.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <QXmlStreamReader>

namespace {

constexpr int kIcecastTimeoutMs = 5000;

QUrl icecastUrl(const IcecastTarget& icecast, const QString& path) {
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(icecast.host);
    url.setPort(icecast.port);
    url.setPath(path);
    return url;
}

QString mountOfListenUrl(const QString& listenUrl) {
    const QUrl url(listenUrl);
    return url.isValid() ? url.path() : QString();
}

}  // namespace

IcecastStats::IcecastStats(QObject* parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this)) {}

void IcecastStats::fetch(const IcecastTarget& icecast, const QStringList& mounts,
                         const QString& accountName, Callback callback) {
    if (icecast.adminPassword.isEmpty() || m_adminRefused) {
        fetchPublic(icecast, mounts, accountName, callback);
        return;
    }
    QNetworkRequest request(icecastUrl(icecast, QStringLiteral("/admin/stats")));
    request.setTransferTimeout(kIcecastTimeoutMs);
    request.setRawHeader(
        "Authorization",
        "Basic " +
            (icecast.adminUser + QLatin1Char(':') + icecast.adminPassword).toUtf8().toBase64());
    QNetworkReply* reply = m_network->get(request);
    connect(reply, &QNetworkReply::finished, this, [=] {
        reply->deleteLater();
        Snapshot snapshot;
        if (reply->error() == QNetworkReply::NoError &&
            parseAdminXml(reply->readAll(), &snapshot)) {
            callback(true, document(snapshot, mounts, accountName), QString());
        } else if (reply->error() == QNetworkReply::AuthenticationRequiredError) {
            qWarning().noquote() << "Icecast refused the admin credentials; using its public status"
                                    " from now on";
            m_adminRefused = true;
            fetchPublic(icecast, mounts, accountName, callback);
        } else {
            callback(false, {}, reply->errorString());
        }
    });
}

void IcecastStats::fetchPublic(const IcecastTarget& icecast, const QStringList& mounts,
                               const QString& accountName, const Callback& callback) {
    QNetworkRequest request(icecastUrl(icecast, QStringLiteral("/status-json.xsl")));
    request.setTransferTimeout(kIcecastTimeoutMs);
    QNetworkReply* reply = m_network->get(request);
    connect(reply, &QNetworkReply::finished, this, [=] {
        reply->deleteLater();
        Snapshot snapshot;
        if (reply->error() == QNetworkReply::NoError &&
            parseStatusJson(reply->readAll(), &snapshot)) {
            callback(true, document(snapshot, mounts, accountName), QString());
        } else {
            callback(false, {},
                     reply->error() == QNetworkReply::NoError
                         ? QStringLiteral("Icecast's status document could not be read")
                         : reply->errorString());
        }
    });
}

bool IcecastStats::parseAdminXml(const QByteArray& xml, Snapshot* snapshot) {
    QXmlStreamReader reader(xml);
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("icestats")) return false;
    while (reader.readNextStartElement()) {
        if (reader.name() == QLatin1String("source")) {
            Source source;
            source.mount = reader.attributes().value(QLatin1String("mount")).toString();
            while (reader.readNextStartElement()) {
                const auto name = reader.name();
                if (name == QLatin1String("listeners")) {
                    source.listeners = reader.readElementText().toInt();
                } else if (name == QLatin1String("listener_peak")) {
                    source.listenerPeak = reader.readElementText().toInt();
                } else if (name == QLatin1String("title")) {
                    source.title = reader.readElementText();
                } else if (name == QLatin1String("server_type")) {
                    source.contentType = reader.readElementText();
                } else if (name == QLatin1String("stream_start_iso8601")) {
                    source.streamStart = reader.readElementText();
                } else {
                    reader.skipCurrentElement();
                }
            }
            if (!source.mount.isEmpty()) snapshot->sources << source;
        } else if (reader.name() == QLatin1String("server_id")) {
            snapshot->serverId = reader.readElementText();
        } else if (reader.name() == QLatin1String("host")) {
            snapshot->host = reader.readElementText();
        } else if (reader.name() == QLatin1String("location")) {
            snapshot->location = reader.readElementText();
        } else {
            reader.skipCurrentElement();
        }
    }
    return !reader.hasError();
}

bool IcecastStats::parseStatusJson(const QByteArray& json, Snapshot* snapshot) {
    // Icecast 2.4 can emit invalid JSON (an empty title, say); then nothing is guessed.
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) return false;
    const QJsonObject stats = document.object().value(QLatin1String("icestats")).toObject();
    if (stats.isEmpty()) return false;
    snapshot->serverId = stats.value(QLatin1String("server_id")).toString();
    snapshot->host = stats.value(QLatin1String("host")).toString();
    snapshot->location = stats.value(QLatin1String("location")).toString();
    const QJsonValue sourceValue = stats.value(QLatin1String("source"));
    const QJsonArray sources = sourceValue.isArray()    ? sourceValue.toArray()
                               : sourceValue.isObject() ? QJsonArray{sourceValue}
                                                        : QJsonArray();
    for (const QJsonValue& value : sources) {
        const QJsonObject object = value.toObject();
        Source source;
        source.mount = mountOfListenUrl(object.value(QLatin1String("listenurl")).toString());
        source.listeners = object.value(QLatin1String("listeners")).toInt();
        source.listenerPeak = object.value(QLatin1String("listener_peak")).toInt();
        // A numeric-looking title arrives as a number.
        const QJsonValue title = object.value(QLatin1String("title"));
        source.title = title.isDouble() ? title.toVariant().toString() : title.toString();
        source.contentType = object.value(QLatin1String("server_type")).toString();
        source.streamStart = object.value(QLatin1String("stream_start_iso8601")).toString();
        if (!source.mount.isEmpty()) snapshot->sources << source;
    }
    return true;
}

QJsonDocument IcecastStats::document(const Snapshot& snapshot, const QStringList& mounts,
                                     const QString& accountName) {
    QJsonObject sources;
    int listeners = 0;
    for (const Source& source : snapshot.sources) {
        if (!mounts.contains(source.mount)) continue;
        listeners += source.listeners;
        sources.insert(source.mount,
                       QJsonObject{{QStringLiteral("listeners"), source.listeners},
                                   {QStringLiteral("listener_peak"), source.listenerPeak},
                                   {QStringLiteral("title"), source.title},
                                   {QStringLiteral("content_type"), source.contentType},
                                   {QStringLiteral("stream_start_iso8601"), source.streamStart}});
    }
    const QJsonObject server{{QStringLiteral("server_id"), snapshot.serverId},
                             {QStringLiteral("host"), snapshot.host},
                             {QStringLiteral("location"), snapshot.location},
                             {QStringLiteral("account"), accountName}};
    const QJsonObject totals{{QStringLiteral("listeners"), listeners},
                             {QStringLiteral("sources"), sources.size()},
                             {QStringLiteral("source"), sources}};
    return QJsonDocument(QJsonArray{server, totals});
}
