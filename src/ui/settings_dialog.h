// The settings dialog: every option of the application over five sections.
#pragma once

#include <QDialog>
#include <QString>
#include <QtGlobal>

#include <functional>

class AnimatedToggle;
class AppState;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QVariantAnimation;
class QWidget;

// Holds no settings of its own: each control reports a user's change through a signal that the
// owner applies and stores, and the owner pushes stored values in through the setters, which
// block the controls' signals so loading never echoes a change. Non-modal, created once and kept.
// Main thread only. The file chooser, the window picker and the alerts run modally (they block
// in a nested event loop); everything else returns at once.
class SettingsDialog : public QDialog {
    Q_OBJECT

public:
    // Returns the chosen file, or an empty string when the user cancelled.
    using FileChooser =
        std::function<QString(QWidget* parent, const QString& title, const QString& filter)>;

    explicit SettingsDialog(AppState* appState, QWidget* parent = nullptr);

    // Replaces the native file dialog (tests, or a platform that needs another chooser).
    void setFileChooser(FileChooser chooser);

    // Setters for loading stored settings. Combo boxes select by item data, failing that by the
    // exact item text; an unknown value leaves the selection alone.
    void setEncoder(const QString& encoder);
    void setBitrate(const QString& bitrate);
    void setSampleRate(const QString& sampleRate);
    // "Mono", "Stereo" or a channel count.
    void setChannels(const QString& channels);
    void setAacAfterburner(bool enabled);
    void setAacProfile(int profile);
    void setOpusOptimizedFor(int optimizedFor);
    void setAutoReconnect(bool enabled);
    void setReconnectDelay(int seconds);
    void setReconnectRetries(int retries);
    // Presets 0..5 write their own values into the ducking controls; the given values are used
    // only for the advanced preset. Read the result back through the ducking getters.
    void setDuckingPreset(int presetIndex, double thresholdDb, double ratio, int attackMs,
                          int releaseMs, double kneeDb);
    // By display name; "Text File" means "File". Also becomes the accepted source, unless the
    // Opus metadata lock holds the list on "Manual".
    void setMetadataSource(const QString& source);
    void setMetadataFilePath(const QString& path);
    void setMetadataUrl(const QString& url);
    void setMetadataWindowTitle(const QString& title);
    void setMetadataReadLastLine(bool readLastLine);
    void setMetadataUrlInterval(int seconds);
    void setStreamName(const QString& name);
    void setStreamDescription(const QString& description);
    void setStreamGenre(const QString& genre);
    void setStreamUrl(const QString& url);
    void setStreamPublic(bool listed);
    void setDebugLogging(bool enabled);
    void setMinimizeToTray(bool enabled);
    // On for Ogg streams, whose titles travel in the stream header: the source is held on
    // "Manual" (the accepted source too) and the warning is shown.
    void setOpusMetadataLock(bool locked);
    // The plan's limit in kbit/s, 0 for none. Only rates up to it are offered ("32" alone below
    // 64); emits bitrateChanged when the selected rate had to change.
    void setMaxBitrate(int maxBitrateKbps);

    int duckingPreset() const;
    double duckingThresholdDb() const;
    double duckingRatio() const;
    int duckingAttackMs() const;
    int duckingReleaseMs() const;
    double duckingKneeDb() const;

    QString streamName() const;
    QString streamDescription() const;
    QString streamGenre() const;
    QString streamUrl() const;
    bool streamPublic() const;
    bool debugLogging() const;
    bool minimizeToTray() const;

    // MetadataSource numbering: 0 manual, 1 file, 2 URL, 3 window title.
    int acceptedMetadataSource() const { return m_acceptedSourceIndex; }

    // Rebuilds the channel list from the application state with signals blocked, then selects
    // the state's selected channel when listed, else the first channel.
    void populateChannels();
    // The channel id of a list index; empty for the placeholder or an index out of range.
    QString channelIdAt(int index) const;
    // Signals blocked. Returns the index selected: the channel when listed, else the first
    // channel, else 0 (the placeholder).
    int selectChannel(const QString& channelId);
    void updateAccountPage();

    // False (after telling the user and showing the offending field) when the accepted
    // metadata source cannot work; on success emits the source's value and
    // metadataSettingsConfirmed.
    bool validateMetadataSettings();
    // Opens the window picker; true when the user chose a window.
    bool selectWindowToMonitor();

Q_SIGNALS:
    void encoderChanged(const QString& encoder);
    void bitrateChanged(const QString& bitrate);
    void sampleRateChanged(const QString& sampleRate);
    void channelsChanged(const QString& channels);
    void aacAfterburnerChanged(bool enabled);
    void aacProfileChanged(int profile);
    void opusOptimizedForChanged(int optimizedFor);
    void duckingSettingsChanged();
    void autoReconnectChanged(bool enabled);
    void reconnectDelayChanged(int seconds);
    void reconnectRetriesChanged(int retries);
    void channelSelectionChanged(int index);
    void refreshChannelsRequested();
    void metadataSourceChanged(const QString& source);
    void metadataFilePathChanged(const QString& path);
    void metadataUrlChanged(const QString& url);
    void metadataWindowChanged(const QString& windowTitle);
    void updateMetadataRequested();
    void metadataWindowSelected(const QString& windowTitle, quintptr hwnd);
    void metadataFileReadModeChanged(bool readLastLine);
    void metadataUrlIntervalChanged(int seconds);
    void streamMetadataChanged();
    void metadataSettingsConfirmed();
    void logoutRequested();
    void debugLoggingChanged(bool enabled);
    void checkForUpdatesRequested();
    void autoStartChanged(bool enabled);
    void minimizeToTrayChanged(bool enabled);

public Q_SLOTS:
    void onEncoderChanged(int index);
    void onBitrateChanged(int index);
    void onSampleRateChanged(int index);
    void onChannelsChanged(int index);
    void onAacAfterburnerChanged(int index);
    void onAacProfileChanged(int index);
    void onOpusOptimizedForChanged(int index);
    void onAutoReconnectChanged(bool checked);
    void onReconnectDelayChanged(int value);
    void onReconnectRetriesChanged(int value);
    void onChannelSelectionChanged(int index);
    void onRefreshChannelsClicked();
    void onMetadataSourceChanged(int index);
    void onBrowseMetadataFile();
    void onLogoutClicked();
    void onSectionChanged(int row);
    void onTabClicked();

public:
    // Validates whichever way the dialog ends (close button, Escape, accept).
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private Q_SLOTS:
    void onLicensesLinkActivated();

private:
    // One builder per section; each returns the page for the stacked widget.
    QWidget* buildAudioPage();
    QWidget* buildStreamingPage();
    QWidget* buildMetadataPage();
    QWidget* buildAccountPage();
    QWidget* buildAboutPage();
    QWidget* buildTabBar();
    void setTabOrder();

    void updateTabIcons();
    void applyEncoderRules(bool emitSampleRate);
    void applyDuckingPreset(int presetIndex);
    // Into the ducking controls, their signals blocked.
    void writeDuckingValues(double thresholdDb, double ratio, int attackMs, int releaseMs,
                            double kneeDb);
    void updateMetadataRows();
    void showAcceptedSource();
    void onAutoStartToggled(bool enabled);
    void onDebugLoggingToggled(bool enabled);
    void onReadLastLineToggled(bool readLastLine);
    void openLogFolder();
    // Fails: shows the Metadata section, focuses `field` and warns.
    bool refuseMetadata(QWidget* field, const QString& title, const QString& message);

    AppState* m_appState = nullptr;
    FileChooser m_fileChooser;
    int m_acceptedSourceIndex = 0;
    bool m_metadataLocked = false;
    quintptr m_selectedWindowHandle = 0;
    QString m_selectedWindowTitle;

    QWidget* m_tabBar = nullptr;
    QStackedWidget* m_content = nullptr;

    QComboBox* m_encoderCombo = nullptr;
    QComboBox* m_bitrateCombo = nullptr;
    QLabel* m_maxBitrateNote = nullptr;
    QComboBox* m_channelsCombo = nullptr;
    QComboBox* m_sampleRateCombo = nullptr;
    QWidget* m_aacAfterburnerRow = nullptr;
    QComboBox* m_aacAfterburnerCombo = nullptr;
    QWidget* m_aacProfileRow = nullptr;
    QComboBox* m_aacProfileCombo = nullptr;
    QWidget* m_opusRow = nullptr;
    QComboBox* m_opusOptimizedCombo = nullptr;
    QPushButton* m_duckingHelpButton = nullptr;
    QComboBox* m_duckingPresetCombo = nullptr;
    QWidget* m_duckingCustomGroup = nullptr;
    QSpinBox* m_duckingThreshold = nullptr;
    QDoubleSpinBox* m_duckingRatio = nullptr;
    QSpinBox* m_duckingAttack = nullptr;
    QSpinBox* m_duckingRelease = nullptr;
    QDoubleSpinBox* m_duckingKnee = nullptr;

    QComboBox* m_channelCombo = nullptr;
    QPushButton* m_refreshButton = nullptr;
    QVariantAnimation* m_refreshRotation = nullptr;
    AnimatedToggle* m_autoReconnectToggle = nullptr;
    QSpinBox* m_reconnectDelaySpin = nullptr;
    QSpinBox* m_reconnectRetriesSpin = nullptr;

    QComboBox* m_sourceCombo = nullptr;
    QLabel* m_opusWarningLabel = nullptr;
    QWidget* m_fileRows = nullptr;
    QLineEdit* m_filePathEdit = nullptr;
    QPushButton* m_browseFileButton = nullptr;
    AnimatedToggle* m_fileLastLineToggle = nullptr;
    QWidget* m_urlRows = nullptr;
    QLineEdit* m_urlEdit = nullptr;
    AnimatedToggle* m_urlLastLineToggle = nullptr;
    QSpinBox* m_urlIntervalSpin = nullptr;
    QWidget* m_windowRows = nullptr;
    QLabel* m_windowTitleLabel = nullptr;
    QPushButton* m_browseWindowButton = nullptr;
    QLineEdit* m_streamNameEdit = nullptr;
    QLineEdit* m_streamDescriptionEdit = nullptr;
    QLineEdit* m_streamGenreEdit = nullptr;
    QLineEdit* m_streamUrlEdit = nullptr;
    AnimatedToggle* m_streamPublicToggle = nullptr;

    QLabel* m_accountNameLabel = nullptr;
    QLabel* m_accountEmailLabel = nullptr;
    QLabel* m_planValue = nullptr;
    QLabel* m_listenersValue = nullptr;
    QLabel* m_bitrateValue = nullptr;
    QPushButton* m_logoutButton = nullptr;

    QPushButton* m_checkUpdatesButton = nullptr;
    AnimatedToggle* m_autoStartToggle = nullptr;
    QLabel* m_autoStartErrorLabel = nullptr;
    AnimatedToggle* m_minimizeToTrayToggle = nullptr;
    AnimatedToggle* m_debugLoggingToggle = nullptr;
    QPushButton* m_openLogFolderButton = nullptr;
    QLabel* m_licensesLink = nullptr;
};
