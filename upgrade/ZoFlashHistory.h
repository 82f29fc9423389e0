#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// Which rows ZoFlashHistory::rows() returns. Outside the class only because
// a nested struct with member initializers cannot be a default argument of
// its own class's members; it is meant as ZoFlashHistory::Filter.
struct ZoFlashHistoryFilter
{
    QString eid; // empty: every aircraft
    int type = -1, number = -1; // -1: any
    QDateTime since; // invalid: from the start
    QString target; // the target version ("1.2.3"); empty: any
};

// Every device flash this station made, kept in an SQLite file that is only
// ever appended to. Each row carries a SHA-256 over the previous row's hash
// and its own fields, so a row edited or removed afterwards breaks the chain
// from that row on, and verify() names it. (Removing the newest rows leaves
// no trace until the next append, whose id then skips theirs.)
// Several processes may append to one file at once: each append is its own
// immediate transaction. An instance is used from the thread that opened it.
class ZoFlashHistory
{
public:
    // One device transfer as the history keeps it.
    struct Row
    {
        qint64 id = 0; // set by append()
        QDateTime time; // UTC, millisecond precision; append() sets it when invalid
        QString host, user, tool; // the station: host name, user name, tool version
        QString link, eid; // the link as text ("tcp:127.0.0.1:8001"), the aircraft's core EID
        int type = 0, number = 0; // the device
        QString serial;
        QString before, target, confirmed; // versions "1.2.3"; empty: not known / none
        QString sha256; // of the firmware file, lowercase hex
        qint64 size = 0; // of the firmware file, bytes
        QString source; // "stable", "development", "custom:NAME", "folder"
        QString result; // "upgraded", "not confirmed", "failed", "interrupted"
        QString failure; // "" or e.g. "link lost", "block time-out at block 12", "refused file"
        double seconds = 0;
        int resends = 0;
        QString hash; // lowercase hex SHA-256 of the previous row's hash and this row's fields
        // The engine run that wrote it (one id per run); empty in rows from
        // before schema 2, whose hashes it therefore does not enter.
        QString run;
    };
    using Filter = ZoFlashHistoryFilter;
    struct Verdict
    {
        bool ok = false;
        qint64 rows = 0; // rows checked
        qint64 firstBroken
            = 0; // id of the first row whose hash or link to the previous does not hold; 0: none
        QString why;
    };
    static constexpr int SchemaVersion = 2;

    explicit ZoFlashHistory(const QString &path);
    ~ZoFlashHistory();
    ZoFlashHistory(const ZoFlashHistory &) = delete;
    ZoFlashHistory &operator=(const ZoFlashHistory &) = delete;

    // Opens or creates the database (schema version in PRAGMA user_version, WAL mode,
    // synchronous NORMAL, busy timeout ~5 s, an index on (eid, time)). A file that is not a
    // database, or a database that is not ours or has a newer schema, is moved aside to
    // PATH.bad (PATH.bad.1, .2 ... when taken) with a qCWarning, never silently replaced,
    // and a fresh one is made. Creates the parent folder. False with `why` when it cannot.
    bool open(QString *why = nullptr);
    // Opens an existing history for reading only: nothing is created,
    // migrated or moved aside, so a viewer beside a running engine (or
    // another process) changes nothing of the file. A file that is no
    // history of ours, or one of a newer schema, is refused with `why`; an
    // empty database opens and holds no rows.
    bool openReadOnly(QString *why = nullptr);
    QString path() const { return m_path; }
    // Where open() moved a damaged file; empty: nothing moved.
    QString setAside() const { return m_setAside; }
    // Adds `row` in its own transaction (BEGIN IMMEDIATE, so two processes appending at once
    // chain correctly and lose nothing): reads the last row's hash, computes this row's hash,
    // inserts; fills row.id and row.hash. False with `why` when it could not be written.
    bool append(Row &row, QString *why = nullptr);
    // Oldest first (by time, then id). A file that cannot be read gives no
    // rows; `failed`, when given, then says why (else it is left empty).
    QList<Row> rows(const Filter &filter = {}, QString *failed = nullptr) const;
    // Walks the whole chain; only after open() or openReadOnly() succeeded.
    Verdict verify() const;
    // $XDG_STATE_HOME/tolvane/history.sqlite (default ~/.local/state/tolvane), or
    // PORTABLEDIR/history.sqlite when `portableDir` is not empty.
    static QString defaultPath(const QString &portableDir = QString());

private:
    enum class Fit { Ours, Empty, Foreign, Failed }; // Foreign: no database, or not ours
    // What the file at m_path is, read without changing it.
    Fit inspect(QString *why) const;
    // Brings an empty or older database up to SchemaVersion, inside the
    // caller's transaction; one step per version.
    bool migrate(int from, QString *why);
    // WAL, and the schema made or brought up to date.
    bool setUp(QString *why);
    bool connect(QString *why, bool readOnly = false);
    void disconnect();
    bool moveAside(QString *why);

    QString m_path;
    QString m_connection; // the QSqlDatabase name, unique per instance
    QString m_setAside;
};
