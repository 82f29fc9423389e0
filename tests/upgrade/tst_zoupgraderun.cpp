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

// An upgrade-all run over a real looper on loopback UDP. The peer answers what
// the run sends on the looper's thread, as its decoder would: bootloader
// acknowledgements, then the read-back (whose verdicts are rows here, behind
// a real transfer). The test is the run's owner: a device that reports its
// target is marked as running it before the next pick.
namespace {

using End = ZoUpgradeRun::End;
const char *const Results[]
    = {"Skipped", "UpToDate", "Upgraded", "NotConfirmed", "Failed", "Interrupted"};
const char *const Failures[] = {"", "RefusedFile", "NoTarget", "NotRecorded", "Unidentified",
    "SendFailed", "BlockTimeout", "LinkLost", "WrongVersion", "Silent", "OtherAircraft"};

} // namespace

class TstZoUpgradeRun : public QObject
{
    Q_OBJECT

    ZoTestLooperPeer link;
    ZoUpgradeRun *runUnderTest = nullptr;
    QString script; // what the aircraft does, see run_data
    int moduleBlocks = -1; // -1: no module key frame yet
    bool entered = false; // a bootloader was asked for
    int queries = 0; // version queries of the read-back
    QElapsedTimer sinceBlock; // since the core's last block
    qint64 firstCoreQueryMs = -1; // after the core's last block

    bool has(const char *word) const { return script.contains(word); }

    // On the looper's thread, as its decoder would.
    template <typename F> void fromLooper(F f)
    {
        QMetaObject::invokeMethod(link.looper.get(), [l = link.looper.get(), f] { f(l); });
    }

    void onFrame(const QByteArray &d)
    {
        // The core's bootloader frames, raw: '!' the key frame, '1' a block.
        if (d.size() >= 8 && d.startsWith("\xeb\x90") && tdu1(d[2]) == d.size()) {
            const tds4 offset = (tdu1(d[6]) | tdu1(d[7]) << 8) * 32;
            sinceBlock.start();
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
            const bool module = id == '\x5b' && s.startsWith("\xf0\x80");
            if (id == '\xe2' && firstCoreQueryMs < 0 && sinceBlock.isValid())
                firstCoreQueryMs = sinceBlock.elapsed();
            if ((module || id == '\xe2') && ++queries < (has("late") ? 3 : 1))
                continue;
            fromLooper([id, module, type = tdu1(module ? s[2] : 0), w = script](ZoMsgLooper *l) {
                const tdu1 wrong = w.contains("wrong"); // another revision
                if (module) // a CAN module names its node
                    Q_EMIT l->sigCANDevVersion(
                        {tdu1(type + w.contains("astray")), 3, 1, tdu1(2 - wrong)}, 7, QString());
                else if (id == '\xe2')
                    Q_EMIT l->sigGNCFMVersion({80, 1, 9, wrong});
                else if (id == '\xe3' && !w.contains("notime"))
                    Q_EMIT l->sigGNCCompileTime(zoTestTime(
                        w.contains("build") ? "2026-01-01 10:21:00" : "2026-01-01 10:20:00"));
                else if (id == '\xeb' && !w.contains("noid"))
                    Q_EMIT l->sigGNCEID(w.contains("other") ? "B2" : "A1");
            });
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(link.start(this, [this](const QByteArray &d) { onFrame(d); }));
    }
    void cleanupTestCase() { QVERIFY(link.stop()); }

    // The roster: "c80" the core at 1.7.5 (identity A1 unless "anon"; "boot":
    // in its bootloader), "m38" a CAN module at 3.1.0, each with a file of its
    // target (1.9.0, 3.1.2) built at 10:00:00; "=" already at it, "-" no
    // file; "s77.2" a bus module left in its bootloader with no target; the
    // "custom" branch; an "unwritable" journal. The aircraft: "silent" to blocks, "cut" the link
    // at the first block; its read-back answers from the third version query
    // on ("late"), with another revision ("wrong"), as another type
    // ("astray"), without its build ("notime") or identity ("noid"), with
    // another identity ("other"), a build 21 minutes after the file's
    // ("build", else 20). Then each device's end, the run's end ("first":
    // before any device started) and what the journal keeps.
    void run_data()
    {
        QTest::addColumn<QString>("row");
        const auto row
            = [](const char *name, const char *text) { QTest::newRow(name) << QString(text); };
        row("nothing due", "c80=; -> ; Completed first;");
        row("journal unwritable", "c80 unwritable; -> ; JournalUnwritable 80 first;");
        row("module asked until it answers, pause, no file",
            "m38 m39- c80; late -> 38 Upgraded; FirmwareUnusable 39;");
        row("module silent to its blocks",
            "m38 c80; silent -> 38 Failed BlockTimeout; DeviceFailed 38; 38");
        row("link lost", "c80; cut -> 80 Interrupted LinkLost; LinkLost 80; 80");
        row("module, other revision",
            "m38; wrong -> 38 NotConfirmed WrongVersion; NotConfirmed 38;");
        row("module of another type", "m38; astray -> 38 NotConfirmed Silent; NotConfirmed 38; 38");
        row("core, other revision", "c80; wrong -> 80 NotConfirmed WrongVersion; NotConfirmed 80;");
        row("core never told its identity", "c80 anon; -> ; CoreUnidentified 80 first;");
        row("core in its bootloader cannot tell it",
            "c80 anon boot; noid -> 80 Upgraded; Completed;");
        row("identity never comes",
            "c80; noid -> 80 NotConfirmed OtherAircraft; NotConfirmed 80; 80");
        row("another aircraft came back",
            "c80; other -> 80 NotConfirmed OtherAircraft; NotConfirmed 80; 80");
        row("custom branch, other build",
            "c80 custom; build -> 80 NotConfirmed WrongVersion; NotConfirmed 80;");
        row("custom branch, build never told",
            "c80 custom; notime -> 80 NotConfirmed WrongVersion; NotConfirmed 80;");
        row("custom branch, same build, asked until it answers",
            "c80 custom; late -> 80 Upgraded; Completed;");
        row("stable branch, other build", "c80; build -> 80 Upgraded; Completed;");
        row("stranded module", "s77.2 c80; -> 80 Upgraded; StrandedWithoutTarget 77.2;");
    }

    void run()
    {
        QFETCH(QString, row);
        const QStringList f = row.split(QRegularExpression(" *(;|->) *"));
        script = f[1];
        entered = false;
        firstCoreQueryMs = -1;
        sinceBlock.invalidate();
        queries = 0;
        ZoDeviceRoster roster;
        ZoUpgradePolicy policy;
        policy.setCustomBranch(f[0].contains("custom"));
        ZoFRMFileStore store;
        ZoFirmwareSource source(&store, "http://127.0.0.1:9");
        // Beneath a file, where no folder can be made.
        QTemporaryDir dir;
        QVERIFY(QFile(dir.filePath("f")).open(QIODevice::WriteOnly));
        ZoRunJournal journal {
            f[0].contains("unwritable") ? dir.filePath("f/journal.json") : QString()};
        QList<ZoFRMFileInfo> files;
        QMap<int, QString> sha; // of each file
        for (const QString &t : f[0].split(' ', Qt::SkipEmptyParts)) {
            const tdu1 type = tdu1(t.mid(1, 2).toInt());
            const bool core = t.startsWith('c');
            if (t.startsWith('s'))
                roster.insertStranded({type, 1, 0, 0}, tdu1(t.section('.', 1).toInt()));
            if (t.startsWith('s') || !t.at(1).isDigit()) // "custom", "unwritable"
                continue;
            const tVersion target = core ? tVersion {type, 1, 9, 0} : tVersion {type, 3, 1, 2};
            ZoDevFMInfo r = ZoDeviceRoster::reportRecord(
                t.endsWith('=') ? target : tVersion {type, target.major, 0, 0}, 0, {});
            r.tarVersion = target;
            core ? roster.insertCore(r, false) : roster.insertModuleRow(r);
            ZoFRMFileInfo file;
            file.fid = type;
            file.version = target;
            file.setBytes(zoTestFirmwareBytes(
                300, target, 300, char(type), zoTestTime("2026-01-01 10:00:00")));
            sha[type] = QCryptographicHash::hash(file.bytes(), QCryptographicHash::Sha256).toHex();
            if (!t.endsWith('-'))
                files << file;
        }
        roster.setCoreSerial(f[0].contains("anon") ? "" : "A1");
        if (f[0].contains("boot"))
            roster.record(roster.core().key)->presence = ZoDevFMInfo::Presence::InBootloader;
        source.setLocalFirmware(files);

        ZoUpgradeRun r(link.looper.get(), link.commands.get(), link.lease.get(), &roster, &policy,
            &source, &journal);
        runUnderTest = &r;
        ZoUpgradeTimings timings;
        timings.enterBootloaderMs = timings.betweenDevicesMs = timings.confirmQueryMs = 50;
        timings.blockMs = 60;
        timings.confirmModuleMs = timings.confirmCoreMs = 600;
        r.setTimings(timings);
        QStringList devices, ends;
        connect(&r, &ZoUpgradeRun::sigDeviceFinished, this,
            [&](const ZoDeviceOutcome &o, tFcsDateTime) {
                devices << QString("%1 %2 %3")
                               .arg(o.key.text(), Results[int(o.result)], Failures[int(o.failure)])
                               .trimmed();
                // Named by the file it was sent, whatever its end.
                QVERIFY(o.firmwareId == o.key.type && o.blocksSent > 0);
                QCOMPARE(o.sha256, sha.value(o.key.type));
                if (o.result == ZoDeviceOutcome::Result::Upgraded)
                    roster.record(o.key)->curVersion = o.reported;
            });
        connect(&r, &ZoUpgradeRun::sigEnded, this, [&](End end, ZoDeviceKey key, bool first) {
            ends << QString("%1 %2 %3")
                        .arg(QMetaEnum::fromType<End>().valueToKey(int(end)),
                            key.isNull() ? QString() : key.text(), first ? "first" : "")
                        .simplified();
        });
        r.start();
        QTRY_COMPARE_WITH_TIMEOUT(ends.size(), 1, 10000);
        QVERIFY(!r.isRunning());
        QCOMPARE(devices.join(", "), f[2]);
        QCOMPARE(ends[0], f[3]);
        // Refused before its bootloader was asked for; the core asked as
        // soon as it left its bootloader, and a silent device on every
        // interval.
        QCOMPARE(entered, !f[2].isEmpty());
        QVERIFY2(firstCoreQueryMs < 40, qPrintable(QString::number(firstCoreQueryMs)));
        QVERIFY(!f[2].contains("Silent") || queries >= 5);
        QStringList kept;
        for (const ZoRunJournal::Entry &e : journal.entries())
            kept << e.key.text();
        QCOMPARE(kept.join(' '), f[4]);
        // A run that ends by itself hands the link back to the application;
        // after fail() the link is gone, and its next opening does that.
        if (!has("cut"))
            QTRY_COMPARE(link.looper->protocolMode(), tds4(ZoMsgLooper::ModeApplication));
        link.looper->setProtocol(ZoMsgLooper::ModeApplication, 0);
        QTest::qWait(100); // nothing more comes
        QCOMPARE(ends.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TstZoUpgradeRun)
#include "tst_zoupgraderun.moc"
