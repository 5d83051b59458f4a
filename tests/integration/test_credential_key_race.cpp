#include <QtTest>

#include "managed_process.h"
#include "platform/credential_protection.h"

// The application's own key file, as the credential store names it.
const platform::KeyFileContext kKeyFile{"Ondaro/Ondaro Doredoradar", nullptr};
#include "test_environment.h"

namespace {

constexpr int kRounds = 12;

QString childPath() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/credential_key_child");
}

QByteArray blobFrom(const QString& output) {
    const auto match =
        QRegularExpression(QStringLiteral("^BLOB (\\S+)$"), QRegularExpression::MultilineOption)
            .match(output);
    return match.hasMatch() ? QByteArray::fromBase64(match.captured(1).toLatin1()) : QByteArray();
}

QString unprotect(const QByteArray& blob) {
    const platform::ByteVector bytes(blob.cbegin(), blob.cend());
    platform::ByteVector plain;
    std::string error;
    if (!platform::unprotectData(kKeyFile, bytes, plain, error))
        return QStringLiteral("<%1>").arg(error.c_str());
    return QString::fromUtf8(reinterpret_cast<const char*>(plain.data()),
                             static_cast<qsizetype>(plain.size()));
}

}  // namespace

class TestCredentialKeyRace : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Two starts at the same moment, each finding no key, must end with one key file that
    // opens what both of them sealed.
    void twoProcessesCreatingTheKeyShareOne() {
        for (int round = 0; round < kRounds; ++round) {
            TestEnvironment env;  // a fresh, empty config folder for this round
            const QString goFile = env.root() + QStringLiteral("/go");
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("XDG_CONFIG_HOME"), env.configHome());

            ManagedProcess first;
            ManagedProcess second;
            QVERIFY(first.start(childPath(), {QStringLiteral("secret-one"), goFile}, environment));
            QVERIFY(second.start(childPath(), {QStringLiteral("secret-two"), goFile}, environment));
            QTRY_VERIFY_WITH_TIMEOUT(first.output().contains(QStringLiteral("READY")), 10000);
            QTRY_VERIFY_WITH_TIMEOUT(second.output().contains(QStringLiteral("READY")), 10000);
            QFile go(goFile);
            QVERIFY(go.open(QIODevice::WriteOnly));
            go.close();

            for (ManagedProcess* child : {&first, &second}) {
                QVERIFY(child->process()->waitForFinished(20000));
                QVERIFY2(child->process()->exitCode() == 0, qPrintable(child->output()));
            }
            QVERIFY(first.output().contains(QStringLiteral("OPENED secret-one")));
            QVERIFY(second.output().contains(QStringLiteral("OPENED secret-two")));

            const QString keyFile =
                QString::fromStdString(platform::credentialKeyFilePath(kKeyFile));
            QVERIFY(keyFile.startsWith(env.configHome()));
            const QStringList left = QFileInfo(keyFile).absoluteDir().entryList(
                QDir::Files | QDir::Hidden | QDir::System);
            QCOMPARE(left, QStringList{QStringLiteral("credentials.key")});
            QCOMPARE(QFileInfo(keyFile).size(), 32);

            QCOMPARE(unprotect(blobFrom(first.output())), QStringLiteral("secret-one"));
            QCOMPARE(unprotect(blobFrom(second.output())), QStringLiteral("secret-two"));
        }
    }
};

QTEST_GUILESS_MAIN(TestCredentialKeyRace)
#include "test_credential_key_race.moc"
