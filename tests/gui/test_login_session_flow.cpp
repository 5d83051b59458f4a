// From start-up to the right window against the stand-in cloud, on Xvfb: no token, a token handed
// over in a file, a refused token, an unreachable service, and back to the login after a logout.
#include <QApplication>
#include <QFile>
#include <QtTest>

#include "core/app_identity.h"
#include "core/settings_manager.h"
#include "dev_cloud_server.h"
#include "http_receiver.h"
#include "maintenance/crash_envelope.h"
#include "maintenance/crash_reporting.h"
#include "pulse_server.h"
#include "test_environment.h"
#include "ui/loading_window.h"
#include "ui/login_session_flow.h"
#include "ui/login_window.h"
#include "ui/main_window.h"
#include "xvfb_server.h"

class TestLoginSessionFlow : public QObject {
    Q_OBJECT

    std::unique_ptr<DevCloudServer> m_cloud;
    HttpReceiver m_usageReceiver;  // where the usage events go
    QString m_token;
    QTemporaryDir m_dir;
    QStringList m_alerts;

    // A flow over a fresh loading window, as main() runs it.
    std::unique_ptr<LoginSessionFlow> startFlow() {
        auto flow = std::make_unique<LoginSessionFlow>(new LoadingWindow);
        flow->setAlert([this](const QString& title, const QString& text) {
            m_alerts << title + QStringLiteral(": ") + text;
        });
        flow->start();
        return flow;
    }

    QString tokenFile(QFileDevice::Permissions permissions) {
        const QString path = m_dir.filePath(QStringLiteral("token"));
        if (!testsupport::writeFile(path, m_token.toUtf8() + "\n")) return {};
        QFile::setPermissions(path, permissions);
        return path;
    }

private Q_SLOTS:
    void initTestCase() {
        m_cloud = std::make_unique<DevCloudServer>();
        m_token = m_cloud->addAccount({});
        QString error;
        QVERIFY2(m_cloud->start(&error), qPrintable(error));
        m_cloud->exportEnvironment();
        appidentity::apply();
        QVERIFY(m_usageReceiver.listen());
        qputenv("ONDARO_CRASH_DSN",
                QStringLiteral("http://key@127.0.0.1:%1/42").arg(m_usageReceiver.port()).toUtf8());
        startCrashReporting();
        QVERIFY(isCrashReportingEnabled());
    }

    // The very first start: the install event once, before the start event; without a token the
    // loading window says "Ready" and then gives way to the login window. A second start sends
    // the start event alone.
    void firstStartWithoutToken() {
        QString statusDuringPause;
        bool loginDuringPause = false;
        std::unique_ptr<LoginSessionFlow> flow;
        QTimer::singleShot(LoginSessionFlow::kNoTokenPauseMs / 2, this, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* loading = qobject_cast<LoadingWindow*>(widget))
                    statusDuringPause = loading->status();
                if (qobject_cast<LoginWindow*>(widget)) loginDuringPause = true;
            }
        });
        flow = startFlow();
        QCOMPARE(statusDuringPause, QStringLiteral("Ready"));
        QVERIFY(!loginDuringPause);
        QVERIFY(flow->loginWindow() && flow->loginWindow()->isVisible());
        flow.reset();
        flow = startFlow();

        const auto messages = [this] {
            QStringList names;
            for (const HttpReceiver::Request& request : m_usageReceiver.requests()) {
                names << crash::eventFromEnvelope(request.body)
                             .value(QStringLiteral("message"))
                             .toObject()
                             .value(QStringLiteral("formatted"))
                             .toString();
            }
            return names;
        };
        QTRY_COMPARE_WITH_TIMEOUT(m_usageReceiver.requestCount(), 3, 10000);
        QCOMPARE(messages(), (QStringList{"app.install", "app.start", "app.start"}));
    }

    void cleanupTestCase() { shutdownCrashReporting(); }

    void init() {
        m_alerts.clear();
        SettingsManager().clearAllOndaroSettings();
        QVERIFY(m_cloud->setFaults(m_token, {}));
    }

    // A token handed over in a private file is stored as if typed and opens the main window;
    // a logout brings the login window back, and the main window goes.
    void handedOverTokenAndLogout() {
        const QString path = tokenFile(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        qputenv(LoginSessionFlow::kTokenFileVariable, path.toUtf8());
        auto flow = startFlow();
        QVERIFY(!QFile::exists(path) &&
                qEnvironmentVariableIsEmpty(LoginSessionFlow::kTokenFileVariable));
        QTRY_VERIFY_WITH_TIMEOUT(flow->mainWindow(), 15000);
        QCOMPARE(SettingsManager().getOndaroPrivateToken(), m_token);
        QPointer<MainWindow> main = flow->mainWindow();
        Q_EMIT main->logoutRequested();
        QVERIFY(flow->loginWindow() && flow->loginWindow()->isVisible());
        QTRY_VERIFY(!main);
        QVERIFY(m_alerts.isEmpty());
    }

    // A token file others can read is ignored; with nothing stored the login window comes.
    void exposedTokenFileIsIgnored() {
        const QString path =
            tokenFile(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
        qputenv(LoginSessionFlow::kTokenFileVariable, path.toUtf8());
        auto flow = startFlow();
        QVERIFY(flow->loginWindow() && !flow->mainWindow());
        QVERIFY(!SettingsManager().hasOndaroPrivateToken());
    }

    // A refused token is forgotten without an alert; a service that fails otherwise keeps it
    // and says it could not connect.
    void failedValidation() {
        QVERIFY(SettingsManager().setOndaroPrivateToken(m_token));
        QVERIFY(m_cloud->setFaults(m_token,
                                   QJsonObject{{QStringLiteral("account_info"),
                                                QJsonObject{{QStringLiteral("status"), 500}}}}));
        {
            auto flow = startFlow();
            QTRY_VERIFY_WITH_TIMEOUT(flow->loginWindow(), 15000);
            QCOMPARE(m_alerts.size(), 1);
            QVERIFY(m_alerts.first().startsWith(QStringLiteral("Connection Failed: ")));
            QVERIFY(SettingsManager().hasOndaroPrivateToken());
        }
        m_alerts.clear();
        SettingsManager().setLastSelectedChannelId(QStringLiteral("channel-kept"));
        QVERIFY(m_cloud->setFaults(m_token,
                                   QJsonObject{{QStringLiteral("account_info"),
                                                QJsonObject{{QStringLiteral("status"), 403}}}}));
        {
            auto flow = startFlow();
            QTRY_VERIFY_WITH_TIMEOUT(flow->loginWindow(), 15000);
            QVERIFY(m_alerts.isEmpty());
            QVERIFY(SettingsManager().hasOndaroPrivateToken());
            QCOMPARE(SettingsManager().getLastSelectedChannelId(), QStringLiteral("channel-kept"));
        }
        QVERIFY(m_cloud->setFaults(m_token,
                                   QJsonObject{{QStringLiteral("account_info"),
                                                QJsonObject{{QStringLiteral("status"), 401}}}}));
        auto flow = startFlow();
        QTRY_VERIFY_WITH_TIMEOUT(flow->loginWindow(), 15000);
        QVERIFY(m_alerts.isEmpty() && !flow->mainWindow());
        QVERIFY(!SettingsManager().hasOndaroPrivateToken());
        QVERIFY(SettingsManager().getLastSelectedChannelId().isEmpty());
    }
};

int main(int argc, char** argv) {
    TestEnvironment environment;
    XvfbServer xvfb;
    PulseServer pulse;  // the main window's capture talks to a sound server of the test's own
    QString error;
    if (!xvfb.start(&error) || !pulse.start(&error)) qFatal("%s", qPrintable(error));
    xvfb.applyToProcess();
    pulse.applyToProcess();
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestLoginSessionFlow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_login_session_flow.moc"
