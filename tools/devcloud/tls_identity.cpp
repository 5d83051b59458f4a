#include "tls_identity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QSet>

namespace {

constexpr int kOpensslTimeoutMs = 30000;
constexpr int kValidityDays = 825;

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

bool TlsIdentity::loadFiles(const QString& certificatePath, const QString& keyPath,
                            QString* error) {
    const QList<QSslCertificate> certificates =
        QSslCertificate::fromData(readFile(certificatePath), QSsl::Pem);
    if (certificates.isEmpty()) {
        *error = QStringLiteral("no certificate in %1").arg(certificatePath);
        return false;
    }
    const QByteArray keyData = readFile(keyPath);
    QSslKey key(keyData, QSsl::Ec, QSsl::Pem);
    if (key.isNull()) key = QSslKey(keyData, QSsl::Rsa, QSsl::Pem);
    if (key.isNull()) {
        *error = QStringLiteral("no EC or RSA private key in %1").arg(keyPath);
        return false;
    }
    m_certificate = certificates.first();
    m_key = key;
    m_certificatePath = QFileInfo(certificatePath).absoluteFilePath();
    return true;
}

bool TlsIdentity::ensureSelfSigned(const QString& folder, const QStringList& hosts,
                                   QString* error) {
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString certificatePath = folder + QStringLiteral("/devcloud-cert.pem");
    const QString keyPath = folder + QStringLiteral("/devcloud-key.pem");
    QString loadError;
    if (QFileInfo::exists(certificatePath) && loadFiles(certificatePath, keyPath, &loadError) &&
        uncoveredHosts(hosts).isEmpty() &&
        m_certificate.expiryDate() > QDateTime::currentDateTime()) {
        return true;
    }
    if (!generate(certificatePath, keyPath, hosts, error)) return false;
    return loadFiles(certificatePath, keyPath, error);
}

bool TlsIdentity::generate(const QString& certificatePath, const QString& keyPath,
                           const QStringList& hosts, QString* error) {
    QStringList names;
    QSet<QString> seen;
    for (const QString& host :
         hosts + QStringList{QStringLiteral("localhost"), QStringLiteral("127.0.0.1"),
                             QStringLiteral("::1")}) {
        if (host.isEmpty() || seen.contains(host)) continue;
        seen.insert(host);
        names << (QHostAddress(host).isNull() ? QStringLiteral("DNS:") : QStringLiteral("IP:")) +
                     host;
    }
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(
        QStringLiteral("openssl"),
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
         QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
         QStringLiteral("-days"), QString::number(kValidityDays), QStringLiteral("-subj"),
         QStringLiteral("/CN=Ondaro devcloud (local stand-in)"), QStringLiteral("-addext"),
         QStringLiteral("subjectAltName=") + names.join(QLatin1Char(',')),
         QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), certificatePath});
    if (!openssl.waitForStarted(kOpensslTimeoutMs)) {
        *error = QStringLiteral("cannot run openssl (is it installed?)");
        return false;
    }
    openssl.closeWriteChannel();
    if (!openssl.waitForFinished(kOpensslTimeoutMs) ||
        openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        *error =
            QStringLiteral("openssl failed: %1").arg(QString::fromLocal8Bit(openssl.readAll()));
        return false;
    }
    QFile::setPermissions(keyPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

QStringList TlsIdentity::uncoveredHosts(const QStringList& wanted) const {
    const auto alternatives = m_certificate.subjectAlternativeNames();
    QStringList missing;
    for (const QString& host : wanted) {
        if (host.isEmpty()) continue;
        const QHostAddress address(host);
        bool covered = false;
        if (address.isNull()) {
            covered = alternatives.values(QSsl::DnsEntry).contains(host, Qt::CaseInsensitive);
        } else {
            for (const QString& ip : alternatives.values(QSsl::IpAddressEntry)) {
                if (QHostAddress(ip).isEqual(address)) covered = true;
            }
        }
        if (!covered) missing << host;
    }
    return missing;
}

QSslConfiguration TlsIdentity::serverConfiguration() const {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(m_certificate);
    configuration.setPrivateKey(m_key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}
