// The settings dialog's Account and About sections: the logged-in account, the application's
// version and preferences, the log folder.
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QUrl>
#include <QVBoxLayout>

#include <string>

#include "core/app_identity.h"
#include "core/log_categories.h"
#include "core/logger.h"
#include "maintenance/auto_start.h"
#include "platform/desktop_opener.h"
#include "ui/alert_dialog.h"
#include "ui/app_state.h"
#include "ui/licenses_dialog.h"
#include "ui/settings_dialog.h"
#include "ui/settings_form.h"
#include "ui/widgets/animated_toggle.h"
#include "ui/widgets/tinted_icon.h"

using namespace settingsform;

namespace {

const QString kNoValue = QStringLiteral("-");
constexpr int kAvatarSidePx = 48;
constexpr int kActionButtonHeightPx = 37;

QFrame* makeDivider(QWidget* parent) {
    auto* divider = new QFrame(parent);
    divider->setObjectName(QStringLiteral("accountDivider"));
    divider->setFixedHeight(1);
    return divider;
}

// One "label: value" row of a card; returns the value label.
QLabel* addInfoRow(QGridLayout* grid, int row, const QString& text, QWidget* parent) {
    grid->addWidget(makeLabel(text, QStringLiteral("accountInfoLabel"), parent), row, 0);
    QLabel* value = makeLabel(kNoValue, QStringLiteral("accountInfoValue"), parent);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value->setAccessibleName(text);
    grid->addWidget(value, row, 1);
    return value;
}

QFrame* makeCard(QWidget* parent, QVBoxLayout*& layout) {
    auto* card = new QFrame(parent);
    card->setObjectName(QStringLiteral("accountCard"));
    layout = new QVBoxLayout(card);
    layout->setContentsMargins(20, 18, 20, 18);
    layout->setSpacing(12);
    return card;
}

}  // namespace

QWidget* SettingsDialog::buildAccountPage() {
    QVBoxLayout* layout = nullptr;
    QWidget* page = makePage(layout);
    QWidget* content = page->findChild<QWidget*>(QStringLiteral("settingsPageContent"));

    QVBoxLayout* cardLayout = nullptr;
    QFrame* card = makeCard(content, cardLayout);
    auto* header = new QHBoxLayout;
    header->setSpacing(14);
    auto* avatar = new QLabel(card);
    avatar->setObjectName(QStringLiteral("avatarCircle"));
    avatar->setFixedSize(kAvatarSidePx, kAvatarSidePx);
    avatar->setAlignment(Qt::AlignCenter);
    avatar->setPixmap(tintedIcon(QIcon(QStringLiteral(":/icons/user.svg")), QSize(24, 24),
                                 Qt::white, devicePixelRatioF()));
    header->addWidget(avatar);
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    m_accountNameLabel = makeLabel(QString(), QStringLiteral("accountName"), card);
    m_accountEmailLabel = makeLabel(QString(), QStringLiteral("accountEmail"), card);
    names->addWidget(m_accountNameLabel);
    names->addWidget(m_accountEmailLabel);
    header->addLayout(names, 1);
    cardLayout->addLayout(header);
    cardLayout->addWidget(makeDivider(card));
    auto* grid = new QGridLayout;
    grid->setVerticalSpacing(10);
    m_planValue = addInfoRow(grid, 0, QStringLiteral("Subscription Plan:"), card);
    m_listenersValue = addInfoRow(grid, 1, QStringLiteral("Maximum Listeners:"), card);
    m_bitrateValue = addInfoRow(grid, 2, QStringLiteral("Maximum Bitrate:"), card);
    cardLayout->addLayout(grid);
    layout->addWidget(card);

    m_logoutButton = new QPushButton(QStringLiteral("Logout"), content);
    m_logoutButton->setObjectName(QStringLiteral("logoutButton"));
    m_logoutButton->setFixedHeight(kActionButtonHeightPx);
    m_logoutButton->setAccessibleName(QStringLiteral("Logout"));
    layout->addWidget(m_logoutButton);
    layout->addStretch(1);
    connect(m_logoutButton, &QPushButton::clicked, this, &SettingsDialog::onLogoutClicked);
    return page;
}

void SettingsDialog::updateAccountPage() {
    const bool loggedIn = m_appState->isLoggedIn();
    m_logoutButton->setEnabled(loggedIn);
    if (!loggedIn) {
        m_accountNameLabel->setText(QStringLiteral("Not logged in"));
        m_accountEmailLabel->setText(kNoValue);
        for (QLabel* value : {m_planValue, m_listenersValue, m_bitrateValue}) {
            value->setText(kNoValue);
        }
        return;
    }
    const OndaroSubscription subscription = m_appState->account().subscription;
    m_accountNameLabel->setText(m_appState->accountName());
    m_accountEmailLabel->setText(m_appState->accountEmail());
    m_planValue->setText(subscription.planName.isEmpty() ? QStringLiteral("Zever Aver")
                                                         : subscription.planName);
    m_listenersValue->setText(QString::number(subscription.listenersSlots));
    m_bitrateValue->setText(QStringLiteral("%1 kbps").arg(m_appState->maxBitrate()));
}

void SettingsDialog::onLogoutClicked() { Q_EMIT logoutRequested(); }

QWidget* SettingsDialog::buildAboutPage() {
    QVBoxLayout* layout = nullptr;
    QWidget* page = makePage(layout);
    QWidget* content = page->findChild<QWidget*>(QStringLiteral("settingsPageContent"));

    layout->addWidget(
        makeLabel(QStringLiteral("Ondaro Doredoradar"), QStringLiteral("aboutAppName"), content));
    QVBoxLayout* cardLayout = nullptr;
    QFrame* card = makeCard(content, cardLayout);
    cardLayout->addWidget(
        makeLabel(QStringLiteral("App Information"), QStringLiteral("settingsSectionTitle"), card));
    cardLayout->addWidget(makeDivider(card));
    auto* versionRow = new QHBoxLayout;
    versionRow->addWidget(
        makeLabel(QStringLiteral("Version:"), QStringLiteral("accountInfoLabel"), card));
    QLabel* version = makeLabel(appidentity::version(), QStringLiteral("accountInfoValue"), card);
    version->setAccessibleName(QStringLiteral("Version"));
    versionRow->addWidget(version);
    versionRow->addStretch(1);
    m_checkUpdatesButton = new QPushButton(QStringLiteral("Check for Updates"), card);
    m_checkUpdatesButton->setObjectName(QStringLiteral("checkUpdatesButton"));
    m_checkUpdatesButton->setFixedHeight(kActionButtonHeightPx);
    m_checkUpdatesButton->setAccessibleName(QStringLiteral("Check for Updates"));
    versionRow->addWidget(m_checkUpdatesButton);
    cardLayout->addLayout(versionRow);
    layout->addWidget(card);

    layout->addSpacing(4);
    addHeading(layout, QStringLiteral("Preferences"), QString(), content);
    m_autoStartToggle = new AnimatedToggle(content);
    m_autoStartToggle->setChecked(isAutoStartEnabled());
    layout->addWidget(
        makeToggleRow(QStringLiteral("Start on system startup"), m_autoStartToggle, content));
    m_autoStartErrorLabel = makeLabel(QString(), QStringLiteral("autoStartErrorLabel"), content);
    m_autoStartErrorLabel->setWordWrap(true);
    m_autoStartErrorLabel->setVisible(false);
    layout->addWidget(m_autoStartErrorLabel);
    m_minimizeToTrayToggle = new AnimatedToggle(content);
    layout->addWidget(makeToggleRow(QStringLiteral("Minimize to tray on close"),
                                    m_minimizeToTrayToggle, content));
    m_debugLoggingToggle = new AnimatedToggle(content);
    layout->addWidget(
        makeToggleRow(QStringLiteral("Enable Debug Logging"), m_debugLoggingToggle, content));
    m_openLogFolderButton = new QPushButton(QStringLiteral("Open Log Folder"), content);
    m_openLogFolderButton->setObjectName(QStringLiteral("openLogFolderButton"));
    m_openLogFolderButton->setAccessibleName(QStringLiteral("Open Log Folder"));
    m_openLogFolderButton->setVisible(false);
    auto* logRow = new QHBoxLayout;
    logRow->addWidget(m_openLogFolderButton);
    logRow->addStretch(1);
    layout->addLayout(logRow);

    layout->addStretch(1);
    m_licensesLink = makeLabel(
        QStringLiteral("<a href=\"licenses\" style=\"color: #2563EB; text-decoration: none;\">"
                       "Open-source licenses</a>"),
        QStringLiteral("licensesLink"), content);
    m_licensesLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse |
                                            Qt::LinksAccessibleByKeyboard);
    m_licensesLink->setFocusPolicy(Qt::StrongFocus);
    m_licensesLink->setAccessibleName(QStringLiteral("Open-source licenses"));
    layout->addWidget(m_licensesLink, 0, Qt::AlignHCenter);

    connect(m_checkUpdatesButton, &QPushButton::clicked, this,
            &SettingsDialog::checkForUpdatesRequested);
    connect(m_autoStartToggle, &AnimatedToggle::toggled, this, &SettingsDialog::onAutoStartToggled);
    connect(m_minimizeToTrayToggle, &AnimatedToggle::toggled, this,
            &SettingsDialog::minimizeToTrayChanged);
    connect(m_debugLoggingToggle, &AnimatedToggle::toggled, this,
            &SettingsDialog::onDebugLoggingToggled);
    connect(m_openLogFolderButton, &QPushButton::clicked, this, &SettingsDialog::openLogFolder);
    connect(m_licensesLink, &QLabel::linkActivated, this, &SettingsDialog::onLicensesLinkActivated);
    return page;
}

void SettingsDialog::onAutoStartToggled(bool enabled) {
    if (setAutoStartEnabled(enabled)) {
        m_autoStartErrorLabel->clear();
        m_autoStartErrorLabel->setVisible(false);
        Q_EMIT autoStartChanged(enabled);
        return;
    }
    {
        const QSignalBlocker blocker(m_autoStartToggle);
        m_autoStartToggle->setChecked(!enabled);
    }
    m_autoStartErrorLabel->setText(autoStartLastError());
    m_autoStartErrorLabel->setVisible(true);
}

void SettingsDialog::onDebugLoggingToggled(bool enabled) {
    m_openLogFolderButton->setVisible(enabled);
    Q_EMIT debugLoggingChanged(enabled);
}

void SettingsDialog::openLogFolder() {
    const QString folder = Logger::instance().logDirectory();
    std::string error;
    if (!QDir().mkpath(folder)) {
        error = "the folder could not be created";
    } else if (platform::openWithDesktop(QUrl::fromLocalFile(folder).toEncoded().toStdString(),
                                         error)) {
        return;
    }
    const QString reason = QString::fromStdString(error);
    qCWarning(lcUi).noquote() << "Could not open the log folder" << folder << ":" << reason;
    AlertDialog::showError(this, QStringLiteral("Log Folder"),
                           QStringLiteral("Could not open %1: %2").arg(folder, reason));
}

void SettingsDialog::onLicensesLinkActivated() { showLicensesDialog(this); }

void SettingsDialog::setDebugLogging(bool enabled) {
    {
        const QSignalBlocker blocker(m_debugLoggingToggle);
        m_debugLoggingToggle->setChecked(enabled);
    }
    m_openLogFolderButton->setVisible(enabled);
}

void SettingsDialog::setMinimizeToTray(bool enabled) {
    const QSignalBlocker blocker(m_minimizeToTrayToggle);
    m_minimizeToTrayToggle->setChecked(enabled);
}

bool SettingsDialog::debugLogging() const { return m_debugLoggingToggle->isChecked(); }

bool SettingsDialog::minimizeToTray() const { return m_minimizeToTrayToggle->isChecked(); }
