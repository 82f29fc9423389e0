#include "ZoUpgradePolicy.h"

#include "ZoDeviceRoster.h"
#include "ZoUtils.h"

#include <QLoggingCategory>

#include <cstdlib>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

namespace {

QString timeText(const tFcsDateTime &t)
{
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(t.year)
        .arg(t.month)
        .arg(t.day)
        .arg(t.hour)
        .arg(t.minute)
        .arg(t.second);
}

} // namespace

bool ZoUpgradePolicy::isNewerVersion(const tVersion &cur, const tVersion &tar) const
{
    if (m_custom)
        return cur.number() != tar.number();
    return tar.number() > cur.number();
}

bool ZoUpgradePolicy::isCompileTimeDifferent(
    const tFcsDateTime &cur, const tFcsDateTime &tar) const
{
    qCDebug(lcUpgrade).noquote() << "current time:" << timeText(cur);
    qCDebug(lcUpgrade).noquote() << "target tiem:" << timeText(tar);
    return m_custom && !sameBuild(cur, tar);
}

bool ZoUpgradePolicy::sameBuild(const tFcsDateTime &cur, const tFcsDateTime &tar)
{
    const int d
        = std::abs((int(tar.minute) - int(cur.minute)) * 60 - int(cur.second) + int(tar.second))
        % 65536;
    return cur.year == tar.year && cur.month == tar.month && cur.day == tar.day
        && cur.hour == tar.hour && d < 1201;
}

bool ZoUpgradePolicy::decide(ZoDevFMInfo &record, bool coreRow, tds4 protocolType,
    bool customKey, bool compileTimeKnown)
{
    m_heldBack.remove(record.key);
    bool u = record.needUpgrade || isNewerVersion(record.curVersion, record.tarVersion);
    if (!coreRow)
        return u;
    const tdu1 curType = record.curVersion.type;
    const tdu1 tarType = record.tarVersion.type;
    if (ZoUtils::protocolClass(curType) == ZoUtils::ClassCore && protocolType == 1 && !customKey
        && record.curVersion.number() < VersionLine
        && record.tarVersion.number() >= VersionLine) {
        m_heldBack.insert(record.key);
        return false;
    }
    if (curType != tarType && ZoUtils::sameCoreFamily(curType, tarType)) {
        u = true;
        record.needUpgrade = true;
    } else if (!u && m_custom && compileTimeKnown) {
        // Same version on a custom branch: a different build still counts.
        u = isCompileTimeDifferent(record.curCompileTime, record.tarCompileTime);
        record.needUpgrade = u;
    }
    return u;
}

bool ZoUpgradePolicy::needsUpgrade(const ZoDevFMInfo &r) const
{
    // Without a target there is nothing to flash, whatever the branch; a
    // device that does not answer cannot be entered.
    if (r.tarVersion.type == 0 || r.presence == ZoDevFMInfo::Presence::NotAnswering)
        return false;
    if (!m_rollback.isEmpty() && r.presence != ZoDevFMInfo::Presence::InBootloader)
        return m_rollback.contains(r.key) && r.curVersion.number() != r.tarVersion.number();
    if (m_heldBack.contains(r.key))
        return false;
    return r.needUpgrade || (m_custom && r.curVersion.number() != r.tarVersion.number())
        || r.tarVersion.number() > r.curVersion.number();
}

ZoUpgradePolicy::Pick ZoUpgradePolicy::pick(const ZoDeviceRoster &roster) const
{
    Pick pick;
    const auto &records = roster.records();
    const QSet<int> blocked = blockedKinds(roster);
    for (const bool stranded : {true, false}) {
        for (auto it = records.cbegin(); it != records.cend(); ++it) {
            if (it.key().isNull() || !roster.isModuleRow(it.key()) || !needsUpgrade(*it)
                || (it->presence == ZoDevFMInfo::Presence::InBootloader) != stranded)
                continue;
            const tdu1 type = it->curVersion.type;
            if (blocked.contains(ZoUtils::protocolClass(type)))
                continue;
            pick.devId = type;
            pick.devNum = ZoUtils::protocolClass(type) == ZoUtils::ClassCanByDevNum
                ? it->devIdx
                : it.key().number;
            pick.key = it.key();
            return pick;
        }
    }
    const ZoDevFMInfo *board = nullptr;
    const ZoDevFMInfo *core = nullptr;
    for (auto it = records.cbegin(); it != records.cend(); ++it) {
        if (it.key().isNull() || !(roster.isCoreRow(it.key()) || roster.isAlternateCore(it.key()))
            || !needsUpgrade(*it))
            continue;
        // A board speaks its bus kind: a bootloader left waiting there would
        // take its frames too.
        if (isBoard(it->tarVersion.type)
            && blocked.contains(ZoUtils::protocolClass(it->tarVersion.type)))
            continue;
        if (isBoard(it->tarVersion.type)) {
            if (!board)
                board = &*it;
        } else {
            core = &*it;
        }
    }
    if (board) {
        pick.devId = board->tarVersion.type;
        pick.devNum = board->devIdx;
        pick.key = board->key;
    } else if (core) {
        pick.devId = core->tarVersion.type;
        pick.isCore = true;
        pick.key = core->key;
    }
    return pick;
}

tdu1 ZoUpgradePolicy::fileType(const ZoDeviceRoster &roster, ZoDeviceKey key)
{
    const ZoDevFMInfo r = roster.records().value(key);
    return roster.isModuleRow(key) ? r.curVersion.type : r.tarVersion.type;
}

QSet<int> ZoUpgradePolicy::blockedKinds(const ZoDeviceRoster &roster)
{
    QSet<int> kinds;
    for (const ZoDevFMInfo &r : roster.records()) {
        if (!r.key.isNull() && r.presence == ZoDevFMInfo::Presence::InBootloader
            && r.tarVersion.type == 0)
            kinds.insert(ZoUtils::protocolClass(r.curVersion.type));
    }
    return kinds;
}

ZoDeviceKey ZoUpgradePolicy::strandedWithoutTarget(const ZoDeviceRoster &roster) const
{
    for (const ZoDevFMInfo &r : roster.records()) {
        if (!r.key.isNull() && r.presence == ZoDevFMInfo::Presence::InBootloader
            && r.tarVersion.type == 0)
            return r.key;
    }
    return {};
}

bool ZoUpgradePolicy::isDue(const ZoDeviceRoster &roster, ZoDeviceKey key) const
{
    return roster.isFlashable(key) && needsUpgrade(*roster.records().constFind(key));
}

QList<ZoDeviceKey> ZoUpgradePolicy::flashOrder(const ZoDeviceRoster &roster) const
{
    QList<ZoDeviceKey> stranded;
    QList<ZoDeviceKey> modules;
    QList<ZoDeviceKey> boards;
    ZoDeviceKey core;
    const auto &records = roster.records();
    const QSet<int> blocked = blockedKinds(roster);
    for (auto it = records.cbegin(); it != records.cend(); ++it) {
        if (!isDue(roster, it.key()))
            continue;
        if (roster.isModuleRow(it.key())) {
            if (blocked.contains(ZoUtils::protocolClass(it->curVersion.type)))
                continue;
            (it->presence == ZoDevFMInfo::Presence::InBootloader ? stranded : modules)
                .append(it.key());
        } else if (isBoard(it->tarVersion.type)) {
            if (!blocked.contains(ZoUtils::protocolClass(it->tarVersion.type)))
                boards.append(it.key());
        } else {
            core = it.key(); // a run flashes one core: the last its records name
        }
    }
    if (!core.isNull())
        boards.append(core);
    return stranded + modules + boards;
}
