#include "ZoCoreFMHeaderForm.h"
#include "ZoModuleFMHeaderForm.h"
#include "ZoModuleFMInfoForm.h"
#include "ZoRoundWaterProgressBar.h"
#include "ZoTestWidgets.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// The target version's colour: red while an upgrade is due, green once not.
QString targetColour(QWidget *row)
{
    const QString style = zoChild<QLabel>(row, "labelTarFMVersion")->styleSheet();
    return style.contains(QLatin1String("#00CC66")) ? QStringLiteral("green")
        : style.contains(QLatin1String("#FF3300"))  ? QStringLiteral("red")
                                                    : style;
}

} // namespace

class TstZoDeviceInfoForms : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowStartsWithoutOffer()
    {
        auto row = makeRow();
        QCOMPARE(
            zoChild<QLabel>(row.get(), "labelModuelName")->text(), QStringLiteral("Tuning module"));
        QCOMPARE(
            zoChild<QLabel>(row.get(), "labelModuelVersion")->text(), QStringLiteral("V1.4.2"));
        QVERIFY(zoChild<QLabel>(row.get(), "labelTarFMVersion")->text().isEmpty());
        QVERIFY(zoChild<QPushButton>(row.get(), "btnTarFMUpdateInfo")->isHidden());
        QVERIFY(zoChild<QLabel>(row.get(), "labelUpgradTip")->isHidden());
        QVERIFY(zoChild<ZoRoundWaterProgressBar>(row.get(), "widgetUpradePrg")->isHidden());

        row->setCurVersion(tVersion {77, 2, 0, 11});
        QCOMPARE(
            zoChild<QLabel>(row.get(), "labelModuelVersion")->text(), QStringLiteral("V2.0.11"));
        QCOMPARE(row->info().curVersion.revision, tdu1(11));
    }

    void rowIconKeepsItsAspect()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QPixmap wide(96, 48);
        wide.fill(Qt::red);
        const QString path = dir.filePath(QStringLiteral("wide.png"));
        QVERIFY(wide.save(path));

        ZoModuleFMInfoForm row;
        ZoDevFMInfo info;
        info.icon = path;
        row.init(info);
        QLabel *icon = zoChild<QLabel>(&row, "labelModuleIcon");
        QCOMPARE(icon->pixmap(Qt::ReturnByValue).size(), QSize(48, 24));

        // A picture that is not there leaves the label empty instead of failing.
        info.icon = dir.filePath(QStringLiteral("missing.png"));
        row.init(info);
        QVERIFY(icon->pixmap(Qt::ReturnByValue).isNull());
    }

    void rowTarget_data()
    {
        QTest::addColumn<bool>("canUpgrade");
        QTest::addColumn<QString>("tip");
        QTest::newRow("newer firmware") << true << "LabCanUpgrade";
        QTest::newRow("up to date") << false << "LabUpgraded";
    }
    void rowTarget()
    {
        QFETCH(bool, canUpgrade);
        QFETCH(QString, tip);
        auto row = makeRow();
        row->setTarget(tVersion {78, 1, 5, 0}, QStringLiteral("fixes"), canUpgrade);

        QLabel *tipLabel = zoChild<QLabel>(row.get(), "labelUpgradTip");
        QCOMPARE(zoChild<QLabel>(row.get(), "labelTarFMVersion")->text(), QStringLiteral("V1.5.0"));
        QCOMPARE(targetColour(row.get()), canUpgrade ? "red" : "green");
        QCOMPARE(tipLabel->text(), tip);
        QVERIFY(tipLabel->isVisible());
        QVERIFY(zoChild<ZoRoundWaterProgressBar>(row.get(), "widgetUpradePrg")->isHidden());
        QCOMPARE(row->info().releaseNote, QStringLiteral("fixes"));

        // The details button names the firmware by the offered version's type.
        QPushButton *details = zoChild<QPushButton>(row.get(), "btnTarFMUpdateInfo");
        QVERIFY(details->isVisible());
        QSignalSpy spy(row.get(), &ZoModuleFMInfoForm::sigTarModFmVerInfo);
        QTest::mouseClick(details, Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<tdu4>(), tdu4(78));
    }

    void rowProgress_data()
    {
        QTest::addColumn<int>("value");
        // The tip shows until the first step; the last block sent is no
        // upgrade: only the device's confirmation turns the target green.
        QTest::newRow("not started") << 0;
        QTest::newRow("under way") << 250;
        QTest::newRow("complete") << 500;
        QTest::newRow("beyond the end") << 520;
    }
    void rowProgress()
    {
        QFETCH(int, value);
        auto row = makeRow();
        row->setTarget(tVersion {77, 1, 5, 0}, QString(), true);
        row->setProgressRange(0, 500);
        row->setProgress(value);

        auto *indicator = zoChild<ZoRoundWaterProgressBar>(row.get(), "widgetUpradePrg");
        QLabel *tipLabel = zoChild<QLabel>(row.get(), "labelUpgradTip");
        QCOMPARE(indicator->value(), qMin(value, indicator->maximum()));
        QCOMPARE(indicator->isVisible(), value > 0);
        QCOMPARE(tipLabel->isVisible(), value == 0);
        QCOMPARE(tipLabel->text(), QStringLiteral("LabCanUpgrade"));
        QCOMPARE(targetColour(row.get()), QStringLiteral("red"));

        // Back to 0 (a retried transfer) shows the tip again.
        row->setProgress(0);
        QVERIFY(!indicator->isVisible());
        QVERIFY(tipLabel->isVisible());
    }

    void rowFailureBeforeFirstBlockIsShown()
    {
        auto row = makeRow();
        row->setTarget(tVersion {77, 1, 5, 0}, QString(), true);
        row->setProgressRange(0, 100);
        row->setProgress(0);
        row->setResult(false);

        auto *indicator = zoChild<ZoRoundWaterProgressBar>(row.get(), "widgetUpradePrg");
        QVERIFY(indicator->isVisible());
        QCOMPARE(indicator->value(), indicator->maximum());
        QCOMPARE(indicator->resultPicture(), QStringLiteral(":/resource/moduleupradefailed.png"));
        QVERIFY(!zoChild<QLabel>(row.get(), "labelUpgradTip")->isVisible());
        // A failure is not an upgrade: the target keeps its red.
        QCOMPARE(targetColour(row.get()), QStringLiteral("red"));
    }

    void rowResetForgetsTheOffer()
    {
        auto row = makeRow();
        row->setTarget(tVersion {77, 1, 5, 0}, QStringLiteral("notes"), true);
        row->setProgressRange(0, 100);
        row->setProgress(40);
        row->reset();

        QCOMPARE(row->info().tarVersion.type, tdu1(0));
        QVERIFY(row->info().releaseNote.isEmpty());
        QLabel *target = zoChild<QLabel>(row.get(), "labelTarFMVersion");
        QLabel *tip = zoChild<QLabel>(row.get(), "labelUpgradTip");
        QVERIFY(target->text().isEmpty());
        QVERIFY(target->styleSheet().isEmpty());
        QVERIFY(tip->isVisible());
        QVERIFY(tip->text().isEmpty());
        QVERIFY(tip->styleSheet().isEmpty());
        QVERIFY(zoChild<QPushButton>(row.get(), "btnTarFMUpdateInfo")->isHidden());
        QVERIFY(zoChild<ZoRoundWaterProgressBar>(row.get(), "widgetUpradePrg")->isHidden());
    }

    void coreHeaderFollowsCoreType_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("index"); // -1: the protocol box is hidden
        QTest::addColumn<bool>("boardShown");
        // One row per choice and per kind of hidden box, not the whole type table.
        QTest::newRow("Emba MR") << 6 << 0 << false;
        QTest::newRow("Arno FW") << 10 << 1 << false;
        QTest::newRow("DRENT QP") << 25 << 2 << false;
        QTest::newRow("Arno2 AG") << 69 << 3 << true;
        QTest::newRow("Brisk2 data board") << 44 << -1 << false;
        QTest::newRow("Emba without variant") << 21 << -1 << false;
        QTest::newRow("unknown") << 200 << -1 << false;
    }
    void coreHeaderFollowsCoreType()
    {
        QFETCH(int, type);
        QFETCH(int, index);
        QFETCH(bool, boardShown);
        ZoCoreFMHeaderForm header;
        header.show();
        QVERIFY(QTest::qWaitForWindowExposed(&header));
        QComboBox *prot = zoChild<QComboBox>(&header, "cmbProtType");
        // No core yet: no choice, and nothing to choose with.
        QVERIFY(prot->isHidden() && !prot->isEnabled());
        // Start from a core with a choice, so a hidden box is really hidden again.
        header.setCore(QStringLiteral("before"), tVersion {69, 1, 0, 0});
        header.setCore(QStringLiteral("core"), tVersion {tdu1(type), 2, 20, 0});

        QCOMPARE(zoChild<QLabel>(&header, "labelCoreType")->text(), QStringLiteral("core"));
        QCOMPARE(header.version().type, tdu1(type));
        QCOMPARE(prot->isVisible(), index >= 0);
        if (index >= 0) {
            QCOMPARE(prot->currentIndex(), index);
            const int expected[] = {1, 2, 3, 258};
            QCOMPARE(header.protocolType(), expected[index]);
        }
        QComboBox *board = zoChild<QComboBox>(&header, "cmbBrisk2Type");
        QCOMPARE(board->isVisible(), boardShown);
        if (boardShown)
            QCOMPARE(board->currentIndex(), 0);

        // Undoing a refused change follows the same table and keeps the name.
        header.resetProtType(tdu1(type));
        QCOMPARE(prot->isVisible(), index >= 0);
        QCOMPARE(zoChild<QLabel>(&header, "labelCoreType")->text(), QStringLiteral("core"));
    }

    void coreHeaderUserChoiceEmitsProtocolType()
    {
        ZoCoreFMHeaderForm header;
        header.show();
        QVERIFY(QTest::qWaitForWindowExposed(&header));
        header.setCore(QStringLiteral("core"), tVersion {47, 1, 0, 0});
        header.setEnabled(true);
        // End, Home and Down choose like the user does, each emitting once the
        // current item changes: LitAG, then LitMR, LitFW, LitQP, LitAG.
        QComboBox *prot = zoChild<QComboBox>(&header, "cmbProtType");
        prot->setFocus();
        QSignalSpy spy(&header, &ZoCoreFMHeaderForm::sigSelectGNCProtType);
        for (Qt::Key key : {Qt::Key_End, Qt::Key_Home, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down})
            QTest::keyClick(prot, key);
        QList<int> emitted;
        for (const QList<QVariant> &args : qAsConst(spy))
            emitted << args.at(0).toInt();
        QCOMPARE(emitted, (QList<int> {258, 1, 2, 3, 258}));
        QCOMPARE(header.protocolType(), 258);

        // Disabled boxes take no choice.
        header.setEnabled(false);
        spy.clear();
        QTest::keyClick(prot, Qt::Key_Home);
        QVERIFY(spy.isEmpty());
    }

    void coreHeaderBoardType_data()
    {
        QTest::addColumn<int>("coreType");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<int>("index");
        QTest::newRow("Arno2 feature board") << 41 << 1 << true << 1;
        QTest::newRow("Arno2 data board") << 43 << 0 << true << 0;
        QTest::newRow("Arno2 odd value") << 69 << 7 << true << 0;
        QTest::newRow("Brisk2 has no board box") << 47 << 1 << false << 0;
    }
    void coreHeaderBoardType()
    {
        QFETCH(int, coreType);
        QFETCH(int, type);
        QFETCH(bool, shown);
        QFETCH(int, index);
        ZoCoreFMHeaderForm header;
        header.show();
        QVERIFY(QTest::qWaitForWindowExposed(&header));
        header.setCore(QStringLiteral("core"), tVersion {tdu1(coreType), 1, 0, 0});
        header.setBrisk2Type(tdu1(coreType), tdu1(type));
        QComboBox *board = zoChild<QComboBox>(&header, "cmbBrisk2Type");
        QCOMPARE(board->isVisible(), shown);
        if (!shown)
            return;
        QCOMPARE(board->currentIndex(), index);

        header.setEnabled(true);
        board->setFocus();
        QSignalSpy spy(&header, &ZoCoreFMHeaderForm::sigSelectBrisk2Type);
        QTest::keyClick(board, Qt::Key_End);
        QTest::keyClick(board, Qt::Key_Home);
        QCOMPARE(spy.count(), index == 1 ? 1 : 2);
        QCOMPARE(spy.last().at(0).value<tdu1>(), tdu1(0));
        if (index == 0)
            QCOMPARE(spy.first().at(0).value<tdu1>(), tdu1(1));
    }

private:
    std::unique_ptr<ZoModuleFMInfoForm> makeRow()
    {
        auto row = std::make_unique<ZoModuleFMInfoForm>();
        ZoDevFMInfo info;
        info.key = ZoDeviceKey(77);
        info.name = QStringLiteral("Tuning module");
        info.curVersion = tVersion {77, 1, 4, 2};
        row->init(info);
        row->show();
        if (!QTest::qWaitForWindowExposed(row.get()))
            qWarning("row not exposed");
        return row;
    }
};

QTEST_MAIN(TstZoDeviceInfoForms)
#include "tst_zodeviceinfoforms.moc"
