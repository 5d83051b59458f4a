// From start-up to the right window, and back to the login window after a logout.
#include "ui/login_session_flow.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include "build_config.h"
#include "cloud/ondaro_api_client.h"
#include "core/log_categories.h"
#include "core/settings_manager.h"
#include "maintenance/crash_reporting.h"
#include "maintenance/update_manager.h"
#include "ui/alert_dialog.h"
#include "ui/loading_window.h"
#include "ui/login_token.h"
#include "ui/login_window.h"
#include "ui/main_window.h"

namespace {

// Answers that say the token itself is the problem (or the service turns us away for now): no
// alert, straight to the login window.
bool isTokenAnswer(int httpCode) {
    switch (httpCode) {
        case 401:
        case 403:
        case 404:
        case 405:
        case 429:
        case 503:
            return true;
        default:
            return false;
    }
}

}  // namespace

LoginSessionFlow::LoginSessionFlow(LoadingWindow* loadingWindow, QObject* parent)
    : QObject(parent), m_loadingWindow(loadingWindow) {
    m_alert = [](const QString& title, const QString& message) {
        AlertDialog::showError(nullptr, title, message);
    };
}

LoginSessionFlow::~LoginSessionFlow() {
    delete m_mainWindow;
    delete m_loginWindow;
    delete m_loadingWindow;
}

LoginWindow* LoginSessionFlow::loginWindow() const { return m_loginWindow; }

MainWindow* LoginSessionFlow::mainWindow() const { return m_mainWindow; }

void LoginSessionFlow::setAlert(std::function<void(const QString&, const QString&)> alert) {
    m_alert = std::move(alert);
}

void LoginSessionFlow::start() {
    m_settings = new SettingsManager(this);
    m_apiClient = new OndaroApiClient(this);
    m_updateManager = new UpdateManager(this);
    m_updateManager->setFeedUrl(QString::fromLatin1(buildconfig::kUpdateFeedUrl));
    m_updateManager->setChannel(QStringLiteral("stable"));
    m_updateManager->initialize();

    if (m_settings->isFirstLaunch()) {
        trackAppInstall();
        m_settings->markFirstLaunchComplete();
    }
    trackAppStart();
    adoptHandedOverToken();

    if (m_settings->hasOndaroPrivateToken()) {
        if (m_loadingWindow)
            m_loadingWindow->setStatus(QStringLiteral("Validating credentials..."));
        QCoreApplication::processEvents();
        connect(m_apiClient, &OndaroApiClient::accountInfoReceived, this,
                [this](const OndaroAccount& account) {
                    qCInfo(lcMain) << "Token validated successfully for" << account.email;
                    showMainWindow(account);
                });
        connect(m_apiClient, &OndaroApiClient::errorOccurred, this,
                &LoginSessionFlow::onTokenValidationFailed);
        m_apiClient->fetchAccountInfo(m_settings->getOndaroPrivateToken());
        return;
    }
    if (m_loadingWindow) m_loadingWindow->setStatus(QStringLiteral("Ready"));
    QEventLoop pause;
    QTimer::singleShot(kNoTokenPauseMs, &pause, &QEventLoop::quit);
    pause.exec();
    showLoginWindow();
}

void LoginSessionFlow::adoptHandedOverToken() {
    const QString path = qEnvironmentVariable(kTokenFileVariable);
    if (path.isEmpty()) return;
    qunsetenv(kTokenFileVariable);  // programs started from here never see it
    QFile file(path);
    if (file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther)) {
        qCWarning(lcMain) << "Ignoring the handed-over token: its file is readable by others:"
                          << path;
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcMain) << "Cannot read the handed-over token file:" << path
                          << file.errorString();
        return;
    }
    const QString token = QString::fromUtf8(file.read(1024)).trimmed();
    file.close();
    file.remove();
    if (!logintoken::hasTokenFormat(token)) {
        qCWarning(lcMain) << "Ignoring the handed-over token: it is not a private token";
        return;
    }
    if (m_settings->setOndaroPrivateToken(token))
        qCInfo(lcMain) << "Stored the private token handed over at start-up";
}

void LoginSessionFlow::dismissLoadingWindow() {
    if (!m_loadingWindow) return;
    m_loadingWindow->hide();
    m_loadingWindow->deleteLater();
    m_loadingWindow = nullptr;
}

void LoginSessionFlow::showLoginWindow() {
    if (m_loginWindow) return;
    dismissLoadingWindow();
    m_loginWindow = new LoginWindow;
    m_loginWindow->show();
    connect(m_loginWindow, &LoginWindow::loginSuccessful, this,
            [this](const OndaroAccount& account, const QString&) {
                qCInfo(lcMain) << "Login successful, showing main window";
                showMainWindow(account);
            });
    Q_EMIT loginWindowShown();
}

void LoginSessionFlow::showMainWindow(const OndaroAccount& account) {
    if (m_mainWindow) return;
    setCrashReportingUser(account.publicToken, account.email);
    addBreadcrumb(QStringLiteral("auth"), QStringLiteral("User logged in"),
                  QStringLiteral("default"));
    dismissLoadingWindow();
    if (m_loginWindow) {
        m_loginWindow->hide();
        m_loginWindow->deleteLater();
        m_loginWindow = nullptr;
    }
    m_mainWindow = new MainWindow(m_updateManager);
    connect(m_mainWindow, &MainWindow::logoutRequested, this, &LoginSessionFlow::onLogoutRequested);
    m_mainWindow->show();
    Q_EMIT mainWindowShown();
}

void LoginSessionFlow::onLogoutRequested() {
    qCInfo(lcMain) << "Logout requested, closing main window and showing login window";
    clearCrashReportingUser();
    addBreadcrumb(QStringLiteral("auth"), QStringLiteral("User logged out"),
                  QStringLiteral("default"));
    if (m_mainWindow) {
        m_mainWindow->hide();
        m_mainWindow->deleteLater();
        m_mainWindow = nullptr;
    }
    showLoginWindow();
}

void LoginSessionFlow::onTokenValidationFailed(const QString& errorMessage, int httpCode) {
    // Only the start-up validation decides here; the main window has its own account requests.
    if (m_mainWindow || m_loginWindow) return;
    qCWarning(lcMain) << "Token validation failed:" << errorMessage << "HTTP code:" << httpCode;
    addBreadcrumb(QStringLiteral("auth"),
                  QStringLiteral("Token validation failed (HTTP %1)").arg(httpCode),
                  QStringLiteral("error"));
    if (!isTokenAnswer(httpCode)) {
        // The loading window stays up behind the alert, so the screen is never empty.
        m_alert(QStringLiteral("Connection Failed"),
                QStringLiteral("Unable to connect to Ondaro servers. Please\ncheck your internet "
                               "connection and try again."));
        showLoginWindow();
        return;
    }
    dismissLoadingWindow();
    if (httpCode == 401) m_settings->clearAllOndaroSettings();
    showLoginWindow();
}
