#include "icecast_config.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace icecastconfig {

namespace {

QString xmlEscape(const QString& text) { return text.toHtmlEscaped(); }

bool fail(QString* error, const QString& why) {
    if (error) *error = why;
    return false;
}

}  // namespace

QString writeConfiguration(const QString& folder, const Options& options, QString* error) {
    const QString logDir = folder + QStringLiteral("/log");
    if (!QDir().mkpath(logDir)) {
        fail(error, QStringLiteral("cannot make %1").arg(logDir));
        return {};
    }
    const bool root = ::geteuid() == 0;
    if (root) {
        // Icecast running as "nobody" must reach its logs.
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                          QFileDevice::ExeOther);
        QFile::setPermissions(logDir, QFileDevice::Permissions(0x7777));
    }

    QString mounts;
    for (auto it = options.mountPasswords.cbegin(); it != options.mountPasswords.cend(); ++it) {
        mounts +=
            QStringLiteral("<mount><mount-name>%1</mount-name><password>%2</password></mount>")
                .arg(xmlEscape(it.key()), xmlEscape(it.value()));
    }
    const QString security =
        root ? QStringLiteral(
                   "<security><chroot>0</chroot><changeowner><user>nobody</user>"
                   "<group>nogroup</group></changeowner></security>")
             : QStringLiteral("<security><chroot>0</chroot></security>");
    const QString config =
        QStringLiteral(
            "<icecast><location>local</location><admin>admin@localhost</admin>"
            "<limits><clients>%1</clients><sources>%2</sources><queue-size>524288</queue-size>"
            "<client-timeout>30</client-timeout><header-timeout>15</header-timeout>"
            "<source-timeout>%3</source-timeout><burst-size>65535</burst-size></limits>"
            "<authentication><source-password>%4</source-password>"
            "<admin-user>%5</admin-user><admin-password>%6</admin-password></authentication>"
            "<hostname>%7</hostname>"
            "<listen-socket><port>%8</port><bind-address>%7</bind-address></listen-socket>"
            "%9<fileserve>1</fileserve>"
            "<paths><basedir>/usr/share/icecast2</basedir><logdir>%10</logdir>"
            "<webroot>/usr/share/icecast2/web</webroot>"
            "<adminroot>/usr/share/icecast2/admin</adminroot></paths>"
            "<logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog>"
            "<loglevel>%11</loglevel></logging>%12</icecast>")
            // One pass, so that a password holding "%1" is never substituted again.
            .arg(QString::number(options.maxClients), QString::number(options.maxSources),
                 QString::number(options.sourceTimeoutSeconds), xmlEscape(options.sourcePassword),
                 xmlEscape(options.adminUser), xmlEscape(options.adminPassword),
                 xmlEscape(options.bindAddress), QString::number(options.port), mounts,
                 xmlEscape(logDir), QString::number(options.logLevel), security);
    const QString path = folder + QStringLiteral("/icecast.xml");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0 || !file.commit()) {
        fail(error, QStringLiteral("cannot write %1").arg(path));
        return {};
    }
    // It holds the passwords: readable by its owner, and by "nobody" only when Icecast must
    // drop to it.
    QFile::setPermissions(
        path, root ? QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther
                   : QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return path;
}

}  // namespace icecastconfig
