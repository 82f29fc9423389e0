#include "../protocol/ZoProtocolTestUtil.h"
#include "ZoBootloaderProbe.h"
#include "ZoTestLooperPeer.h"
#include "ZoTestWait.h"

#include <QtTest>

// The probe over a real looper on loopback UDP, against a peer that notes each
// force report it is sent and answers twice for the row's bootloaders in their
// bus kind's form (2 long, 3 short over CAN, 4 short over the serial bus).
namespace {

constexpr int ListenMs = 200;

ZoDeviceKey key(const QString &text) // "77.2", "38"
{
    return ZoDeviceKey(tdu1(text.section('.', 0, 0).toInt()), tdu1(text.section('.', 1).toInt()));
}

QString every(const QString &all) // "79.*": "79 79.1 ... 79.255"
{
    QStringList l;
    for (int n = 0; n < 256; ++n)
        l << ZoDeviceKey(tdu1(all.chopped(2).toInt()), tdu1(n)).text();
    return l.join(' ');
}

} // namespace

class TstZoBootloaderProbe : public QObject
{
    Q_OBJECT

    ZoTestLooperPeer link;
    QStringList bootloaders; // who answers when asked
    QStringList stray; // who reports at the next command, asked or not
    QStringList sent; // "can", "77.1", "|" for a pause
    QElapsedTimer sinceLast;
    std::unique_ptr<ZoBootloaderProbe> p;
    QStringList finished; // what each end reported found
    QElapsedTimer clock;
    QList<qint64> phaseAt; // when each phase after the first began, and the end

    void report(ZoDeviceKey k)
    {
        const QByteArray version = QByteArray(1, char(k.type)) + "\x01\x02\x03";
        const bool bus = k.type == 77 || k.type == 86;
        const QByteArray sub = bus || k.type == 79 || k.type == 83
            ? QByteArray(bus ? "\x9b\x0a\xa0\xfc" : "\x5f\x0a\xf1\x06", 4) + char(k.type)
                + char(k.number) + "\x41\x04" + version
            // 0x81 0x22, the version record at 24 of 50 bytes
            : QByteArray("\x5f\x34\xf2\x06\x81\x22", 6) + QByteArray(22, '\0') + version
                + QByteArray(22, '\0');
        link.send(appFrame(sub));
        link.send(appFrame(sub));
    }

    void onFrame(const QByteArray &d)
    {
        // Sub-messages after AB 0E L; the sequence one says nothing here.
        for (int i = 3; i + 2 < d.size() - 2; i += 2 + tdu1(d[i + 1])) {
            const QByteArray s = d.mid(i + 2, tdu1(d[i + 1]));
            if (!(d[i] == '\x5b' && s.startsWith("\xf1\x06"))
                && !(d[i] == '\x9b' && s.startsWith("\xa0\xfc")))
                continue;
            const QString asked
                = s.size() == 3 ? "can" : ZoDeviceKey(tdu1(s[2]), tdu1(s[3])).text();
            if (!sent.isEmpty() && sinceLast.elapsed() > 120) // commands go 20 ms apart
                sent << "|", phaseAt << clock.elapsed();
            sent << asked;
            sinceLast.start();
            for (const QString &b : std::exchange(stray, {}))
                report(key(b));
            for (const QString &b : qAsConst(bootloaders))
                if (b == asked || (asked == "can" && !b.contains('.')))
                    report(key(b));
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(link.start(this, [this](const QByteArray &d) { onFrame(d); }));
    }
    void cleanupTestCase() { QVERIFY(link.stop()); }

    void init()
    {
        bootloaders = stray = sent = finished = QStringList();
        phaseAt.clear();
        p = std::make_unique<ZoBootloaderProbe>(
            link.looper.get(), link.commands.get(), link.lease.get());
        p->setListenMs(ListenMs);
        // "38 79.5"; "?" after one whose version was not handed on.
        connect(p.get(), &ZoBootloaderProbe::sigFinished, this,
            [this](const QList<ZoBootloaderProbe::Found> &found) {
                QStringList t;
                for (const ZoBootloaderProbe::Found &f : found)
                    t << ZoDeviceKey(f.version.type, f.number).text()
                            + (f.version == tVersion {f.version.type, 1, 2, 3} ? "" : "?");
                finished << t.join(' ');
                phaseAt << clock.elapsed();
            });
    }

    // What to ask; who sits in a bootloader ("!" reports unasked at the first
    // command); what was sent, "|" where the probe listened; what it found.
    // Kind 2 is asked with one bare command and found under number 0, once;
    // kinds 3 and 4 by number, kind 3 in a phase of its own after the rest
    // (the looper reads its short replies only then).
    void probe_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("only cores and CAN modules named: done at once") << "80 38; 38 -> ; ";
        QTest::newRow("kind 2 to one command") << "can; 38 39 -> can; 38 39";
        QTest::newRow("a short CAN reply unread outside that phase") << "can; 79.5! -> can; ";
        QTest::newRow("a bootloader not asked still counts") << "77.1; 86.4! -> 77.1; 86.4";
        // Bus nodes one by one, addressed CAN after the rest: every number of
        // two types per kind, paced over the real timings.
        QTest::newRow("every number, each kind under 2 s")
            << "can 79.* 77.* 83.* 86.*; 38 86.9 79.200 83"
               " -> can 77.* 86.* | 79.* 83.*; 38 86.9 79.200 83";
    }

    void probe()
    {
        QFETCH(QString, row);
        const QStringList f = row.split(QRegularExpression(" *(;|->) *"));
        QList<ZoDeviceKey> addressed;
        for (const QString &a : f[0].split(' ', Qt::SkipEmptyParts))
            for (const QString &k : (a.endsWith('*') ? every(a) : a).split(' '))
                if (k != "can")
                    addressed << key(k);
        for (const QString &b : f[1].split(' ', Qt::SkipEmptyParts))
            (b.endsWith('!') ? stray : bootloaders) << b.chopped(b.endsWith('!'));
        const bool sweep = f[0].contains('*');
        if (sweep)
            p->setTimings(ZoUpgradeTimings());
        clock.start();
        p->start(f[0].contains("can"), addressed);
        // Nothing to ask ends within the call, so a run can start at once.
        QCOMPARE(finished.size(), f[2].isEmpty() ? 1 : 0);
        QVERIFY(zoWaitFor([this] { return finished.size() == 1; }, 5000));
        // Each phase listens its whole time after its last command (whose
        // arrival ends the phase before); a sweep spreads its queries over
        // its time (1 s), and the two stay under 2 s.
        for (int i = 0; !f[2].isEmpty() && i < phaseAt.size(); ++i) {
            const qint64 took = phaseAt[i] - (i ? phaseAt[i - 1] : 0);
            qInfo("probe phase %d: %lld ms", i, took);
            QVERIFY(took >= (sweep ? 1700 : ListenMs * 95 / 100) && took < 2000);
        }
        QTest::qWait(50); // a late command would show
        QString asked = sent.join(' ');
        for (const QString &a : f[2].split(' ', Qt::SkipEmptyParts))
            asked.replace(a.endsWith('*') ? every(a) : a, a);
        QCOMPARE(asked, f[2]);
        QCOMPARE(finished[0], f[3]);
        QVERIFY(!p->isActive());
        QTRY_COMPARE(link.looper->protocolMode(), tds4(ZoMsgLooper::ModeApplication));
        QCOMPARE(link.looper->moduleVariant(), tdu1(0));
    }

    // A cancelled probe reports nothing, in either phase, and gives the
    // looper back its plain reading; the next start hears only its own.
    void cancel()
    {
        bootloaders = QStringList {"38", "79.5"};
        for (const bool can : {true, false}) {
            p->start(can, {ZoDeviceKey(79, 5)});
            QTRY_VERIFY(sent.contains(can ? "can" : "79.5"));
            QTRY_COMPARE(link.looper->moduleVariant(), tdu1(can ? 0 : 3));
            p->cancel();
            QVERIFY(!p->isActive());
            QTRY_COMPARE(link.looper->moduleVariant(), tdu1(0));
        }
        QTest::qWait(2 * ListenMs);
        QVERIFY(finished.isEmpty());
        QCOMPARE(link.looper->protocolMode(), tds4(ZoMsgLooper::ModeApplication));
        bootloaders.clear();
        p->start(true, {});
        QTRY_COMPARE(finished, QStringList {""});
    }
};

QTEST_GUILESS_MAIN(TstZoBootloaderProbe)
#include "tst_zobootloaderprobe.moc"
