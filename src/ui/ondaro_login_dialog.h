// The compact modal login the main window opens on demand.
#pragma once

#include <QDialog>
#include <QString>

#include "cloud/ondaro_models.h"

class QLabel;
class QLineEdit;
class QPushButton;
class OndaroApiClient;

// Validates the token's form and asks the cloud service for the account; the caller stores the
// token from `loginSuccessful`. Main thread only.
class OndaroLoginDialog : public QDialog {
    Q_OBJECT

public:
    explicit OndaroLoginDialog(QWidget* parent = nullptr);

    // However the dialog ends (Escape, the close button, Cancel), a request still in flight is
    // dropped, so an answer arriving after the user gave up logs nobody in.
    void done(int result) override;

Q_SIGNALS:
    void loginSuccessful(const OndaroAccount& account, const QString& privateToken);

private Q_SLOTS:
    void onLoginButtonClicked();
    void onCancelButtonClicked();
    void onTokenTextChanged(const QString& text);
    void onAccountInfoReceived(const OndaroAccount& account);
    void onApiError(const QString& errorMessage, int httpCode);

private:
    void buildInterface();
    void setLoading(bool loading);
    void showError(const QString& text);

    QLineEdit* m_tokenInput = nullptr;
    QPushButton* m_loginButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QLabel* m_statusLabel = nullptr;
    QLabel* m_errorLabel = nullptr;
    QLabel* m_instructionsLabel = nullptr;
    OndaroApiClient* m_apiClient = nullptr;
    bool m_loading = false;
    OndaroAccount m_account;
    QString m_pendingToken;
};
