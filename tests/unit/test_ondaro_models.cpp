#include <QtTest>

#include "cloud/ondaro_models.h"

namespace {
QJsonObject parse(const char* json) { return QJsonDocument::fromJson(json).object(); }
}  // namespace

class TestOndaroModels : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fullAccountDecodes() {
        const OndaroAccount account = OndaroAccount::fromJson(parse(R"({
            "name": "Night Owl Radio", "email": "dj@example.com", "public_token": "pub-1",
            "streaming_server_port": 8000, "streaming_server_ready": 1, "channels_count": 2,
            "streaming_server": {"id": "s1", "name": "Frankfurt 1", "area": "eu",
                                 "domain": "fra1.example.net", "ip_address": "10.0.0.5"},
            "subscription": {"plan_id": "p", "addons_count": 1, "listeners_slots": 250,
                             "max_channels": 3, "bitrate": 192,
                             "podcasts_recorder": {"duration": 60, "amount": 5, "protected": true},
                             "protected_stream": true, "plan_name": "Pro",
                             "addons": [{"addon_id": "a1", "quantity": 2, "addon_name": "Relay"}]},
            "channels": [
                {"id": "c1", "name": "Main", "streaming_server_mountpoint": "/live",
                 "streaming_server_password": "pw1", "genre": "Jazz"},
                {"id": "c2", "name": "Second", "streaming_server_mountpoint": "/second"}]
        })"));
        // Name, port, channels, passwords and bit rate: the client's test against the stand-in.
        QCOMPARE(account.publicToken, QStringLiteral("pub-1"));
        QCOMPARE(account.streamingServer.domain, QStringLiteral("fra1.example.net"));
        QCOMPARE(account.streamingServer.ipAddress, QStringLiteral("10.0.0.5"));
        QCOMPARE(account.channels[1].streamingServerMountpoint, QStringLiteral("/second"));
        QCOMPARE(account.subscription.listenersSlots, 250);
        QCOMPARE(account.subscription.podcastsRecorderAmount, 5);
        QVERIFY(account.subscription.podcastsRecorderProtected);
        QCOMPARE(account.subscription.addons.size(), 1);
        QCOMPARE(account.subscription.addons[0].quantity, 2);
    }

    void wrongTypesTakeDefaults() {
        const OndaroAccount account = OndaroAccount::fromJson(parse(R"({
            "name": 5, "email": null, "streaming_server_port": "8000",
            "streaming_server_ready": 8000.0, "channels_count": 1.5,
            "streaming_server": [1, 2], "subscription": "none",
            "channels": [{"id": 42, "name": "Numbered"}, "not an object", 7]
        })"));
        QVERIFY(account.name.isEmpty());
        QVERIFY(account.email.isEmpty());
        QCOMPARE(account.streamingServerPort, 0);     // a string is not a number
        QCOMPARE(account.streamingServerReady, 8000); // 8000.0 is integral
        QCOMPARE(account.channelsCount, 0);           // 1.5 is not
        QVERIFY(account.streamingServer.domain.isEmpty());
        QCOMPARE(account.subscription.bitrate, 0);
        QCOMPARE(account.channels.size(), 3);
        QVERIFY(account.channels[0].id.isEmpty());
        QCOMPARE(account.channels[0].name, QStringLiteral("Numbered"));
        QVERIFY(account.channels[1].name.isEmpty());
        QVERIFY(account.channels[2].name.isEmpty());
    }

    void errorBodies() {
        const auto full = OndaroApiError::fromJson(
            parse(R"({"error": {"message": "Invalid token", "uuid": "u-1"}})"), 401);
        QCOMPARE(full.message, QStringLiteral("Invalid token"));
        QCOMPARE(full.uuid, QStringLiteral("u-1"));
        QCOMPARE(full.httpCode, 401);
        QVERIFY(
            OndaroApiError::fromJson(parse(R"({"error": {"message": "m"}})"), 403).uuid.isEmpty());
        QVERIFY(OndaroApiError::fromJson(parse(R"({"error": {"message": "m", "uuid": null}})"), 403)
                    .uuid.isEmpty());
        const auto odd = OndaroApiError::fromJson(parse(R"({"message": "top level"})"), 500);
        QVERIFY(odd.message.isEmpty());
        QCOMPARE(odd.httpCode, 500);
        QVERIFY(OndaroApiError::fromJson(parse(R"({"error": "flat"})"), 500).message.isEmpty());
        QVERIFY(OndaroApiError::fromJson(parse(R"({"error": {"message": "m", "uuid": 7}})"), 500)
                    .uuid.isEmpty());
    }

    void statsForAMountPoint() {
        const QJsonDocument doc = QJsonDocument::fromJson(R"([
            {"ignored": true},
            {"listeners": 7, "sources": 2,
             "source": {"/live": {"listeners": 5, "title": "Artist - Song"},
                        "/other": {"listeners": 2, "title": ""}}}
        ])");
        const ServerStats live = ServerStats::fromJson(doc, QStringLiteral("live"));
        QVERIFY(live.isOnline);
        QVERIFY(live.errorMessage.isEmpty());
        QCOMPARE(live.totalListeners, 7);
        QVERIFY(live.hasSources);
        QVERIFY(live.isBroadcastActive);
        QCOMPARE(live.currentListeners, 5);
        QCOMPARE(live.currentSong, QStringLiteral("Artist - Song"));

        const ServerStats wrongCase = ServerStats::fromJson(doc, QStringLiteral("/Live"));
        QVERIFY(!wrongCase.isBroadcastActive);
        QCOMPARE(wrongCase.currentListeners, 0);
        QVERIFY(wrongCase.currentSong.isEmpty());

        const ServerStats serverOnly = ServerStats::fromJson(doc, QString());
        QVERIFY(!serverOnly.isBroadcastActive);
        QCOMPARE(serverOnly.totalListeners, 7);
    }

    // The document's other shapes are the client's test against the stand-in service.
    void statsWithoutSources() {
        const ServerStats noSources = ServerStats::fromJson(
            QJsonDocument::fromJson(
                R"([{}, {"listeners": 3, "sources": 0, "source": {"/live": {"listeners": 3}}}])"),
            "/live");
        QVERIFY(!noSources.hasSources);
        QVERIFY(noSources.isBroadcastActive);
        QCOMPARE(noSources.currentListeners, 3);
    }
};

QTEST_GUILESS_MAIN(TestOndaroModels)
#include "test_ondaro_models.moc"
