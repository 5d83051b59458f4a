#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QtTest>

#include "core/app_identity.h"
#include "core/credential_store.h"
#include "core/settings_manager.h"
#include "log_capture.h"
#include "platform/credential_protection.h"
#include "test_environment.h"

using testsupport::readFile;

namespace {

const QString kKey = QStringLiteral("PrivateToken");
const QString kStoreKey = QStringLiteral("Ondaro/Encrypted/PrivateToken");
const QString kToken = QStringLiteral("9b1c6f0e-55aa-4c1e-8f3d-0a7e2d4c6b18");

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

QString storedText() { return QSettings().value(kStoreKey).toString(); }
QByteArray storedBlob() { return QByteArray::fromBase64(storedText().toLatin1()); }
void setStored(const QVariant& value) { QSettings().setValue(kStoreKey, value); }

}  // namespace

class TestCredentialStore : public QObject {
    Q_OBJECT

    TestEnvironment m_env;

    // The secret is gone (empty, warning logged) and the store reports no usable token.
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
        QSettings().setValue("Ondaro/CredentialsMigrated", true);
        QVERIFY(keyFilePath().startsWith(m_env.configHome() + "/Ondaro/Ondaro Doredoradar/"));
    }

    void init() {
        CredentialStore::removeSecret(kKey);
        QFile::remove(keyFolder());
        QDir(keyFolder()).removeRecursively();
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

    void foreignKeyGivesNoToken() {
        QVERIFY(CredentialStore::storeSecret(kKey, kToken));
        QVERIFY(testsupport::writeFile(keyFilePath(), randomBytes(32)));
        expectUnreadable("another key");
        // A login after that works with the key now in place.
        QVERIFY(CredentialStore::storeSecret(kKey, kToken));
        QCOMPARE(CredentialStore::retrieveSecret(kKey), kToken);
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

    void wrongSizeKeyFileIsReplacedAtTheNextLogin() {
        QVERIFY(CredentialStore::storeSecret(kKey, kToken));
        QVERIFY(testsupport::writeFile(keyFilePath(), randomBytes(16)));
        expectUnreadable("short key file");
        QCOMPARE(readFile(keyFilePath()).size(), 16);
        QVERIFY(CredentialStore::storeSecret(kKey, kToken));
        QCOMPARE(readFile(keyFilePath()).size(), 32);
        QCOMPARE(modeOf(keyFilePath()), 0600);
        QCOMPARE(CredentialStore::retrieveSecret(kKey), kToken);
        QCOMPARE(QDir(keyFolder()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("credentials.key")});
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

QTEST_GUILESS_MAIN(TestCredentialStore)
#include "test_credential_store.moc"
