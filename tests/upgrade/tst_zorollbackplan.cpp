#include "ZoRollbackPlan.h"

#include <QtTest>

// What a rollback takes back, from history rows alone. A row is
// "EID RUN TYPE.NUMBER BEFORE>CONFIRMED [RESULT]" ("-" for no run), oldest
// first; an image is "sha-TYPE-VERSION-EID", kept unless listed missing.
namespace {

QList<ZoFlashHistory::Row> rowsOf(const QString &text)
{
    QList<ZoFlashHistory::Row> rows;
    const QDateTime t0(QDate(2026, 5, 1), QTime(8, 0), Qt::UTC);
    for (const QString &line : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList f = line.simplified().split(QLatin1Char(' '));
        ZoFlashHistory::Row r;
        r.id = rows.size() + 1;
        r.time = t0.addSecs(60 * r.id);
        r.eid = f[0];
        r.run = f[1] == QLatin1String("-") ? QString() : f[1];
        r.type = f[2].section(QLatin1Char('.'), 0, 0).toInt();
        r.number = f[2].section(QLatin1Char('.'), 1).toInt();
        r.before = f[3].section(QLatin1Char('>'), 0, 0);
        r.confirmed = f[3].section(QLatin1Char('>'), 1);
        r.result = f.value(4, QStringLiteral("upgraded"));
        r.sha256 = QStringLiteral("sha-%1-%2-%3").arg(r.type).arg(r.confirmed, r.eid);
        rows << r;
    }
    return rows;
}

} // namespace

class TstZoRollbackPlan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void plan_data()
    {
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QString>("missing"); // images not in the cache
        QTest::addColumn<QString>("plan"); // steps "KEY:FROM>TO@IMAGE", or "refused REASON KEY"
        QTest::newRow("latest run by its id") << "E1 r1 77.1 1.0.4>2.0.4; E1 r2 77.1 2.0.4>2.1.0"
                                              << ""
                                              << "77.1:2.1.0>2.0.4@sha-77-2.0.4-E1";
        QTest::newRow("unchanged and failed devices skipped")
            << "E1 r1 77.1 1.0.4>2.0.4; E1 r2 77.1 2.0.4>2.1.0; E1 r2 80.0 1.8.2>1.8.2;"
               "E1 r2 78.0 1.0.0>1.0.0 failed"
            << ""
            << "77.1:2.1.0>2.0.4@sha-77-2.0.4-E1";
        QTest::newRow("every device of the run, each its own image")
            << "E1 r1 77.1 1.0.4>2.0.4; E1 r1 77.2 1.0.4>2.0.4; E1 r2 77.1 2.0.4>2.1.0;"
               "E1 r2 77.2 2.0.4>2.1.0"
            << ""
            << "77.1:2.1.0>2.0.4@sha-77-2.0.4-E1 77.2:2.1.0>2.0.4@sha-77-2.0.4-E1";
        QTest::newRow("image never confirmed") << "E1 r1 77.1 1.0.4>2.0.4"
                                               << ""
                                               << "refused 3 77.1";
        QTest::newRow("image gone from the cache refuses all")
            << "E1 r1 77.1 1.0.4>2.0.4; E1 r1 78.0 1.0.0>1.1.0; E1 r2 77.1 2.0.4>2.1.0;"
               "E1 r2 78.0 1.1.0>1.2.0"
            << "sha-78-1.1.0-E1"
            << "refused 3 78";
        QTest::newRow("core back across the 2.20 line")
            << "E1 r1 80.0 2.18.0>2.19.5; E1 r2 80.0 2.19.5>2.20.1"
            << ""
            << "refused 4 80";
        QTest::newRow("core back above the line")
            << "E1 r1 80.0 2.20.0>2.20.1; E1 r2 80.0 2.20.1>2.21.0"
            << ""
            << "80:2.21.0>2.20.1@sha-80-2.20.1-E1";
        QTest::newRow("another aircraft's later run ignored")
            << "E1 r1 77.1 1.0.4>2.0.4; E1 r2 77.1 2.0.4>2.1.0; E2 r3 77.1 2.1.0>2.2.0"
            << ""
            << "77.1:2.1.0>2.0.4@sha-77-2.0.4-E1";
        QTest::newRow("image confirmed on another aircraft only")
            << "E2 r1 77.1 1.0.4>2.0.4; E1 r2 77.1 2.0.4>2.1.0"
            << ""
            << "77.1:2.1.0>2.0.4@sha-77-2.0.4-E2";
        QTest::newRow("rows from before runs") << "E1 - 77.1 1.0.4>2.0.4"
                                               << ""
                                               << "refused 1 0";
        QTest::newRow("latest run changed nothing")
            << "E1 r1 77.1 1.0.4>2.0.4; E1 r2 77.1 2.0.4>2.0.4 failed"
            << ""
            << "refused 2 0";
    }

    void plan()
    {
        QFETCH(QString, rows);
        QFETCH(QString, missing);
        const ZoRollbackPlan p = ZoRollbackPlan::make(QStringLiteral("E1"), rowsOf(rows),
            [&missing](const QString &sha, tdu1 type, ZoFRMFileInfo &file) {
                file.fid = type;
                return !missing.split(QLatin1Char(' ')).contains(sha);
            });
        QStringList got;
        for (const ZoRollbackPlan::Step &s : p.steps)
            got << QStringLiteral("%1:%2>%3@%4").arg(s.key.text(), s.from, s.to, s.sha256);
        if (!p.ok())
            got << QStringLiteral("refused %1 %2").arg(int(p.refusal)).arg(p.refused.text());
        QTEST(got.join(QLatin1Char(' ')), "plan");
    }
};

QTEST_GUILESS_MAIN(TstZoRollbackPlan)
#include "tst_zorollbackplan.moc"
