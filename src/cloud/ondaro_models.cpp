#include "cloud/ondaro_models.h"

#include <algorithm>

#include <QJsonArray>

#include "core/log_categories.h"

namespace {

QString text(const QJsonObject& json, const char* key) {
    return json.value(QLatin1String(key)).toString();
}

// Only a JSON number with an integral value counts; 8000.0 is 8000, "8000" is 0.
int integer(const QJsonObject& json, const char* key) {
    return json.value(QLatin1String(key)).toInt();
}

// A count below zero is the sender's mistake: nobody is listening.
int count(const QJsonObject& json, const char* key) { return std::max(0, integer(json, key)); }

bool boolean(const QJsonObject& json, const char* key) {
    return json.value(QLatin1String(key)).toBool();
}

QJsonObject object(const QJsonObject& json, const char* key) {
    return json.value(QLatin1String(key)).toObject();
}

QJsonArray array(const QJsonObject& json, const char* key) {
    return json.value(QLatin1String(key)).toArray();
}

}  // namespace

OndaroStreamingServer OndaroStreamingServer::fromJson(const QJsonObject& json) {
    OndaroStreamingServer server;
    server.id = text(json, "id");
    server.name = text(json, "name");
    server.area = text(json, "area");
    server.domain = text(json, "domain");
    server.ipAddress = text(json, "ip_address");
    return server;
}

OndaroChannel OndaroChannel::fromJson(const QJsonObject& json) {
    OndaroChannel channel;
    channel.id = text(json, "id");
    channel.name = text(json, "name");
    channel.timezone = text(json, "timezone");
    channel.country = text(json, "country");
    channel.language = text(json, "language");
    channel.genre = text(json, "genre");
    channel.streamingServerMountpoint = text(json, "streaming_server_mountpoint");
    channel.streamingServerPassword = text(json, "streaming_server_password");
    return channel;
}

OndaroAddon OndaroAddon::fromJson(const QJsonObject& json) {
    OndaroAddon addon;
    addon.addonId = text(json, "addon_id");
    addon.quantity = integer(json, "quantity");
    addon.addonName = text(json, "addon_name");
    return addon;
}

OndaroSubscription OndaroSubscription::fromJson(const QJsonObject& json) {
    OndaroSubscription subscription;
    subscription.planId = text(json, "plan_id");
    subscription.addonsCount = integer(json, "addons_count");
    subscription.listenersSlots = count(json, "listeners_slots");
    subscription.maxChannels = integer(json, "max_channels");
    subscription.bitrate = integer(json, "bitrate");
    const QJsonObject recorder = object(json, "podcasts_recorder");
    subscription.podcastsRecorderDuration = integer(recorder, "duration");
    subscription.podcastsRecorderAmount = integer(recorder, "amount");
    subscription.podcastsRecorderProtected = boolean(recorder, "protected");
    subscription.protectedStream = boolean(json, "protected_stream");
    subscription.planName = text(json, "plan_name");
    for (const QJsonValue& addon : array(json, "addons")) {
        subscription.addons.append(OndaroAddon::fromJson(addon.toObject()));
    }
    return subscription;
}

OndaroAccount OndaroAccount::fromJson(const QJsonObject& json) {
    OndaroAccount account;
    account.name = text(json, "name");
    account.email = text(json, "email");
    account.publicToken = text(json, "public_token");
    // A port that cannot exist counts as none given.
    const int port = integer(json, "streaming_server_port");
    account.streamingServerPort = port >= 1 && port <= 65535 ? port : 0;
    account.streamingServerReady = integer(json, "streaming_server_ready");
    account.channelsCount = integer(json, "channels_count");
    account.streamingServer = OndaroStreamingServer::fromJson(object(json, "streaming_server"));
    account.subscription = OndaroSubscription::fromJson(object(json, "subscription"));
    for (const QJsonValue& channel : array(json, "channels")) {
        // A non-object element still takes its place, as an empty channel.
        account.channels.append(OndaroChannel::fromJson(channel.toObject()));
    }
    return account;
}

OndaroApiError OndaroApiError::fromJson(const QJsonObject& json, int httpCode) {
    OndaroApiError error;
    const QJsonObject body = object(json, "error");
    error.message = text(body, "message");
    const QJsonValue uuid = body.value(QLatin1String("uuid"));
    if (!uuid.isUndefined() && !uuid.isNull()) error.uuid = uuid.toString();
    error.httpCode = httpCode;
    return error;
}

ServerStats ServerStats::fromJson(const QJsonDocument& document, const QString& mountpoint) {
    ServerStats stats;
    stats.isOnline = true;
    if (!document.isArray()) {
        stats.errorMessage = QStringLiteral("Invalid stats response format (not an array)");
        return stats;
    }
    const QJsonArray root = document.array();
    if (root.size() < 2) {
        stats.errorMessage = QStringLiteral("Invalid stats response format (array too small)");
        return stats;
    }

    const QJsonObject server = root.at(1).toObject();
    stats.totalListeners = count(server, "listeners");
    stats.hasSources = integer(server, "sources") > 0;
    qCDebug(lcOndaro).nospace() << "Parsed ServerStats: totalListeners=" << stats.totalListeners
                                << ", hasSources=" << stats.hasSources;
    qCDebug(lcOndaro) << "currentMountpoint:" << mountpoint;

    QString mount = mountpoint;
    if (!mount.isEmpty() && !mount.startsWith(QLatin1Char('/'))) mount.prepend(QLatin1Char('/'));

    const QJsonObject sources = object(server, "source");
    if (!mount.isEmpty() && sources.contains(mount)) {
        const QJsonObject source = sources.value(mount).toObject();
        stats.isBroadcastActive = true;
        stats.currentListeners = count(source, "listeners");
        stats.currentSong = text(source, "title");
        qCDebug(lcOndaro) << "Found active mountpoint:" << mount << "with" << stats.currentListeners
                          << "listeners";
    } else if (!mount.isEmpty()) {
        qCDebug(lcOndaro) << "Mountpoint" << mount << "not found in source list";
    }
    return stats;
}
