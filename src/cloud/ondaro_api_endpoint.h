#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

// Where the cloud client sends its requests and which extra certificate authorities it trusts.
// The base URL is fixed at build time; for development and tests the environment may point the
// client elsewhere ("ONDARO_API_URL") and name a PEM file of extra authorities ("ONDARO_CA_CERTS")
// so that a local stand-in service is reached over real HTTPS.
struct OndaroApiEndpoint {
    static constexpr char kBaseUrlVariable[] = "ONDARO_API_URL";
    static constexpr char kCaCertificatesVariable[] = "ONDARO_CA_CERTS";

    QUrl baseUrl;  // scheme, host and port, no trailing slash
    QList<QSslCertificate> extraCaCertificates;

    // Reads the environment once; a malformed override is logged and ignored.
    static OndaroApiEndpoint fromEnvironment();

    // The system authorities plus the extra ones; the default configuration when there are none.
    QSslConfiguration sslConfiguration() const;

    // baseUrl + path with the query item "token".
    QUrl url(const QString& path, const QString& token) const;
};
