#include "ZoDeviceRoster.h"
#include "ZoTestFirmware.h"
#include "ZoUpgradePolicy.h"

#include <QtTest>

// What is due and in which order, without an engine around it. A row is
// one line of text: versions as "type:major.minor.revision", builds as
// "hh:mm:ss" on 2026-01-01 or as "yyyy-MM-ddThh:mm:ss", then flags.
namespace {

tVersion ver(const QString &text)
{
    const QStringList t = text.split(QLatin1Char(':'));
    const QStringList p = t.value(1).split(QLatin1Char('.'));
    return {tdu1(t[0].toInt()), tdu1(p.value(0).toInt()), tdu1(p.value(1).toInt()),
        tdu1(p.value(2).toInt())};
}

tFcsDateTime when(const QString &text)
{
    QDateTime t = QDateTime::fromString(text, Qt::ISODate);
    if (!t.isValid())
        t = QDateTime(QDate(2026, 1, 1), QTime::fromString(text, QStringLiteral("hh:mm:ss")));
    return zoTestTime(t);
}

} // namespace

class TstZoUpgradePolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Version numbers compare without their type, field by field (older,
    // same and the custom branch's any difference are decide's rows).
    void newerVersion_data()
    {
        QTest::addColumn<QString>("row"); // current, target, "custom"
        QTest::addColumn<bool>("newer");
        QTest::newRow("minor beats revision") << "80:1.7.9 80:1.8.0" << true;
        QTest::newRow("same number, other type") << "80:1.8.2 81:1.8.2" << false;
    }

    void newerVersion()
    {
        QFETCH(QString, row);
        const QStringList w = row.split(QLatin1Char(' '));
        ZoUpgradePolicy p;
        p.setCustomBranch(w.size() > 2);
        QTEST(p.isNewerVersion(ver(w[0]), ver(w[1])), "newer");
    }

    // Two builds are the same within 20 minutes of the same hour, in either
    // order; only a custom branch looks at builds at all.
    void compileTime_data()
    {
        QTest::addColumn<QString>("row"); // current, target, "custom"
        QTest::addColumn<bool>("different");
        QTest::newRow("stable never") << "10:00:00 2027-01-01T10:00:00" << false;
        QTest::newRow("20 min") << "10:00:00 10:20:00 custom" << false;
        QTest::newRow("20 min 1 s") << "10:00:00 10:20:01 custom" << true;
        QTest::newRow("20 min 1 s earlier") << "10:20:01 10:00:00 custom" << true;
        QTest::newRow("seconds borrow") << "10:00:59 10:20:58 custom" << false;
        QTest::newRow("next hour, 1 min") << "10:59:30 11:00:30 custom" << true;
        QTest::newRow("next day") << "10:00:00 2026-01-02T10:00:00 custom" << true;
    }

    void compileTime()
    {
        QFETCH(QString, row);
        const QStringList w = row.split(QLatin1Char(' '));
        ZoUpgradePolicy p;
        p.setCustomBranch(w.size() > 2);
        QTEST(p.isCompileTimeDifferent(when(w[0]), when(w[1])), "different");
    }

    // What a new target makes of a record: offered or not, flagged, held
    // back below the 2.20 line, and due for a run afterwards.
    void decide_data()
    {
        // Current, target, then: "module" row (else the core's), "p2"
        // protocol type 2 (else 1), the "custom" branch and its "key",
        // "flagged" before, "@hh:mm:ss" the target's build against a core
        // built 10:00:00 (else none reported). After the arrow: offered,
        // flagged, held back, due.
        QTest::addColumn<QString>("row");
        QTest::newRow("newer") << "80:1.7.5 80:1.8.2 -> 1001";
        QTest::newRow("same") << "80:1.8.2 80:1.8.2 -> 0000";
        QTest::newRow("older") << "80:1.9.0 80:1.8.2 -> 0000";
        QTest::newRow("older, custom") << "80:1.9.0 80:1.8.2 custom -> 1001";
        QTest::newRow("flagged, same") << "38:1.0.7 38:1.0.7 module flagged -> 1101";
        QTest::newRow("flagged, no target") << "38:1.0.7 0:0.0.0 module flagged -> 1100";
        QTest::newRow("line") << "41:2.19.9 41:2.20.0 -> 0010";
        QTest::newRow("line, custom") << "41:2.19.9 41:2.20.0 custom -> 0010";
        QTest::newRow("line, custom key") << "41:2.19.9 41:2.20.0 custom key -> 1001";
        QTest::newRow("line, type 2") << "42:2.19.9 42:2.20.0 p2 -> 1001";
        QTest::newRow("line, module row") << "41:2.19.9 41:2.20.0 module -> 1001";
        QTest::newRow("above the line") << "41:2.20.0 41:2.20.1 -> 1001";
        QTest::newRow("below the line") << "41:2.19.0 41:2.19.9 -> 1001";
        QTest::newRow("sibling airframe") << "80:1.8.2 81:1.8.2 -> 1101";
        QTest::newRow("sibling airframe, older") << "80:1.8.2 82:1.8.0 -> 1101";
        QTest::newRow("other family") << "80:1.8.2 41:1.8.2 -> 0000";
        QTest::newRow("custom, other build") << "80:1.8.2 80:1.8.2 custom @10:21:00 -> 1101";
        QTest::newRow("custom, same build") << "80:1.8.2 80:1.8.2 custom @10:20:00 -> 0000";
        QTest::newRow("custom, no build") << "80:1.8.2 80:1.8.2 custom -> 0000";
        QTest::newRow("stable, other build") << "80:1.8.2 80:1.8.2 @10:21:00 -> 0000";
    }

    void decide()
    {
        QFETCH(QString, row);
        const QString result = row.section(QStringLiteral(" -> "), 1);
        const QStringList w = row.section(QStringLiteral(" -> "), 0, 0).split(QLatin1Char(' '));
        const QString built = w.filter(QStringLiteral("@")).value(0).mid(1);
        ZoUpgradePolicy p;
        p.setCustomBranch(w.contains(QLatin1String("custom")));
        ZoDevFMInfo r;
        r.key = ZoDeviceKey(ver(w[0]).type);
        r.curVersion = ver(w[0]);
        r.tarVersion = ver(w[1]);
        r.curCompileTime = when(QStringLiteral("10:00:00"));
        r.tarCompileTime = when(built.isEmpty() ? QStringLiteral("12:00:00") : built);
        r.needUpgrade = w.contains(QLatin1String("flagged"));
        const bool offered = p.decide(r, !w.contains(QLatin1String("module")),
            w.contains(QLatin1String("p2")) ? 2 : 1, w.contains(QLatin1String("key")),
            !built.isEmpty());
        QCOMPARE(QString::asprintf("%d%d%d%d", offered, r.needUpgrade, p.isHeldBack(r.key),
                     p.needsUpgrade(r)),
            result);
    }

    // A hold ends with the next target that does not cross the line.
    void holdLifts()
    {
        ZoUpgradePolicy p;
        ZoDevFMInfo r;
        r.key = ZoDeviceKey(41);
        r.curVersion = ver(QStringLiteral("41:2.19.9"));
        r.tarVersion = ver(QStringLiteral("41:2.20.0"));
        QVERIFY(!p.decide(r, true, 1, false, false));
        r.tarVersion = ver(QStringLiteral("41:2.19.10"));
        QVERIFY(p.decide(r, true, 1, false, false));
        QVERIFY(!p.isHeldBack(r.key) && p.needsUpgrade(r));
    }

    // The order of a run over the roster, each pick flashed before the
    // next. Roster: "m" module rows, "b" and "c" core rows (a board, the
    // core), "a" the core's record under another protocol type; "type.number",
    // "@n" the number the device reported, "=" already at its target, "^" in
    // its bootloader, "!" there without a target, "<" an older target a
    // rollback takes it back to (only those are due then). Picks:
    // "type/number", the core marked "*".
    void pick_data()
    {
        QTest::addColumn<QString>("row"); // roster -> picks
        QTest::newRow("modules by key, boards, core")
            << "c80 b83@4 m77.2 m38@7 m77.1 m79@5 -> 38/0 77/1 77/2 79/5 83/4 80/0*";
        QTest::newRow("a bootloader first") << "c80 m38 m77.2^ -> 77/2 38/0 80/0*";
        QTest::newRow("boards in key order") << "c80 b45 b44 -> 44/0 45/0 80/0*";
        QTest::newRow("core under another protocol type") << "c80= a81 -> 81/0*";
        QTest::newRow("nothing due") << "c80= b83= m38= -> ";
        QTest::newRow("a bus kind held by a bootloader") << "c80 b44 b83 m38! -> 83/0 80/0*";
        QTest::newRow("rollback: its devices only") << "c80 m38 m77.1< m77.2< -> 77/1 77/2";
        QTest::newRow("rollback: a bootloader still first") << "c80< m38 m77.2^ -> 77/2 80/0*";
    }

    void pick()
    {
        QFETCH(QString, row);
        const QStringList sides = row.split(QStringLiteral(" -> "));
        ZoDeviceRoster rows;
        const QRegularExpression token(
            QStringLiteral("^([mbca])(\\d+)(?:\\.(\\d+))?(?:@(\\d+))?([=!^<]?)$"));
        QSet<ZoDeviceKey> rollback;
        for (const QString &t : sides[0].split(QLatin1Char(' '))) {
            const QRegularExpressionMatch m = token.match(t);
            QVERIFY2(m.hasMatch(), qPrintable(t));
            const tdu1 type = tdu1(m.captured(2).toInt());
            ZoDevFMInfo r;
            r.key = ZoDeviceKey(type, tdu1(m.captured(3).toInt()));
            r.devIdx = tdu1(m.captured(4).toInt());
            r.curVersion = {type, 1, 0, 0};
            r.tarVersion = {type, 1, tdu1(m.captured(5) == QLatin1String("=") ? 0 : 1), 0};
            if (m.captured(5) == QLatin1String("<")) {
                r.tarVersion = {type, 0, 9, 0};
                rollback.insert(r.key);
            } else if (!m.captured(5).isEmpty() && m.captured(5) != QLatin1String("=")) {
                r.presence = ZoDevFMInfo::Presence::InBootloader;
            }
            if (m.captured(5) == QLatin1String("!"))
                r.tarVersion = {};
            const QChar kind = m.captured(1).at(0);
            if (kind == QLatin1Char('m'))
                rows.insertModuleRow(r);
            else if (kind == QLatin1Char('a'))
                rows.insertAlternate(r);
            else
                rows.insertCoreRow(r, kind == QLatin1Char('b'));
        }
        ZoUpgradePolicy p;
        p.setRollback(rollback);
        QStringList got;
        for (ZoUpgradePolicy::Pick k = p.pick(rows); k.devId != 0 && got.size() < 10;
             k = p.pick(rows)) {
            ZoDevFMInfo *r = rows.record(k.key);
            QVERIFY(r && r->tarVersion.type == k.devId);
            got << QStringLiteral("%1/%2%3").arg(k.devId).arg(k.devNum).arg(
                k.isCore ? QStringLiteral("*") : QString());
            r->curVersion = r->tarVersion;
        }
        QCOMPARE(got.join(QLatin1Char(' ')), sides[1]);
    }
};

QTEST_GUILESS_MAIN(TstZoUpgradePolicy)
#include "tst_zoupgradepolicy.moc"
