// Both login variants against the stand-in cloud: what gets stored, and what the user is told.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUuid>
#include <QtTest>

#include <memory>

#include "core/app_identity.h"
#include "core/credential_store.h"
#include "core/settings_manager.h"
#include "dev_cloud_server.h"
#include "test_environment.h"
#include "ui/alert_dialog.h"
#include "ui/login_window.h"
#include "ui/ondaro_login_dialog.h"

namespace {

const QJsonObject kDelayed{{"account_info", QJsonObject{{"delay_ms", 1500}}}};

// The alert blocks in its own loop: its texts are read and it is closed from inside, whenever it
// opens within `withinMs`.
void readNextAlert(QStringList& texts, int withinMs = 10000) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll, &texts, deadline = QDeadlineTimer(withinMs)] {
        auto* alert = qobject_cast<AlertDialog*>(QApplication::activeModalWidget());
        if (alert) {
            for (QLabel* label : alert->findChildren<QLabel*>()) texts << label->text();
            alert->reject();
        }
        if (alert || deadline.hasExpired()) delete poll;
    });
    poll->start(20);
}

QString unusedToken() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

}  // namespace

class TestLoginWindows : public QObject {
    Q_OBJECT

    TestEnvironment m_env;
    std::unique_ptr<DevCloudServer> m_cloud;
    QString m_token;
    QString m_upperToken;

    struct Login {
        LoginWindow window;
        QLineEdit* input = window.findChild<QLineEdit*>(QStringLiteral("loginTokenInput"));
        QPushButton* button = window.findChild<QPushButton*>(QStringLiteral("loginConnectButton"));
        QLabel* error = window.findChild<QLabel*>(QStringLiteral("loginErrorLabel"));
        QSignalSpy success{&window, &LoginWindow::loginSuccessful};

        void submit(const QString& token) {
            input->setText(token);
            QTest::mouseClick(button, Qt::LeftButton);
        }
    };

    QStringList refusedAlert(const QString& token) {
        Login login;
        QStringList texts;
        readNextAlert(texts);
        login.submit(token);
        return texts;
    }

private Q_SLOTS:
    void initTestCase() {
        m_cloud = std::make_unique<DevCloudServer>();
        m_token = m_cloud->addAccount({});
        DevCloudServer::Account upper;
        upper.token = unusedToken().toUpper();
        m_upperToken = m_cloud->addAccount(upper);
        QString error;
        QVERIFY2(m_cloud->start(&error), qPrintable(error));
        m_cloud->exportEnvironment();
        // Only now: applied before the stand-in started, its HTTPS control requests fail.
        appidentity::apply();
    }

    void init() {
        SettingsManager().clearOndaroPrivateToken();
        QVERIFY(m_cloud->setFaults(m_token, {}));
    }

    void tokenFormAndStorage() {
        {
            Login login;
            login.submit(QStringLiteral("  ") + m_token + QStringLiteral("\t "));
            QTRY_COMPARE_WITH_TIMEOUT(login.success.count(), 1, 10000);
            QCOMPARE(login.success.first().at(1).toString(), m_token);
            QCOMPARE(SettingsManager().getOndaroPrivateToken(), m_token);
            QVERIFY(
                !QSettings().value("Ondaro/Encrypted/PrivateToken").toString().contains(m_token));
        }
        {
            Login login;
            login.submit(m_upperToken);
            QTRY_COMPARE_WITH_TIMEOUT(login.success.count(), 1, 10000);
            QCOMPARE(SettingsManager().getOndaroPrivateToken(), m_upperToken);
        }
        const QString formatText = QStringLiteral(
            "Invalid token format. Token must be in UUID format (e.g., "
            "5b2e9c41-0d7a-4f36-b8e1-3a9c6d20f4e7)");
        QVERIFY(refusedAlert(QLatin1Char('{') + m_token + QLatin1Char('}')).contains(formatText));
        QVERIFY(refusedAlert(QString(m_token).remove(QLatin1Char('-'))).contains(formatText));
    }

    // Locked while the answer is delayed, unlocked after it; a refused token is never stored.
    void pendingLoginAndRejectedToken() {
        QVERIFY(m_cloud->setFaults(m_token, kDelayed));
        {
            Login login;
            login.submit(m_token);
            QVERIFY(!login.input->isEnabled() && !login.button->isEnabled());
            QTRY_COMPARE_WITH_TIMEOUT(login.success.count(), 1, 10000);
            QVERIFY(login.input->isEnabled() && login.button->isEnabled());
        }
        SettingsManager().clearOndaroPrivateToken();
        Login login;
        QStringList texts;
        readNextAlert(texts);
        login.submit(unusedToken());
        QTRY_VERIFY_WITH_TIMEOUT(!texts.isEmpty(), 10000);
        QVERIFY(texts.contains(
            QStringLiteral("Invalid token. Please check your Private Token and try again.")));
        QCOMPARE(login.success.count(), 0);
        QVERIFY(!SettingsManager().hasOndaroPrivateToken());
    }

    // A service that never answers: the client gives up after its 20 s and the user is told.
    void stalledService() {
        QVERIFY(m_cloud->setFaults(
            m_token, QJsonObject{{QStringLiteral("account_info"),
                                  QJsonObject{{QStringLiteral("stall"), true}}}}));
        Login login;
        QStringList texts;
        readNextAlert(texts, 30000);
        login.submit(m_token);
        QTRY_VERIFY_WITH_TIMEOUT(!texts.isEmpty(), 30000);
        QVERIFY2(texts.contains(QStringLiteral("Login failed: Request timeout. Please check your "
                                               "internet connection and try again.")),
                 qPrintable(texts.join(QLatin1Char('|'))));
        QVERIFY(login.input->isEnabled() && !SettingsManager().hasOndaroPrivateToken());
    }

    // A read-only key folder: the account arrives, but the token cannot be sealed.
    void unstorableTokenIsNoLogin() {
        bool passed = false;
        QString output;
        if (testsupport::rerunUnprivilegedIfRoot("unstorableTokenIsNoLogin", passed, output)) {
            QVERIFY2(passed, qPrintable(output));
            return;
        }
        const QString keyFolder = QFileInfo(CredentialStore::keyFilePath()).absolutePath();
        QDir(keyFolder).removeRecursively();
        QVERIFY(QDir().mkpath(keyFolder));
        QVERIFY(QFile::setPermissions(keyFolder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));

        Login login;
        login.submit(m_token);
        QTRY_VERIFY_WITH_TIMEOUT(!login.error->isHidden(), 10000);
        QVERIFY(login.error->text().contains(QStringLiteral("could not be saved")));
        QCOMPARE(login.success.count(), 0);
        QVERIFY(!SettingsManager().hasOndaroPrivateToken());
        QVERIFY(QFile::setPermissions(
            keyFolder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    }

    void compactDialog() {
        OndaroLoginDialog dialog;
        QSignalSpy success(&dialog, &OndaroLoginDialog::loginSuccessful);
        auto* input = dialog.findChild<QLineEdit*>();
        auto* login = dialog.findChild<QPushButton*>(QStringLiteral("ondaroLoginButton"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        input->setFocus();
        QTest::keyClicks(input, QStringLiteral("xyz{") + m_token.left(35));
        QCOMPARE(input->text(), m_token.left(35));  // what can never become a token is refused
        QVERIFY(!login->isEnabled());
        QTest::keyClicks(input, m_token.right(1));
        QVERIFY(login->isEnabled());

        // Given up while the answer is delayed: the late answer logs nobody in.
        QVERIFY(m_cloud->setFaults(m_token, kDelayed));
        QTest::mouseClick(login, Qt::LeftButton);
        QVERIFY(!input->isEnabled());
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QTest::qWait(2500);
        QCOMPARE(success.count(), 0);
    }
};

QTEST_MAIN(TestLoginWindows)
#include "test_login_windows.moc"
