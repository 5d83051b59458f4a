#pragma once

#include <QMap>
#include <QString>

// The configuration of a local Icecast 2 (Debian's icecast2) for development, tests and the
// demo: one listen socket, our own passwords, logs in a folder of our own. Shared by the test
// fixture and the demo's run script, so both start the server the same way.
namespace icecastconfig {

struct Options {
    QString bindAddress = QStringLiteral("127.0.0.1");
    quint16 port = 8000;
    QString sourcePassword;
    QString adminUser = QStringLiteral("admin");
    QString adminPassword;
    // Mounts with a password of their own (mount → password).
    QMap<QString, QString> mountPasswords;
    int sourceTimeoutSeconds = 10;
    int maxSources = 8;
    int maxClients = 100;
    int logLevel = 4;  // 1 errors .. 4 debug
};

// Writes "<folder>/icecast.xml" and makes "<folder>/log". When run as root, Icecast drops its
// privileges to "nobody", which must still read the file and write the logs: the folder is
// opened up for that. Returns the configuration's path, or an empty string with `error`.
QString writeConfiguration(const QString& folder, const Options& options, QString* error);

}  // namespace icecastconfig
