// The painted controls: meter pixels, hold timing, fader and switch handles, marquee timers.
#include <algorithm>

#include <QIcon>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QtTest>

#include "ui/widgets/animated_toggle.h"
#include "ui/widgets/icon_text_button.h"
#include "ui/widgets/marquee_label.h"
#include "ui/widgets/shadow_slider.h"
#include "ui/widgets/stereo_vu_meter.h"

namespace {

QImage rendered(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    widget.render(&image);
    return image;
}

QString colourAt(const QImage& image, int x, int y) { return image.pixelColor(x, y).name(); }

// "row=#colour" pairs, checked in a column of each bar of a 138 × 227 meter (bars 216 pixels
// high from y = 5, 50 wide at x = 5 and x = 83).
void checkBars(const QImage& image, const QStringList& expected) {
    for (const QString& pair : expected) {
        const int row = pair.section('=', 0, 0).toInt();
        for (int x : {11, 89}) {
            QVERIFY2(colourAt(image, x, row) == pair.section('=', 1),
                     qPrintable(pair + " but " + colourAt(image, x, row)));
        }
    }
}

}  // namespace

class TestControls : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void meterPixels_data() {
        QTest::addColumn<float>("peakDb");
        QTest::addColumn<int>("paleBy");  // 0 none, 1 muted, 2 ducked
        QTest::addColumn<QStringList>("expected");
        // The green zone's top is row 77, the amber zone's row 29.
        QTest::newRow("-18 dB fills the green two thirds")
            << -18.0f << 0 << QStringList{"219=#22c55e", "77=#22c55e", "76=#e5e7eb"};
        QTest::newRow("-6 dB reaches amber")
            << -6.0f << 0 << QStringList{"77=#22c55e", "76=#eab308", "29=#eab308", "28=#e5e7eb"};
        QTest::newRow("+6 dB clamps to the top")
            << 6.0f << 0 << QStringList{"28=#ef4444", "6=#ef4444"};
        QTest::newRow("-80 dB draws the track only")
            << -80.0f << 0 << QStringList{"219=#e5e7eb", "100=#e5e7eb", "6=#e5e7eb"};
        QTest::newRow("muted is pale") << -6.0f << 1 << QStringList{"100=#86efac", "50=#fde047"};
        QTest::newRow("ducked is pale") << 0.0f << 2 << QStringList{"100=#86efac", "10=#fca5a5"};
    }
    void meterPixels() {
        QFETCH(float, peakDb);
        QFETCH(int, paleBy);
        QFETCH(QStringList, expected);
        StereoVUMeter meter;
        meter.resize(138, 227);
        meter.setMuted(paleBy == 1);
        meter.setDucked(paleBy == 2);
        meter.setLevels(peakDb, peakDb, -60, -60, -60, -60);
        QCOMPARE(meter.look().levels.peakRight, std::clamp(peakDb, -60.0f, 3.0f));
        checkBars(rendered(meter), expected);
    }

    // Only the bar that changed is repainted, and changes below 0.01 dB repaint nothing.
    void meterRepaintsOnlyItsChangedBar() {
        StereoVUMeter meter;
        meter.resize(138, 227);
        meter.show();
        QVERIFY(QTest::qWaitForWindowExposed(&meter));
        QTest::qWait(50);
        QRegion painted;
        struct Recorder : QObject {
            QRegion* region;
            bool eventFilter(QObject*, QEvent* e) override {
                if (e->type() == QEvent::Paint) *region += static_cast<QPaintEvent*>(e)->region();
                return false;
            }
        } recorder;
        recorder.region = &painted;
        meter.installEventFilter(&recorder);
        meter.setLevels(-20, -60.005f, -60, -60, -60, -60);
        QTRY_VERIFY(!painted.isEmpty());
        QCOMPARE(painted.boundingRect(), QRect(5, 5, 50, 216));
        painted = QRegion();
        meter.setLevels(-20.005f, -60, -60, -60, -60, -60);
        QTest::qWait(50);
        QVERIFY(painted.isEmpty());
    }

    void meterHoldStaysTenSecondsThenDrops() {
        qint64 nowMs = 1'000'000;
        StereoVUMeter meter;
        meter.resize(138, 227);
        meter.setClock([&nowMs] { return nowMs; });
        meter.setLevels(-3, -3, -3, -3, -60, -60);
        meter.setLevels(-60, -60, -60, -60, -60, -60);
        const QString holdRed = QColor(0xEF, 0x44, 0x44).darker(120).name();
        nowMs += 10000;
        QTest::qWait(60);
        QCOMPARE(meter.look().levels.holdLeft, -3.0f);
        checkBars(rendered(meter), {"16=" + holdRed, "17=" + holdRed, "18=#e5e7eb"});
        nowMs += 1;
        QTRY_COMPARE(meter.look().levels.holdRight, -60.0f);
        checkBars(rendered(meter), {"16=#e5e7eb", "17=#e5e7eb"});
    }

    // A click puts the handle under the pointer; a shadow moves the drawn handle, not the value.
    void sliderHandle() {
        ShadowSlider slider(Qt::Vertical);
        slider.setRange(-240, 240);
        slider.resize(40, 240);
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        auto handleAt = [&slider](int y) {
            const QImage image = rendered(slider);
            QCOMPARE(colourAt(image, 20, y), QStringLiteral("#ffffff"));
            QCOMPARE(colourAt(image, 20, y - 25), QStringLiteral("#e5e7eb"));
            QCOMPARE(colourAt(image, 20, y + 25), QStringLiteral("#3b82f6"));
        };
        QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(20, 70));
        QCOMPARE(slider.value(), 120);
        handleAt(70);
        QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(20, 300));
        QCOMPARE(slider.value(), -240);
        slider.setValue(0);
        slider.setShadowValue(-150);
        handleAt(182);  // 220 - 200 × 90 / 480
        QCOMPARE(slider.value(), 0);
        slider.clearShadow();
        handleAt(120);
        slider.setShadowValue(1000);
        QCOMPARE(slider.shadowValue(), 240);
    }

    void toggleReversedMidwayDoesNotJump() {
        AnimatedToggle toggle;
        QSignalSpy toggled(&toggle, &AnimatedToggle::toggled);
        toggle.show();
        QVERIFY(QTest::qWaitForWindowExposed(&toggle));
        QTest::mouseClick(&toggle, Qt::LeftButton);
        QTRY_COMPARE(toggle.position(), 1.0);
        QImage image = rendered(toggle);
        QCOMPARE(colourAt(image, 32, 12), QStringLiteral("#ffffff"));  // the knob, on the right
        QCOMPARE(colourAt(image, 10, 12), QStringLiteral("#2563eb"));

        QTest::mouseClick(&toggle, Qt::LeftButton);
        for (int i = 0; i < 500 && toggle.position() > 0.9; ++i) QTest::qWait(1);
        const double midway = toggle.position();
        QVERIFY2(midway > 0.0 && midway < 1.0, qPrintable(QString::number(midway)));
        QTest::mouseClick(&toggle, Qt::LeftButton);
        QVERIFY(qAbs(toggle.position() - midway) < 0.05);
        QTRY_COMPARE(toggle.position(), 1.0);
        QCOMPARE(toggled.count(), 3);
        QVERIFY(toggle.isChecked());
    }

    // One round of the marquee takes (text width + 40) / 50 s; a text that fits runs no timer.
    void marqueePeriodAndIdleTimers() {
        MarqueeLabel label;
        label.resize(100, 20);
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        QString text = QStringLiteral("A title");
        while (label.fontMetrics().horizontalAdvance(text) <= 110) text += 'x';
        label.setText(text);
        auto* timer = label.findChild<QTimer*>();
        QVERIFY(timer->isActive());
        const int textWidth = label.fontMetrics().horizontalAdvance(text);
        int ticks = 0;
        for (double last = -1; label.scrollOffset() > last && ticks < 100000; ++ticks) {
            last = label.scrollOffset();
            label.updateScroll();
        }
        QVERIFY(qAbs(ticks * timer->interval() - (textWidth + 40) * 1000.0 / 50) <= 20);
        label.setText(QStringLiteral("Fits"));
        QVERIFY(!timer->isActive());

        IconTextButton button(QIcon(QStringLiteral(":/icons/radio.svg")), QStringLiteral("Go"));
        button.resize(200, 40);
        button.grab();
        QVERIFY(!button.marqueeRunning());
        button.setText(text + text);
        button.grab();
        QVERIFY(button.marqueeRunning());
        button.setText(QStringLiteral("Go Live"));
        button.grab();
        QVERIFY(!button.marqueeRunning());
        button.resize(20, 40);  // narrower than its icon: no room to scroll in
        button.grab();
        QVERIFY(!button.marqueeRunning());
    }
};

QTEST_MAIN(TestControls)
#include "test_controls.moc"
