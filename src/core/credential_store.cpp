#include "core/credential_store.h"

#include <QByteArray>
#include <QSettings>
#include <QVariant>

#include "core/app_identity.h"
#include "core/log_categories.h"
#include "core/settings_keys.h"
#include "platform/credential_protection.h"

namespace {

platform::ByteVector toBytes(const QByteArray& data) {
    return platform::ByteVector(data.cbegin(), data.cend());
}

void logReason(const std::string& reason) {
    if (!reason.empty()) qCWarning(lcCredentials).noquote() << QString::fromStdString(reason);
}

const platform::KeyFileContext& keyFileContext() {
    static const platform::KeyFileContext context{
        std::string(appidentity::kOrganizationName) + "/" + appidentity::kApplicationName,
        &logReason};
    return context;
}

}  // namespace

bool CredentialStore::storeSecret(const QString& key, const QString& value) {
    platform::ByteVector blob;
    std::string reason;
    if (!platform::protectData(keyFileContext(), toBytes(value.toUtf8()), blob, reason)) {
        logReason(reason);
        qCWarning(lcCredentials) << "CryptProtectData failed for key:" << key;
        return false;
    }
    const QByteArray encoded =
        QByteArray(reinterpret_cast<const char*>(blob.data()), static_cast<qsizetype>(blob.size()))
            .toBase64();
    QSettings settings;
    const QString storeKey = settingskeys::secretKey(key);
    const QVariant previous = settings.value(storeKey);
    settings.setValue(storeKey, QString::fromLatin1(encoded));
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        // Put the previous value back, or this process would go on reading a secret that the
        // next start will not find.
        if (previous.isValid()) {
            settings.setValue(storeKey, previous);
        } else {
            settings.remove(storeKey);
        }
        qCWarning(lcCredentials) << "Could not write the settings file for key:" << key;
        return false;
    }
    qCDebug(lcCredentials) << "Stored encrypted secret for key:" << key;
    return true;
}

QString CredentialStore::retrieveSecret(const QString& key) {
    QSettings settings;
    const QVariant stored = settings.value(settingskeys::secretKey(key));
    // Anything but text is a value of the wrong type and reads as empty.
    const QString text = stored.userType() == QMetaType::QString ? stored.toString() : QString();
    if (text.isEmpty()) return QString();

    // Characters outside Latin-1 become '?', which the strict decoder rejects.
    const auto decoded =
        QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    platform::ByteVector plain;
    std::string reason;
    if (!decoded || !platform::unprotectData(keyFileContext(), toBytes(*decoded), plain, reason)) {
        if (!decoded) reason = "the stored value is not Base64 text";
        logReason(reason);
        qCWarning(lcCredentials) << "CryptUnprotectData failed for key:" << key;
        return QString();
    }
    return QString::fromUtf8(reinterpret_cast<const char*>(plain.data()),
                             static_cast<qsizetype>(plain.size()));
}

void CredentialStore::removeSecret(const QString& key) {
    QSettings settings;
    settings.remove(settingskeys::secretKey(key));
    settings.sync();
    qCDebug(lcCredentials) << "Removed secret for key:" << key;
}

bool CredentialStore::hasSecret(const QString& key) {
    QSettings settings;
    return settings.contains(settingskeys::secretKey(key));
}

QString CredentialStore::keyFilePath() {
    return QString::fromStdString(platform::credentialKeyFilePath(keyFileContext()));
}
