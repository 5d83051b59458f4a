// The per-user settings store: the account's keys and their migration, values read back from
// disk, the corrections applied at start-up, and the private token sealed with the per-user key
// (its file and folder, and every way either can be damaged).
#include <sys/stat.h>
#include <unistd.h>

#include <QtTest>

#include "audio/encoder_settings.h"
#include "core/app_identity.h"
#include "core/credential_store.h"
#include "core/settings_file_guard.h"
#include "core/settings_keys.h"
#include "core/settings_manager.h"
#include "log_capture.h"
#include "test_environment.h"
#include "ui/load_time_corrections.h"

using namespace settingskeys;
using testsupport::readFile;

namespace {

const QString kToken = QStringLiteral("3f2a9c4e-1b7d-4e8a-9f60-2c5d7e8b9a01");
const QString kKey = QStringLiteral("PrivateToken");
const QString kEncryptedToken = QStringLiteral("Ondaro/Encrypted/PrivateToken");
const QString kEncryptedAccount = QStringLiteral("Ondaro/Encrypted/CachedAccountJson");

QString keyFilePath() { return CredentialStore::keyFilePath(); }
QString keyFolder() { return QFileInfo(keyFilePath()).absolutePath(); }

int modeOf(const QString& path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) return -1;
    return static_cast<int>(info.st_mode & 07777);
}

QByteArray randomBytes(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& b : bytes) b = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

QString storedText() { return QSettings().value(kEncryptedToken).toString(); }
QByteArray storedBlob() { return QByteArray::fromBase64(storedText().toLatin1()); }
void setStored(const QVariant& value) { QSettings().setValue(kEncryptedToken, value); }

}  // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT

    TestEnvironment m_env;

    // Makes encryption impossible: a plain file where the key folder has to be.
    void blockKeyFolder() {
        QDir(keyFolder()).removeRecursively();
        QVERIFY(testsupport::writeFile(keyFolder(), "not a folder"));
    }

    // The secret is gone (empty, nothing of it logged) and the store reports no usable token.
    void expectUnreadable(const char* why) {
        LogCapture logs;
        QVERIFY2(CredentialStore::retrieveSecret(kKey).isEmpty(), why);
        QVERIFY2(!logs.mentions(kToken), why);
        QVERIFY(CredentialStore::hasSecret(kKey));
        QVERIFY2(!SettingsManager().hasOndaroPrivateToken(), why);
    }

private Q_SLOTS:
    void initTestCase() {
        appidentity::apply();
        QVERIFY(QSettings().fileName().startsWith(m_env.configHome()));
        QVERIFY(keyFilePath().startsWith(m_env.configHome() + "/Ondaro/Ondaro Doredoradar/"));
    }

    void init() {
        QSettings settings;
        settings.clear();
        settings.sync();
        QFile::remove(keyFolder());  // left by blockKeyFolder
        QDir(keyFolder()).removeRecursively();
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

    // The first-launch mark, among others, outlives a logout.
    void logoutRemovesExactlyTheAccountKeys() {
        SettingsManager manager;
        QVERIFY(manager.isFirstLaunch());
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
        QVERIFY(!SettingsManager().isFirstLaunch());
    }

    void valuesRoundTripThroughAFileOnDisk() {
        {
            QSettings s;
            write(s, kAutoReconnect, false);
            write(s, kReconnectDelay, 12);
            write(s, kCrossfaderPosition, -0.25);
            write(s, kStreamName, QStringLiteral("Rock, Pop & \"More\""));
            write(s, kStreamDescription, QStringLiteral("@Variant(is only text here)"));
            write(s, kWindowGeometry, QByteArray("\x01\x02geometry", 10));
        }
        // Read back the way a later start does: from the file, not from this process's cache
        // (which keeps the values typed), so through a copy of the file.
        const QString copy = m_env.root() + QStringLiteral("/copy.conf");
        QFile::remove(copy);
        QVERIFY(QFile::copy(QSettings().fileName(), copy));
        // Serialized values a hand or a fault put there (one announcing a 4 GB text, one in a
        // list, one going on over the next line) go before they are decoded, even when the
        // file was opened once already, as the start-up does.
        QVERIFY(QSettings(copy, QSettings::IniFormat).contains(QStringLiteral("stream/name")));
        QFile file(copy);
        QVERIFY(file.open(QIODevice::Append));
        file.write("[audio]\ndeck1Device=@Variant(\\0\\0\\0\\n\\xff\\xff\\xff\\xfe)\n"
                   "deck2Device=Line In, @Variant(\\0\\0\\0\\x1)\nduckingKnee=\"@Variant(\\\n"
                   "\\0)\"\ndeck2Volume=7\n");
        file.close();
        QCOMPARE(settingsfile::removeSerializedVariants(copy),
                 QStringList({QStringLiteral("deck1Device"), QStringLiteral("deck2Device"),
                              QStringLiteral("duckingKnee")}));
        const QSettings fromFile(copy, QSettings::IniFormat);
        QCOMPARE(read(fromFile, kDeck1Device), QString());
        QCOMPARE(read(fromFile, kDeck2Volume), 7);
        QCOMPARE(read(fromFile, kDuckingKnee), kDuckingKnee.defaultValue);
        QCOMPARE(read(fromFile, kStreamDescription), QStringLiteral("@Variant(is only text here)"));
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

    // The rules themselves are the metadata manager's start-up check, and the store-back of the
    // corrected source is a property of the corrections' fuzz target; here, how a vanished file
    // is explained.
    void vanishedMetadataFileIsExplained() {
        const QString filePath = QStringLiteral("/nonexistent/np.txt");
        QSettings settings;
        write(settings, kMetadataSource, 1);
        write(settings, kMetadataFilePath, filePath);
        EncoderSettings encoder;

        const LoadTimeCorrections result = applyLoadTimeCorrections(settings, {}, {}, encoder);
        QCOMPARE(result.metadataSource, 0);
        QCOMPARE(read(QSettings(), kMetadataSource), 0);
        QCOMPARE(result.missingMetadataFile, filePath);
        QCOMPARE(missingMetadataFileTitle(), QStringLiteral("Metadata File Not Found"));
        QCOMPARE(missingMetadataFileText(filePath),
                 QStringLiteral("The saved metadata file was not found:\n/nonexistent/np.txt"
                                "\n\nMetadata source has been reset to Manual."));
    }

    // Exact matching of a saved device is a property of the corrections' fuzz target; an unnamed
    // device is never matched, not even by an unnamed entry.
    void unnamedDeviceNeverMatches() { QCOMPARE(savedDeviceIndex({QString()}, QString()), -1); }

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

    // A state without geometry is never restored: a property of the corrections' fuzz target.
    void windowStateWithGeometry() {
        QSettings settings;
        EncoderSettings encoder;
        write(settings, kWindowState, QByteArray("state"));
        write(settings, kWindowGeometry, QByteArray("geometry"));
        const LoadTimeCorrections result = applyLoadTimeCorrections(settings, {}, {}, encoder);
        QVERIFY(result.restoreWindowGeometry);
        QCOMPARE(result.windowGeometry, QByteArray("geometry"));
        QCOMPARE(result.windowState, QByteArray("state"));
    }

    void roundTripCreatesAPrivateKey() {
        LogCapture logs;
        QVERIFY(!QFile::exists(keyFilePath()));
        QVERIFY(CredentialStore::storeSecret(kKey, kToken));
        QCOMPARE(readFile(keyFilePath()).size(), 32);
        QCOMPARE(modeOf(keyFilePath()), 0600);
        QCOMPARE(modeOf(keyFolder()), 0700);

        // Version byte, 24-byte nonce, 16-byte MAC, then the UTF-8 text; Base64 with padding.
        const QString text = storedText();
        QVERIFY(QByteArray::fromBase64Encoding(text.toLatin1(),
                                               QByteArray::AbortOnBase64DecodingErrors));
        QCOMPARE(text.size() % 4, 0);
        QCOMPARE(storedBlob().size(), 1 + 24 + 16 + kToken.toUtf8().size());
        QCOMPARE(storedBlob().at(0), char(1));
        QCOMPARE(CredentialStore::retrieveSecret(kKey), kToken);

        // The same key serves later secrets; a fresh nonce makes every blob different.
        const QByteArray key = readFile(keyFilePath());
        QVERIFY(CredentialStore::storeSecret(kKey, kToken));
        QVERIFY(storedText() != text);
        QCOMPARE(readFile(keyFilePath()), key);

        const QString unicode = QStringLiteral("Ünïcødé ♫ token");
        QVERIFY(CredentialStore::storeSecret(kKey, unicode));
        QCOMPARE(CredentialStore::retrieveSecret(kKey), unicode);
        QVERIFY(CredentialStore::storeSecret(kKey, QString()));
        QCOMPARE(CredentialStore::retrieveSecret(kKey), QString());
        QVERIFY(!SettingsManager().hasOndaroPrivateToken());
        QVERIFY(!logs.mentions(kToken));
    }

    void damagedBlobsGiveNoToken() {
        QVERIFY(CredentialStore::storeSecret(kKey, kToken));
        const QByteArray good = storedBlob();
        const QString goodText = storedText();

        setStored(QStringLiteral("this is %%% not Base64"));
        expectUnreadable("not Base64");
        setStored(QStringLiteral("ÄÖÜ"));
        expectUnreadable("not Latin-1");
        setStored(goodText.left(20));
        expectUnreadable("truncated text");
        setStored(QString::fromLatin1(good.left(1 + 24 + 10).toBase64()));
        expectUnreadable("shorter than a MAC");
        setStored(QString::fromLatin1(good.left(good.size() - 1).toBase64()));
        expectUnreadable("last byte cut");

        QByteArray tampered = good;
        tampered[tampered.size() - 3] = static_cast<char>(tampered.at(tampered.size() - 3) ^ 0x01);
        setStored(QString::fromLatin1(tampered.toBase64()));
        expectUnreadable("one bit flipped");

        QByteArray otherVersion = good;
        otherVersion[0] = 2;
        setStored(QString::fromLatin1(otherVersion.toBase64()));
        expectUnreadable("unknown version");

        setStored(goodText);
        QCOMPARE(CredentialStore::retrieveSecret(kKey), kToken);
    }

    void wrongTypeInTheStoreReadsEmpty() {
        setStored(42);
        QCOMPARE(CredentialStore::retrieveSecret(kKey), QString());
        setStored(QStringList{QStringLiteral("a"), QStringLiteral("b")});
        QCOMPARE(CredentialStore::retrieveSecret(kKey), QString());
        setStored(QString());
        QCOMPARE(CredentialStore::retrieveSecret(kKey), QString());
        QVERIFY(!SettingsManager().hasOndaroPrivateToken());
    }

    // Another key, or a file of the wrong size: no token, and the next login works with a key
    // of the right size in the one key file.
    void foreignOrShortKeyFile_data() {
        QTest::addColumn<int>("size");
        QTest::newRow("another key") << 32;
        QTest::newRow("short key file") << 16;
    }

    void foreignOrShortKeyFile() {
        QFETCH(int, size);
        QVERIFY(CredentialStore::storeSecret(kKey, kToken));
        QVERIFY(testsupport::writeFile(keyFilePath(), randomBytes(size)));
        expectUnreadable(QTest::currentDataTag());
        QCOMPARE(readFile(keyFilePath()).size(), size);
        QVERIFY(CredentialStore::storeSecret(kKey, kToken));
        QCOMPARE(readFile(keyFilePath()).size(), 32);
        QCOMPARE(modeOf(keyFilePath()), 0600);
        QCOMPARE(CredentialStore::retrieveSecret(kKey), kToken);
        QCOMPARE(QDir(keyFolder()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("credentials.key")});
    }

    void deletedKeyFileLogsOutOnly() {
        SettingsManager manager;
        QVERIFY(manager.setOndaroPrivateToken(kToken));
        manager.setLastSelectedChannelId(QStringLiteral("ch-1"));
        QVERIFY(QFile::remove(keyFilePath()));

        expectUnreadable("key file deleted");
        QVERIFY(!QFile::exists(keyFilePath()));  // reading never makes a key
        QCOMPARE(manager.getLastSelectedChannelId(), QStringLiteral("ch-1"));

        QVERIFY(manager.setOndaroPrivateToken(kToken));
        QCOMPARE(manager.getOndaroPrivateToken(), kToken);
        QCOMPARE(modeOf(keyFilePath()), 0600);
    }

    void looserPermissionsAreTightened() {
        QVERIFY(CredentialStore::storeSecret(kKey, kToken));
        QVERIFY(::chmod(QFile::encodeName(keyFilePath()).constData(), 0644) == 0);
        QVERIFY(::chmod(QFile::encodeName(keyFolder()).constData(), 0755) == 0);

        QCOMPARE(CredentialStore::retrieveSecret(kKey), kToken);
        QCOMPARE(modeOf(keyFilePath()), 0600);
        QCOMPARE(modeOf(keyFolder()), 0700);
    }

    void unwritableSettingsFileIsAFailure() {
        bool passed = false;
        QString output;
        if (testsupport::rerunUnprivilegedIfRoot("unwritableSettingsFileIsAFailure", passed,
                                                 output)) {
            QVERIFY2(passed, qPrintable(output));
            return;
        }
        QVERIFY(CredentialStore::storeSecret(kKey, QStringLiteral("old-token")));
        const QString file = QSettings().fileName();
        const QString folder = QFileInfo(file).absolutePath();
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0400) == 0);
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0500) == 0);

        const bool stored = CredentialStore::storeSecret(kKey, kToken);
        const QString readBack = CredentialStore::retrieveSecret(kKey);
        ::chmod(QFile::encodeName(folder).constData(), 0700);
        ::chmod(QFile::encodeName(file).constData(), 0600);
        QVERIFY(!stored);
        QCOMPARE(readBack, QStringLiteral("old-token"));
    }

    void keyFolderOfAnotherUserIsRefused() {
        if (::geteuid() != 0) QSKIP("needs root to hand the folder to another user");
        QVERIFY(CredentialStore::storeSecret(kKey, QStringLiteral("first-token")));
        QVERIFY(::chown(QFile::encodeName(keyFolder()).constData(), 65534, 65534) == 0);
        expectUnreadable("folder of another user");
        QVERIFY(!CredentialStore::storeSecret(kKey, kToken));
        QVERIFY(::chown(QFile::encodeName(keyFolder()).constData(), 0, 0) == 0);
        QCOMPARE(CredentialStore::retrieveSecret(kKey), QStringLiteral("first-token"));
    }

    void symlinkedKeyIsNotFollowed() {
        QVERIFY(CredentialStore::storeSecret(kKey, kToken));
        const QString elsewhere = m_env.root() + QStringLiteral("/elsewhere.key");
        QFile::remove(elsewhere);
        QVERIFY(QFile::rename(keyFilePath(), elsewhere));
        QVERIFY(QFile::link(elsewhere, keyFilePath()));
        const QByteArray target = readFile(elsewhere);

        expectUnreadable("symbolic link");
        QVERIFY(CredentialStore::storeSecret(kKey, kToken));
        QVERIFY(!QFileInfo(keyFilePath()).isSymLink());
        QCOMPARE(readFile(elsewhere), target);
        QCOMPARE(CredentialStore::retrieveSecret(kKey), kToken);
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settings_store.moc"
