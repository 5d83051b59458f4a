// The metadata manager's text-file and URL sources against real files and a local HTTP server:
// which line is read, how changes, deletions and failures are reported, and bounded fetches.
#include <cstdio>
#include <utility>

#include <sys/stat.h>
#include <sys/types.h>

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

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

// A manager and its recorder, with a folder for the text file.
struct Rig {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("now.txt"));
    MetadataManager manager;
    Recorder recorder{&manager};
};

void useFile(MetadataManager& manager, const QString& path) {
    manager.setSource(MetadataSource::TextFile);
    manager.setFilePath(path);
}

void useUrl(MetadataManager& manager, const QString& url) {
    manager.setSource(MetadataSource::URL);
    manager.setUrl(url);
}

QString localUrl(const HttpReceiver& server, const char* path = "/now.txt") {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(server.port()).arg(QLatin1String(path));
}

}  // namespace

class TestMetadataSources : public QObject {
    Q_OBJECT

private Q_SLOTS:

    void fileGivesFirstOrLastLine_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("lastLine");
        QTest::addColumn<QString>("expected");
        const QByteArray lines = "\n  Artist - Song  \n\nSecond - Line\n";
        QTest::newRow("first line") << lines << false << "changed:Artist|Song";
        QTest::newRow("last line") << lines << true << "changed:Second|Line";
        const QByteArray windows =
            "\xEF\xBB\xBF"
            "Artist - Song\r\nNext - One\r\n";
        QTest::newRow("BOM and CRLF, first") << windows << false << "changed:Artist|Song";
        QTest::newRow("BOM and CRLF, last") << windows << true << "changed:Next|One";
    }
    void fileGivesFirstOrLastLine() {
        QFETCH(QByteArray, content);
        QFETCH(bool, lastLine);
        QFETCH(QString, expected);
        Rig rig;
        auto& [dir, path, manager, recorder] = rig;
        QVERIFY(writeFile(path, content));
        manager.setReadLastLine(lastLine);
        useFile(manager, path);
        manager.refresh();
        QCOMPARE(recorder.events, QStringList{expected});
    }

    void emptyOrLogLikeFileEmitsNothing() {
        Rig rig;
        auto& [dir, path, manager, recorder] = rig;
        useFile(manager, path);
        QVERIFY(writeFile(path, "\n   \n\t\n"));
        manager.refresh();
        QVERIFY(writeFile(path, "12:30:45 gstreamer pipeline started\n"));
        manager.refresh();
        QCOMPARE(recorder.events, QStringList());
    }

    void fileIsWatchedThroughWritesAndReplacements() {
        Rig rig;
        auto& [dir, path, manager, recorder] = rig;
        QVERIFY(writeFile(path, "First - Song\n"));
        useFile(manager, path);
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
        auto& [dir, path, manager, recorder] = rig;
        QVERIFY(writeFile(path, "Artist - Song\n"));
        useFile(manager, path);
        manager.refresh();
        recorder.events.clear();

        QVERIFY(QFile::remove(path));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.events.size(), 2, 5000);
        QCOMPARE(recorder.events.at(0), QStringLiteral("error:Metadata file was deleted: ") + path);
        QCOMPARE(recorder.events.at(1), QStringLiteral("invalid:Metadata file was removed."));
        QCOMPARE(manager.title(), QStringLiteral("Song"));
    }

    void unreadableFileIsReported_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("fifo") << "fifo";  // opening it would block until a writer came
        QTest::newRow("directory") << "directory";
    }
    void unreadableFileIsReported() {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("now.txt"));
        if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == QLatin1String("directory")) {
            path = dir.path();
        }
        MetadataManager manager;
        Recorder recorder(&manager);
        // The main window answers an invalidated source by going back to manual entry.
        connect(&manager, &MetadataManager::sourceInvalidated, &manager,
                [&manager] { manager.setSource(MetadataSource::Manual); });
        useFile(manager, path);
        QElapsedTimer timer;
        timer.start();
        manager.refresh();
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(recorder.events.size(), 2);
        const QString error = recorder.events.at(0);
        QVERIFY2(error.startsWith(QStringLiteral("error:Failed to open metadata file: ")),
                 qPrintable(error));
        const QString reason = error.mid(error.indexOf(QStringLiteral(": ")) + 2);
        QVERIFY(!reason.isEmpty());
        QCOMPARE(recorder.events.at(1),
                 QStringLiteral("invalid:Metadata file could not be opened: ") + reason);
        QCOMPARE(manager.source(), MetadataSource::Manual);
    }

    void bigFileIsReadOnlyAtItsEnds() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("big.txt"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("Head - Line\n");
            // Multi-byte filler, so the 1 MiB bound falls inside a UTF-8 sequence somewhere.
            const QByteArray filler = QByteArray("Fülltext ünd Ümläute ").repeated(40) + '\n';
            while (file.size() < 10 * 1024 * 1024) file.write(filler);
            file.write("Tail - Line\n\n");
        }
        MetadataManager manager;
        Recorder recorder(&manager);
        useFile(manager, path);
        manager.setReadLastLine(true);
        manager.refresh();
        manager.setReadLastLine(false);
        manager.refresh();
        QCOMPARE(recorder.events, (QStringList{"changed:Tail|Line", "changed:Head|Line"}));
    }

    void watchingStopsWithTheSource() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("now.txt"));
        const QString other = dir.filePath(QStringLiteral("other.txt"));
        QVERIFY(writeFile(path, "Artist - Song\n"));
        QVERIFY(writeFile(other, "Other - Song\n"));
        MetadataManager manager;
        Recorder recorder(&manager);
        useFile(manager, path);
        manager.refresh();
        manager.setSource(MetadataSource::Manual);
        QVERIFY(writeFile(path, "Ignored - Song\n"));
        QVERIFY(QFile::remove(path));

        // Back to the file source with another file: the old one is no longer watched.
        useFile(manager, other);
        manager.refresh();
        QVERIFY(writeFile(path, "Recreated - Song\n"));
        QTest::qWait(1000);
        QCOMPARE(recorder.events, (QStringList{"changed:Artist|Song", "changed:Other|Song"}));
    }


    void urlGivesFirstOrLastLine() {
        HttpReceiver server;
        QVERIFY(server.listen());
        server.setResponseBody("\n  Artist - Song  \n\nSecond - Line\n");
        MetadataManager manager;
        Recorder recorder(&manager);
        useUrl(manager, localUrl(server));
        manager.refresh();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.events, QStringList{"changed:Artist|Song"}, 5000);

        const HttpReceiver::Request request = server.requests().value(0);
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.path, QByteArray("/now.txt"));
        QCOMPARE(request.headers.value("user-agent"), appidentity::userAgent().toLatin1());

        manager.setReadLastLine(true);
        manager.onUrlPollTimer();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.events.size(), 2, 5000);
        QCOMPARE(recorder.events.last(), QStringLiteral("changed:Second|Line"));
    }

    void failedFetchIsReported_data() {
        QTest::addColumn<int>("status");  // -1: nothing listens
        QTest::newRow("not found") << 404;
        QTest::newRow("connection refused") << -1;
    }
    void failedFetchIsReported() {
        QFETCH(int, status);
        HttpReceiver server;
        QVERIFY(server.listen());
        server.setResponseStatus(status);
        const QString url =
            status < 0
                ? QStringLiteral("http://127.0.0.1:%1/now.txt").arg(testsupport::freePort())
                : localUrl(server);
        MetadataManager manager;
        Recorder recorder(&manager);
        useUrl(manager, url);
        manager.refresh();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.events.size(), 2, 5000);
        const QString error = recorder.events.at(0);
        QVERIFY2(error.startsWith(QStringLiteral("error:Failed to fetch metadata from URL: ")),
                 qPrintable(error));
        const QString reason =
            error.mid(QStringLiteral("error:Failed to fetch metadata from URL: ").size());
        QVERIFY(!reason.isEmpty());
        QCOMPARE(recorder.events.at(1),
                 QStringLiteral("invalid:URL metadata source is unavailable: ") + reason);
    }

    void unansweredRequestsTimeOutAndDoNotPileUp() {
        HttpReceiver server;
        QVERIFY(server.listen());
        server.setResponseStatus(0);  // accept, never answer
        MetadataManager manager;
        Recorder recorder(&manager);
        useUrl(manager, localUrl(server));
        manager.setUrlPollInterval(1);
        manager.refresh();
        QTRY_VERIFY_WITH_TIMEOUT(recorder.events.size() >= 2, 5000);
        QCOMPARE(recorder.events.at(0),
                 QStringLiteral("error:Failed to fetch metadata from URL: No reply within 1 s"));

        // Several polls later, still at most the one request of the current poll is open.
        QTRY_VERIFY_WITH_TIMEOUT(server.requestCount() >= 4, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(server.openConnectionCount() <= 1, 2000);
    }

    void oversizedRepliesAreCut_data() {
        QTest::addColumn<bool>("endless");
        QTest::newRow("endless body") << true;
        QTest::newRow("announced length") << false;
    }
    void oversizedRepliesAreCut() {
        QFETCH(bool, endless);
        HttpReceiver server;
        QVERIFY(server.listen());
        if (endless) {
            server.setEndlessBody(true);
        } else {
            server.setResponseBody(QByteArray("Big - Reply\n").repeated(10000));
        }
        MetadataManager manager;
        Recorder recorder(&manager);
        useUrl(manager, localUrl(server));
        manager.refresh();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.events.size(), 2, 10000);
        QCOMPARE(recorder.events.at(0),
                 QStringLiteral("error:Failed to fetch metadata from URL: Reply exceeds 64 KiB"));
        QTRY_COMPARE_WITH_TIMEOUT(server.openConnectionCount(), 0, 5000);
    }

    void pollIntervalChangeReachesTheRunningTimer() {
        HttpReceiver server;
        QVERIFY(server.listen());
        server.setResponseBody("Artist - Song\n");
        MetadataManager manager;
        Recorder recorder(&manager);
        useUrl(manager, localUrl(server));
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
        HttpReceiver server;
        QVERIFY(server.listen());
        MetadataManager manager;
        Recorder recorder(&manager);
        manager.setSource(MetadataSource::URL);
        manager.setUrlPollInterval(1);
        for (const QString& url :
             {QStringLiteral("http://:%1/now.txt").arg(server.port()),
              QStringLiteral("http:///now"), QStringLiteral("now playing please"),
              QStringLiteral("file:///tmp/now.txt")}) {
            manager.setUrl(url);
            manager.refresh();
            manager.onUrlPollTimer();
        }
        QTest::qWait(1500);
        QCOMPARE(recorder.events, QStringList());
        QCOMPARE(server.requestCount(), 0);
    }

    void lateRepliesForAnOldSourceAreIgnored() {
        HttpReceiver slow;
        QVERIFY(slow.listen());
        slow.setResponseBody("Late - Reply\n");
        slow.setResponseDelayMs(700);
        HttpReceiver fast;
        QVERIFY(fast.listen());
        fast.setResponseBody("Fresh - Reply\n");

        MetadataManager manager;
        Recorder recorder(&manager);
        useUrl(manager, localUrl(slow));
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
        manager.setUrl(localUrl(fast));
        manager.onUrlPollTimer();
        QTest::qWait(1200);
        QCOMPARE(recorder.events, (QStringList{"changed:Host|Typed", "changed:Fresh|Reply"}));
        QCOMPARE(manager.title(), QStringLiteral("Reply"));
        QCOMPARE(manager.artist(), QStringLiteral("Fresh"));
    }

    void undecodableBytesBecomeReplacementCharacters() {
        const QByteArray bytes = "Caf\xC3 - \xFF\xFESong\n";
        const QString expected = QStringLiteral("changed:Caf\uFFFD|\uFFFD\uFFFDSong");

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("now.txt"));
        QVERIFY(writeFile(path, bytes));
        MetadataManager fileManager;
        Recorder fileRecorder(&fileManager);
        useFile(fileManager, path);
        fileManager.refresh();
        QCOMPARE(fileRecorder.events, QStringList{expected});

        HttpReceiver server;
        QVERIFY(server.listen());
        server.setResponseBody(bytes, "text/plain");
        MetadataManager urlManager;
        Recorder urlRecorder(&urlManager);
        useUrl(urlManager, localUrl(server));
        urlManager.refresh();
        QTRY_COMPARE_WITH_TIMEOUT(urlRecorder.events, QStringList{expected}, 5000);
    }
};

QTEST_GUILESS_MAIN(TestMetadataSources)
#include "test_metadata_sources.moc"
