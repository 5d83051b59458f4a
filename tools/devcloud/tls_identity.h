#pragma once

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QString>
#include <QStringList>

// The certificate and key the stand-in serves HTTPS with: given files, or a self-signed pair it
// makes with the openssl tool in a folder of its own (kept, and made again when it no longer
// covers every host name and address the accounts use).
class TlsIdentity {
public:
    bool loadFiles(const QString& certificatePath, const QString& keyPath, QString* error);
    bool ensureSelfSigned(const QString& folder, const QStringList& hosts, QString* error);

    QSslConfiguration serverConfiguration() const;
    QString certificatePath() const { return m_certificatePath; }
    // Hosts (names or addresses) of `wanted` the certificate does not cover.
    QStringList uncoveredHosts(const QStringList& wanted) const;

private:
    bool generate(const QString& certificatePath, const QString& keyPath, const QStringList& hosts,
                  QString* error);

    QSslCertificate m_certificate;
    QSslKey m_key;
    QString m_certificatePath;
};
