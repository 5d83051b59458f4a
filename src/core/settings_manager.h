#pragma once

#include <QObject>
#include <QString>

class QSettings;

// The account side of the settings store: the encrypted private token, the last selected
// channel, the first-launch flag, and the one-time move of plain-text credentials of older
// versions into encrypted storage. Every other key is read and written by the main window through
// settingskeys (core/settings_keys.h).
//
// Main thread only; calls may block briefly on the settings file.
class SettingsManager : public QObject {
    Q_OBJECT

public:
    explicit SettingsManager(QObject* parent = nullptr);

    // Runs once per construction; does nothing once the store says it has run.
    void migrateCredentials();

    // True when the token was encrypted and stored; false (a warning is logged, nothing is
    // stored) when it was not, and the caller must tell the user.
    bool setOndaroPrivateToken(const QString& token);
    QString getOndaroPrivateToken() const;
    bool hasOndaroPrivateToken() const;
    void clearOndaroPrivateToken();
    void clearCachedAccountInfo();

    void setLastSelectedChannelId(const QString& channelId);
    QString getLastSelectedChannelId() const;

    // Logout, or a token the service rejected: the token, the cached account and the last
    // channel go; every other setting stays.
    void clearAllOndaroSettings();

    bool isFirstLaunch() const;
    void markFirstLaunchComplete();

private:
    void removeLegacyCredentials();

    QSettings* m_settings = nullptr;
};
