#include "ZoRunJournal.h"
#include "ZoTestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// A run started moments ago, on a whole second.
const qint64 base = QDateTime::currentMSecsSinceEpoch() / 1000 * 1000;

ZoRunJournal::Entry entry(const QString &eid, tdu1 type, tdu1 number, tdu1 revision = 3)
{
    ZoRunJournal::Entry e;
    e.eid = eid;
    e.key = ZoDeviceKey(type, number);
    e.devId = type;
    e.devNum = number;
    e.core = type == 80;
    e.target = {type, 1, 2, revision};
    e.startedMs = base + 123 + number;
    return e;
}

// Every field as the file holds it.
QByteArray text(const QList<ZoRunJournal::Entry> &entries)
{
    return ZoRunJournal::serialize(entries);
}

// A journal of `count` modules whose device `index` has `field` set to `value`.
QByteArray journalWith(
    int count, int index = -1, const QString &field = {}, const QJsonValue &value = {})
{
    QList<ZoRunJournal::Entry> list;
    for (int i = 0; i < count; ++i)
        list << entry(QStringLiteral("E1"), 20, tdu1(i));
    QJsonObject root = QJsonDocument::fromJson(ZoRunJournal::serialize(list)).object();
    QJsonArray devices = root.value(QStringLiteral("devices")).toArray();
    if (index >= 0) {
        QJsonObject d = devices[index].toObject();
        d.insert(field, value);
        devices[index] = d;
    }
    root.insert(QStringLiteral("devices"), devices);
    return QJsonDocument(root).toJson();
}

} // namespace

class TstZoRunJournal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // What one run records, the next run's instance reads; the file goes
    // with the last entry, and the folder is made when missing.
    void acrossRuns()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("state/run/journal.json"));
        const auto module = entry(QStringLiteral("E1"), 20, 3);
        const auto core = entry(QString(), 80, 0);
        const auto other = entry(QStringLiteral("E2"), 20, 3);
        {
            ZoRunJournal j(path);
            QVERIFY(j.load());
            QVERIFY(j.record(entry(QStringLiteral("E1"), 20, 3, 9)));
            QVERIFY(j.record(core));
            QVERIFY(j.record(other));
            QVERIFY(j.record(module)); // replaces the first
        }
        const QDateTime started = QDateTime::fromMSecsSinceEpoch(base + 126, Qt::UTC);
        QVERIFY(zoReadFile(path).contains(started.toString(Qt::ISODateWithMs).toUtf8()));
        ZoRunJournal next(path);
        QVERIFY(next.load());
        QCOMPARE(text(next.entries()), text({module, core, other}));
        QCOMPARE(text(next.entriesFor(QStringLiteral("E1"))), text({module, core}));
        QCOMPARE(text(next.entriesFor(QStringLiteral("E3"))), text({core}));

        QVERIFY(next.clear(QStringLiteral("E1"), module.key));
        QVERIFY(next.clear(QStringLiteral("E1"), core.key)); // none such: nothing changes
        QVERIFY(next.clear(QString(), core.key));
        ZoRunJournal third(path);
        QVERIFY(third.load());
        QCOMPARE(text(third.entries()), text({other}));
        QVERIFY(third.clear(QStringLiteral("E2"), other.key));
        QVERIFY(!QFile::exists(path));
        QVERIFY(third.load());
        QVERIFY(third.entries().isEmpty());
    }

    // Two processes on one file: each change is made to what the file holds
    // then, so neither erases the other's entries; entries past their age go.
    void sharedFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.json"));
        ZoRunJournal window(path);
        ZoRunJournal cli(path);
        QVERIFY(window.load() && cli.load());
        ZoRunJournal::Entry old = entry(QStringLiteral("E9"), 20, 9);
        old.startedMs -= qint64(ZoRunJournal::MaxAgeDays + 1) * 24 * 3600 * 1000;
        QVERIFY(window.record(old));
        QVERIFY(window.record(entry(QStringLiteral("E1"), 20, 1)));
        QVERIFY(cli.record(entry(QStringLiteral("E2"), 20, 2)));
        QVERIFY(window.clear(QStringLiteral("E1"), ZoDeviceKey(20, 1)));
        ZoRunJournal next(path);
        QVERIFY(next.load());
        QCOMPARE(text(next.entries()), text({entry(QStringLiteral("E2"), 20, 2)}));
    }

    // Bad bytes are moved aside and the next record writes afresh; bad
    // devices are left out and the rest kept.
    void load_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("kept"); // -1: the file is refused
        const QByteArray two = journalWith(2);
        QTest::newRow("two") << two << 2;
        QTest::newRow("truncated") << two.left(two.size() / 2) << -1;
        QTest::newRow("empty") << QByteArray() << -1;
        QTest::newRow("binary") << QByteArray("\0\xff{\"format\"", 11) << -1;
        QTest::newRow("format 2") << QByteArray(two).replace("\"format\": 1", "\"format\": 2")
                                  << -1;
        QTest::newRow("devices not a list") << QByteArray("{\"format\":1,\"devices\":{}}") << -1;
        QTest::newRow("over 1 MiB") << two + QByteArray(1 << 20, ' ') << -1;
        QTest::newRow("key 0") << journalWith(3, 1, QStringLiteral("key"), 0) << 2;
        QTest::newRow("key too large") << journalWith(3, 1, QStringLiteral("key"), 0x1000000) << 2;
        QTest::newRow("key no packing makes") << journalWith(3, 1, QStringLiteral("key"), 0x140100) << 2;
        QTest::newRow("fraction") << journalWith(3, 1, QStringLiteral("number"), 1.5) << 2;
        QTest::newRow("type 256") << journalWith(3, 0, QStringLiteral("type"), 256) << 2;
        QTest::newRow("no eid") << journalWith(3, 2, QStringLiteral("eid"), QJsonValue()) << 2;
        QTest::newRow("eid too long")
            << journalWith(3, 2, QStringLiteral("eid"), QString(129, QLatin1Char('x'))) << 2;
        QTest::newRow("target minor -1") << journalWith(3, 0, QStringLiteral("target"),
            QJsonObject {{QStringLiteral("type"), 20}, {QStringLiteral("major"), 1},
                {QStringLiteral("minor"), -1}, {QStringLiteral("revision"), 0}})
                                         << 2;
        QTest::newRow("started not a time")
            << journalWith(3, 0, QStringLiteral("started"), QStringLiteral("yesterday")) << 2;
        QTest::newRow("device twice") << journalWith(3, 2, QStringLiteral("key"), ZoDeviceKey(20).packed()) << 2;
        QTest::newRow("300 devices") << journalWith(300) << ZoRunJournal::MaxEntries;
    }

    void load()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, kept);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.json"));
        QVERIFY(zoWriteFile(path, bytes));

        ZoRunJournal j(path);
        QString why;
        QCOMPARE(j.load(&why), kept >= 0);
        QCOMPARE(j.entries().size(), qMax(kept, 0));
        if (kept >= 0) {
            QVERIFY(why.isEmpty());
            QVERIFY(QFile::exists(path));
            return;
        }
        QVERIFY(!why.isEmpty());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(zoReadFile(path + QStringLiteral(".bad")), bytes);
        const auto e = entry(QStringLiteral("E1"), 20, 1);
        QVERIFY(j.record(e));
        ZoRunJournal next(path);
        QVERIFY(next.load());
        QCOMPARE(text(next.entries()), text({e}));
    }

    // A write that fails at the start or half way leaves the previous file
    // as it was and no temporary file beside it.
    void failedWrite_data()
    {
        QTest::addColumn<bool>("readOnlyFolder"); // else the file size limit cuts the write
        QTest::newRow("read-only folder") << true;
        QTest::newRow("cut short") << false;
    }

    void failedWrite()
    {
        QFETCH(bool, readOnlyFolder);
        if (readOnlyFolder && geteuid() == 0)
            QSKIP("root writes into read-only folders");
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("j"));
        const QString path = folder + QStringLiteral("/journal.json");
        ZoRunJournal j(path);
        QVERIFY(j.record(entry(QStringLiteral("E1"), 20, 1)));
        const QByteArray before = zoReadFile(path);

        rlimit saved {};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (readOnlyFolder) {
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        } else {
            rlimit cut = saved;
            cut.rlim_cur = rlim_t(before.size() + 16);
            QVERIFY(setrlimit(RLIMIT_FSIZE, &cut) == 0);
        }
        QString why;
        const bool written = j.record(entry(QStringLiteral("E1"), 20, 2), &why);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QVERIFY(!written);
        QVERIFY(!why.isEmpty());
        QCOMPARE(zoReadFile(path), before);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList {QStringLiteral("journal.json")});
        QCOMPARE(j.entries().size(), 1); // not kept: its device is not entered
    }
};

QTEST_GUILESS_MAIN(TstZoRunJournal)
#include "tst_zorunjournal.moc"
