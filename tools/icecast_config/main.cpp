// doredoradar-icecast-config: writes the configuration of a local Icecast for the demo (see
// scripts/run.sh), the same one the tests' Icecast fixture uses.
#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>

#include "icecast_config.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes FOLDER/icecast.xml for a local Icecast 2 and prints its path. The passwords are "
        "read from the environment (ICECAST_SOURCE_PASSWORD, ICECAST_ADMIN_PASSWORD) so that "
        "they stay out of the process list."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("dir"), QStringLiteral("Folder of the configuration and the logs."),
         QStringLiteral("folder")},
        {QStringLiteral("port"), QStringLiteral("Port to listen on (default 8000)."),
         QStringLiteral("port"), QStringLiteral("8000")},
        {QStringLiteral("bind"), QStringLiteral("Address to listen on (default 127.0.0.1)."),
         QStringLiteral("address"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("admin-user"), QStringLiteral("Admin user (default admin)."),
         QStringLiteral("user"), QStringLiteral("admin")},
    });
    parser.process(app);

    icecastconfig::Options options;
    bool ok = false;
    const int port = parser.value(QStringLiteral("port")).toInt(&ok);
    options.port = quint16(port);
    options.bindAddress = parser.value(QStringLiteral("bind"));
    options.adminUser = parser.value(QStringLiteral("admin-user"));
    options.logLevel = 3;
    options.sourcePassword = qEnvironmentVariable("ICECAST_SOURCE_PASSWORD");
    options.adminPassword = qEnvironmentVariable("ICECAST_ADMIN_PASSWORD");
    const QString folder = parser.value(QStringLiteral("dir"));
    if (folder.isEmpty() || !ok || port < 1 || port > 65535 || options.sourcePassword.isEmpty() ||
        options.adminPassword.isEmpty()) {
        std::fprintf(stderr,
                     "doredoradar-icecast-config: needs --dir, a port 1..65535 and both "
                     "passwords in the environment (see --help)\n");
        return 2;
    }
    QString error;
    const QString path = icecastconfig::writeConfiguration(folder, options, &error);
    if (path.isEmpty()) {
        std::fprintf(stderr, "doredoradar-icecast-config: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(path));
    return 0;
}
