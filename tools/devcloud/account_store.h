#pragma once

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

#include "fault.h"

// Where the real Icecast that every account's streaming port fronts can be reached.
struct IcecastTarget {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 8000;
    QString adminUser = QStringLiteral("admin");
    QString adminPassword;
};

// Listeners: the listener requests that the streaming port passes through to Icecast.
enum class Endpoint { AccountInfo, ServerStart, Stats, Listeners };

struct Account {
    QString token;
    QJsonObject document;  // as served, without the stand-in's own "devcloud" member
    quint16 streamingPort = 0;
    bool running = true;
    int bootMs = 0;  // how long a started server takes to open its streaming port
    QMap<Endpoint, Fault> faults;

    QString email() const { return document.value(QLatin1String("email")).toString(); }
    QString host() const;
    // The channels' mount points, each with its leading "/".
    QStringList mounts() const;
    // The document with the live readiness flag.
    QJsonObject servedDocument() const;
};

// The accounts file:
//   {"icecast": {"host", "port", "admin_user", "admin_password"},
//    "accounts": {"<private token>": {<account document>, "devcloud": {"server_running": bool,
//                  "boot_ms": n, "faults": {"account_info"|"server_start"|"stats"|"listeners":
//                  {…}}}}}}
class AccountStore {
public:
    bool load(const QString& path, QString* error);

    const IcecastTarget& icecast() const { return m_icecast; }
    IcecastTarget& icecast() { return m_icecast; }
    Account* find(const QString& token);
    std::map<QString, Account>& accounts() { return m_accounts; }

    // Replaces every fault of the account from a JSON object keyed by endpoint name.
    static bool setFaults(Account& account, const QJsonObject& json, QString* error);
    // The fault that applies to this request, counting it down.
    static std::optional<Fault> takeFault(Account& account, Endpoint endpoint);

    static constexpr char kDemoEmail[] = "demo@localhost";
    // A demo accounts file with one account; returns its private token.
    static QString writeDemo(const QString& path, quint16 streamingPort,
                             const QString& sourcePassword, QString* error);

private:
    IcecastTarget m_icecast;
    std::map<QString, Account> m_accounts;
};
