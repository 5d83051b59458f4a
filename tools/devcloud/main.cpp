// ondaro-devcloud: a local stand-in for the Ondaro Cloud service, so the application can log in,
// start its server, stream and read its listener statistics on one machine with no account
// anywhere. See the README ("Stand-in cloud service").
#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QSet>
#include <QStandardPaths>

#include "account_store.h"
#include "dev_cloud.h"
#include "tls_identity.h"

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "ondaro-devcloud: %s\n", qPrintable(message));
    return 1;
}

void say(const QString& line) {
    std::fprintf(stdout, "%s\n", qPrintable(line));
    std::fflush(stdout);
}

quint16 portOption(const QCommandLineParser& parser, const QString& name, bool* ok) {
    const int value = parser.value(name).toInt(ok);
    *ok = *ok && value >= 0 && value <= 65535;
    return quint16(value);
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ondaro-devcloud"));
    qSetMessagePattern(QStringLiteral("[%{time yyyy-MM-dd hh:mm:ss.zzz}] %{message}"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Local stand-in for the Ondaro Cloud service: account and server-start requests over "
        "HTTPS, and each account's streaming port in front of a real Icecast."));
    parser.addHelpOption();
    const QList<QCommandLineOption> options{
        {QStringLiteral("accounts"), QStringLiteral("The accounts file (JSON)."),
         QStringLiteral("file")},
        {QStringLiteral("create-demo"),
         QStringLiteral("Write an accounts file with one demo account when it does not exist "
                        "yet, and print the account's private token.")},
        {QStringLiteral("demo-streaming-port"),
         QStringLiteral("Streaming port of a new demo account (default 8010)."),
         QStringLiteral("port"), QStringLiteral("8010")},
        {QStringLiteral("demo-source-password"),
         QStringLiteral("Source password of the demo channel; Icecast must accept it (default "
                        "hackme)."),
         QStringLiteral("password"), QStringLiteral("hackme")},
        {QStringLiteral("no-serve"),
         QStringLiteral("Prepare the accounts file and the certificate, then exit.")},
        {QStringLiteral("listen"), QStringLiteral("Address to listen on (default 127.0.0.1)."),
         QStringLiteral("address"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("api-port"),
         QStringLiteral("HTTPS port of the REST API (default 8443; 0 picks a free one)."),
         QStringLiteral("port"), QStringLiteral("8443")},
        {QStringLiteral("cert-dir"),
         QStringLiteral("Folder of the self-signed certificate made at first start."),
         QStringLiteral("folder")},
        {QStringLiteral("cert"), QStringLiteral("Serve this PEM certificate instead."),
         QStringLiteral("file")},
        {QStringLiteral("key"), QStringLiteral("The private key of --cert (PEM)."),
         QStringLiteral("file")},
        {QStringLiteral("hostname"),
         QStringLiteral("Another host name the certificate must cover (repeatable)."),
         QStringLiteral("name")},
        {QStringLiteral("icecast-host"), QStringLiteral("Icecast host (overrides the file)."),
         QStringLiteral("host")},
        {QStringLiteral("icecast-port"), QStringLiteral("Icecast port (overrides the file)."),
         QStringLiteral("port")},
        {QStringLiteral("icecast-admin-user"),
         QStringLiteral("Icecast admin user (overrides the file)."), QStringLiteral("user")},
        {QStringLiteral("icecast-admin-password"),
         QStringLiteral("Icecast admin password (overrides the file)."),
         QStringLiteral("password")},
    };
    parser.addOptions(options);
    parser.process(app);

    const QString accountsPath = parser.value(QStringLiteral("accounts"));
    if (accountsPath.isEmpty()) return fail(QStringLiteral("--accounts <file> is required"));

    if (parser.isSet(QStringLiteral("create-demo")) && !QFileInfo::exists(accountsPath)) {
        bool ok = false;
        const quint16 port = portOption(parser, QStringLiteral("demo-streaming-port"), &ok);
        if (!ok || port == 0) return fail(QStringLiteral("--demo-streaming-port must be 1..65535"));
        QString error;
        const QString token = AccountStore::writeDemo(
            accountsPath, port, parser.value(QStringLiteral("demo-source-password")), &error);
        if (token.isEmpty()) return fail(error);
        say(QStringLiteral("Demo account written to %1").arg(accountsPath));
    } else if (parser.isSet(QStringLiteral("create-demo"))) {
        say(QStringLiteral("Keeping the existing accounts file %1").arg(accountsPath));
    }

    AccountStore store;
    QString error;
    if (!store.load(accountsPath, &error)) return fail(error);
    if (parser.isSet(QStringLiteral("create-demo"))) {
        // Every start says it again, so a run script can always show the user what to type.
        for (auto& [token, account] : store.accounts()) {
            if (account.email() == QLatin1String(AccountStore::kDemoEmail)) {
                say(QStringLiteral("Demo account private token: %1").arg(token));
            }
        }
    }
    IcecastTarget& icecast = store.icecast();
    if (parser.isSet(QStringLiteral("icecast-host"))) {
        icecast.host = parser.value(QStringLiteral("icecast-host"));
    }
    if (parser.isSet(QStringLiteral("icecast-port"))) {
        bool ok = false;
        icecast.port = portOption(parser, QStringLiteral("icecast-port"), &ok);
        if (!ok || icecast.port == 0)
            return fail(QStringLiteral("--icecast-port must be 1..65535"));
    }
    if (parser.isSet(QStringLiteral("icecast-admin-user"))) {
        icecast.adminUser = parser.value(QStringLiteral("icecast-admin-user"));
    }
    if (parser.isSet(QStringLiteral("icecast-admin-password"))) {
        icecast.adminPassword = parser.value(QStringLiteral("icecast-admin-password"));
    }

    const QHostAddress address(parser.value(QStringLiteral("listen")));
    if (address.isNull()) return fail(QStringLiteral("--listen needs an IP address"));

    TlsIdentity identity;
    if (parser.isSet(QStringLiteral("cert")) || parser.isSet(QStringLiteral("key"))) {
        if (!identity.loadFiles(parser.value(QStringLiteral("cert")),
                                parser.value(QStringLiteral("key")), &error)) {
            return fail(error);
        }
    } else {
        QStringList hosts = parser.values(QStringLiteral("hostname"));
        hosts << address.toString();
        for (auto& [token, account] : store.accounts()) hosts << account.host();
        QString folder = parser.value(QStringLiteral("cert-dir"));
        if (folder.isEmpty()) {
            folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                     QStringLiteral("/ondaro-devcloud/tls");
        }
        if (!identity.ensureSelfSigned(folder, hosts, &error)) return fail(error);
    }
    for (auto& [token, account] : store.accounts()) {
        const QStringList uncovered = identity.uncoveredHosts({account.host()});
        if (!uncovered.isEmpty()) {
            std::fprintf(stderr, "ondaro-devcloud: warning: the certificate does not cover %s\n",
                         qPrintable(uncovered.join(QStringLiteral(", "))));
        }
    }
    if (parser.isSet(QStringLiteral("no-serve"))) {
        say(QStringLiteral("CA certificate: %1").arg(identity.certificatePath()));
        return 0;
    }

    bool ok = false;
    const quint16 apiPort = portOption(parser, QStringLiteral("api-port"), &ok);
    if (!ok) return fail(QStringLiteral("--api-port must be 0..65535"));
    DevCloud cloud(&store, address, identity.serverConfiguration());
    if (!cloud.start(apiPort, &error)) return fail(error);

    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    const QString apiUrl = QStringLiteral("https://%1:%2").arg(host).arg(cloud.apiPort());
    say(QStringLiteral("REST API: %1").arg(apiUrl));
    say(QStringLiteral("CA certificate: %1").arg(identity.certificatePath()));
    say(QStringLiteral("Icecast: %1:%2").arg(icecast.host).arg(icecast.port));
    for (auto& [token, account] : store.accounts()) {
        say(QStringLiteral("Account %1: streaming port %2 (%3)")
                .arg(account.email())
                .arg(account.streamingPort)
                .arg(account.running ? QStringLiteral("running") : QStringLiteral("stopped")));
    }
    say(QStringLiteral("Point the application at it with: ONDARO_API_URL=%1 ONDARO_CA_CERTS=%2")
            .arg(apiUrl, identity.certificatePath()));
    say(QStringLiteral("ondaro-devcloud ready"));
    return app.exec();
}
