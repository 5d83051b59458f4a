#include "test_environment.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

TestEnvironment::TestEnvironment() {
    m_dir.setAutoRemove(true);
    for (const QString& sub : {QStringLiteral("data"), QStringLiteral("config"),
                               QStringLiteral("cache"), QStringLiteral("runtime")}) {
        QDir(m_dir.path()).mkpath(sub);
    }
    QFile::setPermissions(m_dir.path() + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_DATA_HOME", dataHome().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", configHome().toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (m_dir.path() + QStringLiteral("/cache")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (m_dir.path() + QStringLiteral("/runtime")).toLocal8Bit());
}

namespace testsupport {

namespace {
constexpr char kRerunVariable[] = "DOREDORADAR_UNPRIVILEGED_RERUN";
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& content) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

bool rerunUnprivilegedIfRoot(const char* testFunction, bool& passed, QString& output) {
    // Inside such a rerun the case runs in-process.
    if (geteuid() != 0 || qEnvironmentVariableIsSet(kRerunVariable)) return false;

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(kRerunVariable), QStringLiteral("1"));
    // The child makes its own temporary folders; root's XDG folders are not writable to it.
    for (const char* name :
         {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "HOME"}) {
        env.remove(QLatin1String(name));
    }
    env.insert(QStringLiteral("HOME"), QStringLiteral("/tmp"));
    env.insert(QStringLiteral("TMPDIR"), QStringLiteral("/tmp"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    // A checkout under root's home is out of the unprivileged user's reach: run a copy of this
    // binary from a folder it can enter.
    QTemporaryDir copyDir(QStringLiteral("/tmp/doredoradar-rerun-XXXXXX"));
    const QString copy = copyDir.path() + QStringLiteral("/") +
                         QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (!copyDir.isValid() || !QFile::copy(QCoreApplication::applicationFilePath(), copy)) {
        output = QStringLiteral("cannot copy the test binary for the unprivileged rerun");
        passed = false;
        return true;
    }
    QFile::setPermissions(copyDir.path(), QFileDevice::Permissions(0x7755));
    QFile::setPermissions(copy, QFileDevice::Permissions(0x7755));
    child.start(QStringLiteral("setpriv"),
                {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                 QStringLiteral("--clear-groups"), copy, QLatin1String(testFunction)});
    if (!child.waitForFinished(60000)) {
        child.kill();
        child.waitForFinished(5000);
    }
    output = QString::fromLocal8Bit(child.readAll());
    passed = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    return true;
}

}  // namespace testsupport
