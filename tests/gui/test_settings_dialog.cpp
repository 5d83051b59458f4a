// The settings dialog driven as a user drives it: encoder rules and plan limits, loading stored
// values, choosing a metadata source, the checks on closing, the window picker with another
// program's window, and start with the system.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>
#include <QStackedWidget>
#include <QtTest>

#include <functional>

#include "audio/voice_ducker.h"
#include "managed_process.h"
#include "platform/window_titles.h"
#include "test_environment.h"
#include "ui/alert_dialog.h"
#include "ui/app_state.h"
#include "ui/settings_dialog.h"
#include "ui/widgets/animated_toggle.h"
#include "ui/window_picker_dialog.h"
#include "xvfb_server.h"

namespace {

// Controls are found as assistive tools find them: by accessible name.
template <typename T>
T* control(QWidget& root, const QString& accessibleName) {
    for (T* widget : root.findChildren<T*>()) {
        if (widget->accessibleName() == accessibleName) return widget;
    }
    return nullptr;
}

QStringList itemTexts(const QComboBox* combo) {
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    return texts;
}

bool listsWindow(const QString& title) {
    for (const platform::WindowEntry& entry : platform::listApplicationWindows()) {
        if (QString::fromStdU16String(entry.title) == title) return true;
    }
    return false;
}

}  // namespace

class TestSettingsDialog : public QObject {
    Q_OBJECT

    TestEnvironment m_env;
    AppState m_state;
    // Every modal that opens is handled by the poll: alerts are read and closed, the window
    // picker goes to m_pick.
    QTimer m_modalPoll;
    QStringList m_alerts;
    std::function<void(WindowPickerDialog*)> m_pick;

private Q_SLOTS:
    void initTestCase() {
        connect(&m_modalPoll, &QTimer::timeout, this, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* alert = qobject_cast<AlertDialog*>(modal); alert && alert->isVisible()) {
                for (QLabel* label : alert->findChildren<QLabel*>()) m_alerts << label->text();
                alert->reject();
            } else if (auto* picker = qobject_cast<WindowPickerDialog*>(modal)) {
                m_pick ? m_pick(picker) : picker->reject();
            }
        });
        m_modalPoll.start(20);
    }

    void opusAndPlanLimits() {
        SettingsDialog dialog(&m_state);
        auto* encoder = control<QComboBox>(dialog, QStringLiteral("Encoder Type"));
        auto* sampleRate = control<QComboBox>(dialog, QStringLiteral("Sample Rate"));
        auto* bitrate = control<QComboBox>(dialog, QStringLiteral("Bitrate"));
        QVERIFY(encoder && sampleRate && bitrate);
        encoder->setCurrentIndex(encoder->findText(QStringLiteral("AAC")));
        sampleRate->setCurrentIndex(sampleRate->findText(QStringLiteral("44.1 kHz")));
        QSignalSpy rates(&dialog, &SettingsDialog::sampleRateChanged);
        QSignalSpy encoders(&dialog, &SettingsDialog::encoderChanged);
        encoder->setCurrentIndex(encoder->findText(QStringLiteral("Opus")));
        QCOMPARE(sampleRate->currentText(), QStringLiteral("48.0 kHz"));
        QVERIFY(!sampleRate->isEnabled());
        QCOMPARE(rates.size(), 1);
        QCOMPARE(rates.at(0).at(0).toString(), QStringLiteral("48000"));
        QCOMPARE(encoders.at(0).at(0).toString(), QStringLiteral("OGG Opus"));

        // Plan limits: only rates up to the plan, "32" alone below 64, never above the plan.
        QSignalSpy bitrates(&dialog, &SettingsDialog::bitrateChanged);
        dialog.setMaxBitrate(96);
        QCOMPARE(itemTexts(bitrate), (QStringList{"64", "96"}));
        QCOMPARE(bitrate->currentText(), QStringLiteral("96"));
        dialog.setMaxBitrate(0);
        QCOMPARE(itemTexts(bitrate), (QStringList{"64", "96", "128"}));
        QCOMPARE(bitrate->currentText(), QStringLiteral("96"));
        dialog.setMaxBitrate(32);
        QCOMPARE(itemTexts(bitrate), QStringList{"32"});
        dialog.setBitrate(QStringLiteral("128"));
        QCOMPARE(bitrate->currentText(), QStringLiteral("32"));
        QCOMPARE(bitrates.size(), 2);
        QCOMPARE(bitrates.at(1).at(0).toString(), QStringLiteral("32"));
    }

    void loadingWritesWithoutEchoes() {
        SettingsDialog dialog(&m_state);
        QSignalSpy channels(&dialog, &SettingsDialog::channelsChanged);
        QSignalSpy ducking(&dialog, &SettingsDialog::duckingSettingsChanged);
        dialog.setChannels(QStringLiteral("Mono"));
        QCOMPARE(control<QComboBox>(dialog, QStringLiteral("Channels"))->currentText(),
                 QStringLiteral("Mono (1)"));

        // A preset shows (and reports) its own values, whatever custom values were stored.
        dialog.setDuckingPreset(2, -20.0, 4.0, 10, 100, 6.0);
        const DuckingPreset& strong = kDuckingPresets[2];
        QCOMPARE(dialog.duckingPreset(), 2);
        QCOMPARE(control<QSpinBox>(dialog, QStringLiteral("Threshold (dB)"))->value(),
                 int(strong.thresholdDb));
        QCOMPARE(dialog.duckingThresholdDb(), double(strong.thresholdDb));
        QCOMPARE(dialog.duckingRatio(), double(strong.ratio));
        QCOMPARE(dialog.duckingAttackMs(), strong.attackMs);
        QCOMPARE(dialog.duckingReleaseMs(), strong.releaseMs);
        QCOMPARE(dialog.duckingKneeDb(), double(strong.kneeDb));
        dialog.setDuckingPreset(kDuckingPresetAdvanced, -12.0, 3.5, 20, 900, 2.0);
        QCOMPARE(dialog.duckingThresholdDb(), -12.0);
        QCOMPARE(dialog.duckingReleaseMs(), 900);
        QCOMPARE(channels.size() + ducking.size(), 0);
    }

    void cancelledFileChooserKeepsTheSource() {
        SettingsDialog dialog(&m_state);
        QString chosen;
        int asked = 0;
        dialog.setFileChooser([&](QWidget*, const QString&, const QString&) {
            ++asked;
            return chosen;
        });
        QSignalSpy sources(&dialog, &SettingsDialog::metadataSourceChanged);
        QSignalSpy paths(&dialog, &SettingsDialog::metadataFilePathChanged);
        auto* source = control<QComboBox>(dialog, QStringLiteral("Metadata Source"));
        source->setCurrentIndex(1);
        QCOMPARE(asked, 1);
        QCOMPARE(source->currentText(), QStringLiteral("Manual"));
        QCOMPARE(dialog.acceptedMetadataSource(), 0);
        QCOMPARE(sources.size() + paths.size(), 0);

        chosen = QStringLiteral("/tmp/now-playing.txt");
        source->setCurrentIndex(1);
        QCOMPARE(dialog.acceptedMetadataSource(), 1);
        QCOMPARE(paths.size(), 1);
        QCOMPARE(sources.at(0).at(0).toString(), QStringLiteral("File"));
    }

    void invalidUrlBlocksClosing() {
        SettingsDialog dialog(&m_state);
        QSignalSpy confirmed(&dialog, &SettingsDialog::metadataSettingsConfirmed);
        dialog.setMetadataSource(QStringLiteral("URL"));
        dialog.setMetadataUrl(QStringLiteral("radio.example.com/now.txt"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        m_alerts.clear();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(m_alerts.contains(QStringLiteral("Invalid URL")));
        QVERIFY(dialog.isVisible());
        QCOMPARE(
            dialog.findChild<QStackedWidget*>(QStringLiteral("settingsContent"))->currentIndex(),
            2);
        m_alerts.clear();
        QVERIFY(!dialog.close());
        QVERIFY(m_alerts.contains(QStringLiteral("Invalid URL")));
        QCOMPARE(confirmed.size(), 0);

        // The Opus lock leaves nothing the user could not change: the dialog closes.
        dialog.setOpusMetadataLock(true);
        QCOMPARE(control<QComboBox>(dialog, QStringLiteral("Metadata Source"))->currentText(),
                 QStringLiteral("Manual"));
        m_alerts.clear();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(confirmed.size(), 1);
        QVERIFY(m_alerts.isEmpty());
    }

    void windowPickerListsAnotherProgram() {
        XvfbServer xvfb;
        QString error;
        QVERIFY2(xvfb.start(&error), qPrintable(error));
        xvfb.applyToProcess();
        const QString title = QStringLiteral("Doredo Test Player");
        ManagedProcess player;
        QVERIFY(player.start(QStringLiteral("xmessage"),
                             {QStringLiteral("-display"), xvfb.display(), QStringLiteral("-title"),
                              title, QStringLiteral("Now playing")}));
        QTRY_VERIFY_WITH_TIMEOUT(listsWindow(title), 10000);

        SettingsDialog dialog(&m_state);
        auto* source = control<QComboBox>(dialog, QStringLiteral("Metadata Source"));
        QSignalSpy selected(&dialog, &SettingsDialog::metadataWindowSelected);
        source->setCurrentIndex(3);  // the picker is closed without a choice
        QCOMPARE(source->currentIndex(), 0);
        QStringList offered;
        m_pick = [&](WindowPickerDialog* picker) {
            auto* list = picker->findChild<QListWidget*>(QStringLiteral("windowPickerList"));
            for (int i = 0; i < list->count(); ++i) offered << list->item(i)->text();
            const QList<QListWidgetItem*> found = list->findItems(title, Qt::MatchExactly);
            if (!found.isEmpty()) list->setCurrentItem(found.first());
            picker->accept();
        };
        source->setCurrentIndex(3);
        m_pick = nullptr;
        QVERIFY(offered.contains(title));
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.at(0).at(0).toString(), title);
        QVERIFY(selected.at(0).at(1).value<quintptr>() != 0);
        QCOMPARE(dialog.acceptedMetadataSource(), 3);
        player.stop();

        // Without an X server the picker says why instead of showing an empty list.
        qunsetenv("DISPLAY");
        m_alerts.clear();
        dialog.setMetadataSource(QStringLiteral("Manual"));
        source->setCurrentIndex(3);
        QCOMPARE(source->currentIndex(), 0);
        QVERIFY(m_alerts.contains(QStringLiteral("No Windows")));
        QCOMPARE(selected.size(), 1);
    }

    // CI runs as root, whom a read-only folder does not stop: this case runs as "nobody" there.
    void startWithTheSystem() {
        bool passed = false;
        QString output;
        if (testsupport::rerunUnprivilegedIfRoot("startWithTheSystem", passed, output)) {
            QVERIFY2(passed, qPrintable(output));
            return;
        }
        SettingsDialog dialog(&m_state);
        dialog.show();
        dialog.onSectionChanged(4);
        auto* toggle = control<AnimatedToggle>(dialog, QStringLiteral("Start on system startup"));
        auto* errorLabel = dialog.findChild<QLabel*>(QStringLiteral("autoStartErrorLabel"));
        QSignalSpy changed(&dialog, &SettingsDialog::autoStartChanged);
        QVERIFY(!toggle->isChecked());
        QTest::mouseClick(toggle, Qt::LeftButton);
        QCOMPARE(changed.size(), 1);
        const QString folder = m_env.configHome() + QStringLiteral("/autostart");
        const QStringList entries = QDir(folder).entryList(QDir::Files);
        QCOMPARE(entries.size(), 1);
        QVERIFY(testsupport::readFile(folder + QLatin1Char('/') + entries.first())
                    .startsWith("[Desktop Entry]"));

        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QTest::mouseClick(toggle, Qt::LeftButton);
        QVERIFY(toggle->isChecked());
        QCOMPARE(changed.size(), 1);
        QVERIFY(!errorLabel->isHidden());
        QVERIFY(errorLabel->text().contains(folder));
        QVERIFY(QFile::setPermissions(
            folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "test_settings_dialog.moc"
