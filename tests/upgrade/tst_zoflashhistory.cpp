#include "ZoFlashHistory.h"
#include "ZoTestFiles.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

using Row = ZoFlashHistory::Row;

namespace {

const QDateTime base = QDateTime(QDate(2026, 3, 1), QTime(12, 0, 0, 250), Qt::UTC);

// A 5 GB file and a time with milliseconds: what a narrower column or a
// rounded time would not give back.
Row flash(const QString &eid, int type, int number, int atSeconds)
{
    return {0, base.addSecs(atSeconds), "bench-3", "tech", "4.1.0", "tcp:127.0.0.1:8001", eid, type,
        number, QStringLiteral("SN%1").arg(number), "1.2.3", "1.3.0", "1.3.0", QString(64, 'a'),
        5000000000LL, "custom:night", "upgraded", "", 12.375, 2, "", ""};
}

// Five flashes, ids 1..5: E1's 20/1, 20/2 and core, then E2's 20/1 twice.
// The first one's time is given at +02:00.
QList<Row> fill(ZoFlashHistory &h)
{
    QList<Row> rows {flash(QStringLiteral("E1"), 20, 1, 0), flash(QStringLiteral("E1"), 20, 2, 60),
        flash(QStringLiteral("E1"), 80, 0, 120), flash(QStringLiteral("E2"), 20, 1, 180),
        flash(QStringLiteral("E2"), 20, 1, 240)};
    rows[0].time = rows[0].time.toOffsetFromUtc(7200);
    for (Row &r : rows)
        if (!h.append(r))
            return {};
    return rows;
}

QList<qint64> idsOf(const QList<Row> &rows)
{
    QList<qint64> ids;
    for (const Row &r : rows)
        ids << r.id;
    return ids;
}

// Runs SQL on the file behind the history's back, as someone covering tracks would.
void tamper(const QString &path, const QStringList &statements)
{
    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const QString &sql : statements)
            QVERIFY2(q.exec(sql), qPrintable(sql));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
}

} // namespace

class TstZoFlashHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void appendAndFilter_data()
    {
        QTest::addColumn<QString>("eid");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("sinceSeconds"); // -1: no time bound
        QTest::addColumn<QList<qint64>>("ids");
        QTest::newRow("all") << QString() << -1 << -1 << -1 << QList<qint64> {1, 2, 3, 4, 5};
        QTest::newRow("aircraft") << "E2" << -1 << -1 << -1 << QList<qint64> {4, 5};
        QTest::newRow("device") << QString() << 20 << 1 << -1 << QList<qint64> {1, 4, 5};
        QTest::newRow("since, inclusive")
            << QString() << -1 << -1 << 120 << QList<qint64> {3, 4, 5};
        QTest::newRow("all three") << "E1" << 20 << 2 << 60 << QList<qint64> {2};
    }
    // Rows come back as appended, also to a later instance, in every field.
    void appendAndFilter()
    {
        QFETCH(QString, eid);
        QFETCH(int, type);
        QFETCH(int, number);
        QFETCH(int, sinceSeconds);
        QFETCH(QList<qint64>, ids);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("state/tolvane/history.sqlite"));
        QList<Row> appended;
        {
            ZoFlashHistory h(path);
            QVERIFY(h.open());
            appended = fill(h);
        }
        ZoFlashHistory h(path);
        QVERIFY(h.open());
        const Row r = h.rows().first();
        const Row &first = appended.first();
        QCOMPARE(r.time, base);
        QCOMPARE(r.time.timeSpec(), Qt::UTC);
        QCOMPARE(r.size, first.size);
        QCOMPARE(r.seconds, first.seconds);
        QCOMPARE(QStringList({r.serial, r.target, r.source, r.failure, r.hash}),
            QStringList({first.serial, first.target, first.source, QString(), first.hash}));
        ZoFlashHistory::Filter f {
            eid, type, number, sinceSeconds < 0 ? QDateTime() : base.addSecs(sinceSeconds), {}};
        QCOMPARE(idsOf(h.rows(f)), ids);
        const auto verdict = h.verify();
        QVERIFY2(verdict.ok, qPrintable(verdict.why));
        QCOMPARE(verdict.rows, qint64(5));
    }

    void tampering_data()
    {
        QTest::addColumn<QStringList>("sql");
        QTest::addColumn<bool>("appendAfter");
        QTest::addColumn<qint64>("broken");
        QTest::newRow("serial edited")
            << QStringList {"UPDATE flash SET serial='X' WHERE id=3"} << false << qint64(3);
        QTest::newRow("hash rewritten")
            << QStringList {"UPDATE flash SET hash=lower(hex(randomblob(32))) WHERE id=4"} << false
            << qint64(4);
        QTest::newRow("middle row deleted")
            << QStringList {"DELETE FROM flash WHERE id=3"} << false << qint64(4);
        QTest::newRow("first row deleted")
            << QStringList {"DELETE FROM flash WHERE id=1"} << false << qint64(2);
        QTest::newRow("newest deleted, then one appended")
            << QStringList {"DELETE FROM flash WHERE id=5"} << true << qint64(6);
    }
    void tampering()
    {
        QFETCH(QStringList, sql);
        QFETCH(bool, appendAfter);
        QFETCH(qint64, broken);
        QTemporaryDir dir;
        ZoFlashHistory h(dir.filePath(QStringLiteral("history.sqlite")));
        QVERIFY(h.open());
        QCOMPARE(fill(h).size(), 5);
        tamper(h.path(), sql);
        Row later = flash(QStringLiteral("E3"), 20, 1, 300);
        QVERIFY(!appendAfter || h.append(later));
        const auto verdict = h.verify();
        QVERIFY(!verdict.ok);
        QCOMPARE(verdict.firstBroken, broken);
    }

    void setAside_data()
    {
        QTest::addColumn<QByteArray>("garbage"); // empty: made through SQL
        QTest::addColumn<QStringList>("sql");
        QTest::addColumn<QString>("expected");
        QTest::newRow("garbage") << QByteArray(8192, '\x5a') << QStringList() << ".bad";
        QTest::newRow("foreign tables")
            << QByteArray() << QStringList {"CREATE TABLE notes (a TEXT)"} << ".bad";
        QTest::newRow("ours, newer schema")
            << QByteArray()
            << QStringList {"PRAGMA application_id=1414940232", "PRAGMA user_version=3",
                   "CREATE TABLE flash (a)"}
            << ".bad";
        QTest::newRow(".bad taken") << QByteArray(100, '\0') + "x" << QStringList() << ".bad.2";
    }
    void setAside()
    {
        QFETCH(QByteArray, garbage);
        QFETCH(QStringList, sql);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        if (expected == QLatin1String(".bad.2")) {
            QVERIFY(zoWriteFile(path + QStringLiteral(".bad"), "older"));
            QVERIFY(zoWriteFile(path + QStringLiteral(".bad.1"), "older"));
        }
        if (!garbage.isEmpty())
            QVERIFY(zoWriteFile(path, garbage));
        else
            tamper(path, sql);
        const QByteArray before = zoReadFile(path);
        ZoFlashHistory h(path);
        QVERIFY(h.open());
        QCOMPARE(h.setAside(), path + expected);
        QCOMPARE(zoReadFile(h.setAside()), before);
        Row r = flash(QString(), 80, 0, 0); // a core in its bootloader tells no EID
        QVERIFY(h.append(r));
        QCOMPARE(r.id, qint64(1));
        QVERIFY(h.verify().ok);
        ZoFlashHistory again(path); // now ours: left in place
        QVERIFY(again.open());
        QVERIFY(again.setAside().isEmpty());
    }

    // Two processes appending at once: every row is kept, in one chain.
    // A file schema 1 wrote (no run column) is brought up to schema 2 in
    // place: its rows still verify, a new row keeps its run, and the hash
    // covers that run.
    void schemaOneMigrates()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        {
            ZoFlashHistory h(path);
            QVERIFY(h.open());
            QCOMPARE(fill(h).size(), 5);
        }
        tamper(path,
            {QStringLiteral("ALTER TABLE flash DROP COLUMN run"),
                QStringLiteral("PRAGMA user_version=1")});
        ZoFlashHistory h(path);
        QVERIFY(h.open());
        QVERIFY(h.setAside().isEmpty());
        QVERIFY(h.verify().ok);
        Row r = flash(QStringLiteral("E1"), 20, 1, 300);
        r.run = QStringLiteral("run-6");
        QVERIFY(h.append(r));
        const QList<Row> rows = h.rows();
        QCOMPARE(rows.size(), 6);
        QCOMPARE(rows.first().run, QString());
        QCOMPARE(rows.last().run, QStringLiteral("run-6"));
        QVERIFY(h.verify().ok);
        tamper(path, {QStringLiteral("UPDATE flash SET run = 'run-7' WHERE id = 6")});
        QCOMPARE(h.verify().firstBroken, qint64(6));
    }

    void concurrentAppenders()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        QProcess a, b;
        for (QProcess *p : {&a, &b})
            p->start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--append"), path, QStringLiteral("1000")});
        for (QProcess *p : {&a, &b}) {
            QVERIFY(p->waitForFinished(60000));
            QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
        }
        ZoFlashHistory h(path);
        QVERIFY(h.open());
        QCOMPARE(h.rows().size(), 2000);
        QVERIFY(h.verify().ok);
    }

    // A kill in the middle of appending loses at most the row in flight.
    void killedAppender()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("--append"), path, QStringLiteral("1000000")});
        QVERIFY(child.waitForStarted());
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += child.readAllStandardOutput()).count('\n') > 200, 20000);
        child.kill();
        QVERIFY(child.waitForFinished());
        out += child.readAllStandardOutput();
        const QList<QByteArray> written = out.trimmed().split('\n');
        const qint64 lastCommitted = written.last().toLongLong();
        ZoFlashHistory h(path);
        QVERIFY(h.open());
        QVERIFY(h.setAside().isEmpty());
        const qint64 kept = h.rows().size();
        QVERIFY2(kept == lastCommitted || kept == lastCommitted + 1,
            qPrintable(QStringLiteral("%1 kept, %2 committed").arg(kept).arg(lastCommitted)));
        QVERIFY(h.verify().ok);
    }
};

// `--append PATH N`: a child that appends N rows, printing each id once committed.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--append")) {
        ZoFlashHistory h(args[2]);
        QString why;
        bool ok = h.open(&why);
        for (int i = 0; ok && i < args[3].toInt(); ++i) {
            Row r = flash(QStringLiteral("E%1").arg(app.applicationPid()), 20, i % 8, i);
            if ((ok = h.append(r, &why))) {
                std::printf("%lld\n", r.id);
                std::fflush(stdout);
            }
        }
        if (!ok)
            std::fprintf(stderr, "%s\n", qPrintable(why));
        return ok ? 0 : 1;
    }
    TstZoFlashHistory test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_zoflashhistory.moc"
