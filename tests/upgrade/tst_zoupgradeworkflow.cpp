#include "ZoFRMFileInfo.h"
#include "ZoMsgLooper.h"
#include "ZoPlaneConfig.h"
#include "ZoRunJournal.h"
#include "ZoTestFirmware.h"
#include "ZoUpgradeWorkflow.h"
#include "ZoUtils.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

// The workflow's decisions, driven through the slots the looper and the
// cloud client call: which devices need new firmware, and in which order an
// upgrade-all run takes them. No aircraft is attached; the looper runs
// without a link, so whatever the workflow sends goes nowhere.
namespace {

tVersion ver(int type, int major, int minor, int revision)
{
    return {tdu1(type), tdu1(major), tdu1(minor), tdu1(revision)};
}

// "type:major.minor.revision"
tVersion parse(const QString &text)
{
    const QStringList p = text.section(QLatin1Char(':'), 1).split(QLatin1Char('.'));
    return ver(text.section(QLatin1Char(':'), 0, 0).toInt(), p.value(0).toInt(), p.value(1).toInt(),
        p.value(2).toInt());
}

// A firmware file as the cloud hands it over: the header names `headerType`
// (normally the fid) and the version; `body` image bytes follow.
ZoFRMFileInfo firmware(int fid, const tVersion &v, int headerType = -1, int body = 256,
    const tFcsDateTime &compiled = tFcsDateTime())
{
    tVersion named = v;
    named.type = tdu1(headerType < 0 ? fid : headerType);
    ZoFRMFileInfo info;
    info.fid = tdu1(fid);
    info.version = v;
    info.version.type = tdu1(fid);
    info.setBytes(zoTestFirmwareBytes(tdu4(body), named, body, 0x5A, compiled));
    return info;
}

// No link hears the bootloaders asked for here: every number goes at once.
ZoUpgradeTimings timings()
{
    ZoUpgradeTimings t;
    t.probeSweepMs = 0;
    return t;
}

} // namespace

class TstZoUpgradeWorkflow : public QObject
{
    Q_OBJECT

    ZoPlaneConfig config;
    std::unique_ptr<ZoUpgradeWorkflow> wf;

    // A core found by the search, reporting `version`, with the branch box
    // on `branch`.
    void connectCore(const tVersion &version, int branch = ZoTargetIntake::BranchStable)
    {
        wf->onUpdateGNCFMVersion(version);
        wf->onAutoSearchPlaneFinished(true, 1);
        if (branch == ZoTargetIntake::BranchCustom)
            wf->selectBranch(branch);
    }

    // The engine on `env`, its looper running.
    void start(ZoUpgradeEnvironment env = {})
    {
        env.link = &config;
        wf = std::make_unique<ZoUpgradeWorkflow>(env);
        wf->setTimings(timings());
        QTRY_VERIFY(wf->isLooperReady());
    }

private Q_SLOTS:
    void init() { start(); }
    void cleanup() { wf.reset(); }

    // What a catalogue file makes of a device: the target shown, whether it
    // can be upgraded, and whether an upgrade-all run would take it; the
    // rules themselves are the policy's, here what the engine hands it (the
    // protocol type of the core, the branch and its key, the build time).
    // Current and target (the header's type and version), "custom" the
    // branch, "@hh:mm:ss" the target's build against a core built 10:00:00;
    // then whether the device can be upgraded and whether a run takes it.
    void decision_data()
    {
        QTest::addColumn<QString>("row");
        // Protocol type 1 (a multirotor core) below the 2.20 line cannot take
        // a target at or above it: shown, not offered, and not flashed.
        QTest::newRow("2.19.9 to 2.20.0 held back") << "41:2.19.9 41:2.20.0 -> 00";
        QTest::newRow("2.19.9 to 2.20.0, custom branch") << "41:2.19.9 41:2.20.0 custom -> 11";
        QTest::newRow("2.19.9 to 2.20.0, fixed wing (type 2)") << "42:2.19.9 42:2.20.0 -> 11";
        // A family member of another airframe type: flashed even at the same version.
        QTest::newRow("family change, same version") << "80:1.8.2 81:1.8.2 -> 11";
        QTest::newRow("custom, same version, other build (21 min)")
            << "80:1.8.2 80:1.8.2 custom @10:21:00 -> 11";
    }

    void decision()
    {
        QFETCH(QString, row);
        const QStringList w = row.section(QStringLiteral(" -> "), 0, 0).split(QLatin1Char(' '));
        const QString built = w.filter(QStringLiteral("@")).value(0).mid(1);
        const tVersion target = parse(w[1]);
        const tdu1 core = parse(w[0]).type;
        connectCore(parse(w[0]),
            w.contains(QLatin1String("custom")) ? ZoTargetIntake::BranchCustom
                                                : ZoTargetIntake::BranchStable);
        const QString day = QStringLiteral("2026-01-01 ");
        wf->onUpdateGNCFMComplieTime(zoTestTime(day + QStringLiteral("10:00:00")));
        QSignalSpy targets(wf.get(), &ZoUpgradeWorkflow::sigTargetChanged);
        wf->onUpdateDevFRMTarInfo(firmware(core, target, target.type, 256,
            zoTestTime(day + (built.isEmpty() ? QStringLiteral("10:00:00") : built))));

        QCOMPARE(targets.size(), 1);
        QCOMPARE(targets[0][0].value<ZoDeviceKey>(), ZoDeviceKey(core));
        // The header's version wins over the catalogue's.
        const tVersion shown = targets[0][1].value<tVersion>();
        QCOMPARE(shown.type, target.type);
        QCOMPARE(ZoUtils::versionText(shown), ZoUtils::versionText(target));
        const bool picked = row.endsWith(QLatin1Char('1'));
        QCOMPARE(targets[0][3].toBool(), row.at(row.size() - 2) == QLatin1Char('1'));
        const ZoUpgradePolicy::Pick pick = wf->pickNextDevice();
        QCOMPARE(pick.devId, picked ? target.type : tdu1(0));
        QCOMPARE(pick.isCore, picked);
    }

    // A file reaches every device of its type, serial-bus nodes included;
    // the data board sits with the core; a CAN module addressed by device
    // number keeps the number it reported although its key carries none.
    void rowsAndOrder()
    {
        connectCore(ver(80, 1, 7, 5));
        wf->onUpdateCANDevVersion(ver(83, 1, 1, 0), 0, QStringLiteral("831"));
        wf->onUpdateCANDevVersion(ver(77, 1, 0, 4), 2, QStringLiteral("2"));
        wf->onUpdateCANDevVersion(ver(77, 1, 0, 4), 1, QStringLiteral("1"));
        wf->onUpdateCANDevVersion(ver(79, 1, 2, 3), 5, QStringLiteral("7901"));
        wf->onUpdateCANDevVersion(ver(38, 3, 1, 0), 0, QStringLiteral("1234"));
        QVERIFY(wf->roster().isModuleRow(ZoDeviceKey(77, 1)) && wf->roster().isModuleRow(ZoDeviceKey(77, 2)));
        QVERIFY(wf->roster().isModuleRow(ZoDeviceKey(79)));
        QVERIFY(wf->roster().isCoreRow(ZoDeviceKey(83)));
        // The core stays below the 2.20 line its protocol type cannot cross.
        for (int type : {80, 83, 77, 79, 38})
            wf->onUpdateDevFRMTarInfo(firmware(type, ver(type, type == 80 ? 1 : 9, 9, 0)));
        QCOMPARE(wf->flashOrder(),
            (QList<ZoDeviceKey> {ZoDeviceKey(38), ZoDeviceKey(77, 1), ZoDeviceKey(77, 2),
                ZoDeviceKey(79), ZoDeviceKey(83), ZoDeviceKey(80)}));
        QCOMPARE(wf->roster().records().value(ZoDeviceKey(79)).devIdx, tdu1(5));
    }

    // A run that ends before any device is entered: a core whose only file
    // was refused as it arrived has nothing due; a link lost while the buses
    // are asked for bootloaders ends the run; a journal that cannot be
    // written ends it naming the core, as does a core that never told its
    // identity. (Files the run refuses, and nothing
    // due, are tst_zoupgraderun's rows.)
    void runRefusals_data()
    {
        QTest::addColumn<int>("headerType");
        QTest::addColumn<int>("outcome");
        using O = ZoUpgradeWorkflow::RunOutcome;
        // Refused as it arrives: the core keeps no target, whatever the
        // compass's own file is.
        QTest::newRow("header names a module") << 38 << int(O::Completed);
        QTest::newRow("link lost before the first device") << -3 << int(O::LinkLost);
        QTest::newRow("the core repeats itself, then the link goes") << -4 << int(O::LinkLost);
        // Nothing could tell the next run that the core was left in its
        // bootloader: it is not entered.
        QTest::newRow("journal cannot be written") << -5 << int(O::JournalUnwritable);
        QTest::newRow("core never told its identity") << -6 << int(O::CoreUnidentified);
    }

    void runRefusals()
    {
        QFETCH(int, headerType);
        QFETCH(int, outcome);
        QTemporaryDir dir;
        if (headerType == -5) {
            // Beneath a file: no folder can be made there, not even by root.
            ZoUpgradeEnvironment env;
            env.journalPath = dir.filePath(QStringLiteral("sysconfig.xml/runjournal.json"));
            QVERIFY(QFile(dir.filePath(QStringLiteral("sysconfig.xml"))).open(QIODevice::WriteOnly));
            start(env);
        }
        connectCore(ver(80, 1, 7, 5));
        if (headerType != -6)
            wf->onUpdateGNCEID(QStringLiteral("3A0F2C5D00170043"));
        if (headerType == 38)
            wf->onUpdateDevFRMTarInfo(firmware(38, ver(38, 1, 0, 9)));
        // The catalogue names 80; the file inside may say otherwise.
        wf->onUpdateDevFRMTarInfo(firmware(80, ver(80, 1, 8, 2), headerType < 0 ? 80 : headerType));
        QSignalSpy finished(wf.get(), &ZoUpgradeWorkflow::sigRunEnded);
        wf->upgradeAll();
        if (headerType == -3 || headerType == -4) {
            QVERIFY(wf->isProbing());
            if (headerType == -4) {
                // A late answer to the search's query keeps the core's target.
                wf->onUpdateGNCFMVersion(ver(80, 1, 7, 5));
                QVERIFY(wf->isDue(ZoDeviceKey(80)));
            }
            wf->onPlaneConnectionChanged(false);
        }
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(int(finished[0][0].value<ZoUpgradeWorkflow::RunOutcome>()), outcome);
        const bool named = headerType <= -5;
        QCOMPARE(finished[0][1].value<ZoDeviceKey>(), named ? ZoDeviceKey(80) : ZoDeviceKey());
        QCOMPARE(wf->transferState(), ZoTransferSession::State::Idle); // no enter-bootloader
        QCOMPARE(wf->stage(), ZoUpgradeWorkflow::Stage::Ready);
    }

    // A module added by hand: it is told to enter its bootloader and asked
    // to report from there, with the looper reading the reply in the form of
    // the module's bus kind (the short form for a module addressed by
    // number). Its report makes a row flagged for upgrade with the stored
    // firmware as target; silence tells the user the add failed.
    void manualModuleAdd_data()
    {
        QTest::addColumn<bool>("answers");
        QTest::newRow("answers from its bootloader") << true;
        QTest::newRow("stays silent") << false;
    }

    void manualModuleAdd()
    {
        QFETCH(bool, answers);
        ZoUpgradeTimings t = timings();
        t.forceReportDelayMs = 10;
        t.manualModuleMs = 300;
        wf->setTimings(t);
        connectCore(ver(80, 1, 7, 5));
        wf->onUpdateDevFRMTarInfo(firmware(79, ver(79, 3, 1, 2)));
        QSignalSpy info(wf.get(), &ZoUpgradeWorkflow::sigInformation);
        QSignalSpy popup(wf.get(), &ZoUpgradeWorkflow::sigWaitPopup);

        wf->onManSelectModule(ZoDeviceKey(79));
        QCOMPARE(wf->pendingSelection(), tdu1(79));
        if (answers) {
            wf->onUpdateCANDevVersion(ver(79, 1, 2, 3), 1, QStringLiteral("1"));
            QVERIFY(wf->roster().records().value(ZoDeviceKey(79)).needUpgrade);
            QCOMPARE(ZoUtils::versionText(wf->roster().records().value(ZoDeviceKey(79)).tarVersion),
                QStringLiteral("V3.1.2"));
            const ZoUpgradePolicy::Pick p = wf->pickNextDevice();
            QCOMPARE(p.key, ZoDeviceKey(79));
            QCOMPARE(p.devNum, tdu1(1));
            QTest::qWait(400);
            QVERIFY(info.isEmpty());
        } else {
            QTRY_COMPARE(info.size(), 1);
            QCOMPARE(wf->pendingSelection(), tdu1(0));
            QVERIFY(!popup.last()[0].toBool()); // the wait popup is closed
        }
    }

    // A core a cut-short run left in its bootloader answers no search: the
    // not-found question names it and offers Add at once; the same core
    // answering from its application ends the journal's entry, and not that
    // of a core whose aircraft was never known (it may be another's).
    void coreLeftInBootloader()
    {
        QTemporaryDir dir;
        ZoUpgradeEnvironment env;
        env.journalPath = dir.filePath(QStringLiteral("runjournal.json"));
        ZoRunJournal::Entry e;
        e.eid = QStringLiteral("3A0F2C5D00170043");
        e.key = ZoDeviceKey(80);
        e.devId = 80;
        e.core = true;
        QVERIFY(ZoRunJournal(env.journalPath).record(e));
        ZoRunJournal::Entry unknown = e;
        unknown.eid.clear();
        QVERIFY(ZoRunJournal(env.journalPath).record(unknown));
        start(env);
        QCOMPARE(wf->coresLeftInBootloader(), QList<tdu1> {80});
        QSignalSpy asked(wf.get(), &ZoUpgradeWorkflow::sigQuestion);
        wf->onAutoSearchPlaneFinished(false, 0);
        QCOMPARE(asked.last()[2].value<ZoUpgradeWorkflow::Buttons>().size(), 3);
        QVERIFY(asked.last()[1].toString().contains(QLatin1String("MsgCoreLeftInBootloader")));
        wf->answer(ZoUpgradeWorkflow::QuestionNotFound, ZoUpgradeWorkflow::ButtonCancel);
        connectCore(ver(80, 1, 7, 5));
        wf->onUpdateGNCEID(e.eid);
        ZoRunJournal left(env.journalPath);
        QVERIFY(left.load());
        QCOMPARE(left.entries().size(), 1);
        QVERIFY(left.entries()[0].eid.isEmpty());
    }

    // The modules a core is expected to carry follow the configuration: the
    // bus nodes of busdevcfg.xml are added, the ignored ids of sysconfig.xml
    // left out (which list each core family gets is the list builder's test).
    void moduleListFollowsConfiguration()
    {
        ZoUpgradeEnvironment env;
        env.ignoredDevices = {44, 131149};
        env.tunexNodes = {1, 2};
        start(env);
        connectCore(ver(80, 1, 7, 5));
        const QList<ZoDeviceKey> emba = wf->roster().expectedModules();
        QVERIFY(emba.contains(ZoDeviceKey(77, 1)));
        QVERIFY(!emba.contains(ZoDeviceKey(77, 2)));
        QVERIFY(!emba.contains(ZoDeviceKey(77)));
    }

    // A core added by hand: what answers is checked against what the user
    // named; another core, or silence, is taken only when the user says so,
    // and then as the core the user named (a No to either question is one
    // answer).
    void manualCoreAdd_data()
    {
        using W = ZoUpgradeWorkflow;
        QTest::addColumn<int>("reported"); // 0: nothing answers
        QTest::addColumn<int>("question");
        QTest::addColumn<int>("button");
        QTest::newRow("the named core") << 80 << int(W::QuestionNone) << 0;
        QTest::newRow("another, taken") << 41 << int(W::QuestionCoreMismatch) << int(W::ButtonYes);
        QTest::newRow("another, refused") << 41 << int(W::QuestionCoreMismatch) << int(W::ButtonNo);
        QTest::newRow("silent, forced") << 0 << int(W::QuestionForceAddCore) << int(W::ButtonYes);
    }

    void manualCoreAdd()
    {
        QFETCH(int, reported);
        QFETCH(int, question);
        QFETCH(int, button);
        ZoUpgradeTimings t = timings();
        t.forceReportDelayMs = 10;
        t.manualCoreMs = 200;
        wf->setTimings(t);
        QSignalSpy showAdd(wf.get(), &ZoUpgradeWorkflow::sigShowAddCore);
        wf->onManSelectCoreGNCDevice(80);
        QCOMPARE(wf->coresLeftInBootloader(), QList<tdu1> {80}); // on record before it is entered
        if (reported)
            wf->onUpdateGNCFMVersion(ver(reported, 1, 0, 0));
        if (question) {
            QTRY_COMPARE(wf->pendingQuestion(), question);
            wf->answer(question, button);
        }
        const bool added = button != ZoUpgradeWorkflow::ButtonNo;
        QCOMPARE(wf->roster().isCoreRow(ZoDeviceKey(80)), added);
        QCOMPARE(wf->roster().records().value(ZoDeviceKey(80)).needUpgrade, added);
        QCOMPARE(showAdd.size(), added ? 0 : 1);
    }

    // A core switched to another airframe's protocol type takes only that
    // airframe's image: its own target goes until that catalogue comes.
    void protocolTypeChange()
    {
        connectCore(ver(81, 1, 7, 5));
        wf->onUpdateDevFRMTarInfo(firmware(81, ver(81, 1, 8, 2)));
        QCOMPARE(wf->pickNextDevice().key, ZoDeviceKey(81));
        wf->onUpdateGNCDevIDByProtType(ZoUtils::AirframeMR);
        QCOMPARE(wf->pickNextDevice().devId, tdu1(0));
        wf->onUpdateDevFRMTarInfo(firmware(80, ver(80, 1, 8, 2)));
        QCOMPARE(wf->pickNextDevice().devId, tdu1(80));
        QVERIFY(wf->pickNextDevice().isCore);
    }

    // A file that arrives during a run waits for its end: the devices still
    // to come take what was offered when the run began.
    void targetsHeldDuringRun()
    {
        ZoUpgradeTimings t = timings();
        t.enterBootloaderMs = 50;
        t.eraseMs = 50;
        t.blockMs = 50;
        wf->setTimings(t);
        connectCore(ver(80, 1, 7, 5));
        wf->onUpdateDevFRMTarInfo(firmware(80, ver(80, 1, 8, 2)));
        QSignalSpy ended(wf.get(), &ZoUpgradeWorkflow::sigRunEnded);
        wf->upgradeAll();
        QVERIFY(wf->isUpgrading());
        wf->onUpdateDevFRMTarInfo(firmware(80, ver(80, 1, 9, 0)));
        QCOMPARE(ZoUtils::versionText(wf->roster().records().value(ZoDeviceKey(80)).tarVersion),
            QStringLiteral("V1.8.2"));
        // No aircraft answers: the run fails, and then the file is offered.
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 5000);
        QCOMPARE(ZoUtils::versionText(wf->roster().records().value(ZoDeviceKey(80)).tarVersion),
            QStringLiteral("V1.9.0"));
    }
    // After a completed run the core restarts: the next run first asks
    // whether the aircraft is still the same. No leaves the engine idle and
    // asks again next time; Yes goes on to the run. A link that comes back
    // starts a new search that reads every device again: nothing to ask.
    void sameDeviceQuestion_data()
    {
        QTest::addColumn<bool>("back"); // the link came back before the run
        QTest::addColumn<int>("button");
        QTest::newRow("link down, No") << false << int(ZoUpgradeWorkflow::ButtonNo);
        QTest::newRow("link down, Yes") << false << int(ZoUpgradeWorkflow::ButtonYes);
        QTest::newRow("link down and back") << true << 0;
    }

    void sameDeviceQuestion()
    {
        QFETCH(bool, back);
        QFETCH(int, button);
        connectCore(ver(80, 1, 7, 5));
        QSignalSpy ended(wf.get(), &ZoUpgradeWorkflow::sigRunEnded);
        wf->upgradeAll();
        QTRY_COMPARE(ended.size(), 1);
        QVERIFY(wf->flashOrder().isEmpty() && wf->stage() == ZoUpgradeWorkflow::Stage::Ready);
        wf->onPlaneConnectionChanged(false);
        if (back)
            wf->onPlaneConnectionChanged(true);
        QSignalSpy asked(wf.get(), &ZoUpgradeWorkflow::sigQuestion);
        wf->upgradeAll();
        if (back) {
            QVERIFY(asked.isEmpty());
            QCOMPARE(wf->pendingQuestion(), int(ZoUpgradeWorkflow::QuestionNone));
            return;
        }
        QCOMPARE(wf->pendingQuestion(), int(ZoUpgradeWorkflow::QuestionSameDevice));
        QVERIFY(asked.last()[1].toString().contains(QLatin1String("MsgPlsCheckIsSameDev")));
        QVERIFY(!wf->isUpgrading());
        wf->answer(ZoUpgradeWorkflow::QuestionSameDevice, button);
        QCOMPARE(wf->isUpgrading(), button == ZoUpgradeWorkflow::ButtonYes);
        if (button == ZoUpgradeWorkflow::ButtonNo) {
            QCOMPARE(wf->stage(), ZoUpgradeWorkflow::Stage::Ready);
            wf->upgradeAll();
            QCOMPARE(asked.size(), 2);
        }
    }

    // The boards of an Arno2 core (41): the data board (44) is added by
    // hand when a search misses it; the feature board (45) only beside a
    // data board that is not waiting for its own flash. Steps: "r44" a
    // board reports, "found" the search ends, "b1"/"b0" the board box,
    // "p2" the protocol box; then what the engine did.
    void arno2Boards_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("feature board beside a data board") << "r44 found b1 -> add 45";
        QTest::newRow("feature board before the data board's flash")
            << "found r44 b1 -> add 44, manual off, MsgR4DataBoardNeedUpgradeFirst, box 0";
        QTest::newRow("feature board without a data board")
            << "found b1 -> add 44, manual off, MsgNeedForceR4DataBoard, box 0";
        QTest::newRow("no feature board") << "r44 r45 found b0 -> box 1, removed 45";
        QTest::newRow("protocol type while the data board waits")
            << "found r44 p2 -> add 44, manual off, protocol reset";
    }

    void arno2Boards()
    {
        QFETCH(QString, row);
        QStringList log;
        connect(wf.get(), &ZoUpgradeWorkflow::sigWaitPopup, this, [&](bool visible) {
            if (visible)
                log << QStringLiteral("add %1").arg(wf->pendingSelection());
        });
        connect(wf.get(), &ZoUpgradeWorkflow::sigManualAddOffered, this, [&](bool offered) {
            if (!offered && !log.contains(QLatin1String("manual off")))
                log << QStringLiteral("manual off");
        });
        connect(wf.get(), &ZoUpgradeWorkflow::sigInformation, this,
            [&](const QString &text) { log << text; });
        connect(wf.get(), &ZoUpgradeWorkflow::sigBrisk2Type, this,
            [&](tdu1 type) { log << QStringLiteral("box %1").arg(type); });
        connect(wf.get(), &ZoUpgradeWorkflow::sigProtocolTypeReset, this,
            [&] { log << QStringLiteral("protocol reset"); });
        connect(&wf->roster(), &ZoDeviceRoster::sigRowRemoved, this,
            [&](ZoDeviceKey key) { log << QStringLiteral("removed ") + key.text(); });
        connect(wf.get(), &ZoUpgradeWorkflow::sigTargetChanged, this,
            [&](ZoDeviceKey key) { log << QStringLiteral("target ") + key.text(); });
        wf->onUpdateGNCFMVersion(ver(41, 2, 20, 0));
        for (const QString &step : row.section(QStringLiteral(" -> "), 0, 0).split(QLatin1Char(' '))) {
            if (step == QLatin1String("found"))
                wf->onAutoSearchPlaneFinished(true, 1);
            else if (step.startsWith(QLatin1Char('r')))
                wf->onUpdateCANDevVersion(ver(step.mid(1).toInt(), 1, 0, 0), 0, QString());
            else if (step.startsWith(QLatin1Char('b')))
                wf->onUpdateBrisk2Type(tdu1(step.mid(1).toInt()));
            else if (step == QLatin1String("p2"))
                wf->onUpdateGNCDevIDByProtType(2);
        }
        QCOMPARE(log.join(QStringLiteral(", ")), row.section(QStringLiteral(" -> "), 1));
        if (row.contains(QLatin1String("p2")))
            QCOMPARE(wf->protocolType(), tds4(1));
    }

    // "All found or added" when nothing is missing, or while a module added
    // by hand waits for its flash; else the missing modules to pick from.
    void selectModuleForm_data()
    {
        QTest::addColumn<QString>("reports"); // of the Brisk2 core's nine modules
        QTest::addColumn<bool>("added"); // 38 added by hand instead of answering
        QTest::addColumn<QList<ZoDeviceKey>>("offered");
        const QList<ZoDeviceKey> none;
        QTest::newRow("all answer") << "46 65 92 36 37 38 57 58 79" << false << none;
        QTest::newRow("one added by hand") << "" << true << none;
        QTest::newRow("one missing")
            << "46 65 92 36 37 38 57 58" << false << QList<ZoDeviceKey> {ZoDeviceKey(79)};
    }

    void selectModuleForm()
    {
        QFETCH(QString, reports);
        QFETCH(bool, added);
        QFETCH(QList<ZoDeviceKey>, offered);
        connectCore(ver(47, 1, 0, 0));
        for (const QString &type : reports.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            wf->onUpdateCANDevVersion(ver(type.toInt(), 1, 0, 0), 0, QString());
        if (added) {
            wf->onManSelectModule(ZoDeviceKey(38));
            wf->onUpdateCANDevVersion(ver(38, 1, 0, 0), 0, QString());
        }
        QSignalSpy info(wf.get(), &ZoUpgradeWorkflow::sigInformation);
        QSignalSpy select(wf.get(), &ZoUpgradeWorkflow::sigSelectModules);
        wf->onShowSelectModuleForm();
        QCOMPARE(info.size(), offered.isEmpty() ? 1 : 0);
        if (offered.isEmpty())
            QCOMPARE(info[0][0].toString(), QStringLiteral("MsgAllCANFoundOrManAddedDev"));
        else
            QCOMPARE(select.last()[0].value<QList<ZoDeviceKey>>(), offered);
    }
};

QTEST_GUILESS_MAIN(TstZoUpgradeWorkflow)
#include "tst_zoupgradeworkflow.moc"
