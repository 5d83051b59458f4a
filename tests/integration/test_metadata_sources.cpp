// The metadata manager's text-file and URL sources against real files and a local HTTP server:
// which line is read, how changes, deletions and failures are reported, and bounded fetches.
#include <cstdio>
#include <utility>

#include <sys/stat.h>
#include <sys/types.h>

#include <QtTest>

#include "http_receiver.h"
#include "managed_process.h"
#include "test_environment.h"
#include "core/app_identity.h"
#include "metadata/metadata_manager.h"

namespace {

// Everything the manager says, in order, as short strings.
class Recorder : public QObject {
public:
    explicit Recorder(MetadataManager* manager) {
        connect(manager, &MetadataManager::metadataChanged, this,
                [this](const QString& title, const QString& artist) {
                    events << QStringLiteral("changed:%1|%2").arg(artist, title);
                });
        connect(manager, &MetadataManager::errorOccurred, this,
                [this](const QString& error) { events << QStringLiteral("error:") + error; });
        connect(manager, &MetadataManager::sourceInvalidated, this,
                [this](const QString& reason) { events << QStringLiteral("invalid:") + reason; });
    }
    QStringList changes() const { return events.filter(QRegularExpression("^changed:")); }
    QStringList events;
};

using testsupport::writeFile;

// A manager and its recorder, with a folder for the text file and a server for the URL.
struct Rig {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("now.txt"));
    HttpReceiver server;
    bool listening = server.listen();
    MetadataManager manager;
    Recorder recorder{&manager};

    void useFile(const QString& file) {
        manager.setSource(MetadataSource::TextFile);
        manager.setFilePath(file);
    }
    void useUrl(const QString& url = QString()) {
        manager.setSource(MetadataSource::URL);
        manager.setUrl(url.isEmpty() ? urlOf(server) : url);
    }
    static QString urlOf(const HttpReceiver& server) {
        return QStringLiteral("http://127.0.0.1:%1/now.txt").arg(server.port());
    }
};

// The manager said `error` and a reason, then invalidated its source with `invalid` and the same
// reason.
void expectFailure(const QStringList& events, const QString& error, const QString& invalid) {
    QCOMPARE(events.size(), 2);
    QVERIFY2(events.at(0).startsWith(error), qPrintable(events.at(0)));
    const QString reason = events.at(0).mid(error.size());
    QVERIFY(!reason.isEmpty());
    QCOMPARE(events.at(1), invalid + reason);
}

}  // namespace

class TestMetadataSources : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fileGivesFirstOrLastLine_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("lastLine");
        QTest::addColumn<QStringList>("expected");
        const QByteArray lines = "\n  Artist - Song  \n\nSecond - Line\n";
        QTest::newRow("first line") << lines << false << QStringList{"changed:Artist|Song"};
        QTest::newRow("last line") << lines << true << QStringList{"changed:Second|Line"};
        QTest::newRow("blank lines only") << QByteArray("\n   \n\t\n") << true << QStringList();
    }
    void fileGivesFirstOrLastLine() {
        QFETCH(QByteArray, content);
        QFETCH(bool, lastLine);
        Rig rig;
        QVERIFY(writeFile(rig.path, content));
        rig.manager.setReadLastLine(lastLine);
        rig.useFile(rig.path);
        rig.manager.refresh();
        QTEST(rig.recorder.events, "expected");
    }

    void fileIsWatchedThroughWritesAndReplacements() {
        Rig rig;
        auto& [dir, path, server, listening, manager, recorder] = rig;
        QVERIFY(writeFile(path, "First - Song\n"));
        rig.useFile(path);
        manager.refresh();
        QCOMPARE(recorder.changes(), QStringList{"changed:First|Song"});

        // Written again; the same text again, which is news too (the same song may be played
        // twice); replaced by rename as editors save, and the new file watched in turn; deleted
        // and written again at once (editors without atomic saves), which is no removal.
        const QString temporary = dir.filePath(QStringLiteral("now.txt.new"));
        for (const auto& [how, artist] :
             {std::pair{'w', "Second"}, std::pair{'w', "Second"}, std::pair{'r', "Third"},
              std::pair{'w', "Fourth"}, std::pair{'d', "Fifth"}, std::pair{'w', "Sixth"}}) {
            const QByteArray text = QByteArray(artist) + " - Song\n";
            const qsizetype before = recorder.changes().size();
            if (how == 'r') {
                QVERIFY(writeFile(temporary, text));
                QCOMPARE(std::rename(QFile::encodeName(temporary).constData(),
                                     QFile::encodeName(path).constData()),
                         0);
            } else {
                if (how == 'd') QVERIFY(QFile::remove(path));
                QVERIFY(writeFile(path, text));
            }
            QTRY_COMPARE_WITH_TIMEOUT(recorder.changes().size(), before + 1, 5000);
            QCOMPARE(recorder.changes().last(), QStringLiteral("changed:%1|Song").arg(artist));
        }
        QCOMPARE(recorder.events.size(), 7);
    }

    void deletedFileIsReported() {
        Rig rig;
        QVERIFY(writeFile(rig.path, "Artist - Song\n"));
        rig.useFile(rig.path);
        rig.manager.refresh();
        rig.recorder.events.clear();

        QVERIFY(QFile::remove(rig.path));
        QTRY_COMPARE_WITH_TIMEOUT(rig.recorder.events.size(), 2, 5000);
        QCOMPARE(rig.recorder.events,
                 (QStringList{QStringLiteral("error:Metadata file was deleted: ") + rig.path,
                              QStringLiteral("invalid:Metadata file was removed.")}));
        QCOMPARE(rig.manager.title(), QStringLiteral("Song"));
    }

    void unreadableFileIsReported_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("fifo") << "fifo";  // opening it would block until a writer came
        QTest::newRow("directory") << "directory";
    }
    void unreadableFileIsReported() {
        QFETCH(QString, kind);
        Rig rig;
        QString path = rig.path;
        if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == QLatin1String("directory")) {
            path = rig.dir.path();
        }
        // The main window answers an invalidated source by going back to manual entry.
        connect(&rig.manager, &MetadataManager::sourceInvalidated, &rig.manager,
                [&rig] { rig.manager.setSource(MetadataSource::Manual); });
        rig.useFile(path);
        QElapsedTimer timer;
        timer.start();
        rig.manager.refresh();
        QVERIFY(timer.elapsed() < 5000);
        expectFailure(rig.recorder.events, QStringLiteral("error:Failed to open metadata file: "),
                      QStringLiteral("invalid:Metadata file could not be opened: "));
        QCOMPARE(rig.manager.source(), MetadataSource::Manual);
    }

    void bigFileIsReadOnlyAtItsEnds() {
        Rig rig;
        {
            QFile file(rig.path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("Head - Line\n");
            // Multi-byte filler, so the 1 MiB bound falls inside a UTF-8 sequence somewhere.
            const QByteArray filler = QByteArray("Fülltext ünd Ümläute ").repeated(40) + '\n';
            while (file.size() < 10 * 1024 * 1024) file.write(filler);
            file.write("Tail - Line\n\n");
        }
        rig.useFile(rig.path);
        rig.manager.setReadLastLine(true);
        rig.manager.refresh();
        rig.manager.setReadLastLine(false);
        rig.manager.refresh();
        QCOMPARE(rig.recorder.events, (QStringList{"changed:Tail|Line", "changed:Head|Line"}));
    }

    void watchingStopsWithTheSource() {
        Rig rig;
        const QString other = rig.dir.filePath(QStringLiteral("other.txt"));
        QVERIFY(writeFile(rig.path, "Artist - Song\n"));
        QVERIFY(writeFile(other, "Other - Song\n"));
        rig.useFile(rig.path);
        rig.manager.refresh();
        rig.manager.setSource(MetadataSource::Manual);
        QVERIFY(writeFile(rig.path, "Ignored - Song\n"));
        QVERIFY(QFile::remove(rig.path));

        // Back to the file source with another file: the old one is no longer watched.
        rig.useFile(other);
        rig.manager.refresh();
        QVERIFY(writeFile(rig.path, "Recreated - Song\n"));
        QTest::qWait(1000);
        QCOMPARE(rig.recorder.events, (QStringList{"changed:Artist|Song", "changed:Other|Song"}));
    }

    void urlGivesFirstOrLastLine() {
        Rig rig;
        rig.server.setResponseBody("\n  Artist - Song  \n\nSecond - Line\n");
        rig.useUrl();
        rig.manager.refresh();
        QTRY_COMPARE_WITH_TIMEOUT(rig.recorder.events, QStringList{"changed:Artist|Song"}, 5000);

        const HttpReceiver::Request request = rig.server.requests().value(0);
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.path, QByteArray("/now.txt"));
        QCOMPARE(request.headers.value("user-agent"), appidentity::userAgent().toLatin1());

        rig.manager.setReadLastLine(true);
        rig.manager.onUrlPollTimer();
        QTRY_COMPARE_WITH_TIMEOUT(rig.recorder.events.size(), 2, 5000);
        QCOMPARE(rig.recorder.events.last(), QStringLiteral("changed:Second|Line"));
    }

    void failedFetchIsReported_data() {
        QTest::addColumn<int>("status");  // -1: nothing listens
        QTest::newRow("not found") << 404;
        QTest::newRow("connection refused") << -1;
    }
    void failedFetchIsReported() {
        QFETCH(int, status);
        Rig rig;
        rig.server.setResponseStatus(status);
        rig.useUrl(status < 0 ? QStringLiteral("http://127.0.0.1:%1/now.txt")
                                    .arg(testsupport::freePort())
                              : QString());
        rig.manager.refresh();
        QTRY_COMPARE_WITH_TIMEOUT(rig.recorder.events.size(), 2, 5000);
        expectFailure(rig.recorder.events,
                      QStringLiteral("error:Failed to fetch metadata from URL: "),
                      QStringLiteral("invalid:URL metadata source is unavailable: "));
    }

    void unansweredRequestsTimeOutAndDoNotPileUp() {
        Rig rig;
        rig.server.setResponseStatus(0);  // accept, never answer
        rig.useUrl();
        rig.manager.setUrlPollInterval(1);
        rig.manager.refresh();
        QTRY_VERIFY_WITH_TIMEOUT(rig.recorder.events.size() >= 2, 5000);
        QCOMPARE(rig.recorder.events.at(0),
                 QStringLiteral("error:Failed to fetch metadata from URL: No reply within 1 s"));

        // Several polls later, still at most the one request of the current poll is open.
        QTRY_VERIFY_WITH_TIMEOUT(rig.server.requestCount() >= 4, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(rig.server.openConnectionCount() <= 1, 2000);
    }

    void oversizedRepliesAreCut_data() {
        QTest::addColumn<bool>("endless");
        QTest::newRow("endless body") << true;
        QTest::newRow("announced length") << false;
    }
    void oversizedRepliesAreCut() {
        QFETCH(bool, endless);
        Rig rig;
        if (endless) {
            rig.server.setEndlessBody(true);
        } else {
            rig.server.setResponseBody(QByteArray("Big - Reply\n").repeated(10000));
        }
        rig.useUrl();
        rig.manager.refresh();
        QTRY_COMPARE_WITH_TIMEOUT(rig.recorder.events.size(), 2, 10000);
        QCOMPARE(rig.recorder.events.at(0),
                 QStringLiteral("error:Failed to fetch metadata from URL: Reply exceeds 64 KiB"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.server.openConnectionCount(), 0, 5000);
    }

    void pollIntervalChangeReachesTheRunningTimer() {
        Rig rig;
        auto& [dir, path, server, listening, manager, recorder] = rig;
        server.setResponseBody("Artist - Song\n");
        rig.useUrl();
        // Asking again while the request runs does not start another one.
        manager.refresh();
        manager.refresh();
        manager.onUrlPollTimer();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.events.size(), 1, 5000);
        QTest::qWait(300);
        QCOMPARE(server.requestCount(), 1);

        manager.setUrlPollInterval(1);  // from 30 s
        QTRY_VERIFY_WITH_TIMEOUT(server.requestCount() >= 3, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.events.size() >= 3, 5000);
        QCOMPARE(recorder.events.filter(QStringLiteral("changed:Artist|Song")).size(),
                 recorder.events.size());

        manager.setSource(MetadataSource::Manual);
        const int requests = server.requestCount();
        QTest::qWait(1500);
        QCOMPARE(server.requestCount(), requests);
    }

    void urlsWithoutHostAreNeverFetched() {
        Rig rig;
        rig.manager.setUrlPollInterval(1);
        for (const QString& url :
             {QStringLiteral("http://:%1/now.txt").arg(rig.server.port()),
              QStringLiteral("http:///now"), QStringLiteral("now playing please"),
              QStringLiteral("file:///tmp/now.txt")}) {
            rig.useUrl(url);
            rig.manager.refresh();
            rig.manager.onUrlPollTimer();
        }
        QTest::qWait(1500);
        QCOMPARE(rig.recorder.events, QStringList());
        QCOMPARE(rig.server.requestCount(), 0);
    }

    void lateRepliesForAnOldSourceAreIgnored() {
        Rig rig;
        auto& [dir, path, slow, listening, manager, recorder] = rig;
        slow.setResponseBody("Late - Reply\n");
        slow.setResponseDelayMs(700);
        HttpReceiver fast;
        QVERIFY(fast.listen());
        fast.setResponseBody("Fresh - Reply\n");

        rig.useUrl();
        manager.refresh();
        QTRY_COMPARE_WITH_TIMEOUT(slow.requestCount(), 1, 5000);
        manager.setSource(MetadataSource::Manual);
        manager.setManualMetadata(QStringLiteral("Typed"), QStringLiteral("Host"));
        QTest::qWait(1200);
        QCOMPARE(recorder.events, QStringList{"changed:Host|Typed"});

        // The URL changed while a request for the old one was running.
        manager.setSource(MetadataSource::URL);
        manager.refresh();
        QTRY_COMPARE_WITH_TIMEOUT(slow.requestCount(), 2, 5000);
        manager.setUrl(Rig::urlOf(fast));
        manager.onUrlPollTimer();
        QTest::qWait(1200);
        QCOMPARE(recorder.events, (QStringList{"changed:Host|Typed", "changed:Fresh|Reply"}));
        QCOMPARE(manager.title(), QStringLiteral("Reply"));
        QCOMPARE(manager.artist(), QStringLiteral("Fresh"));
    }

    // From a file and from a URL alike.
    void undecodableBytesBecomeReplacementCharacters() {
        const QByteArray bytes = "Caf\xC3 - \xFF\xFESong\n";
        const QStringList expected{QStringLiteral("changed:Caf\uFFFD|\uFFFD\uFFFDSong")};
        Rig fromFile;
        QVERIFY(writeFile(fromFile.path, bytes));
        fromFile.useFile(fromFile.path);
        fromFile.manager.refresh();
        QCOMPARE(fromFile.recorder.events, expected);

        Rig fromUrl;
        fromUrl.server.setResponseBody(bytes, "text/plain");
        fromUrl.useUrl();
        fromUrl.manager.refresh();
        QTRY_COMPARE_WITH_TIMEOUT(fromUrl.recorder.events, expected, 5000);
    }
};

QTEST_GUILESS_MAIN(TestMetadataSources)
#include "test_metadata_sources.moc"
