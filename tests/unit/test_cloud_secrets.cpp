// What the cloud client may write to its log and where it sends its requests.
#include <QtTest>

#include "cloud/ondaro_api_endpoint.h"
#include "cloud/secret_redaction.h"

class TestCloudSecrets : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void accountBodyLosesEveryPasswordAndToken() {
        const QByteArray body = R"({"name": "Radio", "public_token": "pub-123",
            "channels": [{"streaming_server_password": "pw-one", "name": "A"},
                         {"streaming_server_password": "pw-two", "Source_Password": "pw-3"}],
            "nested": {"deeper": [{"accessToken": "tok-9"}]}})";
        const QString clean = secrets::redactedBody(body);
        for (const char* secret : {"pub-123", "pw-one", "pw-two", "pw-3", "tok-9"}) {
            QVERIFY2(!clean.contains(QLatin1String(secret)), secret);
        }
        QVERIFY(clean.contains(QLatin1String("\"name\":\"Radio\"")));
        QCOMPARE(clean.count(QLatin1String("<redacted>")), 5);

        // A body that is not JSON is only measured.
        const QString html = secrets::redactedBody("<html>password=hunter2</html>");
        QVERIFY(!html.contains(QLatin1String("hunter2")));
        QVERIFY(html.contains(QLatin1String("29 bytes")));
        QCOMPARE(secrets::redactedBody("[{\"token\": \"t\"}]"),
                 QStringLiteral("[{\"token\":\"<redacted>\"}]"));
    }

    void errorTextLosesTheQueryToken() {
        const QUrl url(QStringLiteral("https://api.example/private/accountInfo?token=a%2Bb-123"));
        QCOMPARE(secrets::withoutQuery(url),
                 QStringLiteral("https://api.example/private/accountInfo"));
        const QString text =
            QStringLiteral("Error transferring %1 - server replied: Bad Gateway (a+b-123)")
                .arg(url.toString());
        const QString clean = secrets::scrubbed(text, url);
        QVERIFY2(!clean.contains(QLatin1String("a+b-123")) &&
                     !clean.contains(QLatin1String("a%2Bb-123")),
                 qPrintable(clean));
        QVERIFY(clean.contains(QLatin1String("Bad Gateway")));
    }

    void endpointFollowsTheEnvironment() {
        QTemporaryDir dir;
        const QString pem = dir.path() + QStringLiteral("/none.pem");
        qputenv(OndaroApiEndpoint::kBaseUrlVariable, "https://127.0.0.1:9443/");
        qputenv(OndaroApiEndpoint::kCaCertificatesVariable, pem.toUtf8());
        OndaroApiEndpoint endpoint = OndaroApiEndpoint::fromEnvironment();
        QCOMPARE(endpoint.baseUrl.toString(), QStringLiteral("https://127.0.0.1:9443"));
        QVERIFY(endpoint.extraCaCertificates.isEmpty());  // missing file: warned, nothing trusted
        // A token cannot change the query's meaning.
        QCOMPARE(endpoint.url(QStringLiteral("/private/accountInfo"), QStringLiteral("a+b&c=d"))
                     .toString(QUrl::FullyEncoded),
                 QStringLiteral("https://127.0.0.1:9443/private/accountInfo?token=a%2Bb%26c%3Dd"));

        qputenv(OndaroApiEndpoint::kBaseUrlVariable, "ftp://example.org");
        endpoint = OndaroApiEndpoint::fromEnvironment();
        QVERIFY(endpoint.baseUrl.scheme() == QLatin1String("https"));
        QVERIFY(endpoint.baseUrl.host() != QLatin1String("example.org"));
        qunsetenv(OndaroApiEndpoint::kBaseUrlVariable);
        qunsetenv(OndaroApiEndpoint::kCaCertificatesVariable);
    }
};

QTEST_GUILESS_MAIN(TestCloudSecrets)
#include "test_cloud_secrets.moc"
