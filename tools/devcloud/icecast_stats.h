#pragma once

#include <QJsonDocument>
#include <QObject>
#include <QStringList>

#include <functional>

#include "account_store.h"

class QNetworkAccessManager;

// Builds an account's statistics document from what the real Icecast reports right now: its
// "/admin/stats" XML with the admin credentials, or, when those are missing or refused, the public
// "/status-json.xsl" (whose "source" member is an object for one mount and an array for several).
// Only the account's own mount points are counted.
//
// The document is an array: element 0 describes the server, element 1 holds "listeners",
// "sources" and "source" (mount point → {"listeners", "title", …}).
class IcecastStats : public QObject {
    Q_OBJECT

public:
    explicit IcecastStats(QObject* parent = nullptr);

    using Callback =
        std::function<void(bool ok, const QJsonDocument& document, const QString& error)>;
    void fetch(const IcecastTarget& icecast, const QStringList& mounts, const QString& accountName,
               Callback callback);

    struct Source {
        QString mount;
        int listeners = 0;
        int listenerPeak = 0;
        QString title;
        QString contentType;
        QString streamStart;
    };
    struct Snapshot {
        QString serverId;
        QString host;
        QString location;
        QList<Source> sources;
    };
    static bool parseAdminXml(const QByteArray& xml, Snapshot* snapshot);
    static bool parseStatusJson(const QByteArray& json, Snapshot* snapshot);
    static QJsonDocument document(const Snapshot& snapshot, const QStringList& mounts,
                                  const QString& accountName);

private:
    void fetchPublic(const IcecastTarget& icecast, const QStringList& mounts,
                     const QString& accountName, const Callback& callback);

    QNetworkAccessManager* m_network;
    bool m_adminRefused = false;  // once refused, the public status is used from then on
};
