#include <QtTest>
class TestCapturePrograms : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(TestCapturePrograms)
#include "test_capture_programs.moc"
