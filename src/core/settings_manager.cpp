#include "core/settings_manager.h"

#include <QSettings>

#include "core/credential_store.h"
#include "core/log_categories.h"
#include "core/settings_keys.h"

using namespace settingskeys;

namespace {
QString secretName(const char* name) { return QString::fromLatin1(name); }
}  // namespace

SettingsManager::SettingsManager(QObject* parent)
    : QObject(parent), m_settings(new QSettings(this)) {
    qCDebug(lcSettings) << "Initialized with settings file:" << m_settings->fileName();
    migrateCredentials();
}

void SettingsManager::migrateCredentials() {
    if (read(*m_settings, kCredentialsMigrated)) return;

    const QString legacyToken = read(*m_settings, kLegacyPrivateToken);
    if (!legacyToken.isEmpty() &&
        CredentialStore::storeSecret(secretName(kSecretPrivateToken), legacyToken)) {
        qCInfo(lcSettings) << "Migrated private token to encrypted storage";
    }
    const QString legacyAccount = read(*m_settings, kLegacyCachedAccountJson);
    if (!legacyAccount.isEmpty() &&
        CredentialStore::storeSecret(secretName(kSecretCachedAccountJson), legacyAccount)) {
        qCInfo(lcSettings) << "Migrated cached account to encrypted storage";
    }
    // Nothing reads the plain-text values again, so they go even when encrypting them failed
    // (the user then logs in anew) rather than staying readable on disk forever.
    removeLegacyCredentials();
    write(*m_settings, kCredentialsMigrated, true);
    m_settings->sync();
}

void SettingsManager::removeLegacyCredentials() {
    remove(*m_settings, kLegacyPrivateToken.name);
    remove(*m_settings, kLegacyCachedAccountJson.name);
}

bool SettingsManager::setOndaroPrivateToken(const QString& token) {
    if (!CredentialStore::storeSecret(secretName(kSecretPrivateToken), token)) {
        qCWarning(lcSettings) << "Could not save Ondaro private token";
        return false;
    }
    qCInfo(lcSettings) << "Saved Ondaro private token (encrypted)";
    return true;
}

QString SettingsManager::getOndaroPrivateToken() const {
    return CredentialStore::retrieveSecret(secretName(kSecretPrivateToken));
}

bool SettingsManager::hasOndaroPrivateToken() const {
    return CredentialStore::hasSecret(secretName(kSecretPrivateToken)) &&
           !getOndaroPrivateToken().isEmpty();
}

void SettingsManager::clearOndaroPrivateToken() {
    CredentialStore::removeSecret(secretName(kSecretPrivateToken));
    qCInfo(lcSettings) << "Cleared Ondaro private token";
}

void SettingsManager::clearCachedAccountInfo() {
    CredentialStore::removeSecret(secretName(kSecretCachedAccountJson));
    qCInfo(lcSettings) << "Cleared cached account info";
}

void SettingsManager::setLastSelectedChannelId(const QString& channelId) {
    write(*m_settings, kLastSelectedChannelId, channelId);
    m_settings->sync();
    qCDebug(lcSettings) << "Saved last selected channel ID:" << channelId;
}

QString SettingsManager::getLastSelectedChannelId() const {
    return read(*m_settings, kLastSelectedChannelId);
}

void SettingsManager::clearAllOndaroSettings() {
    clearOndaroPrivateToken();
    clearCachedAccountInfo();
    remove(*m_settings, kLastSelectedChannelId.name);
    // A plain-text token of an older version must not outlive a logout either.
    removeLegacyCredentials();
    m_settings->sync();
    qCInfo(lcSettings) << "Cleared all Ondaro settings (logout)";
}

bool SettingsManager::isFirstLaunch() const { return !read(*m_settings, kFirstLaunchComplete); }

void SettingsManager::markFirstLaunchComplete() {
    write(*m_settings, kFirstLaunchComplete, true);
    m_settings->sync();
}
