#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "broadcast/stream_health_monitor.h"
#include "ui/alert_dialog.h"
#include "ui/licenses_dialog.h"
#include "ui/stream_health_dialog.h"

namespace {

// The static functions block in the dialog's own loop, so the test acts from inside it.
void whenAlertOpens(const QString& action, QPointer<AlertDialog>& opened) {
    QTimer::singleShot(0, [action, &opened] {
        opened = qobject_cast<AlertDialog*>(QApplication::activeModalWidget());
        if (!opened) return;
        if (action == QStringLiteral("Escape")) QTest::keyClick(opened, Qt::Key_Escape);
        if (action == QStringLiteral("close")) opened->close();
        for (QPushButton* button : opened->findChildren<QPushButton*>())
            if (button->text() == action) QTest::mouseClick(button, Qt::LeftButton);
    });
}

bool isNear(QPoint a, QPoint b) { return (a - b).manhattanLength() <= 2; }

}  // namespace

class TestDialogs : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void alertResults_data() {
        QTest::addColumn<bool>("closeQuestion");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("expected");
        QTest::newRow("confirm, Escape") << false << "Escape" << 0;
        QTest::newRow("confirm, confirmed") << false << "Quit" << 1;
        QTest::newRow("close, Exit") << true << "Exit" << 0;
        QTest::newRow("close, Minimize") << true << "Minimize to Tray" << 1;
        QTest::newRow("close, Cancel") << true << "Cancel" << 2;
        QTest::newRow("close, title bar") << true << "close" << 2;
        QTest::newRow("close, Escape") << true << "Escape" << 2;
    }

    void alertResults() {
        QFETCH(bool, closeQuestion);
        QFETCH(QString, action);
        QFETCH(int, expected);
        QPointer<AlertDialog> opened;
        whenAlertOpens(action, opened);
        const int result = closeQuestion
                               ? AlertDialog::askCloseAction(nullptr, "Close", "Hide or quit?")
                               : int(AlertDialog::confirm(nullptr, "Quit?", "Sure?", "Quit", {}));
        QCOMPARE(result, expected);
        QVERIFY(opened.isNull());  // destroyed before returning
    }

    void alertCentresOnAVisibleParentOnly() {
        QWidget parent;
        parent.setGeometry(2000, 1500, 400, 300);
        const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
        AlertDialog overHidden(&parent, AlertDialog::Variant(9), "Title", "Message", "OK", {});
        QVERIFY(isNear(overHidden.frameGeometry().center(), screenCentre));
        QCOMPARE(overHidden.property("variant").toString(), QStringLiteral("info"));

        parent.setGeometry(0, 0, 400, 300);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        AlertDialog overShown(&parent, AlertDialog::Variant::Error, "Title", "Message", "OK", {});
        QVERIFY(isNear(overShown.frameGeometry().center(), parent.frameGeometry().center()));
        QCOMPARE(overShown.width(), 448);
    }

    // Fed by a real monitor on an injected clock; "Expected" is what the encoder was set to even
    // when the ratio is capped, and the reconnect and listener check counts outlive the unknown
    // state.
    void healthFiguresAndLifetime() {
        qint64 nowMs = 1000000;
        auto* window = new QWidget;
        auto* monitor = new StreamHealthMonitor([&nowMs] { return nowMs; }, window);
        QPointer<StreamHealthDialog> dialog = new StreamHealthDialog(monitor, window);
        auto* score = dialog->findChild<QLabel*>(QStringLiteral("healthScoreLabel"));
        auto figures = [&dialog, score] {
            QStringList texts{score->text()};
            for (auto* label : dialog->findChildren<QLabel*>(QStringLiteral("healthMetricValue")))
                texts << label->text();
            return texts;
        };
        QCOMPARE(figures(),
                 QStringList({"--", "--", "--", "--", "--", "--", "--", "--", "--", "0", "--"}));
        monitor->recordReconnect();
        monitor->recordVerification(false, 3000);
        monitor->recordVerification(true, 420);
        dialog->updateDisplay();
        QCOMPARE(figures().mid(9), QStringList({"1", "1 of 2, last after 0.4 s"}));

        monitor->startMonitoring(128);
        nowMs += 3725 * 1000;
        monitor->addSample(1536, 12340, true);
        for (int i = 0; i < 40; ++i) monitor->addSample(0, 204, i > 0);
        monitor->recalculate();
        dialog->updateDisplay();
        QCOMPARE(figures(), QStringList({"50%", "500 µs", "12.3 ms", "97.6%", "2.5 kbps",
                                         "128.0 kbps", "1.9%", "1.5 KB", "01:02:05", "1",
                                         "1 of 2, last after 0.4 s"}));

        nowMs += 10 * 1000;
        for (int i = 0; i < 2; ++i) monitor->addSample(1610612736, 800, true);
        monitor->recalculate();
        dialog->updateDisplay();
        QCOMPARE(figures(), QStringList({"100%", "800 µs", "800 µs", "100.0%", "5153960.8 kbps",
                                         "128.0 kbps", "100.0%", "3.00 GB", "01:02:15", "1",
                                         "1 of 2, last after 0.4 s"}));

        dialog->show();
        delete monitor;
        dialog->updateDisplay();
        dialog->close();
        QTRY_VERIFY(dialog.isNull());

        dialog = new StreamHealthDialog(new StreamHealthMonitor(window), window);
        dialog->show();
        delete window;  // logging out with the dialog open
        QVERIFY(dialog.isNull());
    }
    // Every component sits under each of its licenses with a readable text; an installed folder
    // wins over the compiled-in copies, which serve when it is absent.
    void licensesListEveryComponent() {
        QTemporaryDir installed;
        for (const QFileInfo& info : QDir(":/licenses").entryInfoList(QDir::Files))
            QVERIFY(QFile::copy(info.filePath(), installed.filePath(info.fileName())));
        QFile gpl(installed.filePath("GPL-2.txt"));
        QVERIFY(gpl.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(gpl.open(QIODevice::WriteOnly | QIODevice::Truncate));
        gpl.write("installed GPL text");
        gpl.close();
        QFile list(":/licenses/components.json");
        QVERIFY(list.open(QIODevice::ReadOnly));
        const QJsonArray components =
            QJsonDocument::fromJson(list.readAll()).object()["components"].toArray();
        QVERIFY(components.size() >= 20);

        for (const QString& folder : {installed.path(), installed.filePath("absent")}) {
            LicensesDialog dialog(nullptr, folder);
            auto* tree = dialog.findChild<QTreeWidget*>("licensesTree");
            auto* text = dialog.findChild<QPlainTextEdit*>("licensesText");
            QSet<QString> listed;  // "component|license id"
            for (int g = 0; g < tree->topLevelItemCount(); ++g) {
                for (int c = 0; c < tree->topLevelItem(g)->childCount(); ++c) {
                    QTreeWidgetItem* item = tree->topLevelItem(g)->child(c);
                    tree->setCurrentItem(item);
                    QVERIFY(!text->toPlainText().trimmed().isEmpty());
                    QVERIFY2(!text->toPlainText().contains("could not be read"),
                             qPrintable(item->text(0)));
                    listed << item->text(0) + '|' + tree->topLevelItem(g)->text(0);
                }
            }
            QSet<QString> expected;
            for (const QJsonValue& component : components)
                for (const QJsonValue& id : component["licenses"].toArray())
                    expected << component["name"].toString() + '|' + id.toString();
            QCOMPARE(listed, expected);

            tree->setCurrentItem(
                tree->findItems("libobs", Qt::MatchExactly | Qt::MatchRecursive)[0]);
            const bool fromFolder = folder == installed.path();
            QCOMPARE(dialog.sourceFolder(), fromFolder ? folder : QStringLiteral(":/licenses"));
            QCOMPARE(text->toPlainText() == "installed GPL text", fromFolder);
        }
        QTimer::singleShot(0, [] {
            QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape);
        });
        showLicensesDialog(nullptr);  // returns once Escape closed it
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
