#include "cloud/ondaro_api_endpoint.h"

#include "build_config.h"
#include "core/log_categories.h"

namespace {

QUrl withoutTrailingSlash(QUrl url) {
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/'))) path.chop(1);
    url.setPath(path);
    return url;
}

bool isUsableBaseUrl(const QUrl& url) {
    const QString scheme = url.scheme();
    return url.isValid() && !url.host().isEmpty() && !url.hasQuery() &&
           (scheme == QLatin1String("https") || scheme == QLatin1String("http"));
}

}  // namespace

OndaroApiEndpoint OndaroApiEndpoint::fromEnvironment() {
    OndaroApiEndpoint endpoint;
    endpoint.baseUrl = withoutTrailingSlash(QUrl(QString::fromUtf8(buildconfig::kApiBaseUrl)));

    const QString override = qEnvironmentVariable(kBaseUrlVariable).trimmed();
    if (!override.isEmpty()) {
        const QUrl url(override, QUrl::StrictMode);
        if (isUsableBaseUrl(url)) {
            endpoint.baseUrl = withoutTrailingSlash(url);
            qCInfo(lcOndaro).noquote() << "Using cloud API base URL" << endpoint.baseUrl.toString()
                                       << "from" << kBaseUrlVariable;
        } else {
            qCWarning(lcOndaro).noquote()
                << "Ignoring" << kBaseUrlVariable << "(not an http or https URL):" << override;
        }
    }

    const QString caFile = qEnvironmentVariable(kCaCertificatesVariable);
    if (!caFile.isEmpty()) {
        endpoint.extraCaCertificates = QSslCertificate::fromPath(caFile, QSsl::Pem);
        if (endpoint.extraCaCertificates.isEmpty()) {
            qCWarning(lcOndaro).noquote() << "No certificate could be read from" << caFile;
        } else {
            qCInfo(lcOndaro).noquote() << "Trusting" << endpoint.extraCaCertificates.size()
                                       << "extra CA certificate(s) from" << caFile;
        }
    }
    return endpoint;
}

QSslConfiguration OndaroApiEndpoint::sslConfiguration() const {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    if (!extraCaCertificates.isEmpty()) {
        // Adding to the list switches off on-demand loading of the system store, so the system
        // authorities are added explicitly: the real service must stay reachable.
        // Read once: parsing the whole system store costs tens of milliseconds, and every
        // request (the statistics poll every few seconds) asks for this configuration.
        static const QList<QSslCertificate> systemAuthorities =
            QSslConfiguration::systemCaCertificates();
        configuration.setCaCertificates(systemAuthorities + extraCaCertificates);
    }
    return configuration;
}

QUrl OndaroApiEndpoint::url(const QString& path, const QString& token) const {
    QUrl url = baseUrl;
    url.setPath(baseUrl.path() + path);
    // Fully percent-encoded, so a "+" or "&" in a token cannot change its meaning.
    url.setQuery(QStringLiteral("token=") + QString::fromLatin1(QUrl::toPercentEncoding(token)),
                 QUrl::StrictMode);
    return url;
}
