// From start-up to the right window: the stored token validated behind the loading window, the
// login window when there is none or it is refused, and back to it after a logout.
#pragma once

#include <functional>

#include <QObject>
#include <QPointer>
#include <QString>

#include "cloud/ondaro_models.h"

class LoadingWindow;
class LoginWindow;
class MainWindow;
class OndaroApiClient;
class SettingsManager;
class UpdateManager;

// Lives for the whole event loop. At most one login window and one main window exist at a time;
// windows go by scheduled deletion, never at once. Main thread only.
class LoginSessionFlow : public QObject {
    Q_OBJECT

public:
    static constexpr int kNoTokenPauseMs = 300;
    // Names a file, readable by the user alone, holding a private token that a launcher hands
    // over (the local demo does): it is stored as if typed into the login window and the file
    // is removed. A token never travels on a command line, where every user could read it.
    static constexpr char kTokenFileVariable[] = "DOREDORADAR_TOKEN_FILE";

    // `loadingWindow` may be null; it is hidden and deleted once the first window shows.
    explicit LoginSessionFlow(LoadingWindow* loadingWindow, QObject* parent = nullptr);
    // Deletes the windows it still holds.
    ~LoginSessionFlow() override;

    // Creates the services, sends the start-up usage events and starts towards the first
    // window. Returns at once (after the short pause without a token).
    void start();

    LoginWindow* loginWindow() const;
    MainWindow* mainWindow() const;
    // Shows the start-up connection alert; tests replace it. Returns once it was closed.
    void setAlert(std::function<void(const QString& title, const QString& message)> alert);

Q_SIGNALS:
    void loginWindowShown();
    void mainWindowShown();

private:
    void showLoginWindow();
    void showMainWindow(const OndaroAccount& account);
    void onLogoutRequested();
    void onTokenValidationFailed(const QString& errorMessage, int httpCode);
    void dismissLoadingWindow();
    void adoptHandedOverToken();

    QPointer<LoadingWindow> m_loadingWindow;
    QPointer<LoginWindow> m_loginWindow;
    QPointer<MainWindow> m_mainWindow;
    SettingsManager* m_settings = nullptr;
    OndaroApiClient* m_apiClient = nullptr;
    UpdateManager* m_updateManager = nullptr;
    std::function<void(const QString&, const QString&)> m_alert;
};
