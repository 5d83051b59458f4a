#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QtTest>

#include "core/app_identity.h"
#include "test_environment.h"
#include "ui/app_appearance.h"
#include "ui/combo_box_configurer.h"

class TestStartup : public QObject {
    Q_OBJECT

    TestEnvironment m_env;

private Q_SLOTS:
    void initTestCase() {
        appidentity::apply();
        qApp->installEventFilter(new ComboBoxConfigurer(qApp));
    }

    void systemInterRegistersNoResourceFont() {
        if (!QFontDatabase::families().contains(QStringLiteral("Inter"))) {
            QSKIP("no system Inter font (fonts-inter) on this machine");
        }
        const FontChoice choice = chooseInterFont();
        QVERIFY(choice.fromSystem);
        QCOMPARE(choice.family, QStringLiteral("Inter"));
        QVERIFY(choice.registeredFonts.isEmpty());
    }

    // Without the system's Inter, the bundled fonts; when none of those loads, Segoe UI.
    void fontFallbacks() {
        FontSources sources;
        sources.systemFamily = QStringLiteral("No Such Family Anywhere");
        FontChoice choice = chooseInterFont(sources);
        QVERIFY(!choice.fromSystem);
        QCOMPARE(choice.registeredFonts, sources.staticFonts);
        QVERIFY(choice.family.startsWith(QStringLiteral("Inter")));

        sources.staticFonts = {QStringLiteral(":/fonts/missing-1.ttf"),
                               QStringLiteral("/nonexistent/missing-2.ttf")};
        sources.variableFont = QStringLiteral(":/fonts/missing-variable.ttf");
        choice = chooseInterFont(sources);
        QVERIFY(choice.family.isEmpty());
        QVERIFY(choice.registeredFonts.isEmpty());
        QCOMPARE(applicationFont(choice.family).family(), QStringLiteral("Segoe UI"));
    }

    void styleSheetFromResourceThenLocalFile() {
        QCOMPARE(loadApplicationStyleSheet(*qApp), StyleSheetOrigin::Resource);
        QVERIFY(qApp->styleSheet().contains(QStringLiteral("#alertDialog")));

        QTemporaryDir work;
        QVERIFY(QDir(work.path()).mkpath(QStringLiteral("resources")));
        QFile local(work.path() + QStringLiteral("/resources/style.qss"));
        QVERIFY(local.open(QIODevice::WriteOnly));
        local.write("QLabel { color: #123456; }");
        local.close();
        const QString previous = QDir::currentPath();
        QDir::setCurrent(work.path());
        const auto origin = loadApplicationStyleSheet(*qApp, QStringLiteral(":/missing.qss"));
        const QString sheet = qApp->styleSheet();
        QCOMPARE(loadApplicationStyleSheet(*qApp, QStringLiteral(":/missing.qss"),
                                           QStringLiteral("nowhere/style.qss")),
                 StyleSheetOrigin::None);
        QDir::setCurrent(previous);
        QCOMPARE(origin, StyleSheetOrigin::LocalFile);
        QCOMPARE(sheet, QStringLiteral("QLabel { color: #123456; }"));
        qApp->setStyleSheet(QString());
    }

    void comboPopupOpensBelowAndAtLeastAsWide() {
        QWidget window;
        window.resize(500, 400);
        auto* combo = new QComboBox(&window);
        combo->setGeometry(40, 60, 260, 30);
        for (int i = 0; i < 120; ++i) combo->addItem(QStringLiteral("Item %1").arg(i));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QCOMPARE(combo->maxVisibleItems(), 50);
        combo->view()->parentWidget()->setMinimumWidth(0);
        combo->view()->setMinimumWidth(0);
        combo->showPopup();
        QWidget* popup = combo->view()->parentWidget();
        QTRY_VERIFY(popup->isVisible());
        QCOMPARE(popup->property("_ownerCombo").value<QObject*>(), combo);
        QCOMPARE(popup->geometry().top(), combo->mapToGlobal(QPoint(0, combo->height())).y());
        QCOMPARE(popup->geometry().left(), combo->mapToGlobal(QPoint(0, 0)).x());
        QVERIFY(popup->width() >= combo->width());
        QVERIFY(!combo->view()->hasAutoScroll());
        combo->hidePopup();
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
