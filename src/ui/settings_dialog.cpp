// The settings dialog's frame: tab bar, pages, closing with validation, the owner's getters.
#include "ui/settings_dialog.h"

#include <array>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include "core/log_categories.h"
#include "ui/alert_dialog.h"
#include "ui/app_state.h"
#include "ui/dark_title_bar.h"
#include "ui/widgets/animated_toggle.h"
#include "ui/widgets/tinted_icon.h"

namespace {

constexpr int kDialogWidthPx = 672;
constexpr int kDialogHeightPx = 658;
constexpr QSize kTabIconSize(18, 18);

struct Section {
    const char* title;
    const char* icon;
};
constexpr std::array<Section, 5> kSections = {{
    {"Audio", ":/icons/settings.svg"},
    {"Streaming", ":/icons/wifi.svg"},
    {"Metadata", ":/icons/music.svg"},
    {"Account", ":/icons/circle-user.svg"},
    {"About", ":/icons/alert_info.svg"},
}};
constexpr int kMetadataSection = 2;

QString chooseFileNatively(QWidget* parent, const QString& title, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, title, QString(), filter);
}

}  // namespace

SettingsDialog::SettingsDialog(AppState* appState, QWidget* parent)
    : QDialog(parent), m_appState(appState), m_fileChooser(chooseFileNatively) {
    setObjectName(QStringLiteral("settingsDialog"));
    setWindowTitle(QStringLiteral("Settings"));
    setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);
    setModal(false);
    setFixedSize(kDialogWidthPx, kDialogHeightPx);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildTabBar());
    m_content = new QStackedWidget(this);
    m_content->setObjectName(QStringLiteral("settingsContent"));
    m_content->addWidget(buildAudioPage());
    m_content->addWidget(buildStreamingPage());
    m_content->addWidget(buildMetadataPage());
    m_content->addWidget(buildAccountPage());
    m_content->addWidget(buildAboutPage());
    layout->addWidget(m_content, 1);
    setTabOrder();
    onSectionChanged(0);

    connect(m_appState, &AppState::isLoggedInChanged, this, &SettingsDialog::updateAccountPage);
    connect(m_appState, &AppState::accountNameChanged, this, &SettingsDialog::updateAccountPage);
    connect(m_appState, &AppState::accountEmailChanged, this, &SettingsDialog::updateAccountPage);
    connect(m_appState, &AppState::maxBitrateChanged, this, &SettingsDialog::updateAccountPage);
    connect(m_appState, &AppState::maxListenersChanged, this, &SettingsDialog::updateAccountPage);
    connect(m_appState, &AppState::availableChannelsCountChanged, this, [this] {
        populateChannels();
        updateAccountPage();
    });
    populateChannels();
    updateAccountPage();
}

void SettingsDialog::setFileChooser(FileChooser chooser) {
    m_fileChooser = chooser ? std::move(chooser) : FileChooser(chooseFileNatively);
}

QWidget* SettingsDialog::buildTabBar() {
    m_tabBar = new QWidget(this);
    m_tabBar->setObjectName(QStringLiteral("settingsTabBar"));
    m_tabBar->setAttribute(Qt::WA_StyledBackground);
    auto* layout = new QHBoxLayout(m_tabBar);
    layout->setContentsMargins(16, 0, 16, 0);
    layout->setSpacing(4);
    auto* group = new QButtonGroup(m_tabBar);
    group->setExclusive(true);
    for (int i = 0; i < int(kSections.size()); ++i) {
        auto* button = new QPushButton(QString::fromLatin1(kSections[i].title), m_tabBar);
        button->setObjectName(QStringLiteral("settingsTabButton"));
        button->setProperty("tabIndex", i);
        button->setCheckable(true);
        button->setCursor(Qt::PointingHandCursor);
        button->setIconSize(kTabIconSize);
        button->setAccessibleName(
            QStringLiteral("%1 section").arg(QString::fromLatin1(kSections[i].title)));
        group->addButton(button, i);
        layout->addWidget(button);
        connect(button, &QPushButton::clicked, this, &SettingsDialog::onTabClicked);
    }
    layout->addStretch(1);
    updateTabIcons();
    return m_tabBar;
}

void SettingsDialog::updateTabIcons() {
    const qreal ratio = devicePixelRatioF();
    for (auto* button : m_tabBar->findChildren<QPushButton*>(QStringLiteral("settingsTabButton"))) {
        const QIcon source(
            QString::fromLatin1(kSections[button->property("tabIndex").toInt()].icon));
        QIcon icon;
        icon.addPixmap(tintedIcon(source, kTabIconSize, QColor(0x6B, 0x72, 0x80), ratio),
                       QIcon::Normal, QIcon::Off);
        icon.addPixmap(tintedIcon(source, kTabIconSize, QColor(0x25, 0x63, 0xEB), ratio),
                       QIcon::Normal, QIcon::On);
        button->setIcon(icon);
    }
}

void SettingsDialog::onTabClicked() {
    if (auto* button = qobject_cast<QAbstractButton*>(sender())) {
        onSectionChanged(button->property("tabIndex").toInt());
    }
}

void SettingsDialog::onSectionChanged(int row) {
    if (row < 0 || row >= m_content->count()) return;
    m_content->setCurrentIndex(row);
    for (auto* button : m_tabBar->findChildren<QPushButton*>(QStringLiteral("settingsTabButton"))) {
        const bool current = button->property("tabIndex").toInt() == row;
        button->setChecked(current);
        // The style sheet keys the underline on it.
        button->setProperty("active", current);
        button->style()->unpolish(button);
        button->style()->polish(button);
    }
}

void SettingsDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    updateTabIcons();
    // Moved to a screen of another pixel ratio: the icons are redrawn for it.
    if (QWindow* window = windowHandle()) {
        connect(window, &QWindow::screenChanged, this, &SettingsDialog::updateTabIcons,
                Qt::UniqueConnection);
    }
    applyDarkTitleBar(this);
}

void SettingsDialog::done(int result) {
    // Escape and accept reach done() without a close event; the check must run for all of them.
    if (!validateMetadataSettings()) return;
    QDialog::done(result);
}

bool SettingsDialog::refuseMetadata(QWidget* field, const QString& title, const QString& message) {
    qCInfo(lcUi).noquote() << "Settings not closed:" << title;
    onSectionChanged(kMetadataSection);
    field->setFocus(Qt::OtherFocusReason);
    AlertDialog::showWarning(this, title, message);
    field->setFocus(Qt::OtherFocusReason);
    return false;
}

bool SettingsDialog::validateMetadataSettings() {
    if (m_acceptedSourceIndex == 1) {
        const QString path = m_filePathEdit->text().trimmed();
        if (path.isEmpty()) {
            return refuseMetadata(m_filePathEdit, QStringLiteral("File Required"),
                                  QStringLiteral("Please select a metadata file, or switch to a "
                                                 "different metadata source."));
        }
        Q_EMIT metadataFilePathChanged(m_filePathEdit->text());
    } else if (m_acceptedSourceIndex == 2) {
        const QString text = m_urlEdit->text().trimmed();
        if (text.isEmpty()) {
            return refuseMetadata(m_urlEdit, QStringLiteral("URL Required"),
                                  QStringLiteral("Please enter a metadata URL, or switch to a "
                                                 "different metadata source."));
        }
        const QUrl url(text, QUrl::StrictMode);
        if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
            return refuseMetadata(
                m_urlEdit, QStringLiteral("Invalid URL"),
                QStringLiteral("Please enter a valid URL (e.g. %1),\nor switch to a different "
                               "metadata source.")
                    .arg(m_urlEdit->placeholderText()));
        }
        Q_EMIT metadataUrlChanged(m_urlEdit->text());
    }
    Q_EMIT metadataSettingsConfirmed();
    return true;
}

void SettingsDialog::setTabOrder() {
    // Tab bar first, then each page top to bottom as laid out.
    QList<QWidget*> chain;
    for (auto* button : m_tabBar->findChildren<QPushButton*>(QStringLiteral("settingsTabButton"))) {
        chain << button;
    }
    chain << m_encoderCombo << m_bitrateCombo << m_channelsCombo << m_sampleRateCombo
          << m_aacAfterburnerCombo << m_aacProfileCombo << m_opusOptimizedCombo
          << m_duckingHelpButton << m_duckingPresetCombo << m_duckingThreshold << m_duckingRatio
          << m_duckingAttack << m_duckingRelease << m_duckingKnee;
    chain << m_channelCombo << m_refreshButton << m_autoReconnectToggle << m_reconnectDelaySpin
          << m_reconnectRetriesSpin;
    chain << m_sourceCombo << m_filePathEdit << m_browseFileButton << m_fileLastLineToggle
          << m_urlEdit << m_urlLastLineToggle << m_urlIntervalSpin << m_browseWindowButton
          << m_streamNameEdit << m_streamDescriptionEdit << m_streamGenreEdit << m_streamUrlEdit
          << m_streamPublicToggle;
    chain << m_logoutButton;
    chain << m_checkUpdatesButton << m_autoStartToggle << m_minimizeToTrayToggle
          << m_debugLoggingToggle << m_openLogFolderButton << m_licensesLink;
    for (int i = 1; i < chain.size(); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);
}
