#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>

// Plain value records decoded from the cloud service's JSON. Decoding never fails: a member of
// the wrong type takes its field's default (empty, 0, false), as Qt's JSON conversions do.

struct OndaroStreamingServer {
    QString id;
    QString name;
    QString area;
    QString domain;
    QString ipAddress;

    static OndaroStreamingServer fromJson(const QJsonObject& json);
};

struct OndaroChannel {
    QString id;
    QString name;
    QString timezone;
    QString country;
    QString language;
    QString genre;
    QString streamingServerMountpoint;
    QString streamingServerPassword;

    static OndaroChannel fromJson(const QJsonObject& json);
};

struct OndaroAddon {
    QString addonId;
    int quantity = 0;
    QString addonName;

    static OndaroAddon fromJson(const QJsonObject& json);
};

struct OndaroSubscription {
    QString planId;
    int addonsCount = 0;
    int listenersSlots = 0;  // never negative
    int maxChannels = 0;
    int bitrate = 0;  // kbit/s
    int podcastsRecorderDuration = 0;
    int podcastsRecorderAmount = 0;
    bool podcastsRecorderProtected = false;
    bool protectedStream = false;
    QString planName;
    QList<OndaroAddon> addons;

    static OndaroSubscription fromJson(const QJsonObject& json);
};

struct OndaroAccount {
    QString name;
    QString email;
    QString publicToken;
    int streamingServerPort = 0;  // 1..65535; 0 when missing or impossible
    int streamingServerReady = 0;
    int channelsCount = 0;
    OndaroStreamingServer streamingServer;
    QList<OndaroChannel> channels;
    OndaroSubscription subscription;

    static OndaroAccount fromJson(const QJsonObject& json);
};

struct OndaroApiError {
    QString message;
    QString uuid;
    int httpCode = 0;

    static OndaroApiError fromJson(const QJsonObject& json, int httpCode);
};

struct ServerStats {
    bool isOnline = false;
    int totalListeners = 0;  // never negative, as currentListeners
    bool hasSources = false;
    bool isBroadcastActive = false;
    int currentListeners = 0;
    QString currentSong;
    QString errorMessage;  // the document had the wrong shape; the record is not used

    // The "/admin/stats.json" array document, for the mount point that was asked for (with or
    // without its leading "/"; compared exactly).
    static ServerStats fromJson(const QJsonDocument& document, const QString& mountpoint);
};

Q_DECLARE_METATYPE(OndaroAccount)
Q_DECLARE_METATYPE(ServerStats)
