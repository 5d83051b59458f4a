#include <limits>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "metadata/metadata_manager.h"

Q_DECLARE_METATYPE(MetadataSource)

// The parsing rules and the configuration rules that need no file, server or window.
class TestMetadataParsing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parsesFileAndUrlText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("title");

        QTest::newRow("pair, spaces trimmed") << "  Artist - Song  "
                                              << "Artist"
                                              << "Song";
        QTest::newRow("title alone") << "Just a title"
                                     << ""
                                     << "Just a title";
        QTest::newRow("hyphenated artist") << "AC-DC - Thunder"
                                           << "AC-DC"
                                           << "Thunder";
        QTest::newRow("hyphenated artist with digits") << "Blink-182 - Adam's Song"
                                                       << "Blink-182"
                                                       << "Adam's Song";
        QTest::newRow("first spaced hyphen splits") << "Artist - Song - Live Version"
                                                    << "Artist"
                                                    << "Song - Live Version";
        QTest::newRow("no spaced hyphen: first hyphen") << "Artist-Name"
                                                        << "Artist"
                                                        << "Name";
        QTest::newRow("hyphen and spaces on one side") << "Artist -Song"
                                                       << "Artist"
                                                       << "Song";
        QTest::newRow("leading hyphen is no separator") << "- Song"
                                                        << ""
                                                        << "- Song";
        QTest::newRow("trailing hyphen is no separator") << "Artist -"
                                                         << ""
                                                         << "Artist -";
        QTest::newRow("non-latin text") << "Ёлка - Прованс"
                                        << "Ёлка"
                                        << "Прованс";
    }
    void parsesFileAndUrlText() {
        QFETCH(QString, text);
        QFETCH(QString, artist);
        QFETCH(QString, title);
        MetadataManager manager;
        QSignalSpy changed(&manager, &MetadataManager::metadataChanged);
        manager.parseMetadata(text);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toString(), title);
        QCOMPARE(changed.at(0).at(1).toString(), artist);
        QCOMPARE(manager.title(), title);
        QCOMPARE(manager.artist(), artist);
    }

    void parsesWindowTitles_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("title");

        QTest::newRow("player suffix, longer entry") << "Artist - Song - Spotify Premium"
                                                     << "Artist"
                                                     << "Song";
        QTest::newRow("player suffix") << "Artist - Song - Spotify"
                                       << "Artist"
                                       << "Song";
        QTest::newRow("suffix case-insensitive") << "Artist - Song - vlc MEDIA player"
                                                 << "Artist"
                                                 << "Song";
        QTest::newRow("only one suffix removed") << "Artist - Song - YouTube - YouTube Music"
                                                 << "Artist"
                                                 << "Song - YouTube";
        QTest::newRow("bullet form") << "Song • Artist - YouTube Music"
                                     << "Artist"
                                     << "Song";
        QTest::newRow("bullet form, further parts ignored") << "Song • Artist • Album"
                                                            << "Artist"
                                                            << "Song";
        QTest::newRow("bracket prefix") << "[Live] Show name"
                                        << ""
                                        << "Live";
        QTest::newRow("bracket holds the pair") << "[Artist - Song] - Player"
                                                << "Artist"
                                                << "Song";
        QTest::newRow("hyphenated artist") << "AC-DC - Thunder - foobar2000"
                                           << "AC-DC"
                                           << "Thunder";
        QTest::newRow("hyphenated artist with digits") << "Blink-182 - Adam's Song - Winamp"
                                                       << "Blink-182"
                                                       << "Adam's Song";
        QTest::newRow("no spaced hyphen") << "Artist-Name"
                                          << "Artist"
                                          << "Name";
        QTest::newRow("plain title trimmed") << "  Radio Show  "
                                             << ""
                                             << "Radio Show";
        QTest::newRow("suffix alone is not a separator") << "Podcast - Music"
                                                         << ""
                                                         << "Podcast";
    }
    void parsesWindowTitles() {
        QFETCH(QString, text);
        QFETCH(QString, artist);
        QFETCH(QString, title);
        MetadataManager manager;
        QSignalSpy changed(&manager, &MetadataManager::metadataChanged);
        manager.parseWindowTitle(text);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toString(), title);
        QCOMPARE(changed.at(0).at(1).toString(), artist);
    }

    void dropsLogLikeTextAndKeepsThePair_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("time stamp") << "12:30:45 gstreamer pipeline started";
        QTest::newRow("bare time stamp") << "08:00:01 Artist - Song";
        QTest::newRow("word anywhere, any case") << "Artist - GStreamer Blues";
        QTest::newRow("log level") << "[warning] Artist - Song";
        QTest::newRow("latency") << "sink latency=20ms";
        QTest::newRow("qt log") << "qCritical: something";
    }
    void dropsLogLikeTextAndKeepsThePair() {
        QFETCH(QString, text);
        MetadataManager manager;
        manager.parseMetadata(QStringLiteral("Before - Pair"));
        QSignalSpy changed(&manager, &MetadataManager::metadataChanged);
        manager.parseMetadata(text);
        manager.parseWindowTitle(text);
        QCOMPARE(changed.size(), 0);
        QCOMPARE(manager.artist(), QStringLiteral("Before"));
        QCOMPARE(manager.title(), QStringLiteral("Pair"));
    }

    void windowTimeStampOnlyCountsAtTheVeryStart() {
        // Window titles are filtered untrimmed: a leading space hides the time stamp.
        MetadataManager manager;
        QSignalSpy changed(&manager, &MetadataManager::metadataChanged);
        manager.parseWindowTitle(QStringLiteral(" 12:30:45 Artist - Song"));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(manager.artist(), QStringLiteral("12:30:45 Artist"));
    }

    void samePairIsEmittedAgain() {
        MetadataManager manager;
        QSignalSpy changed(&manager, &MetadataManager::metadataChanged);
        manager.parseMetadata(QStringLiteral("Artist - Song"));
        manager.parseMetadata(QStringLiteral("Artist - Song"));
        QCOMPARE(changed.size(), 2);
    }

    void manualMetadataOnlyWhileManual() {
        MetadataManager manager;
        QSignalSpy changed(&manager, &MetadataManager::metadataChanged);
        manager.setManualMetadata(QStringLiteral("Typed"), QStringLiteral("Someone"));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toString(), QStringLiteral("Typed"));
        QCOMPARE(changed.at(0).at(1).toString(), QStringLiteral("Someone"));

        manager.setSource(MetadataSource::URL);
        manager.setManualMetadata(QStringLiteral("Other"), QStringLiteral("Else"));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(manager.title(), QStringLiteral("Typed"));
        QCOMPARE(manager.artist(), QStringLiteral("Someone"));
    }

    void pollIntervalIsAtLeastOneSecond() {
        MetadataManager manager;
        QCOMPARE(manager.urlPollIntervalSeconds(), 30);
        manager.setUrlPollInterval(0);
        QCOMPARE(manager.urlPollIntervalSeconds(), 1);
        manager.setUrlPollInterval(-5);
        QCOMPARE(manager.urlPollIntervalSeconds(), 1);
        manager.setUrlPollInterval(45);
        QCOMPARE(manager.urlPollIntervalSeconds(), 45);
        // Milliseconds must not overflow.
        manager.setUrlPollInterval(std::numeric_limits<int>::max());
        QCOMPARE(manager.urlPollIntervalSeconds(), MetadataManager::kMaxUrlPollIntervalSeconds);
    }

    void windowSourceWithoutWindowDoesNothing() {
        MetadataManager manager;
        QSignalSpy changed(&manager, &MetadataManager::metadataChanged);
        QSignalSpy closed(&manager, &MetadataManager::windowClosed);
        manager.setSource(MetadataSource::WindowTitle);
        manager.onWindowPollTimer();
        QCOMPARE(changed.size(), 0);
        QCOMPARE(closed.size(), 0);
        QCOMPARE(manager.windowHandle(), quintptr(0));
    }

    void startupValidation_data() {
        QTest::addColumn<int>("saved");
        QTest::addColumn<QString>("path");  // "EXISTING" stands for a file that exists
        QTest::addColumn<QString>("url");
        QTest::addColumn<MetadataSource>("expected");
        QTest::addColumn<bool>("fileNotFound");

        const QString url = QStringLiteral("http://127.0.0.1:1/now");
        QTest::newRow("manual") << 0 << ""
                                << "" << MetadataSource::Manual << false;
        QTest::newRow("window title always reset")
            << 3 << "EXISTING" << url << MetadataSource::Manual << false;
        QTest::newRow("file without path") << 1 << "" << url << MetadataSource::Manual << false;
        QTest::newRow("missing file") << 1 << "/nonexistent/now.txt"
                                      << "" << MetadataSource::Manual << true;
        QTest::newRow("existing file") << 1 << "EXISTING"
                                       << "" << MetadataSource::TextFile << false;
        QTest::newRow("url without url") << 2 << "EXISTING"
                                         << "" << MetadataSource::Manual << false;
        QTest::newRow("url") << 2 << "" << url << MetadataSource::URL << false;
        QTest::newRow("unknown value") << 7 << "EXISTING" << url << MetadataSource::Manual << false;
        QTest::newRow("negative value") << -1 << ""
                                        << "" << MetadataSource::Manual << false;
    }
    void startupValidation() {
        QFETCH(int, saved);
        QFETCH(QString, path);
        QFETCH(QString, url);
        QFETCH(MetadataSource, expected);
        QFETCH(bool, fileNotFound);
        QTemporaryDir dir;
        if (path == QLatin1String("EXISTING")) {
            path = dir.filePath(QStringLiteral("now.txt"));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const MetadataManager::StartupSource result =
            MetadataManager::validateStartupSource(saved, path, url);
        QCOMPARE(result.source, expected);
        QCOMPARE(result.fileNotFound, fileNotFound);
    }
};

QTEST_GUILESS_MAIN(TestMetadataParsing)
#include "test_metadata_parsing.moc"
