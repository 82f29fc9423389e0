#include "ZoUtils.h"

#include "ZoIpv4Address.h"

#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QNetworkInterface>
#include <QStringList>

#include <initializer_list>

Q_LOGGING_CATEGORY(lcUtils, "tolvane.utils")

namespace {

// Which core family's board a code is, and which of its boards. A board is
// no core itself: its own family stays FamilyNone.
struct Board
{
    int family;
    int kind;
};

constexpr Board NoBoard {ZoUtils::FamilyNone, ZoUtils::NotABoard};
constexpr Board Arno2Data {ZoUtils::FamilyArno2, ZoUtils::DataBoard};
constexpr Board Arno2Feature {ZoUtils::FamilyArno2, ZoUtils::FeatureBoard};
constexpr Board Emba2Data {ZoUtils::FamilyEmba2, ZoUtils::DataBoard};

// The catalogue row of one device type code. airframe -1: a core of the
// family whose variant is not known from the code, the caller's value stays.
struct DeviceRow
{
    tdu1 code;
    const char *key;
    const char *icon;
    int airframe;
    int family;
    Board board;
};

constexpr int Keep = -1;

const DeviceRow kDevices[] = {
    {6, QT_TRANSLATE_NOOP("QObject", "MsgGNCEmba"), "emba.png", 1, 6, NoBoard},
    {7, QT_TRANSLATE_NOOP("QObject", "MsgGNCEmba"), "emba.png", 2, 6, NoBoard},
    {8, QT_TRANSLATE_NOOP("QObject", "MsgGNCEmba"), "emba.png", 3, 6, NoBoard},
    {9, QT_TRANSLATE_NOOP("QObject", "MsgGNCArno"), "arno.png", 1, 1, NoBoard},
    {10, QT_TRANSLATE_NOOP("QObject", "MsgGNCArno"), "arno.png", 2, 1, NoBoard},
    {11, QT_TRANSLATE_NOOP("QObject", "MsgGNCArno"), "arno.png", 3, 1, NoBoard},
    {21, QT_TRANSLATE_NOOP("QObject", "MsgGNCEmba"), "emba.png", Keep, 6, NoBoard},
    {22, QT_TRANSLATE_NOOP("QObject", "MsgGNCArno"), "arno.png", Keep, 1, NoBoard},
    {23, QT_TRANSLATE_NOOP("QObject", "MsgGNCDRENT"), "drent.png", 1, 5, NoBoard},
    {24, QT_TRANSLATE_NOOP("QObject", "MsgGNCDRENT"), "drent.png", 2, 5, NoBoard},
    {25, QT_TRANSLATE_NOOP("QObject", "MsgGNCDRENT"), "drent.png", 3, 5, NoBoard},
    {26, QT_TRANSLATE_NOOP("QObject", "MsgGNCDRENT"), "drent.png", Keep, 5, NoBoard},
    {29, QT_TRANSLATE_NOOP("QObject", "MsgPwb6S"), "pwb.png", 0, 0, NoBoard},
    {30, QT_TRANSLATE_NOOP("QObject", "MsgPwb12S"), "pwb.png", 0, 0, NoBoard},
    {32, QT_TRANSLATE_NOOP("QObject", "MsgFennic"), "fennic.png", 0, 0, NoBoard},
    {33, QT_TRANSLATE_NOOP("QObject", "MsgGNCBrisk"), "brisk.png", 1, 3, NoBoard},
    {34, QT_TRANSLATE_NOOP("QObject", "MsgGNCBrisk"), "brisk.png", 2, 3, NoBoard},
    {35, QT_TRANSLATE_NOOP("QObject", "MsgGNCBrisk"), "brisk.png", 3, 3, NoBoard},
    {36, QT_TRANSLATE_NOOP("QObject", "MsgGostrel"), "gostrel.png", 0, 0, NoBoard},
    {37, QT_TRANSLATE_NOOP("QObject", "MsgQV1"), "qv1.png", 0, 0, NoBoard},
    {38, QT_TRANSLATE_NOOP("QObject", "MsgExtCompass"), "extcompass.png", 0, 0, NoBoard},
    {39, QT_TRANSLATE_NOOP("QObject", "MsgFuelGauge"), "fuelguage.png", 0, 0, NoBoard},
    {41, QT_TRANSLATE_NOOP("QObject", "MsgGNCArno2"), "arno2.png", 1, 2, NoBoard},
    {42, QT_TRANSLATE_NOOP("QObject", "MsgGNCArno2"), "arno2.png", 2, 2, NoBoard},
    {43, QT_TRANSLATE_NOOP("QObject", "MsgGNCArno2"), "arno2.png", 3, 2, NoBoard},
    {44, QT_TRANSLATE_NOOP("QObject", "MsgGNCBrisk2DataBoard"), "arno2.png", 0, 0, Arno2Data},
    {45, QT_TRANSLATE_NOOP("QObject", "MsgGNCBrisk2FeatureBoard"), "arno2.png", 0, 0, Arno2Feature},
    {46, QT_TRANSLATE_NOOP("QObject", "MsgJX1"), "jx1.png", 0, 0, NoBoard},
    {47, QT_TRANSLATE_NOOP("QObject", "MsgGNCBrisk2"), "brisk2.png", 1, 4, NoBoard},
    {48, QT_TRANSLATE_NOOP("QObject", "MsgGNCBrisk2"), "brisk2.png", 2, 4, NoBoard},
    {49, QT_TRANSLATE_NOOP("QObject", "MsgGNCBrisk2"), "brisk2.png", 3, 4, NoBoard},
    {57, QT_TRANSLATE_NOOP("QObject", "MsgWN1"), "wn1.png", 0, 0, NoBoard},
    {58, QT_TRANSLATE_NOOP("QObject", "MsgTachmometer"), "wn1.png", 0, 0, NoBoard},
    {65, QT_TRANSLATE_NOOP("QObject", "MsgJX1"), "jx1.png", 0, 0, NoBoard},
    {67, QT_TRANSLATE_NOOP("QObject", "MsgGNCDRENT"), "drent.png", 258, 5, NoBoard},
    {68, QT_TRANSLATE_NOOP("QObject", "MsgGNCBrisk2"), "brisk2.png", 258, 4, NoBoard},
    {69, QT_TRANSLATE_NOOP("QObject", "MsgGNCArno2"), "arno2.png", 258, 2, NoBoard},
    {76, QT_TRANSLATE_NOOP("QObject", "MsgK58NavBoard"), "k58NaviBoard.png", 0, 0, NoBoard},
    {77, QT_TRANSLATE_NOOP("QObject", "MsgGNCTunex"), "tunex.png", 0, 0, NoBoard},
    {78, QT_TRANSLATE_NOOP("QObject", "MsgGNCVexaGNSS_A"), "tirel_a.png", 0, 0, NoBoard},
    {79, QT_TRANSLATE_NOOP("QObject", "MsgGNCHesk24S"), "hesk24s.png", 0, 0, NoBoard},
    {80, QT_TRANSLATE_NOOP("QObject", "MsgGNCEmba2"), "emba2.png", 1, 7, NoBoard},
    {81, QT_TRANSLATE_NOOP("QObject", "MsgGNCEmba2"), "emba2.png", 2, 7, NoBoard},
    {82, QT_TRANSLATE_NOOP("QObject", "MsgGNCEmba2"), "emba2.png", 3, 7, NoBoard},
    {83, QT_TRANSLATE_NOOP("QObject", "MsgGNCEmba2DataBoard"), "emba2.png", 0, 0, Emba2Data},
    {86, QT_TRANSLATE_NOOP("QObject", "MsgGNCServo"), "lkservo.png", 0, 0, NoBoard},
    {92, QT_TRANSLATE_NOOP("QObject", "MsgJX1Pro"), "wn1.png", 0, 0, NoBoard},
    {208, QT_TRANSLATE_NOOP("QObject", "MsgGNCVexaGNSS_B"), "tirel_b.png", 0, 0, NoBoard},
};

const DeviceRow kUnknown
    = {0, QT_TRANSLATE_NOOP("QObject", "MsgUnknownDev"), "unknown.png", 0, 0, NoBoard};

const DeviceRow &rowOf(tdu1 code)
{
    for (const DeviceRow &row : kDevices) {
        if (row.code == code)
            return row;
    }
    return kUnknown;
}

bool in(tdu1 code, int lo, int hi)
{
    return code >= lo && code <= hi;
}

// Family members of the firmware id table: the firmware id for airframe 1,
// 2, 3 and 258 (0 where the family has no such member) and every code that
// belongs to the family.
struct FirmwareRow
{
    tdu1 ids[4];
    std::initializer_list<int> members;
};

const FirmwareRow kFirmwareRows[] = {
    {{6, 7, 8, 0}, {6, 7, 8, 21}},
    {{9, 10, 11, 0}, {9, 10, 11, 22}},
    {{23, 24, 25, 67}, {23, 24, 25, 26, 67}},
    {{33, 34, 35, 0}, {33, 34, 35}},
    {{41, 42, 43, 69}, {41, 42, 43, 69}},
    {{47, 48, 49, 68}, {47, 48, 49, 68}},
    {{80, 81, 82, 0}, {80, 81, 82}},
};

} // namespace

QString ZoUtils::deviceName(tdu1 code, int &airframe)
{
    const DeviceRow &row = rowOf(code);
    if (row.airframe != Keep)
        airframe = row.airframe;
    return QCoreApplication::translate("QObject", row.key);
}

bool ZoUtils::isKnownDevice(tdu1 code)
{
    return &rowOf(code) != &kUnknown;
}

QString ZoUtils::iconPath(tdu1 code)
{
    return QStringLiteral(":/resource/icon/") + QLatin1String(rowOf(code).icon);
}

QString ZoUtils::airframeName(int airframe)
{
    // Marked one by one so that the dictionary tools find every key.
    static const struct
    {
        int airframe;
        const char *key;
    } kNames[] = {
        {AirframeMR, QT_TRANSLATE_NOOP("QObject", "MsgMR")},
        {AirframeFW, QT_TRANSLATE_NOOP("QObject", "MsgFW")},
        {AirframeQP, QT_TRANSLATE_NOOP("QObject", "MsgQP")},
        {AirframeAG, QT_TRANSLATE_NOOP("QObject", "MsgAG")},
    };
    for (const auto &name : kNames)
        if (name.airframe == airframe)
            return QCoreApplication::translate("QObject", name.key);
    return QString();
}

QString ZoUtils::versionText(const tVersion &version)
{
    return QStringLiteral("V%1.%2.%3").arg(version.major).arg(version.minor).arg(version.revision);
}

int ZoUtils::coreFamily(tdu1 code)
{
    return rowOf(code).family;
}

bool ZoUtils::sameCoreFamily(tdu1 a, tdu1 b)
{
    return coreFamily(a) == coreFamily(b);
}

bool ZoUtils::isCore(tdu1 code)
{
    return in(code, 6, 12) || code == 15 || in(code, 21, 26) || in(code, 33, 35) || in(code, 41, 43)
        || in(code, 47, 49) || in(code, 67, 69) || in(code, 80, 82);
}

bool ZoUtils::isSecondGenerationCore(tdu1 code)
{
    return in(code, 41, 43) || in(code, 47, 49) || code == 68 || code == 69 || in(code, 80, 82);
}

bool ZoUtils::isArno2(tdu1 code)
{
    return in(code, 41, 43) || code == 69;
}

bool ZoUtils::isEmba2(tdu1 code)
{
    return in(code, 80, 82);
}

int ZoUtils::boardKind(tdu1 code)
{
    return rowOf(code).board.kind;
}

bool ZoUtils::isBoard(tdu1 code)
{
    return boardKind(code) != NotABoard;
}

bool ZoUtils::isBoardOf(tdu1 code, tdu1 coreCode)
{
    return isBoard(code) && rowOf(code).board.family == coreFamily(coreCode);
}

tdu1 ZoUtils::boardFor(tdu1 coreCode, int kind)
{
    for (const DeviceRow &row : kDevices) {
        if (row.board.kind == kind && isBoardOf(row.code, coreCode))
            return row.code;
    }
    return 0;
}

int ZoUtils::protocolClass(tdu1 code)
{
    if (code == 77 || code == 86)
        return ClassBus;
    if (code == 79 || code == 83)
        return ClassCanByDevNum;
    if (isCore(code))
        return ClassCore;
    return ClassCan;
}

int ZoUtils::coreProtocolIndex(tdu1 code)
{
    static const std::initializer_list<int> kIndex[] = {
        {6, 9, 23, 33, 41, 47, 80},
        {7, 10, 12, 15, 24, 34, 42, 48, 81},
        {8, 11, 25, 35, 43, 49, 82},
        {67, 68, 69},
    };
    for (int i = 0; i < 4; ++i)
        for (int member : kIndex[i])
            if (member == code)
                return i;
    return -1;
}

int ZoUtils::protocolTypeOfIndex(int index)
{
    static const int kTypes[] = {AirframeMR, AirframeFW, AirframeQP, AirframeAG};
    return index >= 0 && index < 4 ? kTypes[index] : AirframeNone;
}

tdu1 ZoUtils::firmwareIdFor(tdu1 code, int airframe)
{
    if (!in(code, 6, 82))
        return code;
    int column;
    switch (airframe) {
    case AirframeMR:
        column = 0;
        break;
    case AirframeFW:
        column = 1;
        break;
    case AirframeQP:
        column = 2;
        break;
    case AirframeAG:
        column = 3;
        break;
    default:
        return code;
    }
    for (const FirmwareRow &row : kFirmwareRows) {
        for (int member : row.members) {
            if (member == code)
                return row.ids[column] != 0 ? row.ids[column] : code;
        }
    }
    return code;
}

QList<ZoDeviceKey> ZoUtils::moduleListFor(tdu1 coreCode, const QList<tdu1> &tunexNodes,
    const QList<tdu1> &servoNodes, const QList<tds4> &ignored)
{
    static const tdu1 kArno2[] = {44, 45, 46, 65, 92, 36, 37, 38, 57, 58, 79};
    static const tdu1 kBrisk2[] = {46, 65, 92, 36, 37, 38, 57, 58, 79};
    static const tdu1 kEmba2[] = {83, 46, 65, 92, 36, 37, 38, 57, 58, 79};

    QList<ZoDeviceKey> list;
    const auto addModule = [&list, &ignored](tdu1 type, tdu1 node = 0) {
        const ZoDeviceKey module(type, node);
        if (!ignored.contains(module.catalogueId()))
            list.append(module);
    };
    if (!in(coreCode, 41, 82))
        return list;
    if (isArno2(coreCode)) {
        for (tdu1 type : kArno2)
            addModule(type);
    } else if (in(coreCode, 47, 49) || coreCode == 68) {
        for (tdu1 type : kBrisk2)
            addModule(type);
    } else if (isEmba2(coreCode)) {
        for (tdu1 type : kEmba2)
            addModule(type);
        for (tdu1 node : tunexNodes)
            addModule(77, node);
        for (tdu1 node : servoNodes)
            addModule(86, node);
        if (tunexNodes.isEmpty())
            addModule(77);
    }
    return list;
}

QString ZoUtils::findIpSameNetSegmentToIds(const QString &address)
{
    if (address.isEmpty())
        return QString();
    const QStringList wanted = address.split(QLatin1Char('.'));
    if (wanted.size() < 3)
        return QString();
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        const auto entries = iface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol
                || entry.broadcast().isNull())
                continue;
            const QString text = entry.ip().toString();
            if (text == QLatin1String("127.0.0.1"))
                continue;
            const QStringList parts = text.split(QLatin1Char('.'));
            if (parts.size() >= 3 && parts[0] == wanted[0] && parts[1] == wanted[1]
                && parts[2] == wanted[2]) {
                qCDebug(lcUtils) << "ZoUtils::findIpSameNetSegmentToIds" << __LINE__ << text;
                return text;
            }
        }
    }
    return QString();
}

tdu4 ZoUtils::ipToUInt(const QString &address, bool *ok)
{
    tdu4 value = 0;
    const bool valid = ZoIpv4Address::parse(address, &value);
    if (!valid)
        qCWarning(lcUtils) << "IP is error!!!!" << address;
    if (ok)
        *ok = valid;
    return value;
}
