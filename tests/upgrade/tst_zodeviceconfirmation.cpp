#include "ZoBootCommands.h"
#include "ZoDeviceConfirmation.h"
#include "ZoTestFirmware.h"
#include "ZoTestLooperPeer.h"

#include <QtTest>

#include <memory>

// The read-back after a transfer over a real looper on loopback UDP: a peer
// notes each query the looper sends, and at the row's query the looper
// reports the row's answers, as it does when it decodes them.
namespace {

using Verdict = ZoDeviceConfirmation::Verdict;
constexpr int QueryMs = 50;

// "80=1.9.0" or "77.2=3.1.2": type, number, version.
tVersion version(const QString &t, tdu1 *number = nullptr)
{
    const QStringList v = t.section(QLatin1Char('='), 1).split(QLatin1Char('.'));
    if (number)
        *number = tdu1(t.section(QLatin1Char('='), 0, 0).section(QLatin1Char('.'), 1).toInt());
    return {tdu1(t.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('='), 0, 0).toInt()),
        tdu1(v.value(0).toInt()), tdu1(v.value(1).toInt()), tdu1(v.value(2).toInt())};
}

tFcsDateTime at(const QString &hms)
{
    return zoTestTime(QStringLiteral("2026-01-01 ") + hms);
}

} // namespace

class TstZoDeviceConfirmation : public QObject
{
    Q_OBJECT

    ZoTestLooperPeer link;
    ZoMsgLooper *looper = nullptr;
    std::unique_ptr<ZoBootCommands> commands;
    QString sent; // "v" core version, "t" compile time, "i" identity, "m" module version
    std::function<void()> onVersionQuery;

    void onFrame(const QByteArray &d)
    {
        for (int i = 3; i + 2 < d.size() - 2; i += 2 + tdu1(d[i + 1])) {
            const QByteArray s = d.mid(i, 4);
            const char *q = s.startsWith("\xe2")                                             ? "v"
                : s.startsWith("\xe3")                                                       ? "t"
                : s.startsWith("\xeb")                                                       ? "i"
                : s == QByteArray("\x5b\x0a\xf0\x80") || s == QByteArray("\x9b\x04\xa0\xfa") ? "m"
                                                                                             : "";
            sent += QLatin1String(q);
            if ((*q == 'v' || *q == 'm') && onVersionQuery)
                onVersionQuery();
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<Verdict>();
        QVERIFY(link.start(this, [this](const QByteArray &d) { onFrame(d); }));
        looper = link.looper.get();
        commands = std::make_unique<ZoBootCommands>(looper);
    }

    void cleanupTestCase() { QVERIFY(link.stop()); }

    // The target ("m" a module, "c" the core; "eid" its identity A1 known
    // before the run, "time" its build 10:00:00 checked), then from which
    // version query on ("@n", else the first) what it answers: a module's
    // "type.number=version", the core's "type=version", "t" a build time,
    // "i" an identity. After the arrow, the verdict.
    void verdict_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("module asked until it answers") << "m77.2=3.1.2; @4 77.2=3.1.2 -> Confirmed";
        QTest::newRow("module silent") << "m77.2=3.1.2; -> Silent";
        QTest::newRow("module, old version") << "m77.2=3.1.2; 77.2=3.1.1 -> WrongVersion";
        QTest::newRow("its sibling node is not it") << "m77.2=3.1.2; 77.1=3.1.2 -> Silent";
        QTest::newRow("CAN module names its node") << "m38=3.1.2; 38.7=3.1.2 -> Confirmed";
        QTest::newRow("another module type") << "m38=3.1.2; 39=3.1.2 -> Silent";
        QTest::newRow("core back after restarting")
            << "c80=1.9.0 eid; @3 80=1.9.0 iA1 -> Confirmed";
        QTest::newRow("core never told its identity") << "c80=1.9.0; 80=1.9.0 -> Confirmed";
        QTest::newRow("another aircraft came back")
            << "c80=1.9.0 eid; 80=1.9.0 iB2 -> OtherAircraft";
        QTest::newRow("identity never comes") << "c80=1.9.0 eid; 80=1.9.0 -> OtherAircraft";
        QTest::newRow("core, old version") << "c80=1.9.0 eid; 80=1.8.2 iA1 -> WrongVersion";
        QTest::newRow("same build") << "c80=1.9.0 eid time; 80=1.9.0 iA1 t10:00:00 -> Confirmed";
        QTest::newRow("other build")
            << "c80=1.9.0 eid time; 80=1.9.0 iA1 t10:21:00 -> WrongVersion";
        QTest::newRow("build never told") << "c80=1.9.0 time; 80=1.9.0 -> WrongVersion";
    }

    void verdict()
    {
        QFETCH(QString, row);
        const QStringList in = row.section(QStringLiteral(" -> "), 0, 0).split(QLatin1Char(';'));
        const QStringList target = in[0].split(QLatin1Char(' '));
        QStringList answers = in[1].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const int from = !answers.isEmpty() && answers[0].startsWith(QLatin1Char('@'))
            ? answers.takeFirst().mid(1).toInt()
            : 1;

        ZoDeviceConfirmation::Target t;
        t.core = target[0].startsWith(QLatin1Char('c'));
        t.version = version(target[0].mid(1), &t.devNum);
        t.devId = t.version.type;
        t.key = ZoDeviceKey(t.devId, t.devNum);
        t.compileTime = at(QStringLiteral("10:00:00"));
        t.checkCompileTime = target.contains(QLatin1String("time"));
        t.eid = target.contains(QLatin1String("eid")) ? QStringLiteral("A1") : QString();

        int queries = 0;
        onVersionQuery = [&] {
            if (++queries != from)
                return;
            for (const QString &a : qAsConst(answers)) {
                if (a.startsWith(QLatin1Char('i'))) {
                    Q_EMIT looper->sigGNCEID(a.mid(1));
                } else if (a.startsWith(QLatin1Char('t'))) {
                    Q_EMIT looper->sigGNCCompileTime(at(a.mid(1)));
                } else {
                    tdu1 number = 0;
                    const tVersion v = version(a, &number);
                    if (t.core)
                        Q_EMIT looper->sigGNCFMVersion(v);
                    else
                        Q_EMIT looper->sigCANDevVersion(v, number, QString());
                }
            }
        };
        sent.clear();
        ZoDeviceConfirmation c(looper, commands.get());
        ZoUpgradeTimings timings;
        timings.confirmModuleMs = 300;
        timings.confirmCoreMs = 400;
        timings.confirmQueryMs = QueryMs;
        c.setTimings(timings);
        QSignalSpy finished(&c, &ZoDeviceConfirmation::sigFinished);
        QElapsedTimer clock;
        clock.start();
        c.start(t);
        // A module is asked at once; a restarting core is left alone first.
        QTRY_VERIFY(!sent.isEmpty());
        if (t.core)
            QVERIFY2(clock.elapsed() >= QueryMs * 9 / 10, qPrintable(sent));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 3000);
        onVersionQuery = nullptr;
        QCOMPARE(finished[0][0].value<ZoDeviceKey>(), t.key);
        const char *name
            = QMetaEnum::fromType<Verdict>().valueToKey(int(finished[0][1].value<Verdict>()));
        QCOMPARE(QString::fromLatin1(name), row.section(QStringLiteral(" -> "), 1));
        // What it said is handed on, whatever the verdict; silence says nothing.
        QCOMPARE(finished[0][2].value<tVersion>().type == 0, !strcmp(name, "Silent"));
        QVERIFY(!c.isActive());
        // Asked on every interval until the answer came.
        QVERIFY2(queries >= (answers.isEmpty() ? 5 : from), qPrintable(sent));
        QTest::qWait(2 * QueryMs);
        QCOMPARE(finished.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TstZoDeviceConfirmation)
#include "tst_zodeviceconfirmation.moc"
