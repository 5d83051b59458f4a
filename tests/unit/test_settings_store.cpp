#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include "audio/encoder_settings.h"
#include "core/app_identity.h"
#include "core/credential_store.h"
#include "ui/load_time_corrections.h"
#include "core/settings_keys.h"
#include "core/settings_manager.h"
#include "log_capture.h"
#include "platform/credential_protection.h"
#include "test_environment.h"

using namespace settingskeys;

namespace {

const QString kToken = QStringLiteral("3f2a9c4e-1b7d-4e8a-9f60-2c5d7e8b9a01");
const QString kEncryptedToken = QStringLiteral("Ondaro/Encrypted/PrivateToken");
const QString kEncryptedAccount = QStringLiteral("Ondaro/Encrypted/CachedAccountJson");

QString keyFilePath() { return CredentialStore::keyFilePath(); }

}  // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT

    TestEnvironment m_env;

    // Makes encryption impossible: a plain file where the key folder has to be.
    void blockKeyFolder() {
        const QString folder = QFileInfo(keyFilePath()).absolutePath();
        QDir(folder).removeRecursively();
        QVERIFY(testsupport::writeFile(folder, "not a folder"));
    }

private Q_SLOTS:
    void initTestCase() {
        appidentity::apply();
        QVERIFY(QSettings().fileName().startsWith(m_env.configHome()));
        QVERIFY(keyFilePath().startsWith(m_env.configHome()));
    }

    void init() {
        QSettings settings;
        settings.clear();
        settings.sync();
        const QString folder = QFileInfo(keyFilePath()).absolutePath();
        QFile::remove(folder);  // left by blockKeyFolder
        QDir(folder).removeRecursively();
    }

    void firstRunMovesPlainCredentials() {
        {
            QSettings legacy;
            legacy.setValue("Ondaro/PrivateToken", kToken);
            legacy.setValue("Ondaro/CachedAccountJson", QStringLiteral("{\"name\":\"DJ\"}"));
        }
        LogCapture logs;
        SettingsManager manager;
        QSettings settings;
        QVERIFY(!settings.contains("Ondaro/PrivateToken"));
        QVERIFY(!settings.contains("Ondaro/CachedAccountJson"));
        QVERIFY(settings.value("Ondaro/CredentialsMigrated").toBool());
        const QString stored = settings.value(kEncryptedToken).toString();
        QVERIFY(!stored.isEmpty());
        QVERIFY(QByteArray::fromBase64Encoding(stored.toLatin1(),
                                               QByteArray::AbortOnBase64DecodingErrors));
        QVERIFY(!stored.contains(kToken));
        QCOMPARE(manager.getOndaroPrivateToken(), kToken);
        QVERIFY(manager.hasOndaroPrivateToken());
        QCOMPARE(CredentialStore::retrieveSecret("CachedAccountJson"),
                 QStringLiteral("{\"name\":\"DJ\"}"));
        QVERIFY(!logs.mentions(kToken));

        // A second start changes nothing.
        const QStringList keysBefore = settings.allKeys();
        SettingsManager again;
        QCOMPARE(QSettings().allKeys(), keysBefore);
        QCOMPARE(QSettings().value(kEncryptedToken).toString(), stored);
    }

    void migratedFlagLeavesPlainTokenAlone() {
        {
            QSettings settings;
            settings.setValue("Ondaro/CredentialsMigrated", true);
            settings.setValue("Ondaro/PrivateToken", kToken);
        }
        SettingsManager manager;
        QSettings settings;
        QCOMPARE(settings.value("Ondaro/PrivateToken").toString(), kToken);
        QVERIFY(!settings.contains(kEncryptedToken));
        QVERIFY(!manager.hasOndaroPrivateToken());
        QCOMPARE(manager.getOndaroPrivateToken(), QString());

        // Logging out does not leave it behind either.
        manager.clearAllOndaroSettings();
        QVERIFY(!QSettings().contains("Ondaro/PrivateToken"));
    }

    void failedMigrationStillRemovesPlainText() {
        {
            QSettings legacy;
            legacy.setValue("Ondaro/PrivateToken", kToken);
        }
        blockKeyFolder();
        SettingsManager manager;
        QSettings settings;
        QVERIFY(!settings.contains("Ondaro/PrivateToken"));
        QVERIFY(!settings.contains(kEncryptedToken));
        QVERIFY(settings.value("Ondaro/CredentialsMigrated").toBool());
        QVERIFY(!manager.hasOndaroPrivateToken());
    }

    void storingTheTokenReportsTheOutcome() {
        SettingsManager manager;
        LogCapture logs;
        QVERIFY(manager.setOndaroPrivateToken(kToken));
        QCOMPARE(manager.getOndaroPrivateToken(), kToken);

        manager.clearOndaroPrivateToken();
        QVERIFY(!manager.hasOndaroPrivateToken());
        blockKeyFolder();
        QVERIFY(!manager.setOndaroPrivateToken(kToken));
        QVERIFY(!QSettings().contains(kEncryptedToken));
        QVERIFY(!logs.mentions(kToken));
    }

    void logoutRemovesExactlyTheAccountKeys() {
        SettingsManager manager;
        QVERIFY(manager.setOndaroPrivateToken(kToken));
        QVERIFY(CredentialStore::storeSecret("CachedAccountJson", "{}"));
        manager.setLastSelectedChannelId(QStringLiteral("ch-9"));
        manager.markFirstLaunchComplete();
        QSettings settings;
        settings.setValue("stream/name", QStringLiteral("Radio Ondaro"));
        settings.setValue("ui/windowGeometry", QByteArray("geometry"));
        settings.setValue("audio/deck1Device", QStringLiteral("Line In"));
        QStringList expected = settings.allKeys();
        expected.removeAll(kEncryptedToken);
        expected.removeAll(kEncryptedAccount);
        expected.removeAll(QStringLiteral("Ondaro/LastSelectedChannelId"));
        manager.clearAllOndaroSettings();
        QStringList remaining = QSettings().allKeys();
        remaining.sort();
        expected.sort();
        QCOMPARE(remaining, expected);
        QVERIFY(!manager.isFirstLaunch());
    }

    void firstLaunchFlag() {
        SettingsManager manager;
        QVERIFY(manager.isFirstLaunch());
        manager.markFirstLaunchComplete();
        QVERIFY(!manager.isFirstLaunch());
        QVERIFY(!SettingsManager().isFirstLaunch());
    }

    void valuesRoundTripThroughAFileOnDisk() {
        {
            QSettings s;
            write(s, kAutoReconnect, false);
            write(s, kReconnectDelay, 12);
            write(s, kCrossfaderPosition, -0.25);
            write(s, kStreamName, QStringLiteral("Rock, Pop & \"More\""));
            write(s, kWindowGeometry, QByteArray("\x01\x02geometry", 10));
        }
        // Read back the way a later start does: from the file, not from this process's cache
        // (which keeps the values typed), so through a copy of the file.
        const QString copy = m_env.root() + QStringLiteral("/copy.conf");
        QFile::remove(copy);
        QVERIFY(QFile::copy(QSettings().fileName(), copy));
        const QSettings fromFile(copy, QSettings::IniFormat);
        QCOMPARE(read(fromFile, kAutoReconnect), false);
        QCOMPARE(read(fromFile, kReconnectDelay), 12);
        QCOMPARE(read(fromFile, kCrossfaderPosition), -0.25);
        QCOMPARE(read(fromFile, kStreamName), QStringLiteral("Rock, Pop & \"More\""));
        QCOMPARE(read(fromFile, kWindowGeometry), QByteArray("\x01\x02geometry", 10));
    }

    void wrongTypesReadAsZero() {
        // As a hand-edited or damaged file would hold them.
        const QString path = m_env.root() + QStringLiteral("/damaged.conf");
        QVERIFY(testsupport::writeFile(
            path,
            "[connection]\nautoReconnect=maybe\nreconnectDelay=five\n"
            "reconnectMaxRetries=2.5\n"
            "[encoder]\nbitrate=@ByteArray(128)\naacAfterburner=1\nsampleRate=\" 44100 \"\n"
            "[audio]\nduckingRatio=nan\nduckingKnee=inf\nduckingThreshold=-12.5\n"
            "crossfaderPosition=abc\n"
            "[stream]\nname=Rock, Pop\ngenre=@ByteArray(Jazz)\n"
            "[ui]\nwindowGeometry=plain text\n"));
        const QSettings s(path, QSettings::IniFormat);
        QCOMPARE(read(s, kAutoReconnect), false);
        QCOMPARE(read(s, kReconnectDelay), 0);
        QCOMPARE(read(s, kReconnectMaxRetries), 0);
        QCOMPARE(read(s, kEncoderBitrate), 0);
        QCOMPARE(read(s, kEncoderAacAfterburner), true);
        QCOMPARE(read(s, kEncoderSampleRate), 44100);
        QCOMPARE(read(s, kDuckingRatio), 0.0);
        QCOMPARE(read(s, kDuckingKnee), 0.0);
        QCOMPARE(read(s, kDuckingThreshold), -12.5);
        QCOMPARE(read(s, kCrossfaderPosition), 0.0);
        QCOMPARE(read(s, kStreamName), QStringLiteral("Rock, Pop"));
        QCOMPARE(read(s, kStreamGenre), QString());
        QCOMPARE(read(s, kWindowGeometry), QByteArray());
        // Absent keys still give their defaults next to damaged ones.
        QCOMPARE(read(s, kEncoderChannels), 2);
        QCOMPARE(read(s, kStreamDescription), QStringLiteral("Unspecified Stream"));
    }

    // The rules themselves are the metadata manager's start-up check (its own test has them
    // all); here, that the corrected source is stored back and a vanished file is explained.
    void metadataSourceCorrections_data() {
        QTest::addColumn<int>("source");
        QTest::addColumn<QString>("filePath");
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("tellUser");
        QTest::newRow("window title never survives") << 3 << "" << "" << 0 << false;
        QTest::newRow("file that is gone") << 1 << "/nonexistent/np.txt" << "" << 0 << true;
        QTest::newRow("file that exists") << 1 << "EXISTING" << "" << 1 << false;
        QTest::newRow("url with address") << 2 << "" << "http://127.0.0.1/np" << 2 << false;
    }

    void metadataSourceCorrections() {
        QFETCH(int, source);
        QFETCH(QString, filePath);
        QFETCH(QString, url);
        QFETCH(int, expected);
        QFETCH(bool, tellUser);
        if (filePath == QLatin1String("EXISTING")) {
            filePath = m_env.root() + QStringLiteral("/nowplaying.txt");
            QVERIFY(testsupport::writeFile(filePath, "Artist - Title\n"));
        }
        QSettings settings;
        write(settings, kMetadataSource, source);
        write(settings, kMetadataFilePath, filePath);
        write(settings, kMetadataUrl, url);
        EncoderSettings encoder;

        const LoadTimeCorrections result = applyLoadTimeCorrections(settings, {}, {}, encoder);
        QCOMPARE(result.metadataSource, expected);
        QCOMPARE(read(QSettings(), kMetadataSource), expected);
        QCOMPARE(result.missingMetadataFile, tellUser ? filePath : QString());
        if (tellUser) {
            QCOMPARE(missingMetadataFileTitle(), QStringLiteral("Metadata File Not Found"));
            QCOMPARE(missingMetadataFileText(filePath),
                     QStringLiteral("The saved metadata file was not found:\n/nonexistent/np.txt"
                                    "\n\nMetadata source has been reset to Manual."));
        }
    }

    void deckDevicesMatchExactly() {
        QSettings settings;
        write(settings, kDeck1Device, QStringLiteral("USB Mic"));
        write(settings, kDeck2Device, QStringLiteral("usb mic"));
        EncoderSettings encoder;
        const QStringList listed = {QStringLiteral("Default"), QStringLiteral("USB Mic")};
        const LoadTimeCorrections result =
            applyLoadTimeCorrections(settings, listed, listed, encoder);
        QCOMPARE(result.deck1DeviceIndex, 1);
        QCOMPARE(result.deck2DeviceIndex, -1);
        QCOMPARE(savedDeviceIndex(listed, QString()), -1);
        QCOMPARE(savedDeviceIndex({QString()}, QString()), -1);
    }

    void duckingValuesReachTheEncoderWhateverThePreset() {
        QSettings settings;
        write(settings, kDuckingPreset, 2);  // not the custom preset
        write(settings, kDuckingThreshold, -28.0);
        write(settings, kDuckingRatio, 8.0);
        write(settings, kDuckingAttack, 25);
        write(settings, kDuckingRelease, 900);
        write(settings, kDuckingKnee, 3.0);
        EncoderSettings encoder;
        encoder.setDuckingEnabled(true);
        encoder.setDuckingSourceDeck(1);
        applyLoadTimeCorrections(settings, {}, {}, encoder);
        QCOMPARE(encoder.duckingEnabled(), false);
        QCOMPARE(encoder.duckingSourceDeck(), 0);
        QCOMPARE(encoder.duckingThresholdDb(), -28.0f);
        QCOMPARE(encoder.duckingRatio(), 8.0f);
        QCOMPARE(encoder.duckingAttackMs(), 25);
        QCOMPARE(encoder.duckingReleaseMs(), 900);
        QCOMPARE(encoder.duckingKneeDb(), 3.0f);

        // An empty store gives the stored defaults, not the encoder's own.
        QSettings().clear();
        EncoderSettings fresh;
        applyLoadTimeCorrections(settings, {}, {}, fresh);
        QCOMPARE(fresh.duckingThresholdDb(), -35.0f);
        QCOMPARE(fresh.duckingReleaseMs(), 500);
    }

    void windowStateOnlyWithGeometry() {
        QSettings settings;
        EncoderSettings encoder;
        write(settings, kWindowState, QByteArray("state"));
        LoadTimeCorrections result = applyLoadTimeCorrections(settings, {}, {}, encoder);
        QVERIFY(!result.restoreWindowGeometry);
        QCOMPARE(result.windowState, QByteArray());

        write(settings, kWindowGeometry, QByteArray("geometry"));
        result = applyLoadTimeCorrections(settings, {}, {}, encoder);
        QVERIFY(result.restoreWindowGeometry);
        QCOMPARE(result.windowGeometry, QByteArray("geometry"));
        QCOMPARE(result.windowState, QByteArray("state"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settings_store.moc"
