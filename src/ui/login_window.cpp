// The full-window login shown when there is no valid stored token.
#include "ui/login_window.h"

#include <QDialog>
#include <QFrame>
#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyleFactory>
#include <QVBoxLayout>

#include "build_config.h"
#include "cloud/ondaro_api_client.h"
#include "core/log_categories.h"
#include "core/settings_manager.h"
#include "ui/alert_dialog.h"
#include "ui/dark_title_bar.h"
#include "ui/how_to_resize_filter.h"
#include "ui/login_token.h"
#include "ui/widgets/tinted_icon.h"

namespace {

constexpr int kWindowWidthPx = 520;
constexpr int kWindowHeightPx = 490;
constexpr int kHowToSizePx = 720;

QLabel* makeLabel(const QString& text, const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    return label;
}

// Drawn rather than shipped so it stays crisp at any device pixel ratio.
QIcon questionMarkIcon(qreal devicePixelRatio) {
    constexpr int kSidePx = 16;
    QPixmap pixmap(QSize(kSidePx, kSidePx) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font = painter.font();
    font.setPixelSize(14);
    font.setWeight(QFont::Bold);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, kSidePx, kSidePx), Qt::AlignCenter, QStringLiteral("?"));
    return QIcon(pixmap);
}

QFrame* makeStepCard(const QString& title, QLabel* body, QLabel* image, QWidget* parent) {
    auto* card = new QFrame(parent);
    card->setObjectName(QStringLiteral("loginHowToStep"));
    card->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setSpacing(8);
    layout->addWidget(makeLabel(title, QStringLiteral("loginHowToStepTitle"), card));
    body->setParent(card);
    body->setObjectName(QStringLiteral("loginHowToStepBody"));
    body->setWordWrap(true);
    body->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    body->setOpenExternalLinks(true);
    layout->addWidget(body);
    if (image) {
        image->setParent(card);
        image->setObjectName(QStringLiteral("loginHowToStepImage"));
        image->setAlignment(Qt::AlignTop | Qt::AlignLeft);
        image->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        image->setMinimumWidth(0);
        image->setAccessibleName(title + QStringLiteral(" picture"));
        layout->addWidget(image);
    }
    return card;
}

}  // namespace

LoginWindow::LoginWindow(QWidget* parent) : QMainWindow(parent) {
    m_apiClient = new OndaroApiClient(this);
    m_settingsManager = new SettingsManager(this);
    connect(m_apiClient, &OndaroApiClient::accountInfoReceived, this,
            &LoginWindow::onAccountInfoReceived);
    connect(m_apiClient, &OndaroApiClient::errorOccurred, this, &LoginWindow::onApiError);
    buildInterface();
}

void LoginWindow::buildInterface() {
    auto* root = new QWidget(this);
    root->setObjectName(QStringLiteral("loginRoot"));
    root->setAttribute(Qt::WA_StyledBackground);
    auto* rootLayout = new QVBoxLayout(root);
    rootLayout->setContentsMargins(32, 32, 32, 32);
    rootLayout->setSpacing(24);

    auto* card = new QFrame(root);
    card->setObjectName(QStringLiteral("loginCard"));
    card->setAttribute(Qt::WA_StyledBackground);
    auto* shadow = new QGraphicsDropShadowEffect(card);
    shadow->setBlurRadius(12);
    shadow->setOffset(0, 2);
    shadow->setColor(QColor(0, 0, 0, 25));
    card->setGraphicsEffect(shadow);
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(0, 0, 0, 0);
    cardLayout->setSpacing(0);
    cardLayout->addWidget(buildCardHeader(card));
    auto* divider = new QFrame(card);
    divider->setObjectName(QStringLiteral("loginHeaderDivider"));
    divider->setFixedHeight(1);
    divider->setStyleSheet(
        QStringLiteral("background-color: rgba(34, 36, 38, 0.1); border: none;"));
    cardLayout->addWidget(divider);
    cardLayout->addWidget(buildCardBody(card));
    rootLayout->addWidget(card);

    auto* footer =
        makeLabel(QStringLiteral("Don't have an account? <a href=\"%1\" style=\"color: #2563EB; "
                                 "text-decoration: none; font-weight: 500;\">Sign up at Ondaro</a>")
                      .arg(QLatin1String(buildconfig::kSignupUrl)),
                  QStringLiteral("loginFooter"), root);
    footer->setTextFormat(Qt::RichText);
    footer->setAlignment(Qt::AlignCenter);
    footer->setOpenExternalLinks(true);
    footer->setAccessibleName(QStringLiteral("Sign up at Ondaro"));
    rootLayout->addWidget(footer);
    setCentralWidget(root);

    setWindowTitle(QStringLiteral("Ondaro Cloud Doredoradar"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(kWindowWidthPx, kWindowHeightPx);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    applyDarkTitleBar(this);
}

QWidget* LoginWindow::buildCardHeader(QWidget* parent) {
    auto* header = new QWidget(parent);
    header->setObjectName(QStringLiteral("loginCardHeader"));
    header->setAttribute(Qt::WA_StyledBackground);
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);

    auto* circle = new QWidget(header);
    circle->setObjectName(QStringLiteral("loginIconCircle"));
    circle->setAttribute(Qt::WA_StyledBackground);
    circle->setFixedSize(40, 40);
    auto* circleLayout = new QVBoxLayout(circle);
    circleLayout->setContentsMargins(0, 0, 0, 0);
    auto* keyIcon = makeLabel(QString(), QStringLiteral("loginKeyIcon"), circle);
    keyIcon->setAlignment(Qt::AlignCenter);
    keyIcon->setPixmap(tintedIcon(QIcon(QStringLiteral(":/icons/key-round.svg")), QSize(20, 20),
                                  Qt::white, devicePixelRatioF()));
    circleLayout->addWidget(keyIcon, 0, Qt::AlignCenter);
    layout->addWidget(circle, 0, Qt::AlignVCenter);

    auto* titles = new QVBoxLayout();
    titles->setSpacing(2);
    m_titleLabel =
        makeLabel(QStringLiteral("Connect to Ondaro Cloud"), QStringLiteral("loginTitle"), header);
    titles->addWidget(m_titleLabel);
    titles->addWidget(makeLabel(QStringLiteral("Enter your private token to connect your account"),
                                QStringLiteral("loginSubtitle"), header));
    layout->addLayout(titles, 1);
    return header;
}

QWidget* LoginWindow::buildCardBody(QWidget* parent) {
    auto* body = new QWidget(parent);
    body->setObjectName(QStringLiteral("loginCardBody"));
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(24);

    auto* field = new QVBoxLayout();
    field->setSpacing(8);
    auto* fieldLabel =
        makeLabel(QStringLiteral("Private Token"), QStringLiteral("loginFieldLabel"), body);
    field->addWidget(fieldLabel);
    m_tokenInput = new QLineEdit(body);
    m_tokenInput->setObjectName(QStringLiteral("loginTokenInput"));
    m_tokenInput->setEchoMode(QLineEdit::Password);
    m_tokenInput->setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    m_tokenInput->setPlaceholderText(QStringLiteral("Enter your private token..."));
    m_tokenInput->setMinimumHeight(40);
    m_tokenInput->setAccessibleName(QStringLiteral("Private Token"));
    fieldLabel->setBuddy(m_tokenInput);
    field->addWidget(m_tokenInput);
    layout->addLayout(field);
    connect(m_tokenInput, &QLineEdit::textChanged, this, &LoginWindow::onTokenTextChanged);
    connect(m_tokenInput, &QLineEdit::returnPressed, this, [this] {
        if (m_connectButton->isEnabled()) onLoginButtonClicked();
    });

    m_errorLabel = makeLabel(QString(), QStringLiteral("loginErrorLabel"), body);
    m_errorLabel->setWordWrap(true);
    m_errorLabel->setAccessibleName(QStringLiteral("Login error"));
    m_errorLabel->hide();
    layout->addWidget(m_errorLabel);

    auto* buttonRow = new QHBoxLayout();
    buttonRow->setContentsMargins(0, 8, 0, 0);
    m_connectButton = new QPushButton(QStringLiteral("Connect to Ondaro Cloud"), body);
    m_connectButton->setObjectName(QStringLiteral("loginConnectButton"));
    m_connectButton->setEnabled(false);
    m_connectButton->setDefault(true);
    m_connectButton->setMinimumHeight(36);
    m_connectButton->setAccessibleName(QStringLiteral("Connect to Ondaro Cloud"));
    connect(m_connectButton, &QPushButton::clicked, this, &LoginWindow::onLoginButtonClicked);
    buttonRow->addWidget(m_connectButton);
    layout->addLayout(buttonRow);

    auto* howToButton = new QPushButton(QStringLiteral("How To Find Your Private Token"), body);
    howToButton->setObjectName(QStringLiteral("loginHowToButton"));
    howToButton->setCursor(Qt::PointingHandCursor);
    howToButton->setMinimumHeight(40);
    howToButton->setIcon(questionMarkIcon(devicePixelRatioF()));
    howToButton->setIconSize(QSize(16, 16));
    howToButton->setAccessibleName(QStringLiteral("How To Find Your Private Token"));
    connect(howToButton, &QPushButton::clicked, this, &LoginWindow::showHowToDialog);
    layout->addWidget(howToButton);
    layout->addStretch();

    setTabOrder(m_tokenInput, m_connectButton);
    setTabOrder(m_connectButton, howToButton);
    return body;
}

void LoginWindow::onTokenTextChanged(const QString& text) {
    m_connectButton->setEnabled(!text.trimmed().isEmpty() && !m_isLoggingIn);
    m_errorLabel->hide();
}

void LoginWindow::onLoginButtonClicked() {
    const QString token = m_tokenInput->text().trimmed();
    if (token.isEmpty()) {
        m_errorLabel->hide();
        AlertDialog::showError(this, QStringLiteral("Error"), logintoken::emptyTokenMessage());
        return;
    }
    if (!logintoken::hasTokenFormat(token)) {
        m_errorLabel->hide();
        AlertDialog::showError(this, QStringLiteral("Error"), logintoken::invalidFormatMessage());
        return;
    }
    m_errorLabel->hide();
    m_isLoggingIn = true;
    m_connectButton->setEnabled(false);
    m_tokenInput->setEnabled(false);
    qCInfo(lcUi).noquote() << "Starting login with token: [REDACTED]";
    m_apiClient->fetchAccountInfo(token);
}

void LoginWindow::finishLogin() {
    m_isLoggingIn = false;
    m_connectButton->setEnabled(!m_tokenInput->text().trimmed().isEmpty());
    m_tokenInput->setEnabled(true);
}

void LoginWindow::onAccountInfoReceived(const OndaroAccount& account) {
    qCInfo(lcUi).noquote() << "Login successful for" << account.email;
    finishLogin();
    const QString token = m_tokenInput->text().trimmed();
    // Reporting success without a stored token would leave the main window at "Login Required"
    // with nothing to say why.
    if (!m_settingsManager->setOndaroPrivateToken(token)) {
        qCWarning(lcUi).noquote() << "Login not completed: the private token could not be stored";
        m_errorLabel->setText(QStringLiteral(
            "Your Private Token was accepted but could not be saved on this computer. Check that "
            "your settings folder can be written to, then connect again."));
        m_errorLabel->show();
        return;
    }
    Q_EMIT loginSuccessful(account, token);
}

void LoginWindow::onApiError(const QString& errorMessage, int httpCode) {
    qCWarning(lcUi).noquote() << "API error:" << errorMessage << "(HTTP" << httpCode << ")";
    finishLogin();
    m_errorLabel->hide();
    const QString text =
        httpCode == 401
            ? QStringLiteral("Invalid token. Please check your Private Token and try again.")
            : QStringLiteral("Login failed: ") + errorMessage;
    AlertDialog::showError(this, QStringLiteral("Error"), text);
}

void LoginWindow::showHowToDialog() {
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("loginHowToDialog"));
    dialog.setAttribute(Qt::WA_StyledBackground);
    dialog.setModal(true);
    dialog.setWindowTitle(QStringLiteral("How to find your Private Token"));
    dialog.resize(kHowToSizePx, kHowToSizePx);
    auto* layout = new QVBoxLayout(&dialog);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);

    auto* scrollArea = new QScrollArea(&dialog);
    scrollArea->setObjectName(QStringLiteral("loginHowToScrollArea"));
    scrollArea->setWidgetResizable(true);
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea->setAccessibleName(QStringLiteral("Steps"));
    auto* content = new QWidget(scrollArea);
    content->setObjectName(QStringLiteral("loginHowToContent"));
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(12);

    const QString example = QLatin1String(logintoken::kExampleToken);
    auto* step1 =
        new QLabel(QStringLiteral("Log in to your Ondaro Cloud account at <a href=\"%1\">%1</a>.")
                       .arg(QLatin1String(buildconfig::kWebsiteUrl)));
    step1->setTextFormat(Qt::RichText);
    auto plain = [](const QString& text) {
        auto* label = new QLabel(text);
        label->setTextFormat(Qt::PlainText);
        return label;
    };
    QList<HowToResizeFilter::Picture> pictures;
    auto picture = [&pictures](const QString& path) {
        auto* label = new QLabel();
        pictures.append({label, QPixmap(path)});
        return label;
    };
    contentLayout->addWidget(makeStepCard(QStringLiteral("Step 1"), step1, nullptr, content));
    contentLayout->addWidget(makeStepCard(
        QStringLiteral("Step 2"), plain(QStringLiteral("Navigate to the API Token page.")),
        picture(QStringLiteral(":/images/api_token_page_access.png")), content));
    contentLayout->addWidget(
        makeStepCard(QStringLiteral("Step 3"),
                     plain(QStringLiteral("Copy your Private Token (UUID format like: ") + example +
                           QStringLiteral(").")),
                     picture(QStringLiteral(":/images/private_token.png")), content));
    contentLayout->addWidget(makeStepCard(
        QStringLiteral("Step 4"),
        plain(QStringLiteral("Paste it in the Private Token field and click Connect.")), nullptr,
        content));
    contentLayout->addStretch();
    scrollArea->setWidget(content);
    layout->addWidget(scrollArea);

    auto* closeButton = new QPushButton(QStringLiteral("Close"), &dialog);
    closeButton->setObjectName(QStringLiteral("loginHowToCloseButton"));
    closeButton->setMinimumHeight(36);
    closeButton->setAccessibleName(QStringLiteral("Close"));
    connect(closeButton, &QPushButton::clicked, &dialog, &QDialog::accept);
    layout->addWidget(closeButton);

    auto* filter = new HowToResizeFilter(scrollArea, pictures, &dialog);
    scrollArea->viewport()->installEventFilter(filter);
    filter->rescale();
    applyDarkTitleBar(&dialog);
    dialog.exec();
}
