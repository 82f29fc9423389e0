#include "../protocol/ZoProtocolTestUtil.h"
#include "ZoBootCommands.h"
#include "ZoBootloaderProbe.h"
#include "ZoTestLooperPeer.h"

#include <QtTest>

#include <memory>

// The probe over a real looper on loopback UDP, against a peer that plays
// the buses behind the core: it notes each force report it is sent and
// answers for the bootloaders of the row, in the form of their bus kind
// (kind 2 long, kind 3 short over CAN, kind 4 short over the serial bus).
class TstZoBootloaderProbe : public QObject
{
    Q_OBJECT

    static constexpr int ListenMs = 200;
    // Commands go 20 ms apart; a longer pause is the probe listening.
    static constexpr int GapMs = 120;

    ZoTestLooperPeer link;
    ZoMsgLooper *looper = nullptr;
    std::unique_ptr<ZoBootCommands> commands;

    QStringList bootloaders; // "38", "77.2": who answers
    QStringList stray; // who reports once, asked or not
    bool twice = false;
    QStringList sent; // "can", "77.1", "|" for a pause
    QElapsedTimer sinceLast;

    void report(tdu1 type, tdu1 number)
    {
        const QByteArray version = QByteArray(1, char(type)) + "\x01\x02\x03";
        QByteArray sub;
        const bool bus = type == 77 || type == 86;
        if (bus || type == 79 || type == 83)
            sub = QByteArray(bus ? "\x9b\x0a\xa0\xfc" : "\x5f\x0a\xf1\x06", 4) + char(type)
                + char(number) + "\x41\x04" + version;
        else // 0x81 0x22, the version record at 24 of 50 bytes
            sub = QByteArray("\x5f\x34\xf2\x06\x81\x22", 6) + QByteArray(22, '\0') + version
                + QByteArray(22, '\0');
        for (int i = twice ? 2 : 1; i > 0; --i)
            link.send(appFrame(sub));
    }

    void answer(const QString &asked)
    {
        for (const QString &b : qAsConst(bootloaders)) {
            const tdu1 type = tdu1(b.section(QLatin1Char('.'), 0, 0).toInt());
            if (b == asked || (asked == QLatin1String("can") && !b.contains(QLatin1Char('.'))))
                report(type, tdu1(b.section(QLatin1Char('.'), 1).toInt()));
        }
        for (const QString &s : std::exchange(stray, {}))
            report(tdu1(s.section(QLatin1Char('.'), 0, 0).toInt()),
                tdu1(s.section(QLatin1Char('.'), 1).toInt()));
    }

    void onFrame(const QByteArray &d)
    {
        // Sub-messages after AB 0E L; the sequence one says nothing here.
        for (int i = 3; i + 2 < d.size() - 2; i += 2 + tdu1(d[i + 1])) {
            const QByteArray data = d.mid(i + 2, tdu1(d[i + 1]));
            QString asked;
            if (d[i] == '\x5b' && data.startsWith("\xf1\x06"))
                asked = data.size() == 3
                    ? QStringLiteral("can")
                    : QStringLiteral("%1.%2").arg(tdu1(data[2])).arg(tdu1(data[3]));
            else if (d[i] == '\x9b' && data.startsWith("\xa0\xfc"))
                asked = QStringLiteral("%1.%2").arg(tdu1(data[2])).arg(tdu1(data[3]));
            else
                continue;
            if (!sent.isEmpty() && sinceLast.elapsed() > GapMs)
                sent << QStringLiteral("|");
            sent << asked;
            sinceLast.start();
            answer(asked);
        }
    }

    QString texts(const QList<ZoBootloaderProbe::Found> &found)
    {
        QStringList t;
        for (const ZoBootloaderProbe::Found &f : found) {
            t << QStringLiteral("%1/%2").arg(f.version.type).arg(f.number);
            if (f.version.major != 1 || f.version.minor != 2 || f.version.revision != 3)
                t.last() += QStringLiteral("(version?)");
        }
        return t.join(QLatin1Char(' '));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(link.start(this, [this](const QByteArray &d) { onFrame(d); }));
        looper = link.looper.get();
        commands = std::make_unique<ZoBootCommands>(looper);
    }

    void cleanupTestCase() { QVERIFY(link.stop()); }

    void init()
    {
        sent.clear();
        bootloaders.clear();
        stray.clear();
        twice = false;
    }

    // What to ask, who sits in a bootloader ("+" also answers twice, "!"
    // reports once unasked at the first command), then what was sent, with
    // "|" where the probe listened before its next phase, and what it
    // reports as found. Kind 2 is asked with one bare command and found
    // under number 0; kinds 3 and 4 by type and number, kind 3 in a phase of
    // its own after the rest (the looper reads its short replies only then).
    void probe_data()
    {
        QTest::addColumn<QString>("row"); // asks; bootloaders -> sent; found
        QTest::newRow("nothing to ask") << "; 38 -> ; ";
        QTest::newRow("only cores and CAN modules named") << "80 38; 38 -> ; ";
        QTest::newRow("two CAN modules to one command") << "can; 38 39 -> can; 38/0 39/0";
        QTest::newRow("an answer heard twice is found once") << "can; 38+ -> can; 38/0";
        QTest::newRow("bus nodes one by one") << "77.1 77.2 86.3; 77.2 -> 77.1 77.2 86.3; 77/2";
        QTest::newRow("addressed CAN alone, in its phase") << "79.5; 79.5 -> 79.5; 79/5";
        QTest::newRow("addressed CAN after the rest")
            << "can 79.5 77.1 83.2; 38 79.5 83.2 -> can 77.1 | 79.5 83.2; 38/0 79/5 83/2";
        QTest::newRow("a short CAN reply unread outside that phase") << "can; 79.5! -> can; ";
        QTest::newRow("a bootloader not asked still counts") << "77.1; 86.4! -> 77.1; 86/4";
    }

    void probe()
    {
        QFETCH(QString, row);
        const QStringList sides = row.split(QStringLiteral(" -> "));
        const QStringList in = sides[0].split(QLatin1Char(';'));
        QList<ZoDeviceKey> addressed;
        bool askCan = false;
        for (const QString &a : in[0].split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (a == QLatin1String("can"))
                askCan = true;
            else
                addressed << ZoDeviceKey(tdu1(a.section(QLatin1Char('.'), 0, 0).toInt()),
                    tdu1(a.section(QLatin1Char('.'), 1).toInt()));
        }
        for (QString b : in[1].split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            twice = twice || b.endsWith(QLatin1Char('+'));
            if (b.endsWith(QLatin1Char('!')))
                stray << b.chopped(1);
            else
                bootloaders << b.remove(QLatin1Char('+'));
        }
        const QStringList out = sides[1].split(QLatin1Char(';'));
        const QString wantSent = out[0].trimmed();

        ZoBootloaderProbe probe(looper, commands.get(), link.lease.get());
        probe.setListenMs(ListenMs);
        QList<QList<ZoBootloaderProbe::Found>> finished;
        connect(&probe, &ZoBootloaderProbe::sigFinished, this,
            [&finished](const QList<ZoBootloaderProbe::Found> &f) { finished << f; });
        QElapsedTimer clock;
        clock.start();
        probe.start(askCan, addressed);
        // Nothing to ask ends within the call, so a run can start at once.
        QCOMPARE(finished.size(), wantSent.isEmpty() ? 1 : 0);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
        const qint64 took = clock.elapsed();
        QTest::qWait(50); // a late command would show
        QCOMPARE(sent.join(QLatin1Char(' ')), wantSent);
        QCOMPARE(texts(finished[0]), out[1].trimmed());
        // Each phase listens its whole time after its last command
        // (coarse timers may fire up to 5 % early).
        const int phases = wantSent.isEmpty() ? 0 : 1 + wantSent.count(QLatin1Char('|'));
        QVERIFY2(took >= phases * ListenMs * 95 / 100, qPrintable(QString::number(took)));
        QVERIFY(!probe.isActive());
        QTRY_COMPARE(looper->protocolMode(), tds4(ZoMsgLooper::ModeApplication));
        QCOMPARE(looper->moduleVariant(), tdu1(0));
    }

    // A cancelled probe reports nothing, in either phase, and gives the
    // looper back its plain reading; the next start hears only its own.
    void cancel()
    {
        bootloaders = QStringList {QStringLiteral("38"), QStringLiteral("79.5")};
        ZoBootloaderProbe probe(looper, commands.get(), link.lease.get());
        probe.setListenMs(ListenMs);
        QList<QList<ZoBootloaderProbe::Found>> finished;
        connect(&probe, &ZoBootloaderProbe::sigFinished, this,
            [&finished](const QList<ZoBootloaderProbe::Found> &f) { finished << f; });
        probe.start(true, {ZoDeviceKey(79, 5)});
        QTRY_COMPARE(sent, QStringList {QStringLiteral("can")});
        probe.cancel();
        QVERIFY(!probe.isActive());
        probe.start(false, {ZoDeviceKey(79, 5)});
        QTRY_COMPARE(looper->moduleVariant(), tdu1(3));
        QTRY_COMPARE(sent.last(), QStringLiteral("79.5"));
        probe.cancel();
        QTRY_COMPARE(looper->moduleVariant(), tdu1(0));
        QTest::qWait(2 * ListenMs);
        QVERIFY(finished.isEmpty());
        QCOMPARE(looper->protocolMode(), tds4(ZoMsgLooper::ModeApplication));

        bootloaders.clear();
        probe.start(true, {});
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(texts(finished[0]), QString());
    }
};

QTEST_GUILESS_MAIN(TstZoBootloaderProbe)
#include "tst_zobootloaderprobe.moc"
