// The real servers the other tests stand on: if one of these fails, the machine is missing a
// component, not the application a feature.
#include <QtTest>

#include "audio_probe.h"
#include "icecast_server.h"
#include "pulse_server.h"
#include "xvfb_server.h"

class TestFixtures : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void icecastServesAndStopsByPid() {
        IcecastServer icecast;
        QString error;
        QVERIFY2(icecast.start(&error), qPrintable(error));
        QCOMPARE(icecast.stats().value("host").toString(), QStringLiteral("127.0.0.1"));
        const qint64 pid = icecast.pid();
        QVERIFY(pid > 0);
        icecast.stop();
        QVERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)));
        QVERIFY(!testsupport::waitForTcpPort(icecast.port(), 300));
    }

    void pulseaudioPlaysIntoItsNullSink() {
        PulseServer pulse;
        QString error;
        QVERIFY2(pulse.start(&error), qPrintable(error));
        QVERIFY(pulse.pactl({"list", "short", "sources"}).contains("test_mic"));
        auto tone = pulse.playTone(QStringLiteral("test_sink"), 440, QStringLiteral("tone-player"));
        QTRY_VERIFY_WITH_TIMEOUT(
            pulse.pactl({"list", "sink-inputs"}).contains(QStringLiteral("tone-player")), 10000);
    }

    void xvfbGivesADisplay() {
        XvfbServer xvfb;
        QString error;
        QVERIFY2(xvfb.start(&error), qPrintable(error));
        QVERIFY(xvfb.display().startsWith(QLatin1Char(':')));
    }
};

QTEST_GUILESS_MAIN(TestFixtures)
#include "test_fixtures.moc"
