#pragma once

#include "ZoDevFMInfo.h"
#include "ZoTypes.h"
#include "ZoUtils.h"

#include <QSet>

class ZoDeviceRoster;

// What is due and in which order: the version comparison (any difference
// counts on a custom branch), a build's compile time on a custom branch,
// the 2.20 line a core of protocol type 1 cannot cross through this
// program, and the pick order of a run (modules, boards, the core last).
class ZoUpgradePolicy
{
public:
    // The 2.20.0 line.
    static constexpr tdu4 VersionLine = 0x021400;

    // What pick() chose: devId 0 means nothing left to do.
    struct Pick
    {
        tdu1 devId = 0;
        bool isCore = false;
        tdu1 devNum = 0; // the number the device is addressed with
        ZoDeviceKey key; // the record (and row) it belongs to
    };

    void setCustomBranch(bool on) { m_custom = on; }
    bool customBranch() const { return m_custom; }

    bool isNewerVersion(const tVersion &cur, const tVersion &tar) const;
    bool isCompileTimeDifferent(const tFcsDateTime &cur, const tFcsDateTime &tar) const;
    // Builds stamped within twenty minutes of each other in the same hour
    // are one build: what is offered again, and what a read-back accepts.
    static bool sameBuild(const tFcsDateTime &a, const tFcsDateTime &b);

    // A target has just been given to `record` (a core row when `coreRow`):
    // whether the row may offer the upgrade. It may set record.needUpgrade
    // (a sibling airframe's core, a different build on a custom branch), and
    // holds the record back when the target crosses the version line.
    bool decide(ZoDevFMInfo &record, bool coreRow, tds4 protocolType, bool customKey,
        bool compileTimeKnown);
    bool isHeldBack(ZoDeviceKey key) const { return m_heldBack.contains(key); }
    void clearHeldBack() { m_heldBack.clear(); }
    // An explicit rollback: only these records are due, each whose target
    // differs from what it runs, older or not (its plan has kept the 2.20
    // line). What waits in a bootloader stays due, as it must go first.
    // Empty: no rollback.
    void setRollback(const QSet<ZoDeviceKey> &keys) { m_rollback = keys; }

    // Due: a target, not held back, and either flagged or different enough.
    bool needsUpgrade(const ZoDevFMInfo &record) const;
    // Modules left in their bootloader come first: until they are flashed,
    // they take every unaddressed frame of their bus kind. One of them
    // without a target holds back every module of its kind.
    Pick pick(const ZoDeviceRoster &roster) const;
    // The first module in its bootloader that has no target (null: none).
    ZoDeviceKey strandedWithoutTarget(const ZoDeviceRoster &roster) const;
    // A record a run would flash now, and the order a run flashes them in,
    // as if each were flashed in turn.
    bool isDue(const ZoDeviceRoster &roster, ZoDeviceKey key) const;
    QList<ZoDeviceKey> flashOrder(const ZoDeviceRoster &roster) const;

    // The type whose file a device takes: a module's own, a core row's
    // target's (a board, or a sibling airframe's core).
    static tdu1 fileType(const ZoDeviceRoster &roster, ZoDeviceKey key);

    static bool isBoard(tdu1 type) { return ZoUtils::isBoard(type); }

private:
    static QSet<int> blockedKinds(const ZoDeviceRoster &roster);

    bool m_custom = false;
    // Records whose target the decision held back although it is newer.
    QSet<ZoDeviceKey> m_heldBack;
    QSet<ZoDeviceKey> m_rollback;
};
