#include "ZoCoreHeaderChoice.h"

#include "ZoDeviceRoster.h"
#include "ZoUtils.h"

namespace {

constexpr tds4 DataBoard = 0x2C0000;
constexpr tds4 FeatureBoard = 0x2D0000;

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

void ZoCoreHeaderChoice::pickProtocolType(tds4 protocolType, tdu1 coreType, tds4 coreKey)
{
    if (ZoUtils::isArno2(coreType)) {
        const ZoDevFMInfo *board
            = m_roster->record(m_roster->contains(DataBoard) ? DataBoard : FeatureBoard);
        if (board && board->needUpgrade) {
            Q_EMIT sigProtocolTypeReset(coreType);
            return;
        }
    }
    m_roster->clearAlternates();
    m_protocolType = protocolType;
    const tdu1 firmwareId = ZoUtils::firmwareIdFor(coreType, protocolType);
    const tds4 newKey = tds4(firmwareId) << 16;
    if (const ZoDevFMInfo *current = coreKey != 0 ? m_roster->record(coreKey) : nullptr) {
        // The core's record under the firmware id of that protocol type,
        // without a target until its catalogue comes.
        ZoDevFMInfo record = *current;
        record.key = newKey;
        record.tarVersion = tVersion();
        record.releaseNote.clear();
        if (newKey == coreKey)
            *m_roster->record(newKey) = record;
        else
            m_roster->insertAlternate(record);
        Q_EMIT sigTargetCleared(coreKey);
    }
    Q_EMIT sigFetch(firmwareId);
}

void ZoCoreHeaderChoice::pickBoardType(tdu1 type, tdu1 coreType)
{
    if (!ZoUtils::isArno2(coreType))
        return;
    if (type == 0) {
        m_roster->removeRow(FeatureBoard);
        return;
    }
    const ZoDevFMInfo *data = m_roster->record(DataBoard);
    if (m_roster->contains(FeatureBoard))
        return;
    if (data && !data->needUpgrade) {
        Q_EMIT sigAddModule(ZoUtils::boardFor(coreType, ZoUtils::FeatureBoard));
        return;
    }
    Q_EMIT sigInform(data ? QStringLiteral("MsgR4DataBoardNeedUpgradeFirst")
                          : QStringLiteral("MsgNeedForceR4DataBoard"));
    Q_EMIT sigBoardType(0);
}
