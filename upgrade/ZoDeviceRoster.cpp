#include "ZoDeviceRoster.h"

#include "ZoUtils.h"

ZoDeviceRoster::ZoDeviceRoster(QObject *parent)
    : QObject(parent)
    , m_moduleRows({0})
    , m_coreRows({0})
{
}

ZoDevFMInfo *ZoDeviceRoster::record(tds4 key)
{
    auto it = m_records.find(key);
    return it == m_records.end() ? nullptr : &*it;
}

void ZoDeviceRoster::dropRow(tds4 key)
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

void ZoDeviceRoster::removeRow(tds4 key)
{
    if (key == 0)
        return;
    m_records.remove(key);
    m_altCoreRows.remove(key);
    dropRow(key);
}

void ZoDeviceRoster::removeModuleRows()
{
    const QList<tds4> keys = m_moduleRows.values();
    for (tds4 key : keys)
        removeRow(key);
}

void ZoDeviceRoster::clear()
{
    m_records.clear();
    m_core = ZoDevFMInfo();
    m_compileTimeKnown = false;
    m_moduleRows = {0};
    m_coreRows = {0};
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

QList<tds4> ZoDeviceRoster::missingModules() const
{
    QList<tds4> missing;
    for (const ZoDevFMInfo &r : m_records)
        if (r.needUpgrade && r.presence != ZoDevFMInfo::Presence::NotAnswering)
            return missing;
    for (tds4 entry : m_expected) {
        const tds4 key = ((entry & 0xFF) << 16) | ((entry >> 16) & 0xFF);
        const auto it = m_records.constFind(key);
        if (it == m_records.cend() || it->presence == ZoDevFMInfo::Presence::NotAnswering)
            missing.append(entry);
    }
    return missing;
}

QList<tds4> ZoDeviceRoster::markSilentModules()
{
    QList<tds4> silent;
    for (tds4 entry : m_expected) {
        const tdu1 type = tdu1(entry & 0xFF);
        const tdu1 node = tdu1((entry >> 16) & 0xFF);
        ZoDevFMInfo r = reportRecord(tVersion {type, 0, 0, 0}, node, QString());
        // Kind 2 modules share one key per type: any answer of the type counts.
        if (m_records.contains(r.key) || m_records.contains(tds4(type) << 16))
            continue;
        r.curVersion = tVersion();
        r.presence = ZoDevFMInfo::Presence::NotAnswering;
        insertModuleRow(r);
        silent.append(r.key);
    }
    return silent;
}

tds4 ZoDeviceRoster::insertStranded(const tVersion &version, tdu1 number)
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

tds4 ZoDeviceRoster::setCoreCompileTime(const tFcsDateTime &time)
{
    m_core.curCompileTime = time;
    m_compileTimeKnown = true;
    ZoDevFMInfo *row = m_core.key != 0 ? record(m_core.key) : nullptr;
    if (!row)
        return 0;
    row->curCompileTime = time;
    return row->key;
}

tds4 ZoDeviceRoster::setCoreSerial(const QString &serial)
{
    m_core.serial = serial;
    ZoDevFMInfo *row = m_core.key != 0 ? record(m_core.key) : nullptr;
    if (!row)
        return 0;
    row->serial = serial;
    return row->key;
}

void ZoDeviceRoster::syncCore()
{
    const ZoDevFMInfo *row = m_core.key != 0 ? record(m_core.key) : nullptr;
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

ZoDevFMInfo ZoDeviceRoster::reportRecord(
    const tVersion &version, tdu1 devIdx, const QString &serial)
{
    const tdu1 t = version.type;
    ZoDevFMInfo r;
    r.key = (tds4(t) << 16) | (ZoUtils::protocolClass(t) == ZoUtils::ClassBus ? devIdx : 0);
    r.icon = ZoUtils::iconPath(t);
    int airframe = ZoUtils::AirframeNone;
    r.name = ZoUtils::deviceName(t, airframe);
    r.curVersion = version;
    r.serial = serial;
    r.devIdx = devIdx;
    return r;
}
