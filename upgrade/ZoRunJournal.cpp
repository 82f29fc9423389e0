#include "ZoRunJournal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QLoggingCategory>
#include <QSaveFile>

#include <cmath>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

namespace {

constexpr int Format = 1;
// Longer than any ISO-8601 time with milliseconds and an offset.
constexpr int MaxTimeChars = 40;

QString jsonKey(const char *name)
{
    return QString::fromLatin1(name);
}

// JSON numbers are doubles: only whole ones within [lo, hi] are taken.
bool wholeNumber(const QJsonValue &v, double lo, double hi, qint64 *out)
{
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || d < lo || d > hi)
        return false;
    *out = qint64(d);
    return true;
}

bool byteField(const QJsonObject &o, const char *name, int lo, tdu1 *out)
{
    qint64 n = 0;
    if (!wholeNumber(o.value(jsonKey(name)), lo, 255, &n))
        return false;
    *out = tdu1(n);
    return true;
}

// One device of the file; false names the first field that is wrong.
bool readEntry(const QJsonValue &value, ZoRunJournal::Entry *e, QString *field)
{
    *field = QStringLiteral("entry");
    if (!value.isObject())
        return false;
    const QJsonObject o = value.toObject();

    *field = QStringLiteral("eid");
    const QJsonValue eid = o.value(jsonKey("eid"));
    if (!eid.isString() || eid.toString().size() > ZoRunJournal::MaxEidChars)
        return false;
    e->eid = eid.toString();

    *field = QStringLiteral("key");
    qint64 k = 0;
    // A type in the upper half, a device number below it; 0 is no device,
    // and a value the packing cannot have made names none either.
    if (!wholeNumber(o.value(jsonKey("key")), 1, 0xFFFFFF, &k))
        return false;
    e->key = ZoDeviceKey::fromPacked(tds4(k));
    if (e->key.isNull() || e->key.packed() != k)
        return false;

    *field = QStringLiteral("type");
    if (!byteField(o, "type", 1, &e->devId))
        return false;
    *field = QStringLiteral("number");
    if (!byteField(o, "number", 0, &e->devNum))
        return false;

    *field = QStringLiteral("core");
    const QJsonValue core = o.value(jsonKey("core"));
    if (!core.isBool())
        return false;
    e->core = core.toBool();

    *field = QStringLiteral("target");
    const QJsonValue target = o.value(jsonKey("target"));
    if (!target.isObject())
        return false;
    const QJsonObject t = target.toObject();
    if (!byteField(t, "type", 0, &e->target.type) || !byteField(t, "major", 0, &e->target.major)
        || !byteField(t, "minor", 0, &e->target.minor)
        || !byteField(t, "revision", 0, &e->target.revision))
        return false;

    *field = QStringLiteral("started");
    const QJsonValue started = o.value(jsonKey("started"));
    if (!started.isString() || started.toString().size() > MaxTimeChars)
        return false;
    const QDateTime when = QDateTime::fromString(started.toString(), Qt::ISODateWithMs);
    // Outside these years it could not be written back in the same form.
    const int year = when.toUTC().date().year();
    if (!when.isValid() || year < 1 || year > 9999)
        return false;
    e->startedMs = when.toMSecsSinceEpoch();
    return true;
}

int indexOf(const QList<ZoRunJournal::Entry> &entries, const QString &eid, ZoDeviceKey key)
{
    for (int i = 0; i < entries.size(); ++i)
        if (entries[i].key == key && entries[i].eid == eid)
            return i;
    return -1;
}

// Entries of a run long past: nothing is known to wait for them any more.
void dropExpired(QList<ZoRunJournal::Entry> &entries)
{
    const qint64 oldest = QDateTime::currentMSecsSinceEpoch()
        - qint64(ZoRunJournal::MaxAgeDays) * 24 * 3600 * 1000;
    for (int i = entries.size() - 1; i >= 0; --i)
        if (entries[i].startedMs > 0 && entries[i].startedMs < oldest)
            entries.removeAt(i);
}

void setWhy(QString *why, const QString &text)
{
    if (why)
        *why = text;
}

} // namespace

ZoRunJournal::ZoRunJournal(const QString &path)
    : m_path(path)
{
}

QList<ZoRunJournal::Entry> ZoRunJournal::parse(const QByteArray &bytes, QString *why)
{
    QList<Entry> entries;
    if (bytes.size() > MaxFileBytes) {
        setWhy(why, QStringLiteral("larger than %1 bytes").arg(MaxFileBytes));
        return entries;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        setWhy(why,
            QStringLiteral("not JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset));
        return entries;
    }
    if (!doc.isObject()) {
        setWhy(why, QStringLiteral("not a JSON object"));
        return entries;
    }
    const QJsonObject root = doc.object();
    const QJsonValue format = root.value(jsonKey("format"));
    if (!format.isDouble() || format.toDouble() != Format) {
        setWhy(why, QStringLiteral("format is not %1").arg(Format));
        return entries;
    }
    const QJsonValue devices = root.value(jsonKey("devices"));
    if (!devices.isArray()) {
        setWhy(why, QStringLiteral("no device list"));
        return entries;
    }

    const QJsonArray list = devices.toArray();
    if (list.size() > MaxEntries)
        qCWarning(lcUpgrade).noquote() << "Run journal: only the first" << MaxEntries << "of"
                                       << list.size() << "devices are read";
    const int count = qMin(list.size(), MaxEntries);
    for (int i = 0; i < count; ++i) {
        Entry e;
        QString field;
        if (!readEntry(list.at(i), &e, &field)) {
            qCWarning(lcUpgrade).noquote()
                << "Run journal: device" << i << "left out, its" << field << "is wrong";
            continue;
        }
        // A device written twice is the later one, as record() would leave it.
        const int at = indexOf(entries, e.eid, e.key);
        if (at >= 0)
            entries[at] = e;
        else
            entries.append(e);
    }
    return entries;
}

QByteArray ZoRunJournal::serialize(const QList<Entry> &entries)
{
    QJsonArray list;
    for (const Entry &e : entries) {
        QJsonObject target;
        target.insert(jsonKey("type"), e.target.type);
        target.insert(jsonKey("major"), e.target.major);
        target.insert(jsonKey("minor"), e.target.minor);
        target.insert(jsonKey("revision"), e.target.revision);
        QJsonObject o;
        o.insert(jsonKey("eid"), e.eid);
        o.insert(jsonKey("key"), e.key.packed());
        o.insert(jsonKey("type"), e.devId);
        o.insert(jsonKey("number"), e.devNum);
        o.insert(jsonKey("core"), e.core);
        o.insert(jsonKey("target"), target);
        o.insert(jsonKey("started"),
            QDateTime::fromMSecsSinceEpoch(e.startedMs, Qt::UTC).toString(Qt::ISODateWithMs));
        list.append(o);
    }
    QJsonObject root;
    root.insert(jsonKey("format"), Format);
    root.insert(jsonKey("devices"), list);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

ZoRunJournal::Entry ZoRunJournal::entering(const QString &eid, ZoDeviceKey key, tdu1 devId,
    tdu1 number, bool core, const tVersion &target)
{
    Entry e;
    e.eid = eid;
    e.key = key;
    e.devId = devId;
    e.devNum = number;
    e.core = core;
    e.target = target;
    e.startedMs = QDateTime::currentMSecsSinceEpoch();
    return e;
}

bool ZoRunJournal::load(QString *why)
{
    m_entries.clear();
    if (m_path.isEmpty() || !QFileInfo::exists(m_path))
        return true;

    QString reason;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        reason = QStringLiteral("cannot be read: %1").arg(file.errorString());
    } else {
        const QByteArray bytes = file.read(qint64(MaxFileBytes) + 1);
        if (file.error() != QFileDevice::NoError)
            reason = QStringLiteral("cannot be read: %1").arg(file.errorString());
        else
            m_entries = parse(bytes, &reason);
        file.close();
    }
    dropExpired(m_entries);
    if (reason.isEmpty())
        return true;

    m_entries.clear();
    // Left in place, the same file would stop every later run; aside, it is
    // still there to be looked at.
    const QString aside = m_path + QStringLiteral(".bad");
    if (QFileInfo(m_path).isFile()) {
        QFile::remove(aside);
        if (QFile::rename(m_path, aside))
            reason += QStringLiteral("; moved to %1").arg(aside);
        else
            reason += QStringLiteral("; could not be moved to %1").arg(aside);
    }
    qCWarning(lcUpgrade).noquote() << "Run journal" << m_path << reason;
    setWhy(why, reason);
    return false;
}

QList<ZoRunJournal::Entry> ZoRunJournal::entriesFor(const QString &eid) const
{
    QList<Entry> result;
    for (const Entry &e : m_entries)
        if (e.eid.isEmpty() || e.eid == eid)
            result.append(e);
    return result;
}

bool ZoRunJournal::record(const Entry &e, QString *why)
{
    return update(
        [&e](QList<Entry> &entries, QString *why) {
            const int at = indexOf(entries, e.eid, e.key);
            if (at >= 0) {
                entries[at] = e;
            } else if (entries.size() >= MaxEntries) {
                // The reader would leave it out.
                setWhy(why, QStringLiteral("the journal already holds %1 devices").arg(MaxEntries));
                return false;
            } else {
                entries.append(e);
            }
            return true;
        },
        why);
}

bool ZoRunJournal::clear(const QString &eid, ZoDeviceKey key, QString *why)
{
    if (indexOf(m_entries, eid, key) < 0)
        return true;
    return update(
        [&](QList<Entry> &entries, QString *) {
            const int at = indexOf(entries, eid, key);
            if (at >= 0)
                entries.removeAt(at);
            return true;
        },
        why);
}

bool ZoRunJournal::update(
    const std::function<bool(QList<Entry> &, QString *)> &change, QString *why)
{
    if (m_path.isEmpty()) {
        QList<Entry> entries = m_entries;
        if (!change(entries, why))
            return false;
        m_entries = entries;
        return true;
    }
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath())) {
        setWhy(why, QStringLiteral("folder %1 cannot be created").arg(QFileInfo(m_path).absolutePath()));
        return false;
    }
    QLockFile lock(m_path + QStringLiteral(".lock"));
    if (!lock.tryLock(LockWaitMs)) {
        setWhy(why, lock.error() == QLockFile::LockFailedError
                ? QStringLiteral("%1 is locked by another process").arg(m_path)
                : QStringLiteral("%1 cannot be locked").arg(m_path));
        return false;
    }
    // What the other processes wrote since; an unreadable file is not theirs
    // to lose: this process's entries stand in for it.
    QList<Entry> entries = m_entries;
    QFile file(m_path);
    if (file.open(QIODevice::ReadOnly)) {
        QString unreadable;
        const QList<Entry> onDisk = parse(file.read(qint64(MaxFileBytes) + 1), &unreadable);
        if (unreadable.isEmpty())
            entries = onDisk;
    }
    dropExpired(entries);
    if (!change(entries, why) || !write(entries, why))
        return false;
    m_entries = entries;
    return true;
}

bool ZoRunJournal::write(const QList<Entry> &entries, QString *why)
{
    if (entries.isEmpty()) {
        QFile file(m_path);
        if (!file.exists() || file.remove())
            return true;
        setWhy(why, QStringLiteral("%1 cannot be removed: %2").arg(m_path, file.errorString()));
        return false;
    }

    QSaveFile file(m_path);
    const QByteArray bytes = serialize(entries);
    // Qt's commit() does not see a failed flush of its own buffer (a full
    // disk, a file size limit) and puts the cut file in place: flush first.
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()
        || !file.commit()) {
        setWhy(why, QStringLiteral("%1 cannot be written: %2").arg(m_path, file.errorString()));
        return false;
    }
    return true;
}

QList<tdu1> ZoRunJournal::coreTypes() const
{
    QList<tdu1> types;
    for (const Entry &e : m_entries)
        if (e.core && !types.contains(e.devId))
            types.append(e.devId);
    return types;
}
