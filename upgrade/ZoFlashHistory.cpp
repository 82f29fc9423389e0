#include "ZoFlashHistory.h"

#include <QAtomicInteger>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <functional>

Q_LOGGING_CATEGORY(lcHistory, "tolvane.history")

namespace {

// PRAGMA application_id of our files ("TVFH"): a database of another
// program at the same path is not taken for ours, even at user_version 1.
constexpr qint64 ApplicationId = 0x54564648;
constexpr int BusyTimeoutMs = 5000;
// SQLite's primary result codes. Only "corrupt" and "not a database" set
// a file aside: a busy or unreadable file is left alone.
const QString SqliteBusy = QStringLiteral("5");
const QString SqliteCorrupt = QStringLiteral("11");
const QString SqliteNotADatabase = QStringLiteral("26");

// The table's columns: the numbers, then the texts in StringFields' order.
const QString Columns = QStringLiteral(
    "id, time, type, number, size, seconds, resends, host, user, tool, link, eid, serial, before, "
    "target, confirmed, sha256, source, result, failure, hash, run");
using Row = ZoFlashHistory::Row;
QString Row::*const StringFields[] = {&Row::host, &Row::user, &Row::tool, &Row::link, &Row::eid,
    &Row::serial, &Row::before, &Row::target, &Row::confirmed, &Row::sha256, &Row::source,
    &Row::result, &Row::failure, &Row::hash, &Row::run};

void setWhy(QString *why, const QString &text)
{
    if (why)
        *why = text;
}

// The fields the hash covers, in a fixed order. Changing this order or
// form breaks every chain already written: it is part of the schema. The
// run (schema 2) is covered only when it is set, so that the rows written
// before it came keep the hashes they were written with.
QByteArray canonical(const Row &r)
{
    QJsonArray fields {r.time.toUTC().toString(Qt::ISODateWithMs), r.host, r.user, r.tool, r.link,
        r.eid, r.type, r.number, r.serial, r.before, r.target, r.confirmed, r.sha256,
        double(r.size), r.source, r.result, r.failure, r.seconds, r.resends};
    if (!r.run.isEmpty())
        fields.append(r.run);
    return QJsonDocument(fields).toJson(QJsonDocument::Compact);
}

QString chainHash(const QString &previous, const Row &r)
{
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(previous.toLatin1());
    h.addData(canonical(r));
    return QString::fromLatin1(h.result().toHex());
}

Row rowFrom(const QSqlQuery &q)
{
    Row r;
    r.id = q.value(0).toLongLong();
    r.time = QDateTime::fromMSecsSinceEpoch(q.value(1).toLongLong(), Qt::UTC);
    r.type = q.value(2).toInt();
    r.number = q.value(3).toInt();
    r.size = q.value(4).toLongLong();
    r.seconds = q.value(5).toDouble();
    r.resends = q.value(6).toInt();
    int i = 7;
    for (auto field : StringFields)
        r.*field = q.value(i++).toString();
    return r;
}

bool run(QSqlQuery &q, const QString &sql, QString *why)
{
    if (q.exec(sql))
        return true;
    setWhy(why, sql + QStringLiteral(": ") + q.lastError().text());
    return false;
}

// What tells whether the file is ours, as one row: tables, application id, schema.
const QString Identity = QStringLiteral("SELECT (SELECT count(*) FROM sqlite_master), (SELECT "
                                        "application_id FROM pragma_application_id),"
                                        " (SELECT user_version FROM pragma_user_version)");

// WAL: readers never block the appending process, and a commit needs no
// sync of its own; a power cut loses at most the last commits. The mode is
// kept in the file. Switching needs the file to itself, and SQLite reports
// another process's moment of reading at once instead of waiting for it.
bool walMode(QSqlDatabase db, QString *why)
{
    QElapsedTimer waited;
    waited.start();
    QSqlQuery q(db);
    for (;;) {
        if (q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) && q.next()
            && q.value(0).toString() == QLatin1String("wal"))
            return true;
        if (q.lastError().nativeErrorCode() != SqliteBusy || waited.hasExpired(BusyTimeoutMs)) {
            setWhy(why, QStringLiteral("cannot switch to WAL: %1").arg(q.lastError().text()));
            return false;
        }
        QThread::msleep(5);
    }
}

// Runs `work` in an immediate transaction: the write lock is taken first,
// so what `work` reads no other process changes before the commit.
bool writing(QSqlDatabase db, QString *why, const std::function<bool()> &work)
{
    QSqlQuery q(db);
    if (!run(q, QStringLiteral("BEGIN IMMEDIATE"), why))
        return false;
    if (work() && run(q, QStringLiteral("COMMIT"), why))
        return true;
    q.exec(QStringLiteral("ROLLBACK"));
    return false;
}

} // namespace

ZoFlashHistory::ZoFlashHistory(const QString &path)
    : m_path(path)
{
    static QAtomicInteger<quint64> instances;
    m_connection = QStringLiteral("tolvane.history.%1").arg(instances.fetchAndAddRelaxed(1));
}

ZoFlashHistory::~ZoFlashHistory()
{
    disconnect();
}

QString ZoFlashHistory::defaultPath(const QString &portableDir)
{
    if (!portableDir.isEmpty())
        return QDir(portableDir).filePath(QStringLiteral("history.sqlite"));
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // The XDG rule: a relative value is invalid and ignored.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::home().filePath(QStringLiteral(".local/state"));
    return QDir(state).filePath(QStringLiteral("tolvane/history.sqlite"));
}

bool ZoFlashHistory::connect(QString *why, bool readOnly)
{
    disconnect();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1%2")
                             .arg(BusyTimeoutMs)
                             .arg(readOnly ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
    if (!db.open())
        setWhy(why, db.lastError().text());
    return db.isOpen();
}

void ZoFlashHistory::disconnect()
{
    if (!QSqlDatabase::contains(m_connection))
        return;
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

ZoFlashHistory::Fit ZoFlashHistory::inspect(QString *why) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(Identity) || !q.next()) {
        setWhy(why, q.lastError().text());
        const QString code = q.lastError().nativeErrorCode();
        return code == SqliteNotADatabase || code == SqliteCorrupt ? Fit::Foreign : Fit::Failed;
    }
    const qint64 tables = q.value(0).toLongLong(), app = q.value(1).toLongLong();
    const int version = q.value(2).toInt();
    if (tables == 0 && app == 0 && version == 0)
        return Fit::Empty;
    if (app != ApplicationId)
        setWhy(why, QStringLiteral("a database of another program (application id %1)").arg(app));
    else if (version < 1 || version > SchemaVersion)
        setWhy(why, QStringLiteral("schema %1, newer than this version's").arg(version));
    else
        return Fit::Ours;
    return Fit::Foreign;
}

bool ZoFlashHistory::moveAside(QString *why)
{
    QString target = m_path + QStringLiteral(".bad");
    for (int n = 1; QFileInfo::exists(target); ++n)
        target = m_path + QStringLiteral(".bad.%1").arg(n);
    if (!QFile::rename(m_path, target)) {
        setWhy(why, QStringLiteral("cannot move %1 aside to %2").arg(m_path, target));
        return false;
    }
    // A log or shared memory beside it belongs to the old file, not to the
    // fresh one that takes its name.
    for (const char *suffix : {"-wal", "-shm"}) {
        const QString side = m_path + QLatin1String(suffix);
        if (QFileInfo::exists(side) && !QFile::rename(side, target + QLatin1String(suffix)))
            QFile::remove(side);
    }
    m_setAside = target;
    return true;
}

bool ZoFlashHistory::open(QString *why)
{
    m_setAside.clear();
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder)) {
        setWhy(why, QStringLiteral("cannot create %1").arg(folder));
        return false;
    }
    // Two processes finding the same bad file: the second must not take the
    // first one's fresh history for it. The move is decided under a lock.
    QLockFile lock(m_path + QStringLiteral(".lock"));
    for (int attempt = 0;; ++attempt) {
        QString problem;
        const Fit fit = connect(&problem) ? inspect(&problem) : Fit::Failed;
        if (fit == Fit::Ours || fit == Fit::Empty)
            break;
        disconnect();
        if (fit == Fit::Failed) {
            setWhy(why, problem);
            return false;
        }
        if (attempt == 0 && lock.tryLock(BusyTimeoutMs))
            continue; // and look again, now alone
        // What we moved aside came back: something keeps writing there.
        if (attempt != 1) {
            setWhy(why,
                QStringLiteral("%1 is not a history (%2) and cannot be moved aside")
                    .arg(m_path, problem));
            return false;
        }
        if (!moveAside(why))
            return false;
        qCWarning(lcHistory).noquote()
            << "Flash history" << m_path << "moved to" << m_setAside << "- not usable:" << problem;
    }

    if (setUp(why))
        return true;
    disconnect();
    return false;
}

bool ZoFlashHistory::openReadOnly(QString *why)
{
    m_setAside.clear();
    // SQLite would create a missing file even so.
    if (!QFileInfo(m_path).isFile()) {
        setWhy(why, QStringLiteral("%1 does not exist").arg(m_path));
        return false;
    }
    QString problem;
    const Fit fit = connect(&problem, true) ? inspect(&problem) : Fit::Failed;
    if (fit == Fit::Ours)
        return true;
    disconnect();
    if (fit == Fit::Empty)
        return true; // rows() finds nothing without a connection
    setWhy(why, problem);
    return false;
}

bool ZoFlashHistory::setUp(QString *why)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    if (!walMode(db, why) || !run(q, QStringLiteral("PRAGMA synchronous=NORMAL"), why))
        return false;
    return writing(db, why, [&] {
        // Read again under the write lock: another process may have made it
        // since inspect().
        bool ok = run(q, QStringLiteral("PRAGMA user_version"), why) && q.next();
        const int version = q.value(0).toInt();
        q.finish();
        for (int from = version; ok && from < SchemaVersion; ++from)
            ok = migrate(from, why);
        return ok;
    });
}

bool ZoFlashHistory::migrate(int from, QString *why)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    QStringList steps;
    switch (from) {
    case 0:
        // AUTOINCREMENT: an id is never given twice, so a removed newest row
        // shows as a gap once the next one is appended.
        steps << QStringLiteral(
            "CREATE TABLE flash (id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL, "
            "type INTEGER, number INTEGER, size INTEGER, seconds REAL, resends INTEGER, "
            "host TEXT, user TEXT, tool TEXT, link TEXT, eid TEXT NOT NULL, serial TEXT, "
            "before TEXT, target TEXT, confirmed TEXT, sha256 TEXT, source TEXT, result TEXT, "
            "failure TEXT, hash TEXT NOT NULL)")
              << QStringLiteral("CREATE INDEX flash_eid_time ON flash (eid, time)")
              << QStringLiteral("PRAGMA application_id=%1").arg(ApplicationId);
        break;
    case 1:
        // Which engine run wrote a row: the rows of "the last run" are found
        // by it. Older rows keep an empty run, and their hashes.
        steps << QStringLiteral("ALTER TABLE flash ADD COLUMN run TEXT NOT NULL DEFAULT ''");
        break;
    default:
        setWhy(why, QStringLiteral("no way from schema %1").arg(from));
        return false;
    }
    steps << QStringLiteral("PRAGMA user_version=%1").arg(from + 1);
    for (const QString &sql : qAsConst(steps))
        if (!run(q, sql, why))
            return false;
    return true;
}

bool ZoFlashHistory::append(Row &row, QString *why)
{
    if (!QSqlDatabase::contains(m_connection)) {
        setWhy(why, QStringLiteral("the history is not open"));
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!row.time.isValid())
        row.time = QDateTime::currentDateTimeUtc();
    // What is stored is what is hashed: whole milliseconds in UTC.
    row.time = QDateTime::fromMSecsSinceEpoch(row.time.toMSecsSinceEpoch(), Qt::UTC);
    qint64 id = 0;
    QString hash;
    const bool written = writing(db, why, [&] {
        QSqlQuery q(db);
        if (!run(q, QStringLiteral("SELECT hash FROM flash ORDER BY id DESC LIMIT 1"), why))
            return false;
        hash = chainHash(q.next() ? q.value(0).toString() : QString(), row);
        q.finish();
        q.prepare(QStringLiteral("INSERT INTO flash (%1) VALUES (NULL%2)")
                      .arg(Columns, QStringLiteral(", ?").repeated(21)));
        for (const QVariant &v : QVariantList {row.time.toMSecsSinceEpoch(), row.type, row.number,
                 row.size, row.seconds, row.resends})
            q.addBindValue(v);
        // A null text binds as NULL: a core heard only from its bootloader
        // has told no EID, and its row is kept all the same.
        for (auto field : StringFields) {
            const QString text = field == &Row::hash ? hash : row.*field;
            q.addBindValue(text.isNull() ? QStringLiteral("") : text);
        }
        if (!q.exec()) {
            setWhy(why, q.lastError().text());
            return false;
        }
        id = q.lastInsertId().toLongLong();
        return true;
    });
    if (written) {
        row.id = id;
        row.hash = hash;
    }
    return written;
}

QList<ZoFlashHistory::Row> ZoFlashHistory::rows(const Filter &filter, QString *failed) const
{
    QList<Row> out;
    if (!QSqlDatabase::contains(m_connection))
        return out;
    QStringList where {QStringLiteral("1")};
    QVariantList values;
    const auto narrow = [&](bool given, const char *clause, const QVariant &value) {
        if (given) {
            where << QLatin1String(clause);
            values << value;
        }
    };
    narrow(!filter.eid.isEmpty(), "eid = ?", filter.eid);
    narrow(filter.type >= 0, "type = ?", filter.type);
    narrow(filter.number >= 0, "number = ?", filter.number);
    narrow(!filter.target.isEmpty(), "target = ?", filter.target);
    narrow(filter.since.isValid(), "time >= ?", filter.since.toMSecsSinceEpoch());
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM flash WHERE %2 ORDER BY time, id")
                  .arg(Columns, where.join(QStringLiteral(" AND "))));
    for (const QVariant &v : qAsConst(values))
        q.addBindValue(v);
    if (!q.exec()) {
        qCWarning(lcHistory).noquote() << "Flash history: cannot read:" << q.lastError().text();
        setWhy(failed, q.lastError().text());
        return out;
    }
    while (q.next())
        out << rowFrom(q);
    return out;
}

ZoFlashHistory::Verdict ZoFlashHistory::verify() const
{
    Verdict v;
    // An empty database opened read-only is held without a connection, as
    // rows() knows: no rows, so none is broken.
    if (!QSqlDatabase::contains(m_connection)) {
        v.ok = true;
        return v;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    // One read transaction: rows appended meanwhile by another process are
    // not half seen.
    if (!q.exec(QStringLiteral("SELECT %1 FROM flash ORDER BY id").arg(Columns))) {
        v.why = q.lastError().text();
        return v;
    }
    QString previous;
    qint64 previousId = 0;
    while (q.next()) {
        const Row r = rowFrom(q);
        ++v.rows;
        const bool gap = previousId != 0 && r.id != previousId + 1;
        if (gap || chainHash(previous, r) != r.hash) {
            v.firstBroken = r.id;
            v.why = QString::fromLatin1(gap
                    ? "row %1: the rows just before it are gone"
                    : "row %1 does not match its hash, or a row before it is gone")
                        .arg(r.id);
            return v;
        }
        previous = r.hash;
        previousId = r.id;
    }
    v.ok = true;
    return v;
}
