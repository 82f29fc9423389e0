#pragma once

#include "ZoDevFMInfo.h"
#include "ZoDeviceKey.h"
#include "ZoTypes.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>

// The devices on board as the engine knows them: one record per device key,
// which of them are shown as module rows and
// which as core rows (the core, its boards, and the record a protocol change
// of the core names), and the modules the core is expected to carry.
//
// Row changes go out as signals in the order the list must show them; row
// index 0 is the module header, and the core header follows the module rows
// (and the manual-add row while there is one).
class ZoDeviceRoster : public QObject
{
    Q_OBJECT
public:
    explicit ZoDeviceRoster(QObject *parent = nullptr);

    const QMap<ZoDeviceKey, ZoDevFMInfo> &records() const { return m_records; }
    ZoDevFMInfo *record(ZoDeviceKey key);
    // Every record, to change in place (rows stay as they are).
    QMap<ZoDeviceKey, ZoDevFMInfo> &recordsForUpdate() { return m_records; }
    bool contains(ZoDeviceKey key) const { return m_records.contains(key); }
    // The null key stands for the headers: both sets always hold it.
    bool isModuleRow(ZoDeviceKey key) const { return m_moduleRows.contains(key); }
    bool isCoreRow(ZoDeviceKey key) const { return m_coreRows.contains(key); }
    bool isAlternateCore(ZoDeviceKey key) const { return m_altCoreRows.contains(key); }
    // The row that draws a record: for the core's record under another
    // protocol type, the core's.
    ZoDeviceKey rowOf(ZoDeviceKey key) const { return isAlternateCore(key) ? core().key : key; }
    // A record a run may flash: a module or core row, or the core's record
    // under the protocol type picked in the core header.
    bool isFlashable(ZoDeviceKey key) const
    {
        return !key.isNull() && m_records.contains(key)
            && (m_moduleRows.contains(key) || m_coreRows.contains(key)
                || m_altCoreRows.contains(key));
    }
    int moduleRowCount() const { return m_moduleRows.size(); }

    void insertModuleRow(const ZoDevFMInfo &record);
    // Boards sit right under the core header, the core itself at the end.
    void insertCoreRow(const ZoDevFMInfo &record, bool board);
    // A record under a new key that is no row of its own (the core under
    // another protocol type).
    void insertAlternate(const ZoDevFMInfo &record);
    void clearAlternates() { m_altCoreRows.clear(); }
    void removeRow(ZoDeviceKey key);
    void removeModuleRows();
    void clear();

    // The core as it reported itself: its record once its version came, and
    // before that what came first (compile time, identity).
    const ZoDevFMInfo &core() const { return m_core; }
    tdu1 coreType() const { return m_core.curVersion.type; }
    // Its row says it answered from its bootloader only.
    bool isCoreInBootloader() const;
    bool coreCompileTimeKnown() const { return m_compileTimeKnown; }
    void forgetCoreCompileTime() { m_compileTimeKnown = false; }
    // The core's version report becomes its row; what came before it stays.
    void insertCore(ZoDevFMInfo record, bool board);
    // Each returns the key of the row that changed, a null key while there is
    // none.
    ZoDeviceKey setCoreCompileTime(const tFcsDateTime &time);
    ZoDeviceKey setCoreSerial(const QString &serial);
    // The core's row changed (a target, a flash): the core follows it.
    void syncCore();
    // A module's version report; on this core type a board is a core row.
    void insertModuleReport(const ZoDevFMInfo &record, tdu1 coreType);
    // The key of a device that reported with this type and number: a serial-bus
    // module keeps its node, every other device is keyed by its type alone.
    static ZoDeviceKey recordKey(tdu1 type, tdu1 number);
    // The key for a module's report. Twins of a CAN type, which the bus
    // reaches by type alone (two compasses, say), are told apart by their
    // serials: the first keeps number 0, each other one takes the next free.
    ZoDeviceKey reportKey(tdu1 type, tdu1 number, const QString &serial) const;
    // Every answering module that shares `key`'s broadcast, `key` first;
    // empty when it has no twin.
    QList<ZoDeviceKey> twinsOf(ZoDeviceKey key) const;
    // A record for a device's version report, keyed and named.
    static ZoDevFMInfo reportRecord(const tVersion &version, tdu1 devIdx, const QString &serial);

    // The manual-add row under the module rows, while two or more modules are
    // expected.
    bool hasManualAddRow() const { return m_manualAddRow; }
    void setManualAddRow(bool present);

    // `configured`: those of `modules` the configuration names (the bus node
    // lists). Silent, each of those is a fault of its own; the family's
    // other silent modules are optional, and a list tells them as one line.
    void setExpectedModules(
        const QList<ZoDeviceKey> &modules, const QList<ZoDeviceKey> &configured = {})
    {
        m_expected = modules;
        m_configured = configured;
    }
    bool isOptionalSilent(ZoDeviceKey key) const;
    bool isMissing(ZoDeviceKey key) const; // configured, and silent
    // A module's name as a list shows it: with its node where the bus
    // addresses several of its type by node, with its type where another
    // type has the same name.
    QString shownName(ZoDeviceKey key) const;
    const QList<ZoDeviceKey> &expectedModules() const { return m_expected; }
    // Expected modules without a record; none while a
    // record waits to be flashed, since adding by hand waits for that run.
    QList<ZoDeviceKey> missingModules() const;
    // The devices in the order a list shows them: modules, then boards, the
    // core last.
    QList<ZoDeviceKey> displayOrder() const;
    // Rows for the expected modules that did not answer; returns their keys.
    QList<ZoDeviceKey> markSilentModules();
    // A module that answered only from its bootloader, due at once.
    ZoDeviceKey insertStranded(const tVersion &version, tdu1 number);

Q_SIGNALS:
    void sigRowAdded(ZoDeviceKey key, bool coreRow, int index);
    void sigRowRemoved(ZoDeviceKey key);
    void sigRowsCleared();
    void sigManualAddRow(bool present, int index);

private:
    void dropRow(ZoDeviceKey key);

    QMap<ZoDeviceKey, ZoDevFMInfo> m_records;
    QSet<ZoDeviceKey> m_moduleRows;
    QSet<ZoDeviceKey> m_coreRows;
    QSet<ZoDeviceKey> m_altCoreRows;
    QList<ZoDeviceKey> m_expected;
    QList<ZoDeviceKey> m_configured;
    bool m_manualAddRow = false;
    ZoDevFMInfo m_core;
    bool m_compileTimeKnown = false;
};
