#include "ZoCoreHeaderChoice.h"

#include "ZoDeviceRoster.h"
#include "ZoUtils.h"

namespace {

// The key of a board beside a core of coreType's family (null: none).
ZoDeviceKey boardKey(tdu1 coreType, int kind)
{
    return ZoDeviceKey(ZoUtils::boardFor(coreType, kind));
}

} // namespace

ZoCoreHeaderChoice::ZoCoreHeaderChoice(ZoDeviceRoster *roster, QObject *parent)
    : QObject(parent)
    , m_roster(roster)
{
}

void ZoCoreHeaderChoice::resetFor(tdu1 coreType)
{
    m_protocolType = ZoUtils::protocolTypeOfIndex(ZoUtils::coreProtocolIndex(coreType));
}

void ZoCoreHeaderChoice::pickProtocolType(tds4 protocolType)
{
    const tdu1 coreType = m_roster->core().curVersion.type;
    const ZoDeviceKey coreKey = m_roster->core().key;
    if (ZoUtils::isArno2(coreType)) {
        const ZoDeviceKey data = boardKey(coreType, ZoUtils::DataBoard);
        const ZoDevFMInfo *board = m_roster->record(
            m_roster->contains(data) ? data : boardKey(coreType, ZoUtils::FeatureBoard));
        if (board && board->needUpgrade) {
            Q_EMIT sigProtocolTypeReset(coreType);
            return;
        }
    }
    m_roster->clearAlternates();
    m_protocolType = protocolType;
    const tdu1 firmwareId = ZoUtils::firmwareIdFor(coreType, protocolType);
    const ZoDeviceKey newKey(firmwareId);
    if (const ZoDevFMInfo *current = !coreKey.isNull() ? m_roster->record(coreKey) : nullptr) {
        // The core's record under the firmware id of that protocol type,
        // without a target until its catalogue comes.
        ZoDevFMInfo record = *current;
        record.key = newKey;
        record.tarVersion = tVersion();
        record.releaseNote.clear();
        if (newKey != coreKey) {
            m_roster->insertAlternate(record);
            // A run takes the last core record due: the core's own must not
            // still offer the other airframe's image.
            record.key = coreKey;
            record.needUpgrade = false;
        }
        *m_roster->record(coreKey) = record;
        Q_EMIT sigTargetCleared(coreKey);
    }
    Q_EMIT sigFetch(firmwareId);
}

void ZoCoreHeaderChoice::pickBoardType(tdu1 type)
{
    const tdu1 coreType = m_roster->core().curVersion.type;
    if (!ZoUtils::isArno2(coreType))
        return;
    const ZoDeviceKey feature = boardKey(coreType, ZoUtils::FeatureBoard);
    if (type == 0) {
        m_roster->removeRow(feature);
        return;
    }
    const ZoDevFMInfo *data = m_roster->record(boardKey(coreType, ZoUtils::DataBoard));
    if (m_roster->contains(feature))
        return;
    if (data && !data->needUpgrade) {
        Q_EMIT sigAddModule(feature);
        return;
    }
    Q_EMIT sigInform(data ? QStringLiteral("MsgR4DataBoardNeedUpgradeFirst")
                          : QStringLiteral("MsgNeedForceR4DataBoard"));
    Q_EMIT sigBoardType(0);
}
