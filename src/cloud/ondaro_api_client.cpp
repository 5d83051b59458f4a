#include "cloud/ondaro_api_client.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include "cloud/secret_redaction.h"
#include "core/app_identity.h"
#include "core/log_categories.h"

namespace {

constexpr char kAccountInfoPath[] = "/private/accountInfo";
constexpr char kStartServerPath[] = "/private/server/start";
constexpr char kStatsPath[] = "/admin/stats.json";

int httpStatus(const QNetworkReply* reply) {
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

bool isHttpErrorStatus(int code) { return code >= 400 && code <= 599; }

// The root object of a cloud reply, or the message that says why there is none.
bool parseCloudObject(const QByteArray& body, QJsonObject* root, QString* failure) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *failure =
            QStringLiteral("Failed to parse server response: %1").arg(parseError.errorString());
        return false;
    }
    if (!document.isObject()) {
        *failure = QStringLiteral("Invalid server response format");
        return false;
    }
    *root = document.object();
    return true;
}

QTimer* makeSingleShotTimer(QObject* parent) {
    auto* timer = new QTimer(parent);
    timer->setSingleShot(true);
    // A coarse timer may fire up to 5 % early: a 15 s timeout must not end at 14.3 s.
    timer->setTimerType(Qt::PreciseTimer);
    return timer;
}

}  // namespace

OndaroApiClient::OndaroApiClient(QObject* parent)
    : QObject(parent),
      m_endpoint(OndaroApiEndpoint::fromEnvironment()),
      m_network(new QNetworkAccessManager(this)),
      m_statsTimer(makeSingleShotTimer(this)),
      m_startServerTimer(makeSingleShotTimer(this)),
      m_accountTimer(makeSingleShotTimer(this)) {
    connect(m_statsTimer, &QTimer::timeout, this, &OndaroApiClient::onStatsRequestTimeout);
    connect(m_startServerTimer, &QTimer::timeout, this, &OndaroApiClient::onStartServerTimeout);
    connect(m_accountTimer, &QTimer::timeout, this, &OndaroApiClient::onAccountInfoTimeout);
}

OndaroApiClient::~OndaroApiClient() { cancelPendingRequest(); }

QNetworkRequest OndaroApiClient::makeRequest(const QUrl& url) const {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setHeader(QNetworkRequest::UserAgentHeader, appidentity::userAgent());
    request.setSslConfiguration(m_endpoint.sslConfiguration());
    return request;
}

QNetworkReply* OndaroApiClient::takeFinished(QNetworkReply*& slot) {
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply || reply != slot) return nullptr;
    slot = nullptr;
    reply->deleteLater();
    return reply;
}

void OndaroApiClient::drop(QNetworkReply*& slot) {
    if (!slot) return;
    QNetworkReply* reply = slot;
    slot = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
}

void OndaroApiClient::cancelPendingRequest() {
    m_statsTimer->stop();
    m_startServerTimer->stop();
    m_accountTimer->stop();
    drop(m_accountReply);
    drop(m_startReply);
    drop(m_statsReply);
}

void OndaroApiClient::fetchAccountInfo(const QString& token) {
    m_accountTimer->stop();
    drop(m_accountReply);

    const QUrl url = m_endpoint.url(QLatin1String(kAccountInfoPath), token);
    qCInfo(lcOndaro).noquote() << "Fetching account info from" << secrets::withoutQuery(url);
    m_accountReply = m_network->get(makeRequest(url));
    connect(m_accountReply, &QNetworkReply::finished, this,
            &OndaroApiClient::onAccountInfoReplyFinished);
    m_accountTimer->start(kAccountInfoTimeoutMs);
}

void OndaroApiClient::onAccountInfoReplyFinished() {
    QNetworkReply* reply = takeFinished(m_accountReply);
    if (!reply) return;
    m_accountTimer->stop();

    const int code = httpStatus(reply);
    const QByteArray body = reply->readAll();
    const QString errorText = secrets::scrubbed(reply->errorString(), reply->url());

    if (reply->error() != QNetworkReply::NoError && !isHttpErrorStatus(code)) {
        QString message;
        switch (reply->error()) {
            case QNetworkReply::OperationCanceledError:
                qCDebug(lcOndaro) << "Request cancelled";
                return;
            case QNetworkReply::TimeoutError:
                message = QStringLiteral(
                    "Request timeout. Please check your internet connection and try again.");
                break;
            case QNetworkReply::HostNotFoundError:
                message = QStringLiteral(
                    "Could not connect to Ondaro Cloud. Please check your internet connection.");
                break;
            default:
                message = QStringLiteral("Network error: %1").arg(errorText);
                break;
        }
        qCWarning(lcOndaro).noquote() << "Network error:" << errorText;
        Q_EMIT errorOccurred(message, 0);
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        qCDebug(lcOndaro) << "Received HTTP error response:" << code;
    }
    qCDebug(lcOndaro) << "Received response, HTTP code:" << code;
    // The account document holds every channel's source password: never the raw body.
    qCDebug(lcOndaro).noquote() << "Response data:" << body.size() << "bytes"
                                << secrets::redactedBody(body);

    QJsonObject root;
    QString failure;
    if (!parseCloudObject(body, &root, &failure)) {
        Q_EMIT errorOccurred(failure, code);
        return;
    }

    if (code != 200 && code != 202) {
        const OndaroApiError error = OndaroApiError::fromJson(root, code);
        QString message;
        switch (code) {
            case 401:
                message = QStringLiteral(
                    "Invalid or missing token. Please check your Private Token and try again.");
                break;
            case 403:
                message =
                    error.message.isEmpty()
                        ? QStringLiteral("Access forbidden. Please check your account status.")
                        : QStringLiteral("Account suspended: %1").arg(error.message);
                break;
            case 404:
                message = QStringLiteral("Resource not found. Please contact support.");
                break;
            case 405:
                message = QStringLiteral("Invalid request method. Please contact support.");
                break;
            case 429:
                message = QStringLiteral("Too many requests. Please wait a moment and try again.");
                break;
            case 503:
                message = QStringLiteral(
                    "Ondaro Cloud is currently down for maintenance. Please try again later.");
                break;
            default:
                message = error.message.isEmpty()
                              ? QStringLiteral("Server error (HTTP %1)").arg(code)
                              : error.message;
                break;
        }
        qCWarning(lcOndaro).noquote() << "API error:" << code << message;
        Q_EMIT errorOccurred(message, code);
        return;
    }

    const OndaroAccount account = OndaroAccount::fromJson(root);
    if (account.name.isEmpty() || account.email.isEmpty()) {
        Q_EMIT errorOccurred(QStringLiteral("Received incomplete account information from server"),
                             code);
        return;
    }
    qCInfo(lcOndaro).noquote() << "Successfully parsed account info for" << account.email;
    Q_EMIT accountInfoReceived(account);
}

void OndaroApiClient::onAccountInfoTimeout() {
    qCWarning(lcOndaro) << "Account info request timeout (20 seconds)";
    drop(m_accountReply);
    Q_EMIT errorOccurred(
        QStringLiteral("Request timeout. Please check your internet connection and try again."), 0);
}

void OndaroApiClient::startServer(const QString& token) {
    m_startServerTimer->stop();
    drop(m_startReply);

    const QUrl url = m_endpoint.url(QLatin1String(kStartServerPath), token);
    qCInfo(lcOndaro).noquote() << "Starting server at" << secrets::withoutQuery(url);
    m_startReply = m_network->post(makeRequest(url), QByteArray());
    connect(m_startReply, &QNetworkReply::finished, this,
            &OndaroApiClient::onStartServerReplyFinished);
    m_startServerTimer->start(kStartServerTimeoutMs);
}

void OndaroApiClient::onStartServerReplyFinished() {
    QNetworkReply* reply = takeFinished(m_startReply);
    if (!reply) return;
    m_startServerTimer->stop();

    const int code = httpStatus(reply);
    const QByteArray body = reply->readAll();

    if (reply->error() != QNetworkReply::NoError && !isHttpErrorStatus(code)) {
        if (reply->error() == QNetworkReply::OperationCanceledError) {
            qCDebug(lcOndaro) << "Start server request cancelled";
            return;
        }
        const QString message = QStringLiteral("Network error: %1")
                                    .arg(secrets::scrubbed(reply->errorString(), reply->url()));
        qCWarning(lcOndaro).noquote() << "Start server error:" << message;
        Q_EMIT serverStartError(message, 0);
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        qCDebug(lcOndaro) << "Received HTTP error response:" << code;
    }
    qCDebug(lcOndaro) << "Start server response, HTTP code:" << code;

    QJsonObject root;
    QString failure;
    if (!parseCloudObject(body, &root, &failure)) {
        Q_EMIT serverStartError(failure, code);
        return;
    }
    const bool success = root.value(QLatin1String("success")).toBool();

    if (code == 200 && success) {
        qCInfo(lcOndaro) << "Server started successfully";
        Q_EMIT serverStarted();
        return;
    }
    const OndaroApiError error = OndaroApiError::fromJson(root, code);
    if (code == 406) {
        const QString message =
            error.message.isEmpty() ? QStringLiteral("Server already running") : error.message;
        qCWarning(lcOndaro).noquote() << "Start server error:" << message;
        Q_EMIT serverStartError(message, 406);
        return;
    }
    const QString message = error.message.isEmpty()
                                ? QStringLiteral("Failed to start server (HTTP %1)").arg(code)
                                : error.message;
    qCWarning(lcOndaro).noquote() << "Start server error:" << code << message;
    Q_EMIT serverStartError(message, code);
}

void OndaroApiClient::onStartServerTimeout() {
    qCWarning(lcOndaro) << "Start server request timeout (15 seconds)";
    drop(m_startReply);
    Q_EMIT serverStartError(
        QStringLiteral("Request timeout. The server may be slow to respond or offline."), 0);
}

void OndaroApiClient::fetchServerStats(const QString& host, quint16 port, const QString& mountpoint,
                                       const QString& password, int timeoutMs) {
    m_statsTimer->stop();
    drop(m_statsReply);
    m_currentMountpoint = mountpoint;

    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(host);
    url.setPort(port);
    url.setPath(QLatin1String(kStatsPath));

    QNetworkRequest request = makeRequest(url);
    request.setRawHeader("Authorization",
                         "Basic " + (QStringLiteral("admin:") + password).toUtf8().toBase64());
    qCDebug(lcOndaro).noquote() << "Fetching server stats from" << url.toString();
    m_statsReply = m_network->get(request);
    connect(m_statsReply, &QNetworkReply::finished, this,
            &OndaroApiClient::onServerStatsReplyFinished);
    m_statsTimer->start(timeoutMs);
}

void OndaroApiClient::onServerStatsReplyFinished() {
    QNetworkReply* reply = takeFinished(m_statsReply);
    if (!reply) return;
    m_statsTimer->stop();

    QString message;
    if (reply->error() == QNetworkReply::NoError) {
        const QByteArray body = reply->readAll();
        const int code = httpStatus(reply);
        qCDebug(lcOndaro) << "Received stats response, HTTP code:" << code;
        if (code != 200) {
            message = QStringLiteral("Server returned HTTP %1").arg(code);
            qCWarning(lcOndaro).noquote() << message;
            Q_EMIT serverStatsError(message);
            return;
        }
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
        if (parseError.error != QJsonParseError::NoError) {
            message =
                QStringLiteral("Failed to parse stats response: %1").arg(parseError.errorString());
            qCWarning(lcOndaro).noquote() << message;
            Q_EMIT serverStatsError(message);
            return;
        }
        const ServerStats stats = ServerStats::fromJson(document, m_currentMountpoint);
        if (!stats.errorMessage.isEmpty()) {
            qCWarning(lcOndaro).noquote() << "Stats parsing error:" << stats.errorMessage;
            Q_EMIT serverStatsError(stats.errorMessage);
            return;
        }
        qCDebug(lcOndaro) << "Successfully parsed server stats - Online:" << stats.isOnline
                         << "Listeners:" << stats.currentListeners
                         << "Active:" << stats.isBroadcastActive;
        Q_EMIT serverStatsReceived(stats);
        return;
    }

    switch (reply->error()) {
        case QNetworkReply::OperationCanceledError:
            qCDebug(lcOndaro) << "Stats request cancelled";
            return;
        case QNetworkReply::TimeoutError:
            message = QStringLiteral("Server stats request timeout (server may be offline)");
            break;
        case QNetworkReply::HostNotFoundError:
            message = QStringLiteral("Could not connect to streaming server (server offline)");
            break;
        case QNetworkReply::AuthenticationRequiredError:
            message = QStringLiteral("Authentication failed (invalid credentials)");
            break;
        default:
            message = QStringLiteral("Server offline or unreachable: %1")
                          .arg(secrets::scrubbed(reply->errorString(), reply->url()));
            break;
    }
    qCWarning(lcOndaro).noquote() << "Server stats error:" << message;
    Q_EMIT serverStatsError(message);
}

void OndaroApiClient::onStatsRequestTimeout() {
    // The wording stays "8 seconds" whatever the caller asked for; the poll always asks for 8.
    qCWarning(lcOndaro) << "Server stats request timeout (8 seconds)";
    drop(m_statsReply);
    Q_EMIT serverStatsError(QStringLiteral("Server stats request timeout (server may be offline)"));
}
