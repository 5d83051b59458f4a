#include <limits>

#include <QtTest>

#include "metadata/metadata_manager.h"

Q_DECLARE_METATYPE(MetadataSource)

namespace {

// A row for text read from a file or a URL, or (`window`) a window title.
void row(const char* name, bool window, const char* text, const char* artist, const char* title) {
    QTest::newRow(name) << window << QString::fromUtf8(text) << QString::fromUtf8(artist)
                        << QString::fromUtf8(title);
}

}  // namespace

// The parsing rules and the configuration rules that need no file, server or window.
class TestMetadataParsing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parsesTextAndWindowTitles_data() {
        QTest::addColumn<bool>("window");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("title");
        row("pair, spaces trimmed", false, "  Artist - Song  ", "Artist", "Song");
        row("title alone", false, "Just a title", "", "Just a title");
        row("hyphenated artist", false, "AC-DC - Thunder", "AC-DC", "Thunder");
        row("first spaced hyphen splits", false, "Artist - Song - Live Version", "Artist",
            "Song - Live Version");
        row("no spaced hyphen: first hyphen", false, "Artist-Name", "Artist", "Name");
        row("hyphen and spaces on one side", false, "Artist -Song", "Artist", "Song");
        row("leading hyphen is no separator", false, "- Song", "", "- Song");
        row("trailing hyphen is no separator", false, "Artist -", "", "Artist -");
        row("non-latin text", false, "Ёлка - Прованс", "Ёлка", "Прованс");
        row("window: player suffix, longer entry", true, "Artist - Song - Spotify Premium",
            "Artist", "Song");
        row("window: player suffix", true, "Artist - Song - Spotify", "Artist", "Song");
        row("window: suffix case-insensitive", true, "Artist - Song - vlc MEDIA player", "Artist",
            "Song");
        row("window: only one suffix removed", true, "Artist - Song - YouTube - YouTube Music",
            "Artist", "Song - YouTube");
        row("window: bullet form", true, "Song • Artist - YouTube Music", "Artist", "Song");
        row("window: bullet form, further parts ignored", true, "Song • Artist • Album", "Artist",
            "Song");
        row("window: bracket prefix", true, "[Live] Show name", "", "Live");
        row("window: bracket holds the pair", true, "[Artist - Song] - Player", "Artist", "Song");
        row("window: hyphenated artist", true, "AC-DC - Thunder - foobar2000", "AC-DC", "Thunder");
        row("window: no spaced hyphen", true, "Artist-Name", "Artist", "Name");
        row("window: plain title trimmed", true, "  Radio Show  ", "", "Radio Show");
        row("window: suffix alone is not a separator", true, "Podcast - Music", "", "Podcast");
        // Window titles are filtered untrimmed: a leading space hides a time stamp.
        row("window: time stamp only at the very start", true, " 12:30:45 Artist - Song",
            "12:30:45 Artist", "Song");
    }
    void parsesTextAndWindowTitles() {
        QFETCH(bool, window);
        QFETCH(QString, text);
        QFETCH(QString, artist);
        QFETCH(QString, title);
        MetadataManager manager;
        QSignalSpy changed(&manager, &MetadataManager::metadataChanged);
        if (window) {
            manager.parseWindowTitle(text);
        } else {
            manager.parseMetadata(text);
        }
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0), (QVariantList{title, artist}));
        QCOMPARE(manager.title(), title);
        QCOMPARE(manager.artist(), artist);
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

    // (While manual it is taken: the sources' test.)
    void manualMetadataOnlyWhileManual() {
        MetadataManager manager;
        QSignalSpy changed(&manager, &MetadataManager::metadataChanged);
        manager.setManualMetadata(QStringLiteral("Typed"), QStringLiteral("Someone"));
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
        const QString existing = QStringLiteral("EXISTING");
        const QString none;
        QTest::newRow("manual") << 0 << none << none << MetadataSource::Manual << false;
        QTest::newRow("window title always reset")
            << 3 << existing << url << MetadataSource::Manual << false;
        QTest::newRow("file without path") << 1 << none << url << MetadataSource::Manual << false;
        QTest::newRow("missing file")
            << 1 << "/nonexistent/now.txt" << none << MetadataSource::Manual << true;
        QTest::newRow("existing file")
            << 1 << existing << none << MetadataSource::TextFile << false;
        QTest::newRow("url without url")
            << 2 << existing << none << MetadataSource::Manual << false;
        QTest::newRow("url") << 2 << none << url << MetadataSource::URL << false;
        QTest::newRow("unknown value") << 7 << existing << url << MetadataSource::Manual << false;
        QTest::newRow("negative value") << -1 << none << none << MetadataSource::Manual << false;
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
