// The settings dialog's Streaming section: the cloud channel and automatic reconnection.
#include <QComboBox>
#include <QEasingCurve>
#include <QHBoxLayout>
#include <QIcon>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include "ui/app_state.h"
#include "ui/settings_dialog.h"
#include "ui/settings_form.h"
#include "ui/widgets/animated_toggle.h"

using namespace settingsform;

namespace {

constexpr QSize kRefreshIconSize(16, 16);
constexpr int kRefreshTurnMs = 800;

// The refresh icon turned by `degrees` about its centre, sharp at the given pixel ratio.
QIcon turnedRefreshIcon(double degrees, qreal ratio) {
    const QPixmap source =
        QIcon(QStringLiteral(":/icons/refresh-cw.svg")).pixmap(kRefreshIconSize, ratio);
    QPixmap turned(source.size());
    turned.setDevicePixelRatio(source.devicePixelRatio());
    turned.fill(Qt::transparent);
    QPainter painter(&turned);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSizeF logical = QSizeF(source.size()) / source.devicePixelRatio();
    painter.translate(logical.width() / 2.0, logical.height() / 2.0);
    painter.rotate(degrees);
    painter.translate(-logical.width() / 2.0, -logical.height() / 2.0);
    painter.drawPixmap(0, 0, source);
    painter.end();
    return QIcon(turned);
}

}  // namespace

QWidget* SettingsDialog::buildStreamingPage() {
    QVBoxLayout* layout = nullptr;
    QWidget* page = makePage(layout);
    QWidget* content = page->findChild<QWidget*>(QStringLiteral("settingsPageContent"));

    addHeading(layout, QStringLiteral("Cloud Channel"),
               QStringLiteral("The channel of your Ondaro Cloud account that you broadcast to."),
               content);
    m_channelCombo = makeCombo(content);
    m_channelCombo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_refreshButton = new QPushButton(content);
    m_refreshButton->setObjectName(QStringLiteral("refreshChannelsButton"));
    m_refreshButton->setFixedSize(34, 35);
    m_refreshButton->setIconSize(kRefreshIconSize);
    m_refreshButton->setIcon(turnedRefreshIcon(0.0, devicePixelRatioF()));
    m_refreshButton->setToolTip(QStringLiteral("Refresh channels"));
    m_refreshButton->setAccessibleName(QStringLiteral("Refresh channels"));
    m_refreshRotation = new QVariantAnimation(this);
    m_refreshRotation->setStartValue(0.0);
    m_refreshRotation->setEndValue(180.0);
    m_refreshRotation->setDuration(kRefreshTurnMs);
    m_refreshRotation->setEasingCurve(QEasingCurve::InOutCubic);
    connect(m_refreshRotation, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_refreshButton->setIcon(turnedRefreshIcon(v.toDouble(), devicePixelRatioF()));
    });

    auto* channelControls = new QWidget(content);
    auto* channelRow = new QHBoxLayout(channelControls);
    channelRow->setContentsMargins(0, 0, 0, 0);
    channelRow->setSpacing(8);
    channelRow->addWidget(m_channelCombo, 1);
    channelRow->addWidget(m_refreshButton);
    m_channelCombo->setAccessibleName(QStringLiteral("Broadcast Channel"));
    layout->addWidget(makeField(QStringLiteral("Broadcast Channel"), channelControls, content));

    layout->addSpacing(8);
    addHeading(layout, QStringLiteral("Connection"),
               QStringLiteral("What happens when the connection to the server is lost."), content);
    m_autoReconnectToggle = new AnimatedToggle(content);
    m_autoReconnectToggle->setChecked(true);
    layout->addWidget(
        makeToggleRow(QStringLiteral("Auto Reconnect"), m_autoReconnectToggle, content));
    m_reconnectDelaySpin = makeSpinBox(1, 60, 5, QString(), content);
    m_reconnectRetriesSpin = makeSpinBox(1, 15, 3, QString(), content);
    auto* reconnectRow = new QHBoxLayout;
    reconnectRow->setSpacing(16);
    reconnectRow->addWidget(
        makeField(QStringLiteral("Delay (seconds)"), m_reconnectDelaySpin, content), 1);
    reconnectRow->addWidget(makeField(QStringLiteral("Retries"), m_reconnectRetriesSpin, content),
                            1);
    layout->addLayout(reconnectRow);
    layout->addStretch(1);

    connect(m_channelCombo, &QComboBox::currentIndexChanged, this,
            &SettingsDialog::onChannelSelectionChanged);
    connect(m_refreshButton, &QPushButton::clicked, this,
            &SettingsDialog::onRefreshChannelsClicked);
    connect(m_autoReconnectToggle, &AnimatedToggle::toggled, this,
            &SettingsDialog::onAutoReconnectChanged);
    connect(m_reconnectDelaySpin, &QSpinBox::valueChanged, this,
            &SettingsDialog::onReconnectDelayChanged);
    connect(m_reconnectRetriesSpin, &QSpinBox::valueChanged, this,
            &SettingsDialog::onReconnectRetriesChanged);
    return page;
}

void SettingsDialog::populateChannels() {
    {
        const QSignalBlocker blocker(m_channelCombo);
        m_channelCombo->clear();
        m_channelCombo->addItem(QStringLiteral("Select a channel..."));
        for (const OndaroChannel& channel : m_appState->availableChannels()) {
            m_channelCombo->addItem(channel.name, channel.id);
        }
    }
    selectChannel(m_appState->selectedChannelId());
}

QString SettingsDialog::channelIdAt(int index) const {
    if (index <= 0 || index >= m_channelCombo->count()) return QString();
    return m_channelCombo->itemData(index).toString();
}

int SettingsDialog::selectChannel(const QString& channelId) {
    int index = channelId.isEmpty() ? -1 : m_channelCombo->findData(channelId);
    if (index < 0) index = m_channelCombo->count() > 1 ? 1 : 0;
    const QSignalBlocker blocker(m_channelCombo);
    m_channelCombo->setCurrentIndex(index);
    return index;
}

void SettingsDialog::onChannelSelectionChanged(int index) { Q_EMIT channelSelectionChanged(index); }

void SettingsDialog::onRefreshChannelsClicked() {
    if (m_refreshRotation->state() != QAbstractAnimation::Running) m_refreshRotation->start();
    Q_EMIT refreshChannelsRequested();
}

void SettingsDialog::onAutoReconnectChanged(bool checked) { Q_EMIT autoReconnectChanged(checked); }

void SettingsDialog::onReconnectDelayChanged(int value) { Q_EMIT reconnectDelayChanged(value); }

void SettingsDialog::onReconnectRetriesChanged(int value) { Q_EMIT reconnectRetriesChanged(value); }

void SettingsDialog::setAutoReconnect(bool enabled) {
    const QSignalBlocker blocker(m_autoReconnectToggle);
    m_autoReconnectToggle->setChecked(enabled);
}

void SettingsDialog::setReconnectDelay(int seconds) {
    const QSignalBlocker blocker(m_reconnectDelaySpin);
    m_reconnectDelaySpin->setValue(seconds);
}

void SettingsDialog::setReconnectRetries(int retries) {
    const QSignalBlocker blocker(m_reconnectRetriesSpin);
    m_reconnectRetriesSpin->setValue(retries);
}
