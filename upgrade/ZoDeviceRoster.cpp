#include "ZoDeviceRoster.h"

#include "ZoUtils.h"

#include <algorithm>

ZoDeviceRoster::ZoDeviceRoster(QObject *parent)
    : QObject(parent)
    , m_moduleRows({ZoDeviceKey()})
    , m_coreRows({ZoDeviceKey()})
{
}

ZoDevFMInfo *ZoDeviceRoster::record(ZoDeviceKey key)
{
    auto it = m_records.find(key);
    return it == m_records.end() ? nullptr : &*it;
}

void ZoDeviceRoster::dropRow(ZoDeviceKey key)
{
    if (m_moduleRows.contains(key) || m_coreRows.contains(key)) {
        m_moduleRows.remove(key);
        m_coreRows.remove(key);
        Q_EMIT sigRowRemoved(key);
    }
}

void ZoDeviceRoster::insertModuleRow(const ZoDevFMInfo &record)
{
    dropRow(record.key);
    const int index = m_moduleRows.size();
    m_moduleRows.insert(record.key);
    m_records.insert(record.key, record);
    Q_EMIT sigRowAdded(record.key, false, index);
}

void ZoDeviceRoster::insertCoreRow(const ZoDevFMInfo &record, bool board)
{
    dropRow(record.key);
    const int index = board ? m_moduleRows.size() + (m_manualAddRow ? 2 : 1) : -1;
    m_coreRows.insert(record.key);
    m_records.insert(record.key, record);
    Q_EMIT sigRowAdded(record.key, true, index);
}

void ZoDeviceRoster::insertAlternate(const ZoDevFMInfo &record)
{
    if (!m_coreRows.contains(record.key))
        m_altCoreRows.insert(record.key);
    m_records.insert(record.key, record);
}

void ZoDeviceRoster::removeRow(ZoDeviceKey key)
{
    if (key.isNull())
        return;
    m_records.remove(key);
    m_altCoreRows.remove(key);
    dropRow(key);
}

void ZoDeviceRoster::removeModuleRows()
{
    const QList<ZoDeviceKey> keys = m_moduleRows.values();
    for (const ZoDeviceKey &key : keys)
        removeRow(key);
}

void ZoDeviceRoster::clear()
{
    m_records.clear();
    m_core = ZoDevFMInfo();
    m_compileTimeKnown = false;
    m_moduleRows = {ZoDeviceKey()};
    m_coreRows = {ZoDeviceKey()};
    m_altCoreRows.clear();
    Q_EMIT sigRowsCleared();
}

void ZoDeviceRoster::setManualAddRow(bool present)
{
    if (m_manualAddRow == present)
        return;
    m_manualAddRow = present;
    Q_EMIT sigManualAddRow(present, present ? m_moduleRows.size() : -1);
}

QList<ZoDeviceKey> ZoDeviceRoster::missingModules() const
{
    QList<ZoDeviceKey> missing;
    for (const ZoDevFMInfo &r : m_records)
        if (r.needUpgrade && r.presence != ZoDevFMInfo::Presence::NotAnswering)
            return missing;
    for (const ZoDeviceKey &entry : m_expected) {
        const auto it = m_records.constFind(recordKey(entry.type, entry.number));
        if (it == m_records.cend() || it->presence == ZoDevFMInfo::Presence::NotAnswering)
            missing.append(entry);
    }
    return missing;
}

QList<ZoDeviceKey> ZoDeviceRoster::markSilentModules()
{
    QList<ZoDeviceKey> silent;
    for (const ZoDeviceKey &entry : m_expected) {
        ZoDevFMInfo r = reportRecord(tVersion {entry.type, 0, 0, 0}, entry.number, QString());
        // A module keyed by type alone answers for every entry of its type; a
        // serial-bus node answers only for itself, so a silent sibling of an
        // answering node is still missed.
        if (m_records.contains(r.key))
            continue;
        r.curVersion = tVersion();
        r.presence = ZoDevFMInfo::Presence::NotAnswering;
        insertModuleRow(r);
        silent.append(r.key);
    }
    return silent;
}

ZoDeviceKey ZoDeviceRoster::insertStranded(const tVersion &version, tdu1 number)
{
    ZoDevFMInfo r = reportRecord(version, number, QString());
    r.presence = ZoDevFMInfo::Presence::InBootloader;
    r.needUpgrade = true;
    insertModuleRow(r);
    return r.key;
}

void ZoDeviceRoster::insertCore(ZoDevFMInfo record, bool board)
{
    if (m_compileTimeKnown)
        record.curCompileTime = m_core.curCompileTime;
    record.serial = m_core.serial;
    const tFcsDateTime compileTime = m_core.curCompileTime;
    m_core = record;
    m_core.curCompileTime = compileTime;
    insertCoreRow(record, board);
}

ZoDeviceKey ZoDeviceRoster::setCoreCompileTime(const tFcsDateTime &time)
{
    m_core.curCompileTime = time;
    m_compileTimeKnown = true;
    ZoDevFMInfo *row = !m_core.key.isNull() ? record(m_core.key) : nullptr;
    if (!row)
        return {};
    row->curCompileTime = time;
    return row->key;
}

ZoDeviceKey ZoDeviceRoster::setCoreSerial(const QString &serial)
{
    m_core.serial = serial;
    ZoDevFMInfo *row = !m_core.key.isNull() ? record(m_core.key) : nullptr;
    if (!row)
        return {};
    row->serial = serial;
    return row->key;
}

void ZoDeviceRoster::syncCore()
{
    const ZoDevFMInfo *row = !m_core.key.isNull() ? record(m_core.key) : nullptr;
    if (!row)
        return;
    m_core.curVersion = row->curVersion;
    m_core.curCompileTime = row->curCompileTime;
    m_core.tarVersion = row->tarVersion;
    m_core.tarCompileTime = row->tarCompileTime;
    m_core.releaseNote = row->releaseNote;
}

void ZoDeviceRoster::insertModuleReport(const ZoDevFMInfo &report, tdu1 coreType)
{
    const tdu1 t = report.curVersion.type;
    if (ZoUtils::isBoardOf(t, coreType))
        insertCoreRow(report, true);
    else
        insertModuleRow(report);
}

ZoDeviceKey ZoDeviceRoster::recordKey(tdu1 type, tdu1 number)
{
    return ZoDeviceKey(type, ZoUtils::protocolClass(type) == ZoUtils::ClassBus ? number : 0);
}

ZoDeviceKey ZoDeviceRoster::reportKey(tdu1 type, tdu1 number, const QString &serial) const
{
    if (ZoUtils::protocolClass(type) != ZoUtils::ClassCan || serial.isEmpty())
        return recordKey(type, number);
    int next = 0;
    for (auto it = m_records.lowerBound(ZoDeviceKey(type));
         it != m_records.cend() && it.key().type == type; ++it) {
        // A row without a serial (not answering, or heard from its
        // bootloader only) is this module's until another one claims it.
        if (it->serial == serial || it->serial.isEmpty())
            return it.key();
        next = it.key().number + 1;
    }
    return ZoDeviceKey(type, tdu1(std::min(next, 255)));
}

QList<ZoDeviceKey> ZoDeviceRoster::twinsOf(ZoDeviceKey key) const
{
    QList<ZoDeviceKey> twins {key};
    if (ZoUtils::protocolClass(key.type) != ZoUtils::ClassCan)
        return {};
    for (auto it = m_records.lowerBound(ZoDeviceKey(key.type));
         it != m_records.cend() && it.key().type == key.type; ++it) {
        if (it.key() != key && it->presence != ZoDevFMInfo::Presence::NotAnswering
            && isModuleRow(it.key()))
            twins << it.key();
    }
    return twins.size() > 1 ? twins : QList<ZoDeviceKey>();
}

ZoDevFMInfo ZoDeviceRoster::reportRecord(
    const tVersion &version, tdu1 devIdx, const QString &serial)
{
    const tdu1 t = version.type;
    ZoDevFMInfo r;
    r.key = recordKey(t, devIdx);
    r.icon = ZoUtils::iconPath(t);
    int airframe = ZoUtils::AirframeNone;
    r.name = ZoUtils::deviceName(t, airframe);
    r.curVersion = version;
    r.serial = serial;
    r.devIdx = devIdx;
    return r;
}

QList<ZoDeviceKey> ZoDeviceRoster::displayOrder() const
{
    QList<ZoDeviceKey> modules;
    QList<ZoDeviceKey> coreSection;
    const ZoDeviceKey coreKey = core().key;
    for (auto it = m_records.cbegin(); it != m_records.cend(); ++it) {
        if (it.key().isNull() || it.key() == coreKey)
            continue;
        if (isModuleRow(it.key()))
            modules << it.key();
        else if (isCoreRow(it.key()))
            coreSection << it.key();
    }
    if (!coreKey.isNull() && m_records.contains(coreKey))
        coreSection << coreKey;
    return modules + coreSection;
}

bool ZoDeviceRoster::isCoreInBootloader() const
{
    const auto row = m_records.constFind(m_core.key);
    return !m_core.key.isNull() && row != m_records.cend()
        && row->presence == ZoDevFMInfo::Presence::InBootloader;
}

bool ZoDeviceRoster::isOptionalSilent(ZoDeviceKey key) const
{
    const auto it = m_records.constFind(key);
    return it != m_records.cend() && it->presence == ZoDevFMInfo::Presence::NotAnswering
        && m_moduleRows.contains(key) && !m_configured.contains(key);
}

bool ZoDeviceRoster::isMissing(ZoDeviceKey key) const
{
    const auto it = m_records.constFind(key);
    return it != m_records.cend() && it->presence == ZoDevFMInfo::Presence::NotAnswering
        && m_configured.contains(key);
}

QString ZoDeviceRoster::shownName(ZoDeviceKey key) const
{
    const ZoDevFMInfo r = m_records.value(key);
    if (!m_moduleRows.contains(key))
        return r.name;
    int airframe = ZoUtils::AirframeNone;
    const QString base = ZoUtils::deviceName(key.type, airframe);
    if (r.name != base)
        return r.name;
    // Another type of the same name (the device table's own, in whatever
    // language is loaded now).
    bool shared = false;
    for (int type = 1; type < 256 && !shared; ++type) {
        int unused = ZoUtils::AirframeNone;
        shared = type != key.type && ZoUtils::isKnownDevice(tdu1(type))
            && ZoUtils::deviceName(tdu1(type), unused) == base;
    }
    if (key.number > 0 && ZoUtils::protocolClass(key.type) == ZoUtils::ClassBus)
        return QStringLiteral("%1 #%2").arg(base).arg(key.number);
    if (shared)
        return QStringLiteral("%1 (%2)").arg(base).arg(key.type);
    return base;
}
