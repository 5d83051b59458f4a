// The compact modal login the main window opens on demand.
#include "ui/ondaro_login_dialog.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "build_config.h"
#include "cloud/ondaro_api_client.h"
#include "core/log_categories.h"
#include "ui/dark_title_bar.h"
#include "ui/login_token.h"

OndaroLoginDialog::OndaroLoginDialog(QWidget* parent) : QDialog(parent) {
    m_apiClient = new OndaroApiClient(this);
    connect(m_apiClient, &OndaroApiClient::accountInfoReceived, this,
            &OndaroLoginDialog::onAccountInfoReceived);
    connect(m_apiClient, &OndaroApiClient::errorOccurred, this, &OndaroLoginDialog::onApiError);
    buildInterface();
}

void OndaroLoginDialog::buildInterface() {
    setModal(true);
    setWindowTitle(QStringLiteral("Ondaro Cloud Login"));
    setMinimumWidth(500);
    auto* layout = new QVBoxLayout(this);

    auto* howTo = new QGroupBox(QStringLiteral("How to get your Private Token:"), this);
    auto* howToLayout = new QVBoxLayout(howTo);
    const QString website = QLatin1String(buildconfig::kWebsiteUrl);
    m_instructionsLabel =
        new QLabel(QStringLiteral("1. Log in to your Ondaro Cloud account at <a href=\"%1\">%1</a>"
                                  "<br>2. Navigate to the API Token page"
                                  "<br>3. Copy your Private Token (UUID format like: %2)"
                                  "<br>4. Paste it below")
                       .arg(website, QLatin1String(logintoken::kExampleToken)),
                   howTo);
    m_instructionsLabel->setTextFormat(Qt::RichText);
    m_instructionsLabel->setWordWrap(true);
    m_instructionsLabel->setOpenExternalLinks(true);
    m_instructionsLabel->setAccessibleName(QStringLiteral("How to get your Private Token"));
    howToLayout->addWidget(m_instructionsLabel);
    layout->addWidget(howTo);

    auto* tokenGroup = new QGroupBox(QStringLiteral("Private Token:"), this);
    auto* form = new QFormLayout(tokenGroup);
    m_tokenInput = new QLineEdit(tokenGroup);
    m_tokenInput->setPlaceholderText(QStringLiteral("Enter your Private Token (UUID format)"));
    m_tokenInput->setClearButtonEnabled(true);
    // Partial input of the pattern stays Intermediate, so a token can be typed character by
    // character while anything that can never become one is refused. Surrounding white space is
    // let in because a copied token often carries some, and every use trims it.
    m_tokenInput->setValidator(
        new QRegularExpressionValidator(logintoken::typingPattern(), m_tokenInput));
    m_tokenInput->setAccessibleName(QStringLiteral("Private Token"));
    form->addRow(QStringLiteral("Token:"), m_tokenInput);
    layout->addWidget(tokenGroup);
    connect(m_tokenInput, &QLineEdit::textChanged, this, &OndaroLoginDialog::onTokenTextChanged);

    m_statusLabel = new QLabel(this);
    m_statusLabel->setAlignment(Qt::AlignCenter);
    m_statusLabel->setStyleSheet(QStringLiteral("QLabel { color: blue; font-weight: bold; }"));
    m_statusLabel->setAccessibleName(QStringLiteral("Login status"));
    m_statusLabel->hide();
    layout->addWidget(m_statusLabel);

    m_errorLabel = new QLabel(this);
    m_errorLabel->setAlignment(Qt::AlignCenter);
    m_errorLabel->setWordWrap(true);
    m_errorLabel->setStyleSheet(QStringLiteral("QLabel { color: red; font-weight: bold; }"));
    m_errorLabel->setAccessibleName(QStringLiteral("Login error"));
    m_errorLabel->hide();
    layout->addWidget(m_errorLabel);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("ondaroCancelButton"));
    m_cancelButton->setAccessibleName(QStringLiteral("Cancel"));
    m_cancelButton->setAutoDefault(false);
    buttons->addWidget(m_cancelButton);
    m_loginButton = new QPushButton(QStringLiteral("Login"), this);
    m_loginButton->setObjectName(QStringLiteral("ondaroLoginButton"));
    m_loginButton->setAccessibleName(QStringLiteral("Login"));
    m_loginButton->setEnabled(false);
    m_loginButton->setDefault(true);
    buttons->addWidget(m_loginButton);
    layout->addLayout(buttons);
    connect(m_cancelButton, &QPushButton::clicked, this, &OndaroLoginDialog::onCancelButtonClicked);
    connect(m_loginButton, &QPushButton::clicked, this, &OndaroLoginDialog::onLoginButtonClicked);

    setTabOrder(m_tokenInput, m_cancelButton);
    setTabOrder(m_cancelButton, m_loginButton);
    applyDarkTitleBar(this);
}

void OndaroLoginDialog::setLoading(bool loading) {
    m_loading = loading;
    m_tokenInput->setEnabled(!loading);
    m_loginButton->setEnabled(!loading && logintoken::hasTokenFormat(m_tokenInput->text()));
    m_cancelButton->setEnabled(!loading);
    if (loading) {
        m_loginButton->setText(QStringLiteral("Validating..."));
        m_statusLabel->setText(
            QStringLiteral("Validating your Private Token with Ondaro Cloud..."));
        m_statusLabel->show();
    } else {
        m_loginButton->setText(QStringLiteral("Login"));
        m_statusLabel->hide();
    }
}

void OndaroLoginDialog::showError(const QString& text) {
    m_errorLabel->setText(text);
    m_errorLabel->show();
}

void OndaroLoginDialog::onTokenTextChanged(const QString& text) {
    m_errorLabel->clear();
    m_errorLabel->hide();
    m_loginButton->setEnabled(!m_loading && logintoken::hasTokenFormat(text));
}

void OndaroLoginDialog::onLoginButtonClicked() {
    const QString token = m_tokenInput->text().trimmed();
    if (token.isEmpty()) {
        showError(logintoken::emptyTokenMessage());
        return;
    }
    if (!logintoken::hasTokenFormat(token)) {
        showError(logintoken::invalidFormatMessage());
        return;
    }
    m_errorLabel->clear();
    m_errorLabel->hide();
    setLoading(true);
    qCInfo(lcUi).noquote() << "Starting login with token: [REDACTED]";
    m_pendingToken = token;
    m_apiClient->fetchAccountInfo(token);
}

void OndaroLoginDialog::onAccountInfoReceived(const OndaroAccount& account) {
    qCInfo(lcUi).noquote() << "Successfully received account info for" << account.email;
    setLoading(false);
    m_account = account;
    Q_EMIT loginSuccessful(account, m_pendingToken);
    accept();
}

void OndaroLoginDialog::onApiError(const QString& errorMessage, int httpCode) {
    qCWarning(lcUi).noquote() << "API error:" << errorMessage << "(HTTP" << httpCode << ")";
    setLoading(false);
    showError(errorMessage);
}

void OndaroLoginDialog::onCancelButtonClicked() {
    qCInfo(lcUi).noquote() << "Login cancelled by user";
    m_apiClient->cancelPendingRequest();
    reject();
}

void OndaroLoginDialog::done(int result) {
    if (m_loading) {
        qCInfo(lcUi).noquote() << "Login abandoned while validating; the answer is ignored";
        m_apiClient->cancelPendingRequest();
        m_pendingToken.clear();
        setLoading(false);
    }
    QDialog::done(result);
}
