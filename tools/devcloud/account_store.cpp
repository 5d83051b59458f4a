#include "account_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSet>
#include <QUuid>

namespace {

const QMap<QString, Endpoint> kEndpointNames = {
    {QStringLiteral("account_info"), Endpoint::AccountInfo},
    {QStringLiteral("server_start"), Endpoint::ServerStart},
    {QStringLiteral("stats"), Endpoint::Stats},
    {QStringLiteral("listeners"), Endpoint::Listeners},
};

}  // namespace

QString Account::host() const {
    const QJsonObject server = document.value(QLatin1String("streaming_server")).toObject();
    const QString domain = server.value(QLatin1String("domain")).toString();
    return domain.isEmpty() ? server.value(QLatin1String("ip_address")).toString() : domain;
}

QStringList Account::mounts() const {
    QStringList result;
    for (const QJsonValue& channel : document.value(QLatin1String("channels")).toArray()) {
        QString mount =
            channel.toObject().value(QLatin1String("streaming_server_mountpoint")).toString();
        if (mount.isEmpty()) continue;
        if (!mount.startsWith(QLatin1Char('/'))) mount.prepend(QLatin1Char('/'));
        result << mount;
    }
    return result;
}

QJsonObject Account::servedDocument() const {
    QJsonObject served = document;
    served.insert(QStringLiteral("streaming_server_ready"), running ? 1 : 0);
    return served;
}

bool AccountStore::load(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        *error = QStringLiteral("%1 is not a JSON object (%2)").arg(path, parseError.errorString());
        return false;
    }
    const QJsonObject root = document.object();

    const QJsonObject icecast = root.value(QLatin1String("icecast")).toObject();
    m_icecast.host = icecast.value(QLatin1String("host")).toString(m_icecast.host);
    m_icecast.port = quint16(icecast.value(QLatin1String("port")).toInt(m_icecast.port));
    m_icecast.adminUser = icecast.value(QLatin1String("admin_user")).toString(m_icecast.adminUser);
    m_icecast.adminPassword = icecast.value(QLatin1String("admin_password")).toString();

    m_accounts.clear();
    QSet<quint16> ports;
    const QJsonObject accounts = root.value(QLatin1String("accounts")).toObject();
    for (auto it = accounts.begin(); it != accounts.end(); ++it) {
        if (!it.value().isObject() || it.key().isEmpty()) {
            *error = QStringLiteral("every account must be an object under its private token");
            return false;
        }
        Account account;
        account.token = it.key();
        account.document = it.value().toObject();
        const QJsonObject own = account.document.take(QLatin1String("devcloud")).toObject();
        account.running = own.value(QLatin1String("server_running")).toBool(true);
        account.bootMs = qMax(0, own.value(QLatin1String("boot_ms")).toInt());
        const int port = account.document.value(QLatin1String("streaming_server_port")).toInt();
        if (port <= 0 || port > 65535) {
            *error = QStringLiteral("account %1 has no usable streaming_server_port")
                         .arg(account.email());
            return false;
        }
        account.streamingPort = quint16(port);
        if (ports.contains(account.streamingPort)) {
            *error = QStringLiteral("two accounts share streaming port %1").arg(port);
            return false;
        }
        ports.insert(account.streamingPort);
        if (!setFaults(account, own.value(QLatin1String("faults")).toObject(), error)) {
            error->prepend(account.email() + QStringLiteral(": "));
            return false;
        }
        m_accounts.emplace(account.token, account);
    }
    if (m_accounts.empty()) {
        *error = QStringLiteral("%1 holds no accounts").arg(path);
        return false;
    }
    return true;
}

Account* AccountStore::find(const QString& token) {
    const auto it = m_accounts.find(token);
    return it == m_accounts.end() ? nullptr : &it->second;
}

bool AccountStore::setFaults(Account& account, const QJsonObject& json, QString* error) {
    QMap<Endpoint, Fault> faults;
    for (auto it = json.begin(); it != json.end(); ++it) {
        if (!kEndpointNames.contains(it.key())) {
            *error = QStringLiteral(
                         "unknown endpoint \"%1\" (account_info, server_start, stats, listeners)")
                         .arg(it.key());
            return false;
        }
        if (it.value().isNull()) continue;
        const std::optional<Fault> fault = Fault::fromJson(it.value().toObject(), error);
        if (!fault) return false;
        if (it.key() == QLatin1String("listeners") && !fault->refuse &&
            fault->anotherStream.isEmpty()) {
            *error = QStringLiteral(
                "a listeners fault needs \"refuse\": true or \"another_stream\": \"/mount\"");
            return false;
        }
        faults.insert(kEndpointNames.value(it.key()), *fault);
    }
    account.faults = faults;
    return true;
}

std::optional<Fault> AccountStore::takeFault(Account& account, Endpoint endpoint) {
    const auto it = account.faults.find(endpoint);
    if (it == account.faults.end()) return std::nullopt;
    const Fault fault = it.value();
    if (it->remaining > 0 && --it->remaining == 0) account.faults.erase(it);
    return fault;
}

QString AccountStore::writeDemo(const QString& path, quint16 streamingPort,
                                const QString& sourcePassword, QString* error) {
    const QString token = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QJsonObject channel{
        {QStringLiteral("id"), QStringLiteral("demo-live")},
        {QStringLiteral("name"), QStringLiteral("Demo Live")},
        {QStringLiteral("timezone"), QStringLiteral("UTC")},
        {QStringLiteral("country"), QStringLiteral("Nowhere")},
        {QStringLiteral("language"), QStringLiteral("en")},
        {QStringLiteral("genre"), QStringLiteral("Various")},
        {QStringLiteral("streaming_server_mountpoint"), QStringLiteral("/live")},
        {QStringLiteral("streaming_server_password"), sourcePassword},
    };
    const QJsonObject subscription{
        {QStringLiteral("plan_id"), QStringLiteral("demo")},
        {QStringLiteral("plan_name"), QStringLiteral("Demo")},
        {QStringLiteral("addons_count"), 0},
        {QStringLiteral("listeners_slots"), 100},
        {QStringLiteral("max_channels"), 1},
        {QStringLiteral("bitrate"), 320},
        {QStringLiteral("podcasts_recorder"), QJsonObject{{QStringLiteral("duration"), 0},
                                                          {QStringLiteral("amount"), 0},
                                                          {QStringLiteral("protected"), false}}},
        {QStringLiteral("protected_stream"), false},
        {QStringLiteral("addons"), QJsonArray()},
    };
    const QJsonObject account{
        {QStringLiteral("name"), QStringLiteral("Demo Radio")},
        {QStringLiteral("email"), QString::fromLatin1(kDemoEmail)},
        {QStringLiteral("public_token"), QUuid::createUuid().toString(QUuid::WithoutBraces)},
        {QStringLiteral("streaming_server_port"), int(streamingPort)},
        {QStringLiteral("streaming_server_ready"), 1},
        {QStringLiteral("channels_count"), 1},
        {QStringLiteral("streaming_server"),
         QJsonObject{{QStringLiteral("id"), QStringLiteral("local")},
                     {QStringLiteral("name"), QStringLiteral("This computer")},
                     {QStringLiteral("area"), QStringLiteral("local")},
                     {QStringLiteral("domain"), QStringLiteral("127.0.0.1")},
                     {QStringLiteral("ip_address"), QStringLiteral("127.0.0.1")}}},
        {QStringLiteral("channels"), QJsonArray{channel}},
        {QStringLiteral("subscription"), subscription},
    };
    const QJsonObject root{
        {QStringLiteral("icecast"),
         QJsonObject{{QStringLiteral("host"), QStringLiteral("127.0.0.1")},
                     {QStringLiteral("port"), 8000},
                     {QStringLiteral("admin_user"), QStringLiteral("admin")},
                     {QStringLiteral("admin_password"), QStringLiteral("hackme")}}},
        {QStringLiteral("accounts"), QJsonObject{{token, account}}},
    };
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return {};
    }
    file.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
    // It holds a private token and a source password.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return {};
    }
    return token;
}
