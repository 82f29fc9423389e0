#include "ZoAddGNCForm.h"
#include "ZoDataLinkSettingForm.h"
#include "ZoHistoryForm.h"
#include "ZoLaneTimeline.h"
#include "ZoMessageBox.h"
#include "ZoModuleFMInfoForm.h"
#include "ZoNimbraHttpHelper.h"
#include "ZoPlaneConfig.h"
#include "ZoPlaneSearch.h"
#include "ZoRoundWaterProgressBar.h"
#include "ZoSearchPlaneDeviceForm.h"
#include "ZoTestAircraftSim.h"
#include "ZoTestCloudSim.h"
#include "ZoTestFleet.h"
#include "ZoTestPty.h"
#include "ZoTestWait.h"
#include "ZoTestWidgets.h"
#include "ZoTolMainWindow.h"
#include "ZoTvkInstance.h"
#include "ZoUpgradeTestRig.h"
#include "ZoUpgradeWorkflow.h"
#include "ZoUtils.h"

#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QUdpSocket>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <optional>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

// The main window as the user drives it: it searches on its own at start,
// draws a row per device with what it runs and what the cloud offers, and the
// upgrade button flashes everything. What reaches the aircraft, and the
// engine under each fault, are the engine's end-to-end test's; here the rows,
// their pictures and the boxes count, the latter answered and recorded by the
// message box's responder.
namespace {

using Sim = ZoTestAircraftSim;
using Box = ZoMessageBox::Request;
using Device = ZoTestDevice;

// The core, its data board, a CAN module and a serial-bus module.
const QList<Device> kFleet {zoTestFleet()[0], zoTestFleet()[1], zoTestFleet()[2], zoTestFleet()[4]};

QString resultOf(ZoModuleFMInfoForm *row)
{
    auto *bar = zoChild<ZoRoundWaterProgressBar>(row, "widgetUpradePrg");
    return bar ? bar->resultPicture() : QString();
}

// The state a row shows beside its result picture, when it shows one.
QString tipOf(ZoModuleFMInfoForm *row)
{
    auto *tip = zoChild<QLabel>(row, "labelUpgradTip");
    return tip && tip->isVisible() ? tip->text() : QString();
}

#ifdef Q_OS_LINUX
// Root, as CI runs the tests, opens a node whatever its permissions. While
// this lives, the calling thread and the threads it starts (the looper's)
// are held to them as any user's process is.
struct PermissionsApply
{
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2] {}, held[2] {};
    bool applied = ::syscall(SYS_capget, &header, saved) == 0;
    PermissionsApply()
    {
        std::copy(saved, saved + 2, held);
        held[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        applied = applied && ::syscall(SYS_capset, &header, held) == 0;
    }
    ~PermissionsApply()
    {
        if (applied)
            ::syscall(SYS_capset, &header, saved);
    }
};
#endif

} // namespace

class TstZoTolMainWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QUdpSocket gcpmSink;
    ZoPlaneConfig config;
    std::unique_ptr<Sim> sim;
    std::unique_ptr<ZoTestCloudSim> cloud;
    std::unique_ptr<ZoTolMainWindow> window;
    // Answers to questions, in order; Cancel once they run out.
    QList<int> answers;
    QString imageCache; // the engine's image cache; empty: none

    // The boxes shown so far, or those whose text starts with `text`.
    QList<Box> boxes(const QString &text = QString()) const
    {
        QList<Box> r;
        for (const Box &b : ZoMessageBox::shownRequests())
            if (text.isNull() || b.text.startsWith(text))
                r << b;
        return r;
    }

    QString writeScenario(const QList<Device> &devices)
    {
        const QString path = work.filePath(QStringLiteral("scenario.json"));
        return zoTestWriteScenario(path, devices) ? path : QString();
    }

    // The window on loopback links only. Its automatic search tries UDP, the
    // serial ports, then the TCP client: the aircraft waits on `link`, the
    // other candidates lead nowhere (a UDP port nobody serves, a TCP port
    // nobody listens on, no serial port but `port`). It searches as soon as
    // the event loop runs.
    void openWindow(int link, const QString &port = QString(), const QString &history = QString())
    {
        config.type = ZoPlaneConfig::LinkUdp;
        config.host = QStringLiteral("127.0.0.1");
        config.hostport = link == Sim::Udp ? sim->port : Sim::deadPort();
        config.localPort = link == Sim::Udp ? sim->programUdpPort : 0;
        config.TcpServerHost = QStringLiteral("127.0.0.1");
        config.TcpServerHostPort = link == Sim::Tcp ? sim->port : Sim::deadPort();
        config.TcpClientLocalPort = 0;
        *ZoTvkInstance::instance()->planeConfig() = config;
        ZoUpgradeEnvironment env = zoTestEnvironment(&config, cloud->baseUrl());
        env.historyPath = history;
        env.imageCacheDir = imageCache;
        env.portEnumerator = [port] {
            QList<ZoPlaneSearch::PortCandidate> ports;
            if (!port.isEmpty())
                ports.append({port});
            return ports;
        };
        window = std::make_unique<ZoTolMainWindow>(env);
        zoTestFastTimings(*window->engine(), {300, 300}); // detect, then wait for data
        window->show();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(zoTestEnterWorkDir(
            gcpmSink, work.path(), "<busdevcfg><tunex><NodeId>2</NodeId></tunex></busdevcfg>"));
        ZoMessageBox::setTestResponder([this](const Box &box) {
            if (box.buttons & QMessageBox::Ok)
                return int(QMessageBox::Ok);
            return answers.isEmpty() ? int(QMessageBox::Cancel) : answers.takeFirst();
        });
    }

    void init()
    {
        ZoMessageBox::clearShownRequests();
        answers.clear();
        imageCache.clear();
        sim = std::make_unique<Sim>();
        cloud = std::make_unique<ZoTestCloudSim>();
        QVERIFY(cloud->start());
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            for (const Box &b : boxes())
                qWarning() << "box" << b.title << b.text;
        window.reset();
        sim.reset();
        cloud.reset();
    }

    void cleanupTestCase() { ZoMessageBox::setTestResponder(nullptr); }

    // The search runs at start (finding the aircraft on UDP; the serial ports
    // after it are tst_zoplanesearch's, a whole run over one the engine's
    // test's), every row shows what the device runs and then what the
    // cloud offers; the upgrade button flashes everything (closing meanwhile
    // asks and is refused) or stops at the device that fails, which its row
    // shows. A run that stops because the core's file names another device
    // still says so, with the device's name, as does one whose device does not
    // report its new firmware. A module the aircraft starts in its bootloader
    // shows so before the run and is upgraded by it. Every row stays after the
    // run with its device's state.
    void upgradeFromTheWindow_data()
    {
        QTest::addColumn<int>("link");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("wrongHeader");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("failed"); // index into kFleet, -1 none
        QTest::addColumn<QString>("failedResult"); // that row's result picture
        QTest::addColumn<QString>("failedState"); // and the state it shows
        QTest::addColumn<int>("stranded"); // index into kFleet, -1 none
        const QString failedPicture = QStringLiteral(":/resource/moduleupradefailed.png");
        const int udp = Sim::Udp;
        QTest::newRow("every device, UDP")
            << udp << QString() << 0 << "MsgAllDevUpgraded" << -1 << QString() << QString() << -1;
        QTest::newRow("module left in its bootloader")
            << udp << "38.0:bootloader" << 0 << "MsgAllDevUpgraded" << -1 << QString() << QString()
            << 2;
        QTest::newRow("bus module stalls")
            << udp << "77.2:stall-after-blocks=5" << 0 << "MsgUpgradeFailed" << 3 << failedPicture
            << "LabUpgradeFailed" << -1;
        QTest::newRow("module keeps its old firmware")
            << udp << "38.0:keep-old-firmware" << 0 << "MsgRunNotConfirmedReports:" << 2
            << QString() << "LabNotConfirmed\nLabReports V1.0.0" << -1;
        QTest::newRow("core file names another device")
            << udp << QString() << 80 << "MsgPrepareUpgradeFailed:" << 0 << QString()
            << "LabCanUpgrade" << -1;
    }

    void upgradeFromTheWindow()
    {
        QFETCH(int, link);
        QFETCH(QString, fault);
        QFETCH(int, wrongHeader);
        QFETCH(QString, message);
        QFETCH(int, failed);
        QFETCH(int, stranded);
        QVERIFY(sim->start(Sim::Link(link), writeScenario(kFleet),
            fault.isEmpty() ? QStringList() : QStringList {QStringLiteral("--fault"), fault}));
        QVERIFY(zoTestServeCatalogue(*cloud, kFleet, wrongHeader));
        static int runs = 0;
        openWindow(link, QString(), work.filePath(QStringLiteral("history-%1.sqlite").arg(++runs)));
        QVERIFY(window->searchForm()->isVisible());

        for (const Device &d : kFleet) {
            QVERIFY2(zoWaitFor([&] { return window->row(d.key()) != nullptr; }, 15000),
                qPrintable(d.simName()));
            QCOMPARE(ZoUtils::versionText(window->row(d.key())->info().curVersion),
                QStringLiteral("V") + d.from);
        }
        auto *upgrade = zoChild<QPushButton>(window.get(), "btnAllUpgrade");
        QVERIFY(zoWaitFor([&] { return upgrade->isEnabled(); }, 15000));
        QVERIFY(!window->searchForm()->isVisible());
        const QList<QWidget *> rows = window->rowWidgets();
        for (const Device &d : kFleet) {
            ZoModuleFMInfoForm *row = window->row(d.key());
            QCOMPARE(ZoUtils::versionText(row->info().tarVersion), QStringLiteral("V") + d.to);
            // Modules under the module header, the board and the core under
            // the core header.
            const int at = window->rowIndex(d.key());
            QCOMPARE(rows.value(at), row);
            QVERIFY2((at < 3) == (d.type == 38 || d.type == 77), qPrintable(d.simName()));
        }
        if (stranded >= 0)
            QCOMPARE(tipOf(window->row(kFleet[stranded].key())), QStringLiteral("LabInBootloader"));
        // Rows end where their selection does, at the list's right edge (once
        // the view has laid them out again for a scroll bar that came or
        // went with the folded rows); their columns stay at the left.
        auto *list = zoChild<QListWidget>(window.get(), "listWidgetModuleInfo");
        QCOMPARE(list->geometry().right(), upgrade->geometry().right());
        for (int i = 0; i < rows.size(); ++i)
            if (!list->item(i)->isHidden())
                QTRY_COMPARE(
                    rows[i]->geometry().right(), list->visualItemRect(list->item(i)).right());
        QCOMPARE(
            window->row(kFleet[2].key())->findChild<QFrame *>(QStringLiteral("frameIcon"))->x(), 0);
        // The family's silent optional modules fold into one line, which
        // opens on a click; the aircraft's own rows stay in view.
        const auto hidden = [list] {
            int n = 0;
            for (int i = 0; i < list->count(); ++i)
                n += list->item(i)->isHidden() ? 1 : 0;
            return n;
        };
        auto *fold = zoChild<QPushButton>(window.get(), "btnFold");
        QVERIFY(zoWaitFor([&] { return hidden() > 0 && fold->isVisible(); }, 10000));
        QTest::mouseClick(fold, Qt::LeftButton);
        QCOMPARE(hidden(), 0);
        QTest::mouseClick(fold, Qt::LeftButton);
        for (const Device &d : kFleet)
            QVERIFY(!window->row(d.key())->isHidden()
                && !list->item(window->rowIndex(d.key()))->isHidden());

        // A row's details button shows the offered firmware's release note.
        ZoModuleFMInfoForm *compass = window->row(kFleet[2].key());
        QTest::mouseClick(zoChild<QPushButton>(compass, "btnTarFMUpdateInfo"), Qt::LeftButton);
        const QString name = compass->info().name;
        QCOMPARE(boxes().value(0).title, name + QStringLiteral(" MsgDetailInfo"));
        QCOMPARE(boxes().value(0).text, name + QStringLiteral(" V1.0.7\n\nMsgReleaseNote\nnotes"));
        // So does a serial-bus module's, whose row is its node's.
        ZoModuleFMInfoForm *tunex = window->row(kFleet[3].key());
        QTest::mouseClick(zoChild<QPushButton>(tunex, "btnTarFMUpdateInfo"), Qt::LeftButton);
        QCOMPARE(boxes().value(1).text,
            tunex->info().name + QStringLiteral(" V%1\n\nMsgReleaseNote\nnotes").arg(kFleet[3].to));

        // The history, open through the run, shows its flashes once it ends.
        QTest::mouseClick(zoChild<QPushButton>(window.get(), "btnHistory"), Qt::LeftButton);
        auto *history = window->findChild<ZoHistoryForm *>();
        QVERIFY(history && history->isVisible() && history->rows().isEmpty());

        QTest::mouseClick(upgrade, Qt::LeftButton);
        QVERIFY(zoWaitFor([&] { return window->engine()->isUpgrading(); }, 5000));
        // While a flash must not be cut, the window says so, and only then.
        auto *alarm = zoChild<QLabel>(window.get(), "labelAlarmTip");
        const QString doNotCut = QStringLiteral("LabDoNotDisconnect");
        if (!wrongHeader)
            QVERIFY(zoWaitFor([&] { return alarm->text() == doNotCut; }, 10000));
        QVERIFY(!window->close());
        QVERIFY(window->isVisible());
        const QList<Box> asked = boxes(QStringLiteral("MsgExitOrNot"));
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].title, QStringLiteral("MsgPleaseConfirm"));
        QCOMPARE(asked[0].buttons, QMessageBox::Yes | QMessageBox::Cancel);
        QCOMPARE(asked[0].defaultButton, QMessageBox::Cancel);
        QCOMPARE(asked[0].icon, QMessageBox::Warning);

        QVERIFY(zoWaitFor([&] { return !boxes(message).isEmpty(); }, 90000));
        QTest::qWait(300);
        QVERIFY(alarm->text() != doNotCut);
        QCOMPARE(boxes(message).size(), 1);
        QCOMPARE(boxes(message)[0].title, QStringLiteral("MsgInfo"));
        if (message.endsWith(QLatin1Char(':'))) // the device it stopped at, by name
            QVERIFY(boxes(message)[0].text.startsWith(
                message + window->row(kFleet[failed].key())->info().name));
        for (int i = 0; i < kFleet.size(); ++i) {
            const Device &d = kFleet[i];
            ZoModuleFMInfoForm *row = window->row(d.key());
            QVERIFY2(row && window->rowWidgets().contains(row), qPrintable(d.simName()));
            if (i == failed) {
                QTEST(resultOf(row), "failedResult");
                QTEST(tipOf(row), "failedState");
                QCOMPARE(
                    ZoUtils::versionText(row->info().curVersion), QStringLiteral("V") + d.from);
                continue;
            }
            if (failed >= 0 && !wrongHeader)
                continue; // the run stopped before it came to this one
            QCOMPARE(resultOf(row), QStringLiteral(":/resource/moduleupgradedsucc.png"));
            QCOMPARE(tipOf(row), QStringLiteral("LabUpgradeDone"));
            QCOMPARE(ZoUtils::versionText(row->info().curVersion), QStringLiteral("V") + d.to);
        }
        QVERIFY(!window->engine()->isUpgrading());
        QVERIFY(upgrade->isEnabled());

        // What the run put on the history, as the window's view shows it.
        QVERIFY(history->isVisible());
        QCOMPARE(history->eid(), window->engine()->roster().core().serial);
        if (message == QLatin1String("MsgAllDevUpgraded")) {
            QCOMPARE(history->rows().size(), kFleet.size());
            QCOMPARE(history->timeline()->lanes().size(), kFleet.size());
            // Rolling back reaches the engine, whose refusal is told: this
            // station never confirmed the versions the devices ran before.
            const int requests = sim->events("request").size();
            QTest::mouseClick(zoChild<QPushButton>(history, "btnRollBack"), Qt::LeftButton);
            QVERIFY(zoWaitFor(
                [&] { return !boxes(QStringLiteral("MsgRollbackNoImage")).isEmpty(); }, 5000));
            QVERIFY(!history->isVisible());
            for (const QJsonObject &o : sim->events("request").mid(requests))
                QVERIFY2(zoText(o, "cmd") != QLatin1String("enterBootloader"),
                    qPrintable(zoText(o, "dev")));
        } else {
            QVERIFY(!history->rows().isEmpty());
        }
    }

    // A core left in its bootloader sends no telemetry: the search asks its
    // bootloader on the silent link, the row says where it is, and the upgrade
    // ends with the core confirmed; a flash history that cannot be written
    // (beneath a file) is told once.
    void coreInBootloader()
    {
        const QList<Device> core {kFleet[0]};
        QVERIFY(sim->start(Sim::Udp, writeScenario(core),
            {QStringLiteral("--fault"), QStringLiteral("core:bootloader")}));
        QVERIFY(zoTestServeCatalogue(*cloud, core));
        QVERIFY(QFile(work.filePath(QStringLiteral("f"))).open(QIODevice::WriteOnly));
        openWindow(Sim::Udp, QString(), work.filePath(QStringLiteral("f/history.sqlite")));
        const ZoDeviceKey key = core[0].key();
        QVERIFY(zoWaitFor([&] { return window->row(key) != nullptr; }, 15000));
        QCOMPARE(tipOf(window->row(key)), QStringLiteral("LabInBootloader"));
        auto *upgrade = zoChild<QPushButton>(window.get(), "btnAllUpgrade");
        QVERIFY(zoWaitFor([&] { return upgrade->isEnabled(); }, 15000));
        QTest::mouseClick(upgrade, Qt::LeftButton);
        QVERIFY(zoWaitFor([&] { return window->engine()->isUpgrading(); }, 5000));
        QVERIFY(zoWaitFor([&] { return !window->engine()->isUpgrading(); }, 60000));
        QCOMPARE(resultOf(window->row(key)), QStringLiteral(":/resource/moduleupgradedsucc.png"));
        QCOMPARE(ZoUtils::versionText(window->row(key)->info().curVersion),
            QStringLiteral("V") + core[0].to);
        QTRY_COMPARE(boxes(QStringLiteral("MsgHistoryUnwritable")).size(), 1);
    }

    // A module left in its bootloader that no catalogue file names takes the
    // image its type last confirmed on this aircraft at this station (the
    // first run put it in the cache), and the window tells which, once.
    void strandedFromCacheIsTold()
    {
        const QList<Device> fleet {kFleet[0], kFleet[2]}; // the core, the compass
        imageCache = work.filePath(QStringLiteral("images"));
        for (const bool stranded : {false, true}) {
            window.reset();
            sim = std::make_unique<Sim>();
            QVERIFY(sim->start(Sim::Udp, writeScenario(fleet),
                stranded
                    ? QStringList {QStringLiteral("--fault"), QStringLiteral("38.0:bootloader")}
                    : QStringList()));
            QVERIFY(zoTestServeCatalogue(*cloud, stranded ? fleet.mid(0, 1) : fleet));
            openWindow(Sim::Udp, QString(), work.filePath(QStringLiteral("cache-history.sqlite")));
            auto *upgrade = zoChild<QPushButton>(window.get(), "btnAllUpgrade");
            QVERIFY(zoWaitFor([&] { return upgrade->isEnabled(); }, 15000));
            if (stranded)
                break;
            QTest::mouseClick(upgrade, Qt::LeftButton);
            QVERIFY(zoWaitFor(
                [&] { return !boxes(QStringLiteral("MsgAllDevUpgraded")).isEmpty(); }, 60000));
        }
        QTRY_COMPARE(boxes(QStringLiteral("MsgImageFromCache")).size(), 1);
        int airframe = 0;
        const QString name = ZoUtils::deviceName(tdu1(fleet[1].type), airframe);
        QCOMPARE(boxes(QStringLiteral("MsgImageFromCache"))[0].text,
            QStringLiteral("MsgImageFromCacheThisAircraft:%1 V%2").arg(name, fleet[1].to));
    }

    // The link form's Off button during a transfer asks first. Refused, the
    // transfer goes on and the form still shows the link open; agreed, the
    // run stops at once: nothing more is sent, and no end of a run is told.
    void linkOffDuringTransfer_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("No") << int(QMessageBox::No);
        QTest::newRow("Yes") << int(QMessageBox::Yes);
    }
    void linkOffDuringTransfer()
    {
        QFETCH(int, answer);
        const QList<Device> fleet {zoTestFleet()[0], zoTestFleet()[4]};
        // Slow answers keep the core's transfer, the run's last, going for
        // seconds.
        QVERIFY(sim->start(Sim::Udp, writeScenario(fleet),
            {QStringLiteral("--fault"), QStringLiteral("core:latency-ms=20")}));
        QVERIFY(zoTestServeCatalogue(*cloud, fleet));
        openWindow(Sim::Udp);
        auto *upgrade = zoChild<QPushButton>(window.get(), "btnAllUpgrade");
        QVERIFY(zoWaitFor([&] { return upgrade->isEnabled(); }, 15000));
        const auto blocks = [&] {
            return sim->events("request", QStringLiteral("core"), QStringLiteral("dataBlock"))
                .size();
        };
        QTest::mouseClick(upgrade, Qt::LeftButton);
        QVERIFY(zoWaitFor([&] { return blocks() >= 3; }, 30000));

        QTest::mouseClick(zoChild<QPushButton>(window.get(), "btnDLSetting"), Qt::LeftButton);
        ZoDataLinkSettingForm *form = window->linkSettingsForm();
        auto *off = zoChild<QPushButton>(form, "btnOpenCom");
        QVERIFY(form->isVisible() && form->isOpen());
        QCOMPARE(off->text(), QStringLiteral("OFF"));
        answers << answer;
        QTest::mouseClick(off, Qt::LeftButton);
        QVERIFY(zoWaitFor(
            [&] { return !boxes(QStringLiteral("MsgStopUpgradeOrNot")).isEmpty(); }, 5000));
        const Box asked = boxes(QStringLiteral("MsgStopUpgradeOrNot"))[0];
        QCOMPARE(asked.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(asked.defaultButton, QMessageBox::No);

        const bool stopped = answer == QMessageBox::Yes;
        QTest::qWait(300);
        QCOMPARE(window->engine()->isUpgrading(), !stopped);
        QCOMPARE(form->isOpen(), !stopped);
        QCOMPARE(off->text(), stopped ? QStringLiteral("ON") : QStringLiteral("OFF"));
        const int sent = blocks();
        QTest::qWait(1000);
        QCOMPARE(blocks() > sent, !stopped);
        QVERIFY(boxes(QStringLiteral("MsgAllDevUpgraded")).isEmpty());
    }

    // Nothing answers: the window asks Retry or Cancel; after a retry that
    // finds nothing again it offers to add the core by hand as well. Add
    // saves and closes the link settings and shows the add-core form in the
    // window's middle. A serial port that the user may not open says so in
    // the same box, each time.
    void notFoundOffersRetryThenAdd_data()
    {
        QTest::addColumn<bool>("denied");
        QTest::newRow("no port") << false;
#ifdef Q_OS_LINUX
        QTest::newRow("a port the user may not open") << true;
#endif
    }
    void notFoundOffersRetryThenAdd()
    {
        QFETCH(bool, denied);
        ZoTestPty pty;
        QString hint;
#ifdef Q_OS_LINUX
        const QByteArray node = QFile::encodeName(pty.slaveName());
        std::optional<PermissionsApply> permissions;
        if (denied) {
            QVERIFY(pty.isValid() && ::chmod(node.constData(), 0) == 0);
            permissions.emplace();
            if (::faccessat(AT_FDCWD, node.constData(), R_OK | W_OK, AT_EACCESS) == 0)
                QSKIP("this process opens a node whatever its permissions");
            hint = QStringLiteral("MsgSerialPortDenied:%1\n\n").arg(pty.slaveName());
        }
#endif
        openWindow(-1, denied ? pty.slaveName() : QString()); // no aircraft on any link
        answers << int(QMessageBox::Yes) << int(QMessageBox::No);
        auto *linkSettings = window->findChild<ZoDataLinkSettingForm *>();
        linkSettings->show();
        const QString saved = work.filePath(QStringLiteral("sysconfig.xml"));
        QFile::remove(saved);
        ZoSearchPlaneDeviceForm *form = window->searchForm();
        QVERIFY(zoWaitFor([&] { return window->engine()->search()->isActive(); }, 5000));
        QVERIFY(form->isVisible());
        QCOMPARE(form->geometry().center(), window->rect().center());
        QCOMPARE(zoChild<QLabel>(form, "labelSearchPrgDesc")->text(),
            QStringLiteral("MsgDeviceSearching... .."));
        QVERIFY(zoWaitFor([&] { return boxes().size() >= 2; }, 20000));
        QTest::qWait(200);
        const QList<Box> shown = boxes();
        QCOMPARE(shown.size(), 2);
        using Captions = QMap<QMessageBox::StandardButton, QString>;
        QCOMPARE(shown[0].text, hint + QStringLiteral("MsgFCSNotFoundRetryCancel"));
        QCOMPARE(shown[0].captions,
            (Captions {{QMessageBox::Yes, QStringLiteral("BtnRetry")},
                {QMessageBox::Cancel, QStringLiteral("BtnCancel")}}));
        QCOMPARE(shown[1].text, hint + QStringLiteral("MsgFCSNotFoundRetryAddCancel"));
        QCOMPARE(shown[1].captions,
            (Captions {{QMessageBox::Yes, QStringLiteral("BtnRetry")},
                {QMessageBox::No, QStringLiteral("BtnAdd")},
                {QMessageBox::Cancel, QStringLiteral("BtnCancel")}}));
        for (const Box &b : shown) {
            QCOMPARE(b.title, QStringLiteral("MsgInfo"));
            QCOMPARE(b.icon, QMessageBox::Question);
        }
        QVERIFY(!window->searchForm()->isVisible());
        QVERIFY(!linkSettings->isVisible());
        QVERIFY(QFile::exists(saved));
        auto *addCore = window->findChild<ZoAddGNCForm *>();
        QVERIFY(addCore && addCore->isVisible());
        QVERIFY((addCore->geometry().center() - window->rect().center()).manhattanLength() <= 2);
        // No device rows, and nothing can be upgraded.
        for (QWidget *row : window->rowWidgets())
            QVERIFY(!qobject_cast<ZoModuleFMInfoForm *>(row));
        QVERIFY(!zoChild<QPushButton>(window.get(), "btnAllUpgrade")->isEnabled());
    }
};

QTEST_MAIN(TstZoTolMainWindow)
#include "tst_zotolmainwindow.moc"
