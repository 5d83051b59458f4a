// The main window's widget tree: header, status strip, the mixer's cards, the title row and the
// Go Live button, plus the hidden server fields the channel choice fills.
#include "ui/main_window.h"

#include <memory>

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGraphicsDropShadowEffect>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTransform>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include "widgets/icon_text_button.h"
#include "widgets/marquee_label.h"
#include "widgets/shadow_slider.h"
#include "widgets/status_dot.h"
#include "widgets/stereo_vu_meter.h"
#include "widgets/tinted_icon.h"

namespace {

constexpr int kFaderMin = -240;  // tenths of a dB
constexpr int kFaderMax = 240;
// The cards' background (style.qss: QFrame[card="true"]), which the meters paint behind themselves.
const QColor kCardColour(0xFF, 0xFF, 0xFF);

QLabel* makeLabel(const QString& text, const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    return label;
}

QFrame* makeCard(const QString& objectName, QWidget* parent) {
    auto* card = new QFrame(parent);
    card->setObjectName(objectName);
    card->setProperty("card", true);
    return card;
}

QPushButton* makeIconButton(const QString& objectName, const QString& icon, const QString& name,
                            QWidget* parent) {
    auto* button = new QPushButton(parent);
    button->setObjectName(objectName);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(16, 16));
    button->setAccessibleName(name);
    button->setToolTip(name);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

ShadowSlider* makeFader(const QString& name, QWidget* parent) {
    auto* slider = new ShadowSlider(Qt::Vertical, parent);
    slider->setRange(kFaderMin, kFaderMax);
    slider->setValue(0);
    slider->setPageStep(10);
    slider->setAccessibleName(name);
    slider->setMinimumHeight(150);
    slider->setFixedWidth(32);  // the cap is 20 pixels wide; narrower would clip its sides
    return slider;
}

StereoVUMeter* makeMeter(const QString& name, QWidget* parent) {
    auto* meter = new StereoVUMeter(parent);
    meter->setCompact(true);
    meter->setBackdrop(kCardColour);
    meter->setAccessibleName(name);
    meter->setMinimumHeight(150);
    return meter;
}

}  // namespace

void MainWindow::buildUi() {
    auto* root = new QWidget(this);
    root->setObjectName(QStringLiteral("mainRoot"));
    auto* layout = new QVBoxLayout(root);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(14);
    layout->addWidget(buildHeader());
    layout->addWidget(buildStatusStrip());

    auto* mixer = new QHBoxLayout;
    mixer->setSpacing(14);
    auto* decks = new QVBoxLayout;
    decks->setSpacing(14);
    auto* deckRow = new QHBoxLayout;
    deckRow->setSpacing(14);
    deckRow->addWidget(buildDeckCard(1), 1);
    deckRow->addWidget(buildDeckCard(2), 1);
    decks->addLayout(deckRow, 1);
    decks->addWidget(buildCrossfader());
    mixer->addLayout(decks, 3);
    mixer->addWidget(buildMasterCard(), 1);
    mixer->addWidget(buildMonitorCard(), 1);
    layout->addLayout(mixer, 1);
    layout->addWidget(buildTitleRow());
    layout->addWidget(buildHiddenParts());
    setCentralWidget(root);

    m_spinner = new QVariantAnimation(this);
    m_spinner->setStartValue(0.0);
    m_spinner->setEndValue(360.0);
    m_spinner->setDuration(1000);
    m_spinner->setLoopCount(-1);
    // The tinted icon is rendered once (again only on a screen of another pixel ratio), not
    // once per frame.
    auto base = std::make_shared<QPixmap>();
    connect(m_spinner, &QVariantAnimation::valueChanged, this, [this, base](const QVariant& angle) {
        const qreal ratio = devicePixelRatioF();
        if (base->isNull() || base->devicePixelRatio() != ratio)
            *base = tintedIcon(QIcon(QStringLiteral(":/icons/spinner.svg")), QSize(24, 24),
                               Qt::white, ratio);
        QPixmap turned(base->size());
        turned.setDevicePixelRatio(ratio);
        turned.fill(Qt::transparent);
        QPainter painter(&turned);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.translate(12, 12);
        painter.rotate(angle.toDouble());
        painter.translate(-12, -12);
        painter.drawPixmap(0, 0, *base);
        painter.end();
        m_connectButton->setIcon(QIcon(turned));
    });

    buildMenus();
    setMinimumSize(1180, 680);
    resize(1280, 760);
    setAirBadge(false);
    onHealthUpdated(0, StreamHealthMonitor::HealthLevel::Unknown);
}

QWidget* MainWindow::buildHeader() {
    QFrame* header = makeCard(QStringLiteral("headerCard"), this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(18, 12, 14, 12);
    row->setSpacing(12);

    auto* logo = new QLabel(header);
    logo->setPixmap(QIcon(QStringLiteral(":/icons/appicon.svg")).pixmap(QSize(36, 36)));
    logo->setAccessibleName(QStringLiteral("Ondaro Doredoradar"));
    row->addWidget(logo);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(0);
    titles->addWidget(
        makeLabel(QStringLiteral("Ondaro Doredoradar"), QStringLiteral("appTitle"), header));
    m_channelLabel =
        makeLabel(QStringLiteral("No channel selected"), QStringLiteral("channelLabel"), header);
    m_channelLabel->setAccessibleName(QStringLiteral("Channel"));
    titles->addWidget(m_channelLabel);
    row->addLayout(titles);
    row->addSpacing(18);

    m_airBadgeContainer = new QFrame(header);
    m_airBadgeContainer->setObjectName(QStringLiteral("offAirBadge"));
    auto* air = new QHBoxLayout(m_airBadgeContainer);
    air->setContentsMargins(12, 6, 14, 6);
    air->setSpacing(8);
    m_airDot = new StatusDot(12, m_airBadgeContainer);
    m_airDot->setObjectName(QStringLiteral("airStatusDot"));
    air->addWidget(m_airDot);
    m_airBadge =
        makeLabel(QStringLiteral("OFF AIR"), QStringLiteral("airStatusBadge"), m_airBadgeContainer);
    air->addWidget(m_airBadge);
    m_airCheckMark = new QLabel(m_airBadgeContainer);
    m_airCheckMark->setObjectName(QStringLiteral("airCheckMark"));
    m_airCheckMark->setFixedSize(16, 16);
    m_airCheckMark->hide();
    air->addWidget(m_airCheckMark);
    auto* airHolder = new QWidget(header);
    airHolder->setObjectName(QStringLiteral("airBadgeContainer"));
    auto* airHolderLayout = new QHBoxLayout(airHolder);
    airHolderLayout->setContentsMargins(0, 0, 0, 0);
    airHolderLayout->addWidget(m_airBadgeContainer);
    row->addWidget(airHolder);

    m_serverBadgeContainer = new QFrame(header);
    m_serverBadgeContainer->setObjectName(QStringLiteral("serverOfflineBadge"));
    auto* server = new QHBoxLayout(m_serverBadgeContainer);
    server->setContentsMargins(12, 6, 12, 6);
    server->setSpacing(6);
    m_serverStatusIcon = new QLabel(m_serverBadgeContainer);
    m_serverStatusIcon->setObjectName(QStringLiteral("serverStatusIcon"));
    server->addWidget(m_serverStatusIcon);
    m_serverBadge = makeLabel(QStringLiteral("Server Offline"), QStringLiteral("serverBadge"),
                              m_serverBadgeContainer);
    server->addWidget(m_serverBadge);
    auto* serverHolder = new QWidget(header);
    serverHolder->setObjectName(QStringLiteral("serverBadgeContainer"));
    auto* serverHolderLayout = new QHBoxLayout(serverHolder);
    serverHolderLayout->setContentsMargins(0, 0, 0, 0);
    serverHolderLayout->addWidget(m_serverBadgeContainer);
    row->addWidget(serverHolder);

    auto* healthHolder = new QWidget(header);
    healthHolder->setObjectName(QStringLiteral("healthBadgeContainer"));
    auto* healthLayout = new QHBoxLayout(healthHolder);
    healthLayout->setContentsMargins(0, 0, 0, 0);
    m_healthBadge = new QPushButton(healthHolder);
    m_healthBadge->setObjectName(QStringLiteral("healthBadge"));
    m_healthBadge->setAccessibleName(QStringLiteral("Stream health"));
    m_healthBadge->setToolTip(QStringLiteral("Stream health details"));
    m_healthBadge->setCursor(Qt::PointingHandCursor);
    healthLayout->addWidget(m_healthBadge);
    row->addWidget(healthHolder);

    m_currentListenersLabel =
        makeLabel(QStringLiteral("0 listeners"), QStringLiteral("currentListenersLabel"), header);
    m_currentListenersLabel->setAccessibleName(QStringLiteral("Current listeners"));
    m_currentListenersLabel->hide();
    row->addWidget(m_currentListenersLabel);
    row->addStretch(1);

    m_userBadge = makeLabel(QStringLiteral("Not logged in"), QStringLiteral("userBadge"), header);
    m_userBadge->setAccessibleName(QStringLiteral("Account"));
    row->addWidget(m_userBadge);
    auto* settingsButton =
        makeIconButton(QStringLiteral("settingsButton"), QStringLiteral(":/icons/settings.svg"),
                       QStringLiteral("Settings"), header);
    settingsButton->setIconSize(QSize(20, 20));
    settingsButton->setFixedSize(40, 40);
    connect(settingsButton, &QPushButton::clicked, this, &MainWindow::showSettings);
    row->addWidget(settingsButton);
    return header;
}

QWidget* MainWindow::buildStatusStrip() {
    auto* strip = new QWidget(this);
    strip->setObjectName(QStringLiteral("statusStrip"));
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(4, 0, 4, 0);
    row->setSpacing(24);
    m_encoderLabel = makeLabel(QString(), QStringLiteral("encoderLabel"), strip);
    m_listenersLabel = makeLabel(QString(), QStringLiteral("listenersLabel"), strip);
    m_uptimeLabel = makeLabel(QString(), QStringLiteral("uptimeLabel"), strip);
    m_encoderLabel->setAccessibleName(QStringLiteral("Encoder"));
    m_listenersLabel->setAccessibleName(QStringLiteral("Listeners"));
    m_uptimeLabel->setAccessibleName(QStringLiteral("Time on air"));
    m_stateLabel = makeLabel(QString(), QStringLiteral("stateLabel"), strip);
    m_stateLabel->setAccessibleName(QStringLiteral("Broadcast state"));
    row->addWidget(m_stateLabel);
    row->addWidget(m_encoderLabel);
    m_reconnectContainer = new QWidget(strip);
    m_reconnectContainer->setObjectName(QStringLiteral("reconnectStatusContainer"));
    auto* reconnect = new QHBoxLayout(m_reconnectContainer);
    reconnect->setContentsMargins(0, 0, 0, 0);
    m_reconnectLabel = makeLabel(
        QStringLiteral(
            "<span style='color:#F97316; font-size:14px; font-weight:600;'>Disconnected</span>"),
        QStringLiteral("reconnectStatusLabel"), m_reconnectContainer);
    m_reconnectLabel->setAccessibleName(QStringLiteral("Reconnect status"));
    reconnect->addWidget(m_reconnectLabel);
    m_reconnectContainer->hide();
    row->addWidget(m_reconnectContainer);
    row->addWidget(m_listenersLabel);
    row->addWidget(m_uptimeLabel);
    m_noticeLabel = makeLabel(QString(), QStringLiteral("statusNotice"), strip);
    m_noticeLabel->setAccessibleName(QStringLiteral("Broadcast notice"));
    m_noticeLabel->setWordWrap(false);
    m_noticeLabel->hide();
    row->addWidget(m_noticeLabel);
    row->addStretch(1);
    strip->setMinimumHeight(28);
    showBroadcastLabels(false);
    return strip;
}

QWidget* MainWindow::buildDeckCard(int deck) {
    DeckWidgets& w = m_decks[deck - 1];
    const QString name = QStringLiteral("Deck %1").arg(deck);
    QFrame* card = makeCard(QStringLiteral("deckCard"), this);
    card->setProperty("active", false);
    w.card = card;
    auto* grid = new QGridLayout(card);
    grid->setContentsMargins(16, 14, 16, 14);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);

    auto* title = makeLabel(name, QStringLiteral("deckTitle"), card);
    grid->addWidget(title, 0, 0, 1, 2);
    w.status =
        makeLabel(QStringLiteral("Inactive"), QStringLiteral("deck%1Status").arg(deck), card);
    w.status->setStyleSheet(QStringLiteral("color: grey;"));
    w.status->setAccessibleName(name + QStringLiteral(" status"));
    grid->addWidget(w.status, 0, 2, 1, 2, Qt::AlignRight);

    w.input = new QComboBox(card);
    w.input->setObjectName(QStringLiteral("deck%1Input").arg(deck));
    w.input->setAccessibleName(name + QStringLiteral(" input"));
    w.input->setMinimumWidth(160);
    grid->addWidget(w.input, 1, 0, 1, 3);
    w.refresh = makeIconButton(QStringLiteral("deckRefreshButton"),
                               QStringLiteral(":/icons/refresh-cw.svg"),
                               QStringLiteral("Refresh %1 inputs").arg(name), card);
    w.refresh->setFixedSize(36, 34);
    grid->addWidget(w.refresh, 1, 3);

    w.meter = makeMeter(name + QStringLiteral(" level"), card);
    w.slider = makeFader(name + QStringLiteral(" volume"), card);
    auto* faderRow = new QHBoxLayout;
    faderRow->setSpacing(16);
    faderRow->addStretch(1);
    faderRow->addWidget(w.meter);
    faderRow->addWidget(w.slider);
    faderRow->addStretch(1);
    grid->addLayout(faderRow, 2, 0, 1, 4);
    grid->setRowStretch(2, 1);

    w.volumeLabel = makeLabel(QStringLiteral("0.0"), QStringLiteral("volumeLabel"), card);
    w.volumeLabel->setAccessibleName(name + QStringLiteral(" volume in dB"));
    w.peakLabel = makeLabel(QStringLiteral("-∞"), QStringLiteral("peakLabel"), card);
    w.peakLabel->setAccessibleName(name + QStringLiteral(" peak"));
    w.peakLabel->setAlignment(Qt::AlignCenter);
    grid->addWidget(w.volumeLabel, 3, 0);
    grid->addWidget(w.peakLabel, 3, 1);

    w.mute = new QPushButton(card);
    w.mute->setCheckable(true);
    w.mute->setFixedSize(36, 30);
    w.mute->setAccessibleName(name + QStringLiteral(" mute"));
    applyMuteButtonLook(*w.mute, false);
    w.voice = new QPushButton(card);
    w.voice->setCheckable(true);
    w.voice->setFixedSize(36, 30);
    w.voice->setAccessibleName(name + QStringLiteral(" voice ducking"));
    applyTintedIconLook(*w.voice, QStringLiteral(":/icons/user-speaking.svg"),
                        QStringLiteral("voice"), false,
                        QStringLiteral("Click to enable audio ducking"));
    grid->addWidget(w.mute, 3, 2, Qt::AlignRight);
    grid->addWidget(w.voice, 3, 3);
    return card;
}

QWidget* MainWindow::buildMasterCard() {
    QFrame* card = makeCard(QStringLiteral("masterCard"), this);
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(16, 14, 16, 14);
    column->setSpacing(10);
    column->addWidget(makeLabel(QStringLiteral("Master"), QStringLiteral("deckTitle"), card));
    m_masterMeter = makeMeter(QStringLiteral("Master level"), card);
    m_masterSlider = makeFader(QStringLiteral("Master volume"), card);
    auto* faders = new QHBoxLayout;
    faders->addStretch(1);
    faders->addWidget(m_masterMeter);
    faders->addWidget(m_masterSlider);
    faders->addStretch(1);
    column->addLayout(faders, 1);
    auto* figures = new QHBoxLayout;
    m_masterLabel = makeLabel(QStringLiteral("0.0"), QStringLiteral("volumeLabel"), card);
    m_masterLabel->setAccessibleName(QStringLiteral("Master volume in dB"));
    m_masterPeakLabel = makeLabel(QStringLiteral("-∞"), QStringLiteral("peakLabel"), card);
    m_masterPeakLabel->setAccessibleName(QStringLiteral("Master peak"));
    figures->addWidget(m_masterLabel);
    figures->addStretch(1);
    figures->addWidget(m_masterPeakLabel);
    column->addLayout(figures);
    return card;
}

QWidget* MainWindow::buildMonitorCard() {
    QFrame* card = makeCard(QStringLiteral("monitorCard"), this);
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(16, 14, 16, 14);
    column->setSpacing(10);
    auto* top = new QHBoxLayout;
    m_monitorIconBg = new QFrame(card);
    m_monitorIconBg->setObjectName(QStringLiteral("monitorIconBg"));
    m_monitorIconBg->setFixedSize(30, 30);
    auto* iconLayout = new QHBoxLayout(m_monitorIconBg);
    iconLayout->setContentsMargins(5, 5, 5, 5);
    m_monitorIcon = new QLabel(m_monitorIconBg);
    m_monitorIcon->setObjectName(QStringLiteral("monitorIcon"));
    iconLayout->addWidget(m_monitorIcon);
    m_monitorIcon->setPixmap(QIcon(QStringLiteral(":/icons/volume-x.svg")).pixmap(QSize(20, 20)));
    top->addWidget(m_monitorIconBg);
    top->addWidget(makeLabel(QStringLiteral("Monitor"), QStringLiteral("deckTitle"), card));
    top->addStretch(1);
    m_monitorToggle = new QPushButton(card);
    m_monitorToggle->setObjectName(QStringLiteral("monitorToggle"));
    m_monitorToggle->setCheckable(true);
    m_monitorToggle->setChecked(true);  // muted until the start-up step turns it on
    m_monitorToggle->setFixedSize(36, 30);
    m_monitorToggle->setAccessibleName(QStringLiteral("Monitor mute"));
    applyMuteButtonLook(*m_monitorToggle, true);
    top->addWidget(m_monitorToggle);
    column->addLayout(top);
    m_monitorOutput = new QComboBox(card);
    m_monitorOutput->setObjectName(QStringLiteral("monitorOutput"));
    m_monitorOutput->setAccessibleName(QStringLiteral("Monitor output"));
    m_monitorOutput->setMinimumWidth(120);
    column->addWidget(m_monitorOutput);
    m_monitorMeter = makeMeter(QStringLiteral("Monitor level"), card);
    m_monitorSlider = makeFader(QStringLiteral("Monitor volume"), card);
    auto* faders = new QHBoxLayout;
    faders->addStretch(1);
    faders->addWidget(m_monitorMeter);
    faders->addWidget(m_monitorSlider);
    faders->addStretch(1);
    column->addLayout(faders, 1);
    auto* figures = new QHBoxLayout;
    m_monitorLabel = makeLabel(QStringLiteral("0.0"), QStringLiteral("volumeLabel"), card);
    m_monitorLabel->setAccessibleName(QStringLiteral("Monitor volume in dB"));
    m_monitorPeakLabel = makeLabel(QStringLiteral("-∞"), QStringLiteral("peakLabel"), card);
    m_monitorPeakLabel->setAccessibleName(QStringLiteral("Monitor peak"));
    figures->addWidget(m_monitorLabel);
    figures->addStretch(1);
    figures->addWidget(m_monitorPeakLabel);
    column->addLayout(figures);
    return card;
}

QWidget* MainWindow::buildCrossfader() {
    QFrame* card = makeCard(QStringLiteral("crossfaderCard"), this);
    auto* row = new QHBoxLayout(card);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(12);
    row->addWidget(makeLabel(QStringLiteral("Deck 1"), QStringLiteral("crossfaderEnd"), card));
    m_crossfader = new ShadowSlider(Qt::Horizontal, card);
    m_crossfader->setObjectName(QStringLiteral("crossfader"));
    m_crossfader->setRange(-100, 100);
    m_crossfader->setValue(0);
    m_crossfader->setTickInterval(25);
    m_crossfader->setTickPosition(QSlider::TicksBelow);
    m_crossfader->setAccessibleName(QStringLiteral("Crossfader"));
    row->addWidget(m_crossfader, 1);
    row->addWidget(makeLabel(QStringLiteral("Deck 2"), QStringLiteral("crossfaderEnd"), card));
    m_crossfaderLabel = makeLabel(QStringLiteral("C"), QStringLiteral("crossfaderLabel"), card);
    m_crossfaderLabel->setAccessibleName(QStringLiteral("Crossfader position"));
    m_crossfaderLabel->setMinimumWidth(44);
    m_crossfaderLabel->setAlignment(Qt::AlignCenter);
    row->addWidget(m_crossfaderLabel);
    return card;
}

QWidget* MainWindow::buildTitleRow() {
    QFrame* card = makeCard(QStringLiteral("titleCard"), this);
    auto* row = new QHBoxLayout(card);
    row->setContentsMargins(18, 14, 14, 14);
    row->setSpacing(14);
    auto* column = new QVBoxLayout;
    column->setSpacing(6);
    auto* nowRow = new QHBoxLayout;
    nowRow->addWidget(
        makeLabel(QStringLiteral("NOW PLAYING"), QStringLiteral("nowPlayingCaption"), card));
    m_nowPlaying = new MarqueeLabel(card);
    m_nowPlaying->setObjectName(QStringLiteral("nowPlaying"));
    m_nowPlaying->setAccessibleName(QStringLiteral("Now playing"));
    m_nowPlaying->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    nowRow->addWidget(m_nowPlaying, 1);
    column->addLayout(nowRow);
    auto* entryRow = new QHBoxLayout;
    entryRow->setSpacing(8);
    m_titleEntry = new QLineEdit(card);
    m_titleEntry->setObjectName(QStringLiteral("metadataEntry"));
    m_titleEntry->setPlaceholderText(QStringLiteral("Artist - Title"));
    m_titleEntry->setAccessibleName(QStringLiteral("Song title"));
    m_titleEntry->installEventFilter(this);
    connect(m_titleEntry, &QLineEdit::returnPressed, this, [this] {
        if (m_updateButton->isEnabled()) onManualMetadataUpdate();
    });
    entryRow->addWidget(m_titleEntry, 1);
    m_updateButton = new QPushButton(QStringLiteral("Update"), card);
    m_updateButton->setObjectName(QStringLiteral("updateMetadataButton"));
    m_updateButton->setAccessibleName(QStringLiteral("Update song title"));
    m_updateButton->setMinimumWidth(96);
    entryRow->addWidget(m_updateButton);
    column->addLayout(entryRow);
    auto* notes = new QHBoxLayout;
    notes->setSpacing(6);
    // Whether the server shows the title, beside the row's status text.
    m_titleMark = new QLabel(card);
    m_titleMark->setObjectName(QStringLiteral("titleConfirmationMark"));
    m_titleMark->setFixedSize(14, 14);
    m_titleMark->hide();
    notes->addWidget(m_titleMark);
    m_titleStatus = makeLabel(QString(), QStringLiteral("metadataStatusLabel"), card);
    m_titleStatus->setAccessibleName(QStringLiteral("Title status"));
    m_titleNote = makeLabel(QString(), QStringLiteral("metadataNoteLabel"), card);
    m_titleNote->hide();
    notes->addWidget(m_titleStatus);
    notes->addStretch(1);
    notes->addWidget(m_titleNote);
    column->addLayout(notes);
    row->addLayout(column, 1);

    m_connectButton = new IconTextButton(card);
    m_connectButton->setObjectName(QStringLiteral("connectButton"));
    m_connectButton->setText(QStringLiteral("Go Live"));
    m_connectButton->setAccessibleName(QStringLiteral("Go Live"));
    m_connectButton->setCenterContent(true);
    m_connectButton->setMinimumSize(220, 64);
    m_connectButton->setCursor(Qt::PointingHandCursor);
    auto* shadow = new QGraphicsDropShadowEffect(m_connectButton);
    shadow->setBlurRadius(24);
    shadow->setOffset(0, 4);
    m_connectButton->setGraphicsEffect(shadow);
    row->addWidget(m_connectButton);
    return card;
}

// The server fields are filled by the channel choice and read by Go Live; the user never edits
// them. The account group and the status bar carry the longer texts for assistive tools.
QWidget* MainWindow::buildHiddenParts() {
    auto* hidden = new QWidget(this);
    auto* layout = new QVBoxLayout(hidden);
    auto* broadcast = new QGroupBox(QStringLiteral("Broadcast"), hidden);
    auto* form = new QGridLayout(broadcast);
    m_hostEdit = new QLineEdit(broadcast);
    m_portSpin = new QSpinBox(broadcast);
    m_portSpin->setRange(1, 65535);
    m_portSpin->setValue(8000);
    m_mountEdit = new QLineEdit(broadcast);
    m_userEdit = new QLineEdit(QStringLiteral("source"), broadcast);
    m_passwordEdit = new QLineEdit(broadcast);
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    form->addWidget(m_hostEdit, 0, 0);
    form->addWidget(m_portSpin, 0, 1);
    form->addWidget(m_mountEdit, 1, 0);
    form->addWidget(m_userEdit, 2, 0);
    form->addWidget(m_passwordEdit, 3, 0);
    layout->addWidget(broadcast);
    auto* account = new QGroupBox(QStringLiteral("Ondaro Cloud"), hidden);
    auto* accountLayout = new QVBoxLayout(account);
    m_maxListenersLabel = new QLabel(account);
    m_serverStatusTextLabel = new QLabel(account);
    m_detailedStatusLabel = new QLabel(account);
    auto* loginButton = new QPushButton(QStringLiteral("Login"), account);
    connect(loginButton, &QPushButton::clicked, this, &MainWindow::showLoginDialog);
    accountLayout->addWidget(m_maxListenersLabel);
    accountLayout->addWidget(m_serverStatusTextLabel);
    accountLayout->addWidget(m_detailedStatusLabel);
    accountLayout->addWidget(loginButton);
    layout->addWidget(account);
    hidden->hide();
    statusBar()->hide();
    return hidden;
}

// The menu bar has no height: only its shortcuts act.
void MainWindow::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setFixedHeight(0);
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    QAction* exit = file->addAction(QStringLiteral("E&xit"));
    exit->setShortcut(QKeySequence::Quit);
    connect(exit, &QAction::triggered, this, &QWidget::close);
    QMenu* settings = bar->addMenu(QStringLiteral("&Settings"));
    QAction* preferences = settings->addAction(QStringLiteral("&Preferences..."));
    preferences->setShortcut(QKeySequence::Preferences);
    connect(preferences, &QAction::triggered, this, &MainWindow::showSettings);
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    QAction* updates = help->addAction(QStringLiteral("Check for &Updates..."));
    updates->setShortcut(QKeySequence(QStringLiteral("Ctrl+U")));
    connect(updates, &QAction::triggered, this, &MainWindow::onCheckForUpdates);
}

// The manual entry gives the typed text time before the current song is copied back into it.
bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_titleEntry) {
        if (event->type() == QEvent::FocusIn) m_songResyncTimer->stop();
        if (event->type() == QEvent::FocusOut) m_songResyncTimer->start();
    }
    return QMainWindow::eventFilter(watched, event);
}
