#include <QtTest>

#include "maintenance/auto_start.h"
#include "maintenance/update_manager.h"
#include "test_environment.h"

using testsupport::readFile;
using testsupport::writeFile;

// The update manager's fallback and start with the system in a temporary config folder.
class TestSystemServices : public QObject {
    Q_OBJECT

    TestEnvironment m_env;
    const QString m_folder = m_env.configHome() + QStringLiteral("/autostart");

    QStringList entries() const {
        return QDir(m_folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

private Q_SLOTS:
    // The fallback's texts; the feed goes to the desktop's opener (a stand-in xdg-open on PATH)
    // only when the user asked, and an opener that cannot start is reported.
    void updateManagerFallback() {
        QTemporaryDir bin;
        const QString opener = bin.filePath(QStringLiteral("xdg-open"));
        QVERIFY(writeFile(opener, "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.url\"\n"));
        QFile::setPermissions(opener, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toLocal8Bit());

        UpdateManager manager;
        QSignalSpy status(&manager, &UpdateManager::statusMessage);
        QSignalSpy errors(&manager, &UpdateManager::errorOccurred);
        QSignalSpy initialized(&manager, &UpdateManager::initialized);
        manager.checkForUpdates(true);  // initialises first; no feed yet
        manager.initialize();
        manager.setFeedUrl(QStringLiteral("  https://updates.example.org/feed.xml \n"));
        manager.checkForUpdates(false);
        manager.checkForUpdates(true);
        QTRY_COMPARE(readFile(opener + QStringLiteral(".url")),
                     QByteArray("https://updates.example.org/feed.xml"));
        QCOMPARE(initialized,
                 (QList<QVariantList>{{QVariant::fromValue(UpdateManager::Backend::None)}}));
        const QString opening =
            QStringLiteral("Native updater backend is not linked yet. Opening update feed URL.");
        QCOMPARE(
            status,
            (QList<QVariantList>{
                {QStringLiteral("Updater initialized (fallback mode)")}, {opening}, {opening}}));
        QFile::remove(opener);
        manager.checkForUpdates(true);
        qputenv("PATH", path);
        QCOMPARE(errors.count(), 2);
        QCOMPARE(errors.at(0).at(0), QStringLiteral("Update feed URL is not configured"));
        QVERIFY(errors.at(1).at(0).toString().startsWith(
            QStringLiteral("Could not open the update feed URL: xdg-open: ")));
    }

    void autoStartEntry_data() {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QByteArray>("exec");
        QTest::newRow("running executable") << QByteArray() << QByteArray();
        // A space is quoted; quoting escapes " $ \, the file's string rule doubles every
        // backslash, % doubles and a newline cannot start a line of its own.
        QTest::newRow("special") << QByteArray("/opt/a \"b\" $c\\d 100%\nName=x")
                                 << QByteArray(
                                        "\"/opt/a \\\\\"b\\\\\" \\\\$c\\\\\\\\d 100%%\\nName=x\"");
    }

    void autoStartEntry() {
        QFETCH(QByteArray, image);
        QFETCH(QByteArray, exec);
        if (image.isEmpty()) exec = '"' + QCoreApplication::applicationFilePath().toUtf8() + '"';
        qputenv("APPIMAGE", image);
        QDir(m_folder).removeRecursively();
        QVERIFY(!isAutoStartEnabled());
        QVERIFY(setAutoStartEnabled(false));
        QVERIFY(setAutoStartEnabled(true));
        QVERIFY(setAutoStartEnabled(true));
        QVERIFY(isAutoStartEnabled());
        QCOMPARE(entries().size(), 1);
        const QString entry = m_folder + QLatin1Char('/') + entries().constFirst();
        QVERIFY(readFile(entry).split('\n').contains("Exec=" + exec));

        // Someone else's entry under that name counts, and goes when disabled.
        QVERIFY(writeFile(entry, "[Desktop Entry]\nExec=other\n"));
        QVERIFY(isAutoStartEnabled());
        QVERIFY(setAutoStartEnabled(false));
        QVERIFY(!isAutoStartEnabled() && entries().isEmpty() && autoStartLastError().isEmpty());
        qunsetenv("APPIMAGE");
    }

    void readOnlyAutostartFolderFails() {
        bool passed = false;
        QString output;
        if (testsupport::rerunUnprivilegedIfRoot("readOnlyAutostartFolderFails", passed, output)) {
            QVERIFY2(passed, qPrintable(output));
            return;
        }
        QVERIFY(setAutoStartEnabled(true));
        QVERIFY(QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const QString expected = QStringLiteral(
            "Failed to access autostart folder %1. Permission denied or folder is read-only.");
        for (const bool enable : {false, true}) {
            QVERIFY(!setAutoStartEnabled(enable));
            QCOMPARE(autoStartLastError(), expected.arg(m_folder));
        }
        QVERIFY(isAutoStartEnabled() && autoStartLastError().isEmpty());
        QCOMPARE(entries().size(), 1);
        QFile::setPermissions(
            m_folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
};

QTEST_GUILESS_MAIN(TestSystemServices)
#include "test_system_services.moc"
