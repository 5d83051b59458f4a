#pragma once

#include <QString>

// Secrets (the private token, a cached account document) kept encrypted in the settings store
// under "Ondaro/Encrypted/<key>" as the Base64 text of the platform's protected blob, so only the
// same user on the same machine can read them back. Stateless: every call opens its own
// QSettings for its duration.
//
// Main thread only (QSettings of the default store); may block briefly on the settings file and
// the platform's key material.
class CredentialStore {
public:
    CredentialStore() = delete;

    // Encrypts and stores; false (and nothing written) when encryption failed.
    static bool storeSecret(const QString& key, const QString& value);
    // The secret's text; empty when absent, unreadable or not decryptable (a warning is logged).
    static QString retrieveSecret(const QString& key);
    static void removeSecret(const QString& key);
    static bool hasSecret(const QString& key);
    // The file holding the key that seals them where the platform keeps one (Linux), else empty.
    static QString keyFilePath();
};
