#include "ZoBootCommands.h"

#include "ZoFcsProtocolBase.h"
#include "ZoFirmwareUpdateProtocol.h"
#include "ZoMsgLooper.h"
#include "ZoUtils.h"

#include <QByteArray>
#include <QDateTime>
#include <QLoggingCategory>

#include <algorithm>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

namespace {

// The module bootloader's key, after type and device number in the
// enter-bootloader command of the addressed bus kinds.
const tdu1 kModuleKey[6] = {0x6A, 0x0C, 0xE3, 0x51, 0x97, 0x4B};

constexpr tdu2 CanVersion = 0x0F0;
constexpr tdu2 CanEnter = 0x6F0;
constexpr tdu2 CanEnterAddressed = 0x6F8;
constexpr tdu2 CanControl = 0x6F1;
constexpr tdu2 CanTransfer = 0x6F2;
constexpr tdu1 BusVersion = 0xFA;
constexpr tdu1 BusEnter = 0xFB;
constexpr tdu1 BusControl = 0xFC;

QString hexId(tdu1 id)
{
    return QString::number(id, 16).toUpper();
}

} // namespace

ZoBootCommands::ZoBootCommands(ZoMsgLooper *looper)
    : m_looper(looper)
    , m_fcs(std::make_unique<ZoFcsProtocolBase>())
    , m_update(std::make_unique<ZoFirmwareUpdateProtocol>())
{
}

ZoBootCommands::~ZoBootCommands() = default;

bool ZoBootCommands::send(const tdu1 *bytes, int length)
{
    return m_looper && bytes && length > 0 && m_looper->sendCommand(bytes, length);
}

bool ZoBootCommands::coreVersionQuery()
{
    tdu1 n = 0;
    const tdu1 *version = m_fcs->makeVersionRequest(n);
    if (!send(version, n))
        return false;
    qCDebug(lcUpgrade) << "Send to Firmware Version Info";
    const tdu1 *compileTime = m_fcs->makeCompileTimeRequest(n);
    if (!send(compileTime, n))
        return false;
    qCDebug(lcUpgrade) << "Send to Firmware Complie Time";
    return true;
}

bool ZoBootCommands::identityQuery()
{
    tdu1 n = 0;
    const tdu1 *request = m_fcs->makeIdentityRequest(n);
    if (!send(request, n))
        return false;
    qCDebug(lcUpgrade) << "Send to Get Firmware EID Info";
    return true;
}

bool ZoBootCommands::coreEnterBootloader(tdu1 coreType)
{
    tdu1 n = 0;
    const tdu1 *cmd
        = coreType == 76 ? m_fcs->makeEnterBootloaderShort(n) : m_fcs->makeEnterBootloader(n);
    if (!send(cmd, n))
        return false;
    qCDebug(lcUpgrade) << "Send to GNC enter bootloader state to ready to uprade"
                       << QDateTime::currentMSecsSinceEpoch();
    return true;
}

bool ZoBootCommands::coreLeaveBootloader()
{
    tdu1 frame[8] = {};
    tdu1 n = 0;
    m_update->buildLeaveBootloader(frame, n, true);
    if (!send(frame, n))
        return false;
    qCDebug(lcUpgrade) << "Send to GNC switch out Bootloader state"
                       << QDateTime::currentMSecsSinceEpoch();
    return true;
}

bool ZoBootCommands::coreReadParameters()
{
    tdu1 frame[8] = {};
    tdu1 command = 0;
    tdu1 n = 0;
    m_update->buildReadParameters(frame, command, n, true);
    if (!send(frame, n))
        return false;
    qCDebug(lcUpgrade) << "Send to Read App Parameter on GNC Bootloader state";
    return true;
}

bool ZoBootCommands::canPackage(tdu2 canId, bool standard, const tdu1 *data, int length)
{
    if (length < 0 || length > 253)
        return false;
    tdu1 package[255] = {};
    const tdu2 word = tdu2((canId & 0x7FF) | (standard ? 0 : 0x8000));
    package[0] = tdu1(word & 0xFF);
    package[1] = tdu1(word >> 8);
    std::copy(data, data + length, package + 2);
    tdu1 n = tdu1((length + 2) % 256);
    const tdu1 *sub = m_fcs->makeCanSend(package, n);
    if (!sub || !send(sub, n))
        return false;
    if (lcUpgrade().isDebugEnabled())
        qCDebug(lcUpgrade).noquote() << "Send CAN Package:" << QString::number(word, 16)
                                     << QByteArray(reinterpret_cast<const char *>(sub), n).toHex();
    return true;
}

bool ZoBootCommands::busPackage(tdu1 command, const tdu1 *data, int length)
{
    if (length < 0 || length > 248)
        return false;
    tdu1 n = tdu1(length);
    const tdu1 *sub = m_fcs->makeBusSend(command, data, n);
    if (!sub || !send(sub, n))
        return false;
    if (lcUpgrade().isDebugEnabled())
        qCDebug(lcUpgrade).noquote() << "Send BUS Package:" << QString::number(command, 16)
                                     << QByteArray(reinterpret_cast<const char *>(sub), n).toHex();
    return true;
}

bool ZoBootCommands::module(ModuleOp op, tdu1 devId, tdu1 devNum)
{
    const int kind = ZoUtils::protocolClass(devId);
    if (kind == ZoUtils::ClassCore)
        return false;
    const bool bus = kind == ZoUtils::ClassBus;
    tdu1 d[8] = {};
    bool ok = false;
    const char *text = nullptr;
    switch (op) {
    case OpVersion:
        d[0] = devId;
        if (bus) {
            d[1] = devNum;
            ok = busPackage(BusVersion, d, 2);
        } else {
            d[1] = 0x10;
            d[2] = 0xFF;
            d[3] = 0xFF;
            ok = canPackage(CanVersion, false, d, 8);
        }
        text = "Send to Get CAN Device Firmware Version";
        break;
    case OpEnter:
        d[0] = devId;
        if (kind == ZoUtils::ClassCan) {
            ok = canPackage(CanEnter, true, d, 8);
        } else {
            d[1] = devNum;
            std::copy(kModuleKey, kModuleKey + 6, d + 2);
            ok = bus ? busPackage(BusEnter, d, 8) : canPackage(CanEnterAddressed, true, d, 8);
        }
        text = bus ? "Send to set BUS Device Enter BootLoader"
                   : "Send to set CAN Device Enter BootLoader";
        break;
    case OpForceReport:
    case OpLeave: {
        const tdu1 command = op == OpLeave ? 0x50 : (kind == ZoUtils::ClassCan ? 0x22 : 0x41);
        if (kind == ZoUtils::ClassCan) {
            d[0] = command;
            ok = canPackage(CanControl, true, d, 1);
        } else {
            d[0] = devId;
            d[1] = devNum;
            d[2] = command;
            ok = bus ? busPackage(BusControl, d, 8) : canPackage(CanControl, true, d, 8);
        }
        if (op == OpLeave)
            text = bus ? "Send to BUS Device Switch out BootLoader"
                       : "Send to CAN Device Switch out BootLoader";
        else
            text = bus ? "Send to Force Get BUS Device on BootLoader"
                       : "Send to Force Get CAN Device on BootLoader";
        break;
    }
    }
    if (ok)
        qCDebug(lcUpgrade).noquote() << text << kind << hexId(devId) << devNum;
    return ok;
}

bool ZoBootCommands::transferFrame(bool core, tdu1 devId, const tdu1 *frame, int length)
{
    if (core)
        return send(frame, length);
    if (ZoUtils::protocolClass(devId) == ZoUtils::ClassBus)
        return busPackage(BusControl, frame, length);
    return canPackage(CanTransfer, true, frame, length % 256);
}

bool ZoBootCommands::keyFrame(
    bool core, tdu1 devId, tdu1 devNum, const std::array<tdu1, 48> &header)
{
    m_update->setKeyMode(0);
    const int kind = ZoUtils::protocolClass(devId);
    // The key frame encrypts the header in place; the caller keeps the original.
    std::array<tdu1, 48> copy = header;
    tdu1 out[ZoFirmwareUpdateProtocol::MaxBlock + 8] = {};
    const tdu2 length = m_update->buildKeyFrame(out, copy.data(), core, devId, devNum,
        !core && (kind == ZoUtils::ClassCanByDevNum || kind == ZoUtils::ClassBus));
    return length != 0 && transferFrame(core, devId, out, length);
}

bool ZoBootCommands::dataBlock(
    bool core, tdu1 devId, tdu1 devNum, const tdu1 *image, tds4 offset, tds4 chunkSize)
{
    m_update->setKeyMode(0);
    const int kind = ZoUtils::protocolClass(devId);
    tdu1 out[ZoFirmwareUpdateProtocol::MaxBlock + 8] = {};
    const tdu2 length = m_update->buildDataFrame(out, image, tdu4(offset), tdu2(chunkSize), core,
        devId, devNum, !core && kind == ZoUtils::ClassCanByDevNum);
    return length != 0 && transferFrame(core, devId, out, length);
}

bool ZoBootCommands::searchQuery(tdu1 what, tdu4 type, tdu4 number)
{
    if (what == 0)
        return coreVersionQuery();
    return what == 1 && module(OpVersion, tdu1(type), tdu1(number));
}
