#include "ZoBootCommands.h"
#include "ZoDeviceRoster.h"
#include "ZoFRMFileStore.h"
#include "ZoFirmwareSource.h"
#include "ZoRunJournal.h"
#include "ZoTestFirmware.h"
#include "ZoTestLooperPeer.h"
#include "ZoUpgradePolicy.h"
#include "ZoUpgradeRun.h"

#include <QCryptographicHash>
#include <QtTest>

#include <memory>

// An upgrade-all run over a real looper on loopback UDP. The peer reads what
// the run sends and answers on the looper's thread as the looper does once it
// has decoded a reply: bootloader acknowledgements by offset (a CAN module's
// counted, one block at a time), then the read-back's version, build and
// identity. The test is the run's owner: a device that reports its target is
// marked as running it before the next pick.
namespace {

using End = ZoUpgradeRun::End;
const char *const Results[]
    = {"Skipped", "UpToDate", "Upgraded", "NotConfirmed", "Failed", "Interrupted"};
const char *const Failures[] = {"", "RefusedFile", "NoTarget", "NotRecorded", "SendFailed",
    "BlockTimeout", "LinkLost", "WrongVersion", "Silent", "OtherAircraft"};

tFcsDateTime at(const char *hms)
{
    return zoTestTime(QStringLiteral("2026-01-01 ") + QLatin1String(hms));
}

} // namespace

class TstZoUpgradeRun : public QObject
{
    Q_OBJECT

    ZoTestLooperPeer link;
    ZoMsgLooper *looper = nullptr;
    std::unique_ptr<ZoBootCommands> commands;
    ZoUpgradeRun *runUnderTest = nullptr;
    QString script; // what the aircraft does, see run_data
    int moduleBlocks = -1; // -1: no module key frame yet
    bool entered = false; // a bootloader was asked for

    // On the looper's thread, as its decoder would.
    void fromLooper(std::function<void(ZoMsgLooper *)> f)
    {
        QMetaObject::invokeMethod(looper, [l = looper, f] { f(l); });
    }

    bool has(const char *word) const { return script.contains(QLatin1String(word)); }

    void onFrame(const QByteArray &d)
    {
        // The core's bootloader frames, raw: '!' the key frame, '1' a block.
        if (d.size() >= 8 && d.startsWith("\xeb\x90") && tdu1(d[2]) == d.size()) {
            const tds4 offset = (tdu1(d[6]) | tdu1(d[7]) << 8) * 32;
            if (d[5] == '!')
                fromLooper([](ZoMsgLooper *l) { Q_EMIT l->sigGNCUpgEraseFlashAck(); });
            else if (d[5] == '1' && has("cut"))
                runUnderTest->fail(End::LinkLost);
            else if (d[5] == '1' && !has("silent"))
                fromLooper([offset](ZoMsgLooper *l) { Q_EMIT l->sigGNCUpgradeProgAck(offset); });
            return;
        }
        // Application frames: sub-messages after AB 0E L.
        for (int i = 3; i + 2 < d.size() - 2; i += 2 + tdu1(d[i + 1])) {
            const QByteArray s = d.mid(i + 2, tdu1(d[i + 1]));
            const char id = d[i];
            entered = entered || id == '\xe1' || (id == '\x5b' && s.startsWith("\xf0\x06"));
            if (id == '\x5b' && s.startsWith("\xf0\x06"))
                moduleBlocks = -1;
            else if (id == '\x5b' && s.startsWith("\xf2\x06") && moduleBlocks++ < 0)
                fromLooper([](ZoMsgLooper *l) { Q_EMIT l->sigCANDevUpgEraseFlashAck(); });
            else if (id == '\x5b' && s.startsWith("\xf2\x06") && !has("silent"))
                fromLooper([n = moduleBlocks - 1](
                               ZoMsgLooper *l) { Q_EMIT l->sigCANDevUpgradeProgAck(n * 64); });
            else if (has("quiet"))
                continue;
            else if (id == '\x5b' && s.startsWith("\xf0\x80")) // a CAN module's version
                fromLooper([t = tdu1(s[2])](ZoMsgLooper *l) {
                    Q_EMIT l->sigCANDevVersion({t, 3, 1, 2}, 0, QString());
                });
            else if (id == '\xe2') // the core's version
                fromLooper([](ZoMsgLooper *l) { Q_EMIT l->sigGNCFMVersion({80, 1, 9, 0}); });
            else if (id == '\xe3') // its build
                fromLooper([b = has("build")](ZoMsgLooper *l) {
                    Q_EMIT l->sigGNCCompileTime(at(b ? "10:21:00" : "10:00:00"));
                });
            else if (id == '\xeb') // its identity
                fromLooper([o = has("other")](ZoMsgLooper *l) {
                    Q_EMIT l->sigGNCEID(QLatin1String(o ? "B2" : "A1"));
                });
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(link.start(this, [this](const QByteArray &d) { onFrame(d); }));
        looper = link.looper.get();
        commands = std::make_unique<ZoBootCommands>(looper);
    }

    void cleanupTestCase() { QVERIFY(link.stop()); }

    // The roster: "c80" the core at 1.7.5 (identity A1), "m38" a CAN module
    // at 3.1.0, each with a file of its target (1.9.0, 3.1.2) built at
    // 10:00:00; "=" already at it, "-" no file, "!" a file whose header names
    // another type; "s77.2" a bus module left in its bootloader with no
    // target; "custom" the branch, "unwritable" the journal's file. The
    // aircraft: "silent" no block is acknowledged, "cut" the link is lost at
    // the first block, "quiet" no read-back answers, "other" another identity
    // answers, "build" another build. Then each device's end, the run's end
    // ("first": before any device started) and what the journal keeps.
    void run_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("nothing due") << "c80= ; -> ; Completed first ;";
        QTest::newRow("no file for the core") << "c80- ; -> ; FirmwareUnusable 80 first ;";
        QTest::newRow("journal cannot be written")
            << "c80 unwritable ; -> ; JournalUnwritable 80 first ;";
        QTest::newRow("header names another core") << "c80! ; -> ; FirmwareUnusable 80 first ;";
        QTest::newRow("core back with its target") << "c80 ; -> 80 Upgraded ; Completed ;";
        QTest::newRow("module, pause, core")
            << "m38 c80 ; -> 38 Upgraded, 80 Upgraded ; Completed ;";
        QTest::newRow("no file for the next module")
            << "m38 m39- c80 ; -> 38 Upgraded ; FirmwareUnusable 39 ;";
        QTest::newRow("core silent to its blocks")
            << "c80 ; silent -> 80 Failed BlockTimeout ; DeviceFailed 80 ; 80";
        QTest::newRow("module silent to its blocks")
            << "m38 c80 ; silent -> 38 Failed BlockTimeout ; DeviceFailed 38 ; 38";
        QTest::newRow("link lost in a transfer")
            << "c80 ; cut -> 80 Interrupted LinkLost ; LinkLost 80 ; 80";
        QTest::newRow("module silent after its transfer")
            << "m38 ; quiet -> 38 NotConfirmed Silent ; NotConfirmed 38 ; 38";
        QTest::newRow("another aircraft came back")
            << "c80 ; other -> 80 NotConfirmed OtherAircraft ; NotConfirmed 80 ; 80";
        QTest::newRow("custom branch, other build")
            << "c80 custom ; build -> 80 NotConfirmed WrongVersion ; NotConfirmed 80 ;";
        QTest::newRow("custom branch, same build") << "c80 custom ; -> 80 Upgraded ; Completed ;";
        QTest::newRow("stable branch, other build") << "c80 ; build -> 80 Upgraded ; Completed ;";
        QTest::newRow("stranded module without a target")
            << "s77.2 c80 ; -> 80 Upgraded ; StrandedWithoutTarget 77.2 ;";
    }

    void run()
    {
        QFETCH(QString, row);
        const QStringList in = row.section(QStringLiteral(" -> "), 0, 0).split(QLatin1Char(';'));
        const QStringList out = row.section(QStringLiteral(" -> "), 1).split(QLatin1Char(';'));
        script = in[1];
        entered = false;
        ZoDeviceRoster roster;
        ZoUpgradePolicy policy;
        ZoFRMFileStore store;
        ZoFirmwareSource source(&store, QStringLiteral("http://127.0.0.1:9"));
        // Beneath a file, where no folder can be made.
        QTemporaryDir dir;
        QVERIFY(QFile(dir.filePath(QStringLiteral("f"))).open(QIODevice::WriteOnly));
        ZoRunJournal journal {in[0].contains(QLatin1String("unwritable"))
                ? dir.filePath(QStringLiteral("f/journal.json"))
                : QString()};
        QList<ZoFRMFileInfo> files;
        for (const QString &t : in[0].split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (!t.at(1).isDigit()) { // a word, not a device
                policy.setCustomBranch(policy.customBranch() || t == QLatin1String("custom"));
                continue;
            }
            const tdu1 type = tdu1(t.mid(1, 2).toInt());
            if (t.startsWith(QLatin1Char('s')))
                roster.insertStranded(
                    {type, 1, 0, 0}, tdu1(t.section(QLatin1Char('.'), 1).toInt()));
            if (!t.startsWith(QLatin1Char('c')) && !t.startsWith(QLatin1Char('m')))
                continue;
            const bool core = t.startsWith(QLatin1Char('c'));
            const tVersion target {
                type, tdu1(core ? 1 : 3), tdu1(core ? 9 : 1), tdu1(core ? 0 : 2)};
            ZoDevFMInfo r = ZoDeviceRoster::reportRecord(
                t.endsWith(QLatin1Char('=')) ? target : tVersion {type, target.major, 0, 0}, 0, {});
            r.tarVersion = target;
            if (core) {
                roster.insertCore(r, false);
                roster.setCoreSerial(QStringLiteral("A1"));
            } else {
                roster.insertModuleRow(r);
            }
            tVersion named = target;
            named.type = tdu1(t.endsWith(QLatin1Char('!')) ? type + 1 : type);
            ZoFRMFileInfo f;
            f.fid = type;
            f.version = target;
            f.setBytes(zoTestFirmwareBytes(300, named, 300, char(type), at("10:00:00")));
            if (!t.endsWith(QLatin1Char('-')))
                files << f;
        }
        source.setLocalFirmware(files);

        ZoUpgradeRun r(
            looper, commands.get(), link.lease.get(), &roster, &policy, &source, &journal);
        runUnderTest = &r;
        ZoUpgradeTimings timings;
        timings.enterBootloaderMs = 30;
        timings.eraseMs = 300;
        timings.blockMs = 60;
        timings.betweenDevicesMs = 50;
        timings.confirmQueryMs = 50;
        timings.confirmModuleMs = 500;
        timings.confirmCoreMs = 1000;
        r.setTimings(timings);
        QStringList devices;
        connect(&r, &ZoUpgradeRun::sigDeviceFinished, this,
            [&](const ZoDeviceOutcome &o, tFcsDateTime) {
                devices << QStringLiteral("%1 %2 %3")
                               .arg(o.key.text(), QLatin1String(Results[int(o.result)]),
                                   QLatin1String(Failures[int(o.failure)]))
                               .trimmed();
                // Named by the file it was sent, whatever its end.
                const auto f = std::find_if(files.cbegin(), files.cend(),
                    [&o](const ZoFRMFileInfo &x) { return x.fid == o.key.type; });
                QVERIFY(f != files.cend());
                QCOMPARE(o.firmwareId, o.key.type);
                QCOMPARE(o.sha256,
                    QString::fromLatin1(
                        QCryptographicHash::hash(f->bytes(), QCryptographicHash::Sha256).toHex()));
                QVERIFY2(o.blocksSent > 0, qPrintable(o.key.text()));
                if (o.result == ZoDeviceOutcome::Result::Upgraded)
                    roster.record(o.key)->curVersion = o.reported;
            });
        QStringList ends;
        connect(&r, &ZoUpgradeRun::sigEnded, this, [&](End end, ZoDeviceKey key, bool first) {
            ends << (QLatin1String(QMetaEnum::fromType<End>().valueToKey(int(end)))
                + (key.isNull() ? QString() : QLatin1Char(' ') + key.text())
                + (first ? QStringLiteral(" first") : QString()));
        });
        r.start();
        QTRY_COMPARE_WITH_TIMEOUT(ends.size(), 1, 10000);
        QVERIFY(!r.isRunning());
        QCOMPARE(devices.join(QStringLiteral(", ")), out[0].trimmed());
        QCOMPARE(ends[0], out[1].trimmed());
        // Refused before its bootloader was asked for.
        QCOMPARE(entered, !out[0].trimmed().isEmpty());
        QStringList kept;
        for (const ZoRunJournal::Entry &e : journal.entries())
            kept << e.key.text();
        QCOMPARE(kept.join(QLatin1Char(' ')), out[2].trimmed());
        // A run that ends by itself hands the link back to the application;
        // after fail() the link is gone, and its next opening does that.
        if (!has("cut"))
            QTRY_COMPARE(looper->protocolMode(), tds4(ZoMsgLooper::ModeApplication));
        looper->setProtocol(ZoMsgLooper::ModeApplication, 0);
        QTest::qWait(100); // nothing more comes
        QCOMPARE(ends.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TstZoUpgradeRun)
#include "tst_zoupgraderun.moc"
