#include <QtTest>

#include "core/app_identity.h"
#include "core/log_categories.h"
#include "core/logger.h"
#include "test_environment.h"

using testsupport::readFile;

namespace {

QMutex g_capturedMutex;
QStringList g_captured;

// Installed before the logger, so it becomes the logger's "previous handler".
void captureHandler(QtMsgType, const QMessageLogContext&, const QString& line) {
    QMutexLocker lock(&g_capturedMutex);
    g_captured << line;
}

QString lastCaptured() {
    QMutexLocker lock(&g_capturedMutex);
    return g_captured.isEmpty() ? QString() : g_captured.last();
}

const QRegularExpression kLinePattern(
    QStringLiteral(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[(DEBUG|INFO|WARN|ERROR)\] )"
                   R"(\[[A-Z_]+\] .*$)"));

}  // namespace

class TestLogger : public QObject {
    Q_OBJECT

    TestEnvironment m_env;
    Logger* m_logger = nullptr;

    QString logPath() const { return m_logger->logFilePath(); }

    void resetLogFolder() {
        m_logger->setFileLoggingEnabled(false);
        QDir(m_logger->logDirectory()).removeRecursively();
    }

    // Rotated files .1 to .3 with known content, and a current log at the rotation size.
    void prepareFullLog() {
        QVERIFY(QDir().mkpath(m_logger->logDirectory()));
        for (int n = 1; n <= 3; ++n) {
            QVERIFY(testsupport::writeFile(logPath() + QLatin1Char('.') + QString::number(n),
                                           "rotated-" + QByteArray::number(n) + '\n'));
        }
        QByteArray big(Logger::kRotateSizeBytes, 'x');
        big.replace(0, 8, "current\n");
        QVERIFY(testsupport::writeFile(logPath(), big));
    }

private Q_SLOTS:
    void initTestCase() {
        qInstallMessageHandler(captureHandler);
        appidentity::apply();
        m_logger = &Logger::instance();
        QCOMPARE(m_logger->logDirectory(), m_env.dataHome() + "/Ondaro/Ondaro Doredoradar/logs");
    }

    void init() { resetLogFolder(); }
    void cleanupTestCase() { resetLogFolder(); }

    void lineFormatAndLevels() {
        qCWarning(lcIcecast) << "Socket closed";
        const QString line = lastCaptured();
        QVERIFY2(kLinePattern.match(line).hasMatch(), qPrintable(line));
        QVERIFY(line.endsWith(QStringLiteral("] [WARN] [ICECAST] Socket closed")));

        qCDebug(lcGStreamer) << "a";
        QVERIFY(lastCaptured().contains(QStringLiteral("] [DEBUG] [GSTREAMER] a")));
        qCInfo(lcMain) << "b";
        QVERIFY(lastCaptured().contains(QStringLiteral("] [INFO] [MAIN] b")));
        qCCritical(lcOndaro) << "c";
        QVERIFY(lastCaptured().contains(QStringLiteral("] [ERROR] [ONDARO] c")));

        // A placeholder inside the message is text, not a substitution slot.
        qCInfo(lcMain).noquote() << "%1 and %2";
        QVERIFY(lastCaptured().endsWith(QStringLiteral("[MAIN] %1 and %2")));
    }

    void categoryFromFunctionName_data() {
        QTest::addColumn<QByteArray>("function");
        QTest::addColumn<QString>("category");
        QTest::newRow("main window") << QByteArray("void MainWindow::onConnect()") << "UI";
        QTest::newRow("earlier row wins")
            << QByteArray("void Doredoradar::onIcecastClientConnected()") << "ICECAST";
        QTest::newRow("controller") << QByteArray("bool Doredoradar::initialize()")
                                    << "BROADCASTER";
        QTest::newRow("main") << QByteArray("int main(int, char**)") << "MAIN";
        QTest::newRow("free function") << QByteArray("void helper()") << "GENERAL";
        QTest::newRow("no function") << QByteArray() << "GENERAL";
    }

    void categoryFromFunctionName() {
        QFETCH(QByteArray, function);
        QFETCH(QString, category);
        const char* name = function.isEmpty() ? nullptr : function.constData();
        QMessageLogger(nullptr, 0, name).warning("derived");
        QVERIFY2(lastCaptured().endsWith(QStringLiteral("[WARN] [%1] derived").arg(category)),
                 qPrintable(lastCaptured()));
        // An explicit category beats the function name; "default" does not count as one.
        QCOMPARE(Logger::categoryFor("METADATA", "void MainWindow::x()"),
                 QStringLiteral("METADATA"));
        QCOMPARE(Logger::categoryFor("default", name), category);
    }

    // Off, lines go to the console only and no folder is made; on, the folder and file appear.
    void fileLoggingOnlyWhileEnabled() {
        QVERIFY(!m_logger->isFileLoggingEnabled());
        qCWarning(lcMain) << "console only";
        QVERIFY2(lastCaptured().endsWith(QStringLiteral("[MAIN] console only")),
                 qPrintable(lastCaptured()));
        QVERIFY(!QDir(m_logger->logDirectory()).exists());

        m_logger->setFileLoggingEnabled(true);
        QVERIFY(QFile::exists(logPath()));
        qCInfo(lcSettings).noquote() << "written to disk";
        m_logger->setFileLoggingEnabled(false);
        qCInfo(lcSettings).noquote() << "not written";
        const QList<QByteArray> lines = readFile(logPath()).split('\n');
        QCOMPARE(lines.size(), 2);  // one line and the empty remainder after its newline
        QVERIFY(lines[0].endsWith("[INFO] [SETTINGS] written to disk"));
    }

    void linesFromThreadsNeverInterleave() {
        m_logger->setFileLoggingEnabled(true);
        constexpr int kThreads = 4;
        constexpr int kLinesEach = 1500;
        QList<QThread*> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads << QThread::create([t] {
                for (int i = 0; i < kLinesEach; ++i) {
                    qCInfo(lcBroadcaster).noquote()
                        << QStringLiteral("thread-%1 line-%2 ").arg(t).arg(i) +
                               QString(40, QLatin1Char('a' + t));
                }
            });
        }
        for (QThread* th : threads) th->start();
        for (QThread* th : threads) {
            QVERIFY(th->wait(30000));
            delete th;
        }
        m_logger->setFileLoggingEnabled(false);

        const QStringList lines =
            QString::fromUtf8(readFile(logPath())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), kThreads * kLinesEach);
        QList<int> nextPerThread(kThreads, 0);
        const QRegularExpression payload(
            QStringLiteral(R"(\[BROADCASTER\] thread-(\d) line-(\d+) ([a-d])\3{39}$)"));
        for (const QString& line : lines) {
            QVERIFY2(kLinePattern.match(line).hasMatch(), qPrintable(line));
            const auto m = payload.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            const int t = m.captured(1).toInt();
            QCOMPARE(m.captured(3).at(0), QChar(QLatin1Char('a' + t)));
            // Per thread, the file keeps the order in which that thread logged.
            QCOMPARE(m.captured(2).toInt(), nextPerThread[t]++);
        }
    }

    void rotationShiftsFilesAndDropsTheOldest() {
        prepareFullLog();
        m_logger->setFileLoggingEnabled(true);
        qCInfo(lcMain).noquote() << "first line of the new log";
        m_logger->setFileLoggingEnabled(false);

        const QByteArray current = readFile(logPath());
        QCOMPARE(current.count('\n'), 1);
        QVERIFY(current.endsWith("first line of the new log\n"));
        const QByteArray one = readFile(logPath() + QStringLiteral(".1"));
        QCOMPARE(one.size(), Logger::kRotateSizeBytes);
        QVERIFY(one.startsWith("current\n"));
        QCOMPARE(readFile(logPath() + QStringLiteral(".2")), QByteArray("rotated-1\n"));
        QCOMPARE(readFile(logPath() + QStringLiteral(".3")), QByteArray("rotated-2\n"));
        QVERIFY(!QFile::exists(logPath() + QStringLiteral(".4")));
        QVERIFY(!QFile::exists(logPath() + QStringLiteral(".rotating")));
    }

    void failedRotationLosesNoHistory() {
        bool passed = false;
        QString output;
        if (testsupport::rerunUnprivilegedIfRoot("failedRotationLosesNoHistory", passed, output)) {
            QVERIFY2(passed, qPrintable(output));
            return;
        }
        prepareFullLog();
        m_logger->setFileLoggingEnabled(true);
        const QString dir = m_logger->logDirectory();
        QVERIFY(QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner));

        m_logger->setRotationRetryDelay(std::chrono::milliseconds(0));
        for (const char* text : {"kept-a", "kept-b", "kept-c"}) qCInfo(lcMain).noquote() << text;

        QVERIFY(QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner));
        for (int n = 1; n <= 3; ++n) {
            QCOMPARE(readFile(logPath() + QLatin1Char('.') + QString::number(n)),
                     "rotated-" + QByteArray::number(n) + '\n');
        }
        const QByteArray grown = readFile(logPath());
        QVERIFY(grown.startsWith("current\n"));
        QVERIFY(grown.endsWith("kept-c\n"));

        // Once the folder is writable again the next message rotates as usual.
        qCInfo(lcMain).noquote() << "after recovery";
        m_logger->setFileLoggingEnabled(false);
        m_logger->setRotationRetryDelay(std::chrono::milliseconds(5000));
        QVERIFY(readFile(logPath()).endsWith("after recovery\n"));
        QVERIFY(readFile(logPath() + QStringLiteral(".1")).endsWith("kept-c\n"));
        QCOMPARE(readFile(logPath() + QStringLiteral(".2")), QByteArray("rotated-1\n"));
        QCOMPARE(readFile(logPath() + QStringLiteral(".3")), QByteArray("rotated-2\n"));
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "test_logger.moc"
