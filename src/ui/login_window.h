// The full-window login shown when there is no valid stored token.
#pragma once

#include <QMainWindow>
#include <QString>

#include "cloud/ondaro_models.h"

class QLabel;
class QLineEdit;
class QPushButton;
class OndaroApiClient;
class SettingsManager;

// Validates the token's form, asks the cloud service for the account, stores the token and
// reports success; the login session flow then replaces it by the main window. Main thread only.
class LoginWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit LoginWindow(QWidget* parent = nullptr);

Q_SIGNALS:
    // Only after the token was stored.
    void loginSuccessful(const OndaroAccount& account, const QString& privateToken);

private Q_SLOTS:
    void onLoginButtonClicked();
    void onTokenTextChanged(const QString& text);
    void onAccountInfoReceived(const OndaroAccount& account);
    void onApiError(const QString& errorMessage, int httpCode);
    void showHowToDialog();

private:
    void buildInterface();
    QWidget* buildCardHeader(QWidget* parent);
    QWidget* buildCardBody(QWidget* parent);
    // Back to the idle state after an answer.
    void finishLogin();

    QLabel* m_titleLabel = nullptr;
    QLineEdit* m_tokenInput = nullptr;
    QPushButton* m_connectButton = nullptr;
    QLabel* m_errorLabel = nullptr;
    OndaroApiClient* m_apiClient = nullptr;
    SettingsManager* m_settingsManager = nullptr;
    bool m_isLoggingIn = false;
};
