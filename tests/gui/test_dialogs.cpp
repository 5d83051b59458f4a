#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include "ui/alert_dialog.h"

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
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
