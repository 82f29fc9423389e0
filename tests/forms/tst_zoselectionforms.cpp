#include "ZoAddGNCForm.h"
#include "ZoManualAddModuleForm.h"
#include "ZoPrivateSelectePrefPushButton.h"
#include "ZoSelectGNCForm.h"
#include "ZoSelectModuleForm.h"
#include "ZoTestWidgets.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

namespace {

// A selected button shows its check mark in a blue frame; the others neither.
QString look(ZoPrivateSelectePrefPushButton *button)
{
    const bool blue
        = zoChild<QWidget>(button, "widget")->styleSheet().contains(QLatin1String("#0099FF"));
    const bool checked = !zoChild<QLabel>(button, "labelSelected")->isHidden();
    return blue != checked ? QStringLiteral("mixed") : blue ? QStringLiteral("selected") : "plain";
}

} // namespace

class TstZoSelectionForms : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bannersAskForTheirForm()
    {
        ZoAddGNCForm addCore;
        QSignalSpy core(&addCore, &ZoAddGNCForm::sigSelectGNC);
        QTest::mouseClick(zoChild<QPushButton>(&addCore, "btnAddGNC"), Qt::LeftButton);
        QCOMPARE(core.count(), 1);

        ZoManualAddModuleForm addModule;
        QSignalSpy module(&addModule, &ZoManualAddModuleForm::sigSelecteModule);
        QTest::mouseClick(zoChild<QPushButton>(&addModule, "btnAddModule"), Qt::LeftButton);
        QCOMPARE(module.count(), 1);
    }

    void coreFormEmitsFirmwareId_data()
    {
        QTest::addColumn<int>("nameIndex");
        QTest::addColumn<int>("airframeIndex");
        QTest::addColumn<uint>("devId");
        // The indexes follow the catalogue's order of families and airframes:
        // its first and last family, and a second-generation one.
        QTest::newRow("Emba MR") << 0 << 0 << 6u;
        QTest::newRow("Arno2 FW") << 2 << 1 << 42u;
        QTest::newRow("Brisk2 QP") << 4 << 2 << 49u;
        QTest::newRow("Emba2 FW") << 6 << 1 << 81u;
    }
    void coreFormEmitsFirmwareId()
    {
        QFETCH(int, nameIndex);
        QFETCH(int, airframeIndex);
        QFETCH(uint, devId);
        ZoSelectGNCForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        zoChild<QComboBox>(&form, "cmbGNCName")->setCurrentIndex(nameIndex);
        zoChild<QComboBox>(&form, "cmbGNCProtType")->setCurrentIndex(airframeIndex);
        QSignalSpy spy(&form, &ZoSelectGNCForm::sigSelectedGNC);
        QTest::mouseClick(zoChild<QPushButton>(&form, "btnAdd"), Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<tdu4>(), tdu4(devId));
        QVERIFY(!form.isVisible());
    }

    void cancelEmitsNothing()
    {
        ZoSelectGNCForm coreForm;
        ZoSelectModuleForm moduleForm;
        moduleForm.setModules({ZoDeviceKey(36)});
        coreForm.show();
        moduleForm.show();
        QVERIFY(QTest::qWaitForWindowExposed(&coreForm));
        QVERIFY(QTest::qWaitForWindowExposed(&moduleForm));
        QTest::mouseClick(moduleForm.buttons().at(0), Qt::LeftButton); // a choice, then Cancel
        QSignalSpy core(&coreForm, &ZoSelectGNCForm::sigSelectedGNC);
        QSignalSpy module(&moduleForm, &ZoSelectModuleForm::sigSelectedModule);
        QTest::mouseClick(zoChild<QPushButton>(&coreForm, "btnCancel"), Qt::LeftButton);
        QTest::mouseClick(zoChild<QPushButton>(&moduleForm, "btnCancel"), Qt::LeftButton);
        QCOMPARE(core.count() + module.count(), 0);
        QVERIFY(!coreForm.isVisible() && !moduleForm.isVisible());
    }

    void moduleGridPositions_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("rows");
        QTest::newRow("three fill a row") << 3 << 1;
        QTest::newRow("seven") << 7 << 3;
    }
    void moduleGridPositions()
    {
        QFETCH(int, count);
        ZoSelectModuleForm form;
        QList<ZoDeviceKey> modules;
        for (int i = 0; i < count; ++i)
            modules.append(ZoDeviceKey(tdu1(36 + i)));
        form.setModules(modules);

        const QList<ZoPrivateSelectePrefPushButton *> buttons = form.buttons();
        QCOMPARE(buttons.size(), count);
        auto *grid = zoChild<QGridLayout>(&form, "gridModules");
        QCOMPARE(grid->count(), count);
        int lastRow = -1;
        for (int i = 0; i < count; ++i) {
            int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
            grid->getItemPosition(
                grid->indexOf(buttons.at(i)), &row, &column, &rowSpan, &columnSpan);
            QCOMPARE(row, i / 3);
            QCOMPARE(column, i % 3);
            QVERIFY(!buttons.at(i)->isSelected());
            lastRow = row;
        }
        QTEST(lastRow + 1, "rows");
        QVERIFY(form.selected().isNull());
    }

    // The module is named with its node: two nodes of one type are two
    // devices, and the one picked is the one addressed.
    void moduleSelectionEmitsTheModule_data()
    {
        QTest::addColumn<int>("click");
        QTest::addColumn<ZoDeviceKey>("emitted");
        QTest::addColumn<QString>("name");
        QTest::newRow("data board") << 0 << ZoDeviceKey(83) << QString();
        QTest::newRow("tuning module node 1") << 1 << ZoDeviceKey(77, 1) << QStringLiteral("#1");
        QTest::newRow("tuning module node 2") << 2 << ZoDeviceKey(77, 2) << QStringLiteral("#2");
        QTest::newRow("servo node 3") << 3 << ZoDeviceKey(86, 3) << QStringLiteral("#3");
    }
    void moduleSelectionEmitsTheModule()
    {
        QFETCH(int, click);
        QFETCH(ZoDeviceKey, emitted);
        QFETCH(QString, name);
        ZoSelectModuleForm form;
        form.setModules({ZoDeviceKey(83), ZoDeviceKey(77, 1), ZoDeviceKey(77, 2), ZoDeviceKey(86, 3)});
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // The whole name; the button may shorten it to fit.
        const QString shown
            = zoChild<QLabel>(form.buttons().at(click), "labelName")->toolTip();
        QVERIFY2(name.isEmpty() ? !shown.contains(QLatin1Char('#')) : shown.startsWith(name),
            qPrintable(shown));
        QTest::mouseClick(form.buttons().at(click), Qt::LeftButton);
        QCOMPARE(form.selected(), emitted);

        QSignalSpy spy(&form, &ZoSelectModuleForm::sigSelectedModule);
        QTest::mouseClick(zoChild<QPushButton>(&form, "btnAddMod"), Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<ZoDeviceKey>(), emitted);
        QVERIFY(!form.isVisible());
    }

    void moduleSelectionMovesWithTheClick()
    {
        ZoSelectModuleForm form;
        form.setModules({ZoDeviceKey(36), ZoDeviceKey(37), ZoDeviceKey(38)});
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const auto buttons = form.buttons();

        // A press on the name inside the button counts as a press on the button.
        QTest::mouseClick(zoChild<QLabel>(buttons.at(0), "labelName"), Qt::LeftButton);
        QTest::mouseClick(buttons.at(2), Qt::LeftButton);
        QCOMPARE(form.selected(), ZoDeviceKey(38));
        for (int i = 0; i < buttons.size(); ++i)
            QCOMPARE(look(buttons.at(i)), i == 2 ? "selected" : "plain");
    }

    void moduleListReplacesOldButtons()
    {
        ZoSelectModuleForm form;
        form.setModules({ZoDeviceKey(36), ZoDeviceKey(37), ZoDeviceKey(38), ZoDeviceKey(39)});
        QPointer<ZoPrivateSelectePrefPushButton> old = form.buttons().at(0);
        form.onModuleIconClicked(1);
        QCOMPARE(form.selected(), ZoDeviceKey(37));

        // An empty list leaves an empty grid and no selection; add only closes.
        form.setModules({});
        QVERIFY(old.isNull());
        QVERIFY(form.buttons().isEmpty());
        QCOMPARE(zoChild<QGridLayout>(&form, "gridModules")->count(), 0);
        QVERIFY(form.selected().isNull());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QSignalSpy spy(&form, &ZoSelectModuleForm::sigSelectedModule);
        QTest::mouseClick(zoChild<QPushButton>(&form, "btnAddMod"), Qt::LeftButton);
        QCOMPARE(spy.count(), 0);
        QVERIFY(!form.isVisible());
    }

    void buttonSetup_data()
    {
        QTest::addColumn<QString>("iconPath");
        QTest::addColumn<QString>("iconStyle");
        QTest::addColumn<bool>("selected");
        QTest::newRow("plain") << QStringLiteral(":/resource/icon/tunex.png")
                               << QStringLiteral("image: url(:/resource/icon/tunex.png)") << false;
        QTest::newRow("pressed look")
            << QStringLiteral(":/resource/icon/tunex_pressed.png")
            << QStringLiteral("image:url(:/resource/icon/tunex.png);") << true;
        QTest::newRow("suffix in another case")
            << QStringLiteral(":/resource/icon/tunex_Pressed.png")
            << QStringLiteral("image: url(:/resource/icon/tunex_Pressed.png)") << false;
    }
    void buttonSetup()
    {
        QFETCH(QString, iconPath);
        QFETCH(QString, iconStyle);
        QFETCH(bool, selected);
        ZoPrivateSelectePrefPushButton button;
        button.setup(4, iconPath, QStringLiteral("MsgQV1"));
        QCOMPARE(button.iconStyle(), iconStyle);
        QCOMPARE(zoChild<QLabel>(&button, "labelIcon")->styleSheet(), iconStyle);
        QCOMPARE(look(&button), selected ? "selected" : "plain");
    }

    void buttonNameFitsUnderTheIcon_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("whole");
        QTest::newRow("short") << QStringLiteral("QV1") << true;
        QTest::newRow("two words wrap") << QStringLiteral("Fuel gauge") << true;
        QTest::newRow("one long word") << QStringLiteral("MsgGNCBrisk2FeatureBoard") << false;
        QTest::newRow("too many lines")
            << QStringLiteral("a b c d e f g h i j k l m n o p q r s t u v w x y z a b c d e f g h")
            << false;
    }
    void buttonNameFitsUnderTheIcon()
    {
        QFETCH(QString, name);
        QFETCH(bool, whole);
        ZoPrivateSelectePrefPushButton button;
        button.setup(0, QStringLiteral(":/resource/icon/qv1.png"), name);
        QLabel *label = zoChild<QLabel>(&button, "labelName");
        QCOMPARE(label->toolTip(), name);
        QCOMPARE(label->text() == name, whole);
        if (!whole)
            QVERIFY(label->text().endsWith(QChar(0x2026)));
    }

    void buttonReactsToLeftPressOnly()
    {
        ZoPrivateSelectePrefPushButton button;
        button.setup(5, QStringLiteral(":/resource/icon/qv1.png"), QStringLiteral("MsgQV1"));
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        QSignalSpy spy(&button, &ZoPrivateSelectePrefPushButton::sigbtnClicked);
        QTest::mouseClick(&button, Qt::RightButton);
        QTest::mouseClick(&button, Qt::MiddleButton);
        QCOMPARE(spy.count(), 0);
        QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(90, 90));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 5);
    }
};

QTEST_MAIN(TstZoSelectionForms)
#include "tst_zoselectionforms.moc"
