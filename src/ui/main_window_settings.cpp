// The main window's settings: read once at start into the services and dialogs, applied at once
// when a dialog changes one, written back at close.
#include "ui/main_window.h"

#include <QComboBox>
#include <QSettings>
#include <QTimer>

#include "audio/codec.h"
#include "audio/encoder_settings.h"
#include "broadcast/broadcaster.h"
#include "broadcast/icecast_client.h"
#include "core/log_categories.h"
#include "core/logger.h"
#include "core/settings_keys.h"
#include "metadata/metadata_manager.h"
#include "ui/app_state.h"
#include "ui/deck_input_controller.h"
#include "ui/encoder_settings_dialog.h"
#include "ui/load_time_corrections.h"
#include "ui/settings_dialog.h"
#include "widgets/shadow_slider.h"

namespace sk = settingskeys;

namespace {

constexpr int kDeckRestoreDelayMs = 200;

// "MP3", "AAC", "OGG Vorbis", "OGG Opus" for the stored types 0..3; empty for anything else.
QString encoderNameForType(int type) {
    return type >= int(Codec::Mp3) && type <= int(Codec::Opus) ? codecDisplayName(type) : QString();
}

int encoderTypeForName(const QString& name, bool vorbisAllowed) {
    if (name == QLatin1String("MP3")) return 0;
    if (name == QLatin1String("AAC")) return 1;
    if (vorbisAllowed && name == QLatin1String("OGG Vorbis")) return 2;
    if (name == QLatin1String("OGG Opus")) return 3;
    return -1;
}

QStringList itemTexts(const QComboBox* combo) {
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    return texts;
}

const QStringList kSourceNames = {QStringLiteral("Manual"), QStringLiteral("File"),
                                  QStringLiteral("URL"), QStringLiteral("Window Title")};

}  // namespace

void MainWindow::loadSettings() {
    QSettings settings;
    EncoderSettings* encoder = m_broadcaster->encoderSettings();
    IcecastClient* client = m_broadcaster->icecastClient();

    const bool autoReconnect = sk::read(settings, sk::kAutoReconnect);
    const int delay = sk::read(settings, sk::kReconnectDelay);
    const int retries = sk::read(settings, sk::kReconnectMaxRetries);
    m_appState->setAutoReconnectEnabled(autoReconnect);
    m_appState->setReconnectInterval(delay);
    m_appState->setReconnectMaxAttempts(retries);
    client->setAutoReconnect(autoReconnect);
    client->setReconnectInterval(delay);
    client->setMaxReconnectAttempts(retries);

    const int type = sk::read(settings, sk::kEncoderType);
    encoder->setEncoderType(type);
    encoder->setBitrate(sk::read(settings, sk::kEncoderBitrate));
    encoder->setSampleRate(sk::read(settings, sk::kEncoderSampleRate));
    encoder->setChannels(sk::read(settings, sk::kEncoderChannels));
    encoder->setAacAfterburner(sk::read(settings, sk::kEncoderAacAfterburner));
    encoder->setAacProfile(sk::read(settings, sk::kEncoderAacProfile));
    encoder->setOpusAudioType(sk::read(settings, sk::kEncoderOpusOptimizedFor));
    const QString name = encoderNameForType(type);
    const QString bitrate = QString::number(encoder->bitrate());
    const QString sampleRate = QString::number(encoder->sampleRate());
    const QString channels =
        encoder->channels() == 2 ? QStringLiteral("Stereo") : QStringLiteral("Mono");
    m_encoderDialog->setEncoder(name);
    m_encoderDialog->setBitrate(bitrate);
    m_encoderDialog->setSampleRate(sampleRate);
    m_encoderDialog->setChannels(channels);
    m_settingsDialog->setEncoder(name);
    m_settingsDialog->setBitrate(bitrate);
    m_settingsDialog->setSampleRate(sampleRate);
    m_settingsDialog->setChannels(channels);
    m_settingsDialog->setAacAfterburner(encoder->aacAfterburner());
    m_settingsDialog->setAacProfile(encoder->aacProfile());
    m_settingsDialog->setOpusOptimizedFor(encoder->opusAudioType());
    m_settingsDialog->setAutoReconnect(autoReconnect);
    m_settingsDialog->setReconnectDelay(delay);
    m_settingsDialog->setReconnectRetries(retries);

    const LoadTimeCorrections corrections = applyLoadTimeCorrections(
        settings, itemTexts(m_decks[0].input), itemTexts(m_decks[1].input), *encoder);
    m_savedDeckDevice = {sk::read(settings, sk::kDeck1Device),
                         sk::read(settings, sk::kDeck2Device)};
    const std::array<int, 2> deviceIndex = {corrections.deck1DeviceIndex,
                                            corrections.deck2DeviceIndex};
    for (int deck = 1; deck <= 2; ++deck) {
        const int index = deviceIndex[size_t(deck - 1)];
        if (index <= 0) continue;
        m_decks[size_t(deck - 1)].input->setCurrentIndex(index);
        QTimer::singleShot(kDeckRestoreDelayMs, this, [this, deck, index] {
            deck == 1 ? onDeck1InputChanged(index) : onDeck2InputChanged(index);
        });
    }

    const std::array<int, 2> volumes = {sk::read(settings, sk::kDeck1Volume),
                                        sk::read(settings, sk::kDeck2Volume)};
    for (int deck = 1; deck <= 2; ++deck) {
        // Through onVolumeChanged, as a move of the fader would.
        m_decks[size_t(deck - 1)].slider->setValue(volumes[size_t(deck - 1)]);
    }
    const double crossfader = sk::read(settings, sk::kCrossfaderPosition);
    {
        const QSignalBlocker blocker(m_crossfader);
        m_crossfader->setValue(int(crossfader * 100.0));
    }
    m_broadcaster->setCrossfader(float(crossfader));
    showCrossfaderLabel();

    m_settingsDialog->setDuckingPreset(
        sk::read(settings, sk::kDuckingPreset), sk::read(settings, sk::kDuckingThreshold),
        sk::read(settings, sk::kDuckingRatio), sk::read(settings, sk::kDuckingAttack),
        sk::read(settings, sk::kDuckingRelease), sk::read(settings, sk::kDuckingKnee));
    // What the dialog now shows (a preset's own values, or the stored custom ones) is what the
    // mixer and the encoder settings get; ducking itself stays off until a voice button.
    applyDuckingConfig();

    const QString filePath = sk::read(settings, sk::kMetadataFilePath);
    const QString url = sk::read(settings, sk::kMetadataUrl);
    const QString windowTitle = sk::read(settings, sk::kMetadataWindowPattern);
    const bool readLastLine = sk::read(settings, sk::kMetadataFileReadLastLine);
    const int interval = sk::read(settings, sk::kMetadataUrlPollInterval);
    // An Ogg stream carries its title in the headers: the lock shows Manual, and Manual is what
    // runs, whatever source was stored.
    const Codec codec = encoder->codec();
    const bool ogg = codec == Codec::Opus || codec == Codec::Vorbis;
    const int source = ogg ? 0 : corrections.metadataSource;
    m_metadataManager->setReadLastLine(readLastLine);
    m_metadataManager->setUrlPollInterval(interval);
    m_metadataManager->setSource(static_cast<MetadataSource>(source));
    if (!filePath.isEmpty()) m_metadataManager->setFilePath(filePath);
    if (!url.isEmpty()) m_metadataManager->setUrl(url);
    if (!windowTitle.isEmpty()) m_metadataManager->setWindowTitle(windowTitle);
    m_settingsDialog->setMetadataSource(kSourceNames.value(source, kSourceNames.first()));
    m_settingsDialog->setMetadataFilePath(filePath);
    m_settingsDialog->setMetadataUrl(url);
    m_settingsDialog->setMetadataWindowTitle(windowTitle);
    m_settingsDialog->setMetadataReadLastLine(readLastLine);
    m_settingsDialog->setMetadataUrlInterval(interval);
    if (ogg) m_settingsDialog->setOpusMetadataLock(true);
    if (!corrections.missingMetadataFile.isEmpty()) {
        QTimer::singleShot(500, this, [this, path = corrections.missingMetadataFile] {
            notifyNow(AlertDialog::Variant::Warning, missingMetadataFileTitle(),
                      missingMetadataFileText(path));
        });
    }

    const QString streamName = sk::read(settings, sk::kStreamName);
    const QString description = sk::read(settings, sk::kStreamDescription);
    const QString genre = sk::read(settings, sk::kStreamGenre);
    const QString streamUrl = sk::read(settings, sk::kStreamUrl);
    const bool isPublic = sk::read(settings, sk::kStreamPublic);
    client->setStreamName(streamName);
    client->setStreamDescription(description);
    client->setStreamGenre(genre);
    client->setStreamUrl(streamUrl);
    client->setPublic(isPublic);
    m_settingsDialog->setStreamName(streamName);
    m_settingsDialog->setStreamDescription(description);
    m_settingsDialog->setStreamGenre(genre);
    m_settingsDialog->setStreamUrl(streamUrl);
    m_settingsDialog->setStreamPublic(isPublic);

    const bool fileLogging = sk::read(settings, sk::kDebugFileLogging);
    Logger::instance().setFileLoggingEnabled(fileLogging);
    m_settingsDialog->setDebugLogging(fileLogging);
    m_settingsDialog->setMinimizeToTray(sk::read(settings, sk::kMinimizeToTray));

    if (corrections.restoreWindowGeometry) {
        restoreGeometry(corrections.windowGeometry);
        restoreState(corrections.windowState);
    }
    updateMetadataControls();
    m_metadataManager->refresh();
}

void MainWindow::saveSettings() {
    QSettings settings;
    const EncoderSettings* encoder = m_broadcaster->encoderSettings();
    sk::write(settings, sk::kAutoReconnect, m_appState->autoReconnectEnabled());
    sk::write(settings, sk::kReconnectDelay, m_appState->reconnectInterval());
    sk::write(settings, sk::kReconnectMaxRetries, m_appState->reconnectMaxAttempts());
    sk::write(settings, sk::kEncoderType, encoder->encoderType());
    sk::write(settings, sk::kEncoderBitrate, encoder->bitrate());
    sk::write(settings, sk::kEncoderSampleRate, encoder->sampleRate());
    sk::write(settings, sk::kEncoderChannels, encoder->channels());
    sk::write(settings, sk::kEncoderAacAfterburner, encoder->aacAfterburner());
    sk::write(settings, sk::kEncoderAacProfile, encoder->aacProfile());
    sk::write(settings, sk::kEncoderOpusOptimizedFor, encoder->opusAudioType());
    // A device that was missing at start keeps its saved name until the user picks another
    // input for that deck, so it comes back once it is plugged in again.
    for (int deck = 1; deck <= 2; ++deck) {
        const QComboBox* input = m_decks[size_t(deck - 1)].input;
        QString device = input->currentIndex() >= 0 ? input->currentText() : QString();
        // A program item is no device: its text would open the picker at the next start.
        if (input->currentData().typeId() == QMetaType::Int && input->currentData().toInt() < -1)
            device = QStringLiteral("None");
        if (!m_deckTouched[size_t(deck - 1)] && input->currentIndex() <= 0 &&
            !m_savedDeckDevice[size_t(deck - 1)].isEmpty())
            device = m_savedDeckDevice[size_t(deck - 1)];
        if (!device.isEmpty())
            sk::write(settings, deck == 1 ? sk::kDeck1Device : sk::kDeck2Device, device);
    }
    sk::write(settings, sk::kDeck1Volume, m_decks[0].slider->value());
    sk::write(settings, sk::kDeck2Volume, m_decks[1].slider->value());
    sk::write(settings, sk::kCrossfaderPosition, double(m_crossfader->value()) / 100.0);
    sk::write(settings, sk::kDuckingPreset, m_settingsDialog->duckingPreset());
    sk::write(settings, sk::kDuckingThreshold, m_settingsDialog->duckingThresholdDb());
    sk::write(settings, sk::kDuckingRatio, m_settingsDialog->duckingRatio());
    sk::write(settings, sk::kDuckingAttack, m_settingsDialog->duckingAttackMs());
    sk::write(settings, sk::kDuckingRelease, m_settingsDialog->duckingReleaseMs());
    sk::write(settings, sk::kDuckingKnee, m_settingsDialog->duckingKneeDb());
    sk::write(settings, sk::kMetadataSource, static_cast<int>(m_metadataManager->source()));
    sk::write(settings, sk::kMetadataFilePath, m_metadataManager->filePath());
    sk::write(settings, sk::kMetadataUrl, m_metadataManager->url());
    sk::write(settings, sk::kMetadataWindowPattern, m_metadataManager->windowTitle());
    sk::write(settings, sk::kMetadataFileReadLastLine, m_metadataManager->readLastLine());
    sk::write(settings, sk::kMetadataUrlPollInterval, m_metadataManager->urlPollIntervalSeconds());
    sk::write(settings, sk::kStreamName, m_settingsDialog->streamName());
    sk::write(settings, sk::kStreamDescription, m_settingsDialog->streamDescription());
    sk::write(settings, sk::kStreamGenre, m_settingsDialog->streamGenre());
    sk::write(settings, sk::kStreamUrl, m_settingsDialog->streamUrl());
    sk::write(settings, sk::kStreamPublic, m_settingsDialog->streamPublic());
    sk::write(settings, sk::kDebugFileLogging, m_settingsDialog->debugLogging());
    sk::write(settings, sk::kMinimizeToTray, m_settingsDialog->minimizeToTray());
    sk::write(settings, sk::kWindowGeometry, saveGeometry());
    sk::write(settings, sk::kWindowState, saveState());
}

void MainWindow::changeEncoder(std::function<void()> change) {
    const IcecastClient* client = m_broadcaster->icecastClient();
    const bool connectionExists = m_appState->connectionState() != AppState::Disconnected ||
                                  m_broadcaster->isBroadcasting() || client->isConnected() ||
                                  client->isReconnecting();
    if (!connectionExists) {
        change();
        return;
    }
    m_pendingEncoderChanges.push_back(std::move(change));
    setStatusNotice(QStringLiteral("Encoder changes apply from the next Go Live."),
                    QStringLiteral("info"));
}

void MainWindow::applyPendingEncoderChanges() {
    if (m_pendingEncoderChanges.empty()) return;
    const auto changes = std::move(m_pendingEncoderChanges);
    m_pendingEncoderChanges.clear();
    for (const auto& change : changes) change();
    qCInfo(lcUi) << "Applied the encoder changes made during the broadcast";
    updateMetadataControls();
}

void MainWindow::applyEncoderName(const QString& name, bool fromSettingsDialog) {
    const int type = encoderTypeForName(name, !fromSettingsDialog);
    if (type >= 0)
        changeEncoder([this, type] { m_broadcaster->encoderSettings()->setEncoderType(type); });
    if (!fromSettingsDialog) return;
    m_encoderDialog->setEncoder(name);
    const bool ogg = name == QLatin1String("OGG Opus") || name == QLatin1String("OGG Vorbis");
    m_settingsDialog->setOpusMetadataLock(ogg);
    if (ogg) m_metadataManager->setSource(MetadataSource::Manual);
    updateMetadataControls();
}

void MainWindow::connectSettingsDialog() {
    SettingsDialog* d = m_settingsDialog;
    EncoderSettings* encoder = m_broadcaster->encoderSettings();
    IcecastClient* client = m_broadcaster->icecastClient();
    connect(d, &SettingsDialog::encoderChanged, this,
            [this](const QString& name) { applyEncoderName(name, true); });
    connect(d, &SettingsDialog::bitrateChanged, this, [this, encoder](const QString& text) {
        changeEncoder([encoder, kbps = text.toInt()] { encoder->setBitrate(kbps); });
        m_encoderDialog->setBitrate(text);
    });
    connect(d, &SettingsDialog::sampleRateChanged, this, [this, encoder](const QString& text) {
        changeEncoder([encoder, hz = text.toInt()] { encoder->setSampleRate(hz); });
        m_encoderDialog->setSampleRate(text);
    });
    connect(d, &SettingsDialog::channelsChanged, this, [this, encoder](const QString& text) {
        const int channels = text == QLatin1String("Stereo") ? 2 : 1;
        changeEncoder([encoder, channels] { encoder->setChannels(channels); });
        m_encoderDialog->setChannels(text);
    });
    connect(d, &SettingsDialog::aacAfterburnerChanged, this, [this, encoder](bool enabled) {
        changeEncoder([encoder, enabled] { encoder->setAacAfterburner(enabled); });
    });
    connect(d, &SettingsDialog::aacProfileChanged, this, [this, encoder](int profile) {
        changeEncoder([encoder, profile] { encoder->setAacProfile(profile); });
    });
    connect(d, &SettingsDialog::opusOptimizedForChanged, this, [this, encoder](int type) {
        changeEncoder([encoder, type] { encoder->setOpusAudioType(type); });
    });
    connect(d, &SettingsDialog::duckingSettingsChanged, this, &MainWindow::applyDuckingConfig);
    connect(d, &SettingsDialog::autoReconnectChanged, this, [this, client](bool enabled) {
        m_appState->setAutoReconnectEnabled(enabled);
        client->setAutoReconnect(enabled);
    });
    connect(d, &SettingsDialog::reconnectDelayChanged, this, [this, client](int seconds) {
        m_appState->setReconnectInterval(seconds);
        client->setReconnectInterval(seconds);
    });
    connect(d, &SettingsDialog::reconnectRetriesChanged, this, [this, client](int retries) {
        m_appState->setReconnectMaxAttempts(retries);
        client->setMaxReconnectAttempts(retries);
    });
    connect(d, &SettingsDialog::channelSelectionChanged, this,
            &MainWindow::onChannelSelectionChanged);
    connect(d, &SettingsDialog::refreshChannelsRequested, this,
            &MainWindow::onRefreshAccountClicked);
    connect(d, &SettingsDialog::metadataSourceChanged, this, [this](const QString& name) {
        const int index = kSourceNames.indexOf(name);
        if (index >= 0) m_metadataManager->setSource(static_cast<MetadataSource>(index));
        updateMetadataControls();
    });
    MetadataManager* metadata = m_metadataManager;
    connect(d, &SettingsDialog::metadataFilePathChanged, metadata, &MetadataManager::setFilePath);
    connect(d, &SettingsDialog::metadataUrlChanged, metadata, &MetadataManager::setUrl);
    connect(d, &SettingsDialog::metadataWindowChanged, metadata, &MetadataManager::setWindowTitle);
    connect(d, &SettingsDialog::metadataFileReadModeChanged, metadata,
            &MetadataManager::setReadLastLine);
    connect(d, &SettingsDialog::metadataUrlIntervalChanged, metadata,
            &MetadataManager::setUrlPollInterval);
    connect(
        d, &SettingsDialog::metadataWindowSelected, this,
        [metadata](const QString& title, quintptr handle) { metadata->setWindow(title, handle); });
    connect(d, &SettingsDialog::metadataSettingsConfirmed, this, [this] {
        m_metadataManager->refresh();
        updateMetadataControls();
    });
    connect(d, &SettingsDialog::streamMetadataChanged, this, [this, client] {
        client->setStreamName(m_settingsDialog->streamName());
        client->setStreamDescription(m_settingsDialog->streamDescription());
        client->setStreamGenre(m_settingsDialog->streamGenre());
        client->setStreamUrl(m_settingsDialog->streamUrl());
        client->setPublic(m_settingsDialog->streamPublic());
    });
    connect(d, &SettingsDialog::logoutRequested, this, &MainWindow::onLogoutClicked);
    connect(d, &SettingsDialog::debugLoggingChanged, this,
            [](bool enabled) { Logger::instance().setFileLoggingEnabled(enabled); });
    connect(d, &SettingsDialog::checkForUpdatesRequested, this, &MainWindow::onCheckForUpdates);
}

void MainWindow::connectEncoderDialog() {
    EncoderSettings* encoder = m_broadcaster->encoderSettings();
    connect(m_encoderDialog, &EncoderSettingsDialog::encoderChanged, this,
            [this](const QString& name) { applyEncoderName(name, false); });
    connect(m_encoderDialog, &EncoderSettingsDialog::bitrateChanged, this,
            [this, encoder](const QString& text) {
                changeEncoder([encoder, kbps = text.toInt()] { encoder->setBitrate(kbps); });
            });
    connect(m_encoderDialog, &EncoderSettingsDialog::sampleRateChanged, this,
            [this, encoder](const QString& text) {
                changeEncoder([encoder, hz = text.toInt()] { encoder->setSampleRate(hz); });
            });
    connect(m_encoderDialog, &EncoderSettingsDialog::channelsChanged, this,
            [this, encoder](const QString& text) {
                const int channels = text == QLatin1String("Stereo") ? 2 : 1;
                changeEncoder([encoder, channels] { encoder->setChannels(channels); });
            });
}
