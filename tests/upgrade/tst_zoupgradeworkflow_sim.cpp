#include "ZoFlashHistory.h"
#include "ZoHistoryRecorder.h"
#include "ZoMsgLooper.h"
#include "ZoNimbraHttpHelper.h"
#include "ZoPlaneConfig.h"
#include "ZoPlaneSearch.h"
#include "ZoTestAircraftSim.h"
#include "ZoTestCloudSim.h"
#include "ZoTestFleet.h"
#include "ZoTestPlaneConfig.h"
#include "ZoTestWait.h"
#include "ZoTvkInstance.h"
#include "ZoUpgradeTestRig.h"
#include "ZoUpgradeWorkflow.h"
#include "ZoUtils.h"

#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

// The whole upgrade through the workflow engine: the aircraft simulator on
// a UDP, TCP or paced serial link, the cloud simulator serving the catalogue
// and the firmware files. What the aircraft logs (each image's SHA-256, gaps,
// the commands it saw) and what the cloud logs (version reports) decide;
// the engine's own view only has to agree with them.
namespace {

using Sim = ZoTestAircraftSim;
using Device = ZoTestDevice;
using Outcome = ZoUpgradeWorkflow::RunOutcome;

const QList<Device> &kFleet = zoTestFleet();

// What the trust table does to a run besides starting it.
enum Act { InterruptThenRerun, KillAircraft, CloseLink, ChangeTarget, JustRun, JournalNamesOther };

} // namespace

class TstZoUpgradeWorkflowSim : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QUdpSocket gcpmSink;
    ZoPlaneConfig config;
    std::unique_ptr<Sim> sim;
    std::unique_ptr<ZoTestCloudSim> cloud;
    std::unique_ptr<ZoUpgradeWorkflow> wf;
    QList<QVariantList> finished;

    QString writeScenario(const QList<Device> &devices)
    {
        const QString path = work.filePath(QStringLiteral("scenario.json"));
        return zoTestWriteScenario(path, devices) ? path : QString();
    }

    // Search over `link` (the aircraft is on every kind), read everything,
    // fetch the catalogue: ready to upgrade.
    bool connectAircraft(int link)
    {
        const int type = link == Sim::Udp ? ZoPlaneConfig::LinkUdp
            : link == Sim::Tcp            ? ZoPlaneConfig::LinkTcpClient
                                          : ZoPlaneConfig::LinkSerialPort;
        const ZoPlaneConfig c = zoLinkFromFields(QString::asprintf(
            "%d|%s|115200|8|0|1|127.0.0.1|%d|%d|127.0.0.1|%d|0", type, qPrintable(sim->ptyPath),
            sim->port, sim->programUdpPort, sim->port));
        QSignalSpy found(wf.get(), &ZoUpgradeWorkflow::sigSearchFinished);
        using Catalogue = ZoTargetIntake::State;
        wf->searchLink(c);
        if (!zoWaitFor([&] { return !found.isEmpty(); }, 10000) || !found[0][0].toBool()) {
            qWarning() << "aircraft not found";
            return false;
        }
        if (!zoWaitFor(
                [&] { return wf->targets().state() >= Catalogue::Ready && !wf->isProbing(); },
                10000)
            || wf->targets().state() != Catalogue::Ready) {
            qWarning() << "no catalogue" << cloud->paths();
            return false;
        }
        return wf->stage() == ZoUpgradeWorkflow::Stage::Ready;
    }

    // An engine on `env` whose run endings land in `finished`.
    void newEngine(const ZoUpgradeEnvironment &env)
    {
        wf = std::make_unique<ZoUpgradeWorkflow>(env);
        zoTestFastTimings(*wf);
        connect(wf.get(), &ZoUpgradeWorkflow::sigRunEnded, this,
            [this](Outcome o, ZoDeviceKey key) { finished << QVariantList {int(o), key.packed()}; });
    }

    bool runUpgrade(int seconds)
    {
        finished.clear();
        wf->upgradeAll();
        return zoWaitFor([&] { return !finished.isEmpty(); }, seconds * 1000);
    }

    // The leave-bootloader frames the device received: the first takes it out
    // of its bootloader, the later ones reach its application (or, unaddressed,
    // find no module in a bootloader) and are logged as ignored.
    int leaveFrames(const Device &d) const
    {
        int n = sim->events("request", d.simName(), QStringLiteral("leaveBootloader")).size();
        for (const QJsonObject &o : sim->events("ignored")) {
            if (d.type == 80 && zoText(o, "frame") == QLatin1String("EB 90 06 FF FF 50"))
                ++n;
            if (d.type == 38 && o.value(QLatin1String("id")).toInt() == 0x6F1
                && zoText(o, "data") == QLatin1String("50"))
                ++n;
        }
        return n;
    }

    QStringList versionReports() const
    {
        QStringList r;
        for (const QJsonObject &q : cloud->requests())
            if (zoText(q, "path").endsWith(QLatin1String("/editVersion"))) {
                const QJsonObject body = q.value(QLatin1String("body")).toObject();
                r << QStringLiteral("%1 %2 %3")
                         .arg(zoText(body, "fid"), zoText(body, "version"),
                             zoText(body, "deviceID"));
            }
        return r;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(zoTestEnterWorkDir(gcpmSink, work.path(),
            "<busdevcfg><tunex><NodeId>1</NodeId><NodeId>2</NodeId></tunex>"
            "<servo><NodeId>3</NodeId></servo>"
            "</busdevcfg>"));
    }

    void init()
    {
        sim = std::make_unique<Sim>();
        cloud = std::make_unique<ZoTestCloudSim>();
        QVERIFY(cloud->start());
        newEngine(zoTestEnvironment(&config, cloud->baseUrl()));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed()) {
            const QList<QJsonObject> ev = sim->events();
            for (int i = std::max(0, int(ev.size()) - 8); i < ev.size(); ++i)
                qWarning().noquote() << QJsonDocument(ev[i]).toJson(QJsonDocument::Compact);
        }
        wf.reset();
        sim.reset();
        cloud.reset();
    }

    // Upgrade-all on a datagram and a paced serial link (a TCP link is
    // tst_tolvanecli's upgrade): modules first, the board next, the core
    // last; every image arrives whole as the file holds it; each device
    // leaves its bootloader (the core too: its three leave frames go out
    // before the looper returns to the application protocol) and is read
    // back; one version report per device.
    void upgradeAll_data()
    {
        QTest::addColumn<int>("link");
        QTest::newRow("udp") << int(Sim::Udp);
        QTest::newRow("pty at 115200 baud") << int(Sim::Pty);
    }

    void upgradeAll()
    {
        QFETCH(int, link);
        QStringList extra;
        if (link == Sim::Pty)
            extra << QStringLiteral("--baud") << QStringLiteral("115200");
        QVERIFY(sim->start(Sim::Link(link), writeScenario(kFleet), extra));
        QVERIFY(zoTestServeCatalogue(*cloud, kFleet));
        ZoUpgradeEnvironment env = zoTestEnvironment(&config, cloud->baseUrl());
        env.historyPath = work.filePath(QStringLiteral("history-%1.sqlite").arg(link));
        newEngine(env);
        // What each row shows before the run is the window's test; here the
        // read-back after it, through the same reading, must show the target.
        QVERIFY(connectAircraft(link));
        QSignalSpy sounds(wf.get(), &ZoUpgradeWorkflow::sigPlaySound);
        QMap<ZoDeviceKey, QStringList> phases; // "-": its power must not be cut
        connect(&wf->run(), &ZoUpgradeRun::sigDevicePhase, this, [&](const ZoDevicePhase &p) {
            phases[p.key] << ZoDevicePhase::name(p.phase) + (p.mayPowerOff() ? "" : "-");
        });
        QVERIFY(runUpgrade(90));
        QCOMPARE(finished[0], (QVariantList {int(Outcome::Completed), 0}));
        QCOMPARE(sounds.size(), 1);
        QVERIFY(sounds[0][0].toBool());

        QStringList order;
        for (const QJsonObject &o : sim->events("transfer"))
            order << zoText(o, "dev");
        QCOMPARE(order.join(QLatin1Char(' ')), QStringLiteral("38.0 77.2 79.1 86.3 83.0 core"));

        QStringList expectedReports;
        for (const Device &d : kFleet) {
            // The last leave frames may still be on their way when the run ends.
            QTRY_VERIFY2_WITH_TIMEOUT(
                sim->events("verify", d.simName()).size() == 1, qPrintable(d.simName()), 3000);
            const QList<QJsonObject> v = sim->events("verify", d.simName());
            QVERIFY(v[0].value(QLatin1String("complete")).toBool());
            QCOMPARE(v[0].value(QLatin1String("gaps")).toInt(), 0);
            QVERIFY2(zoText(v[0], "sha256") == zoTestImageSha(zoTestSampleFile(d.file)),
                QJsonDocument(v[0]).toJson(QJsonDocument::Compact).constData());
            QVERIFY2(leaveFrames(d) == 3, qPrintable(d.simName()));
            const ZoDeviceKey key = d.key();
            expectedReports
                << QStringLiteral("%1 %2 %3").arg(d.type).arg(d.to, wf->roster().records()[key].serial);
            QCOMPARE(wf->transferStats(key).resends, 0);
            // Read back running its target, and its row still there.
            const ZoDevFMInfo r = wf->roster().records().value(key);
            QCOMPARE(r.result, ZoDevFMInfo::Result::Upgraded);
            QCOMPARE(ZoUtils::versionText(r.curVersion), QStringLiteral("V") + d.to);
            // Every bus kind, the board and the core pass the same phases.
            QCOMPARE(phases.value(key).join(' '),
                QStringLiteral("entering- erasing- programming- leaving- restarting confirming"));
        }
        // On the flash history in the order flashed, with what each ran before.
        ZoFlashHistory history(env.historyPath);
        QVERIFY(history.open() && history.verify().ok);
        QStringList flashed;
        for (const ZoFlashHistory::Row &h : history.rows())
            flashed << QStringLiteral("%1.%2 %3>%4=%5 %6 %7 %8")
                           .arg(h.type)
                           .arg(h.number)
                           .arg(h.before, h.target, h.confirmed, h.result, h.source)
                           .arg(h.serial);
        QStringList expectFlashed;
        for (const QString &dev : order) {
            const Device &d = *std::find_if(kFleet.cbegin(), kFleet.cend(),
                [&](const Device &x) { return x.simName() == dev; });
            expectFlashed << QStringLiteral("%1.%2 %3>%4=%4 upgraded stable %5")
                                 .arg(d.type)
                                 .arg(d.key().number)
                                 .arg(d.from, d.to)
                                 .arg(wf->roster().records()[d.key()].serial);
        }
        QCOMPARE(flashed, expectFlashed);
        QTRY_COMPARE_WITH_TIMEOUT(versionReports().size(), kFleet.size(), 5000);
        QStringList reports = versionReports();
        reports.sort();
        expectedReports.sort();
        QCOMPARE(reports, expectedReports);
    }

    // Faults of the aircraft: a module's corrupted reply costs a resend and
    // nothing else (one resend per lost acknowledgement is
    // tst_zotransfersession's 'one lost ack', the same session for a module);
    // a link that closes fails the run with the failure sound and no report
    // for it. A flash history that cannot be written (beneath a file) costs
    // the runs nothing, and each device's end says so.
    void faults_data()
    {
        QTest::addColumn<int>("link");
        QTest::addColumn<int>("module"); // flashed before the core, from kFleet
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("succ");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("reports");
        const int udp = Sim::Udp;
        const int ok = int(Outcome::Completed);
        const int failed = int(Outcome::DeviceFailed);
        // A corrupted reply fails its frame's check and is dropped: resent,
        // never misread (the same check for every module's replies).
        QTest::newRow("CAN module, every 7th reply corrupted")
            << udp << 2 << "38:corrupt-every=7" << true << ok << 2;
        // Left there by another station, at a number no list names: flashed first.
        QTest::newRow("module by number in its bootloader, no journal")
            << udp << 3 << "79.1:bootloader" << true << ok << 2;
        QTest::newRow("tcp closed mid-transfer")
            << int(Sim::Tcp) << 4 << "core:close-after-blocks=20" << false << failed << 1;
    }

    void faults()
    {
        QFETCH(int, link);
        QFETCH(int, module);
        QFETCH(QString, fault);
        QFETCH(bool, succ);
        const QList<Device> fleet {kFleet[0], kFleet[module]};
        QVERIFY(sim->start(
            Sim::Link(link), writeScenario(fleet), {QStringLiteral("--fault"), fault}));
        QVERIFY(zoTestServeCatalogue(*cloud, fleet));
        ZoUpgradeEnvironment env = zoTestEnvironment(&config, cloud->baseUrl());
        QVERIFY(QFile(work.filePath(QStringLiteral("f"))).open(QIODevice::WriteOnly));
        env.historyPath = work.filePath(QStringLiteral("f/history.sqlite"));
        newEngine(env);
        QVERIFY(connectAircraft(link));
        QSignalSpy sounds(wf.get(), &ZoUpgradeWorkflow::sigPlaySound);
        QSignalSpy lost(wf->history(), &ZoHistoryRecorder::sigUnwritable);
        QVERIFY(runUpgrade(60));
        QCOMPARE(lost.size(), 2); // the module and the core, whatever their end
        QTEST(finished[0][0].toInt(), "outcome");
        QCOMPARE(sounds.size(), 1);
        QCOMPARE(sounds[0][0].toBool(), succ);
        QTest::qWait(300);
        QTEST(versionReports().size(), "reports");
        const Device &d = fault.startsWith(QLatin1String("core")) ? fleet[0] : fleet[1];
        const ZoDeviceKey key = d.key();
        if (succ) {
            QVERIFY(sim->events("badCrc").isEmpty());
            QCOMPARE(zoText(sim->events("transfer").value(0), "dev"), d.simName());
            // Resent, though a corrupted reply may also hide an erase
            // acknowledgement.
            QCOMPARE(wf->transferStats(key).resends > 0, fault.contains(QLatin1String("corrupt")));
            for (const Device &x : fleet) {
                QTRY_VERIFY_WITH_TIMEOUT(!sim->events("verify", x.simName()).isEmpty(), 3000);
                QCOMPARE(zoText(sim->events("verify", x.simName()).value(0), "sha256"),
                    zoTestImageSha(zoTestSampleFile(x.file)));
            }
        } else {
            // The block that went unanswered was sent five times, then the run gave up.
            QCOMPARE(wf->transferStats(key).resends, ZoTransferSession::MaxResends);
            QCOMPARE(wf->stage(), ZoUpgradeWorkflow::Stage::Ready);
        }
    }

    // What "upgraded" promises, against what used to break it, on a core and
    // a serial-bus module (modules left in their bootloaders are the faults
    // table's, the window's and tolvane-cli's runs, their order the policy's
    // pick table; a device that keeps its old firmware is the window's). Each
    // row ends with the run's outcome, the devices the aircraft confirmed (the
    // only ones the cloud hears of), and no device holding an image whose
    // header names another type.
    void trust_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("act");
        QTest::addColumn<int>("outcome"); // -1: DeviceFailed or LinkLost
        QTest::addColumn<QStringList>("confirmed"); // simulator names
        const int ok = int(Outcome::Completed);
        // Replies held a little, so that the run can be stopped mid-transfer.
        const QString slow = QStringLiteral("77.2:latency-ms=8");
        const QStringList both {QStringLiteral("core"), QStringLiteral("77.2")};
        QTest::newRow("interrupt, then the next run")
            << slow << int(InterruptThenRerun) << ok << both;
        // Whichever notices first, the silent link or the unanswered block.
        QTest::newRow("link lost mid-run") << slow << int(KillAircraft) << -1 << QStringList();
        QTest::newRow("link closed during a transfer")
            << slow << int(CloseLink) << int(Outcome::LinkLost) << QStringList();
        QTest::newRow("target change during a run") << QString() << int(ChangeTarget) << ok << both;
        // Found only by asking its bootloader; the module behind it is out of
        // reach until the core runs again.
        QTest::newRow("core left in its bootloader, no journal")
            << QStringLiteral("core:bootloader") << int(JustRun) << ok
            << QStringList {QStringLiteral("core")};
        // The journal's aircraft is not the one whose core came back.
        QTest::newRow("core left in its bootloader, another aircraft's journal")
            << QStringLiteral("core:bootloader") << int(JournalNamesOther)
            << int(Outcome::NotConfirmed) << QStringList();
    }

    void trust()
    {
        QFETCH(QString, fault);
        QFETCH(int, act);
        QFETCH(int, outcome);
        QFETCH(QStringList, confirmed);
        const QList<Device> devices {kFleet[0], kFleet[4]};
        QVERIFY(sim->start(Sim::Udp, writeScenario(devices),
            fault.isEmpty() ? QStringList() : QStringList {QStringLiteral("--fault"), fault}));
        QVERIFY(zoTestServeCatalogue(*cloud, devices));
        const QString journal = work.filePath(QStringLiteral("journal-%1.json").arg(QTest::currentDataTag()));
        ZoUpgradeEnvironment env = zoTestEnvironment(&config, cloud->baseUrl());
        env.journalPath = journal;
        if (act == JournalNamesOther)
            QVERIFY(zoWriteFile(journal, QStringLiteral(R"({"format":1,"devices":[{"eid":"0123",
                "key":5242880,"type":80,"number":0,"core":true,"started":"%1",
                "target":{"type":80,"major":1,"minor":9,"revision":0}}]})")
                    .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)).toUtf8()));
        newEngine(env);
        QVERIFY(connectAircraft(Sim::Udp));

        const Device *first = &devices.last(); // the module, flashed first
        const int catalogueRequests = cloud->paths().size();
        connect(
            wf.get(), &ZoUpgradeWorkflow::sigProgress, this, [&, this](ZoDeviceKey k, int value) {
                if (act == ChangeTarget) {
                    wf->selectBranch(ZoTargetIntake::BranchDevelopment);
                    wf->fetchCustomBranch(QStringLiteral("other"));
                } else if (k != first->key() || value < 256 || !finished.isEmpty()
                    || !wf->isUpgrading()) {
                    return;
                } else if (act == InterruptThenRerun) {
                    wf->abortRun();
                    finished << QVariantList {-1, k.packed()};
                } else if (act == KillAircraft) {
                    sim->process.kill();
                } else {
                    wf->onClosePlaneComm();
                }
            });
        QVERIFY(runUpgrade(60));
        if (act == InterruptThenRerun) {
            // A new program, the same journal: it finds the device where the
            // first one left it, and recovers it before anything else.
            QVERIFY(QFile::exists(journal));
            QVERIFY(!sim->events("transfer", first->simName()).isEmpty());
            newEngine(env);
            QVERIFY(connectAircraft(Sim::Udp));
            QCOMPARE(wf->roster().records().value(first->key()).presence, ZoDevFMInfo::Presence::InBootloader);
            QVERIFY(runUpgrade(60));
            QVERIFY(!QFile::exists(journal));
        }
        if (outcome >= 0)
            QCOMPARE(finished.last()[0].toInt(), outcome);
        else
            QVERIFY(finished.last()[0].toInt() == int(Outcome::DeviceFailed)
                || finished.last()[0].toInt() == int(Outcome::LinkLost));

        // Only what the aircraft confirmed is upgraded, and only that is reported.
        QStringList upgraded;
        QStringList reported;
        for (const Device &d : devices) {
            const ZoDevFMInfo r = wf->roster().records().value(d.key());
            if (r.result == ZoDevFMInfo::Result::Upgraded) {
                upgraded << d.simName();
                QCOMPARE(ZoUtils::versionText(r.curVersion), QStringLiteral("V") + d.to);
            }
        }
        QCOMPARE(upgraded, confirmed);
        QTest::qWait(300);
        QCOMPARE(versionReports().size(), confirmed.size());
        if (act == KillAircraft) {
            QVERIFY(wf->roster().isModuleRow(first->key()));
            QVERIFY(wf->roster().records().value(first->key()).result >= ZoDevFMInfo::Result::Failed);
        }
        if (act == ChangeTarget)
            QCOMPARE(cloud->paths().size(), catalogueRequests + int(confirmed.size()));
        if (act != KillAircraft) {
            sim->process.terminate();
            QVERIFY(sim->process.waitForFinished(5000));
        }
        for (const QJsonObject &image : sim->events("image")) {
            if (image.value(QLatin1String("headerType")).isDouble())
                QVERIFY2(zoNum(image, "headerType") == zoNum(image, "devType"),
                    QJsonDocument(image).toJson(QJsonDocument::Compact).constData());
        }
    }

    // Two compasses share their type's broadcast: each is a row of its own,
    // both take the image, and the run holds until both report. The one that
    // restarts on its old firmware fails the run; only the other is called
    // upgraded, and only it is told to the cloud.
    void twinCompasses()
    {
        Device twin = kFleet[2];
        twin.node = 1;
        QVERIFY(sim->start(Sim::Udp, writeScenario({kFleet[0], kFleet[2], twin}),
            {QStringLiteral("--fault"), QStringLiteral("38.1:keep-old-firmware")}));
        QVERIFY(zoTestServeCatalogue(*cloud, {kFleet[0], kFleet[2]}));
        QVERIFY(connectAircraft(Sim::Udp));
        const QList<ZoDeviceKey> twins = wf->roster().twinsOf(ZoDeviceKey(38));
        QCOMPARE(twins.size(), 2);
        QVERIFY(runUpgrade(60));
        const auto &records = wf->roster().records();
        const ZoDeviceKey stale
            = records[twins[0]].serial == QLatin1String("381") ? twins[0] : twins[1];
        const ZoDeviceKey good = twins[0] == stale ? twins[1] : twins[0];
        QCOMPARE(records[stale].serial, QStringLiteral("381"));
        QCOMPARE(finished[0], (QVariantList {int(Outcome::NotConfirmed), stale.packed()}));
        QCOMPARE(records[good].result, ZoDevFMInfo::Result::Upgraded);
        QCOMPARE(records[stale].result, ZoDevFMInfo::Result::NotConfirmed);
        QCOMPARE(ZoUtils::versionText(records[stale].curVersion), QStringLiteral("V1.0.0"));
        for (const Device &d : {kFleet[2], twin})
            QCOMPARE(zoText(sim->events("verify", d.simName()).value(0), "sha256"),
                zoTestImageSha(zoTestSampleFile(d.file)));
        QTest::qWait(300);
        QCOMPARE(
            versionReports(), QStringList {QStringLiteral("38 1.0.7 ") + records[good].serial});
    }

    // The catalogue is asked while the search still asks the modules, once,
    // and every module has its target as the search ends, also one that
    // answered after its file came. A run that follows the listing at once
    // takes the search's look at the buses for its own; one started after
    // the list was read looks again.
    void catalogueInSearchProbeOnce_data()
    {
        QTest::addColumn<int>("readMs");
        QTest::newRow("run at once") << 0;
        QTest::newRow("run after the list was read") << ZoUpgradeTimings().probeFreshMs + 300;
    }

    void catalogueInSearchProbeOnce()
    {
        QFETCH(int, readMs);
        QVERIFY(sim->start(Sim::Udp, writeScenario(kFleet)));
        QVERIFY(zoTestServeCatalogue(*cloud, kFleet));
        const auto catalogues
            = [this] { return cloud->paths().filter(QStringLiteral("/getFirmware")).size(); };
        int atSearchEnd = -1;
        connect(wf.get(), &ZoUpgradeWorkflow::sigSearchFinished, this,
            [&] { atSearchEnd = catalogues(); });
        QVERIFY(connectAircraft(Sim::Udp));
        QCOMPARE(atSearchEnd, 1);
        for (const Device &d : kFleet)
            QCOMPARE(ZoUtils::versionText(wf->roster().records().value(d.key()).tarVersion),
                QStringLiteral("V") + d.to);
        const auto forceReports = [this] { // the bare CAN force report nothing was left to answer
            int n = 0;
            for (const QJsonObject &o : sim->events("ignored"))
                n += o.value(QLatin1String("id")).toInt() == 0x6F1 && zoText(o, "data") == "22";
            return n;
        };
        const int listed = forceReports();
        QVERIFY(listed > 0);
        QTest::qWait(readMs);
        QSignalSpy transfer(wf.get(), &ZoUpgradeWorkflow::sigProgressRange);
        wf->upgradeAll();
        QVERIFY(transfer.wait(10000));
        QCOMPARE(forceReports() > listed, readMs > 0);
        QCOMPARE(catalogues(), 1);
    }

    // A module left in its bootloader whose type the catalogue no longer
    // carries takes the image its type last confirmed on this aircraft, kept
    // by this station's earlier run, or else on another aircraft, and
    // confirms it.
    void strandedFromCache()
    {
        const QList<Device> fleet {kFleet[0], kFleet[3]}; // the core, 79 by device number
        ZoUpgradeEnvironment env = zoTestEnvironment(&config, cloud->baseUrl());
        env.historyPath = work.filePath(QStringLiteral("cache-history.sqlite"));
        env.imageCacheDir = work.filePath(QStringLiteral("images"));
        enum Pass { Flashed, StrandedHere, StrandedElsewhere };
        for (const Pass pass : {Flashed, StrandedHere, StrandedElsewhere}) {
            QStringList args;
            if (pass != Flashed)
                args << QStringLiteral("--fault") << QStringLiteral("79.1:bootloader");
            if (pass == StrandedElsewhere)
                args << QStringLiteral("--eid") << QStringLiteral("5B0E1D6C00280051");
            sim = std::make_unique<Sim>();
            QVERIFY(sim->start(Sim::Udp, writeScenario(fleet), args));
            QVERIFY(zoTestServeCatalogue(*cloud, pass != Flashed ? fleet.mid(0, 1) : fleet));
            newEngine(env);
            QSignalSpy fromCache(wf->history(), &ZoHistoryRecorder::sigImageFromCache);
            QVERIFY(connectAircraft(Sim::Udp));
            QCOMPARE(fromCache.size(), int(pass != Flashed));
            if (pass != Flashed)
                QCOMPARE(fromCache[0][2].toBool(), pass == StrandedHere);
            QVERIFY(runUpgrade(60));
            QCOMPARE(finished[0][0].toInt(), int(Outcome::Completed));
            QTRY_VERIFY_WITH_TIMEOUT(!sim->events("verify", fleet[1].simName()).isEmpty(), 3000);
            QCOMPARE(zoText(sim->events("verify", fleet[1].simName())[0], "sha256"),
                zoTestImageSha(zoTestSampleFile(fleet[1].file)));
        }
        QCOMPARE(
            wf->roster().records().value(fleet[1].key()).result, ZoDevFMInfo::Result::Upgraded);
    }

    // The blocks go out on the looper's thread: three seconds of a blocked
    // owner's thread in the middle of a core transfer over the paced serial
    // link, and the transfer kept going all along.
    void blockedOwnerThread()
    {
        QVERIFY(sim->start(Sim::Pty, writeScenario({kFleet[0]}),
            {QStringLiteral("--baud"), QStringLiteral("115200")}));
        const ZoFRMFileInfo file = zoTestCoreFirmware(64 * 1024);
        wf->source().setVersionReporting(false);
        wf->source().setLocalFirmware({file});
        QVERIFY(connectAircraft(Sim::Pty));
        const ZoDeviceKey key = kFleet[0].key();
        int before = -1;
        int after = -1;
        connect(wf.get(), &ZoUpgradeWorkflow::sigProgress, this, [&](ZoDeviceKey k, int value) {
            if (k != key || before >= 0 || value < 20 * ZoTransferSession::PageBytes)
                return;
            before = wf->transferStats(key).blocksSent;
            QThread::sleep(3);
            after = wf->transferStats(key).blocksSent;
        });
        QVERIFY(runUpgrade(60));
        QCOMPARE(finished[0], (QVariantList {int(Outcome::Completed), 0}));
        QVERIFY2(
            after - before > 100, qPrintable(QStringLiteral("%1 to %2").arg(before).arg(after)));
        QTRY_COMPARE_WITH_TIMEOUT(sim->events("verify", QStringLiteral("core")).size(), 1, 3000);
        QCOMPARE(zoText(sim->events("verify", QStringLiteral("core"))[0], "sha256"),
            zoTestImageSha(file.bytes()));
    }

    // A module added by hand is told to enter its bootloader at the node the
    // user picked. The search asked the servo's node 3 last; nothing but the
    // tuning module's node 2 may hear the command. Its answer from there
    // shows it in its bootloader, due first.
    void manualAddAddressesTheNode()
    {
        QVERIFY(sim->start(Sim::Udp, writeScenario(kFleet)));
        QVERIFY(zoTestServeCatalogue(*cloud, kFleet));
        QVERIFY(connectAircraft(Sim::Udp));
        wf->onManSelectModule(ZoDeviceKey(77, 2));
        const auto entered = [this] {
            QStringList devices;
            for (const QJsonObject &o : sim->events("request"))
                if (zoText(o, "cmd") == QLatin1String("enterBootloader"))
                    devices << zoText(o, "dev");
            return devices;
        };
        QTRY_COMPARE_WITH_TIMEOUT(entered(), QStringList {QStringLiteral("77.2")}, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(!sim->events("request", QStringLiteral("77.2"),
                                      QStringLiteral("forceReport"))
                                      .isEmpty(),
            3000);
        QCOMPARE(entered(), QStringList {QStringLiteral("77.2")});
        QTRY_COMPARE_WITH_TIMEOUT(wf->roster().records().value(ZoDeviceKey(77, 2)).presence,
            ZoDevFMInfo::Presence::InBootloader, 3000);
        QCOMPARE(wf->flashOrder().value(0), ZoDeviceKey(77, 2));
    }
};

QTEST_GUILESS_MAIN(TstZoUpgradeWorkflowSim)
#include "tst_zoupgradeworkflow_sim.moc"
