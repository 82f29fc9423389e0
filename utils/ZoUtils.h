#pragma once

#include "ZoDeviceKey.h"
#include "ZoTypes.h"

#include <QList>
#include <QString>

// The device catalogue: what a one-byte device type code means (name, icon,
// core family, board, firmware id, transfer path) and the modules a second
// generation core may carry. Pure functions of their arguments.
class ZoUtils
{
public:
    enum AirframeType : int {
        AirframeNone = 0,
        AirframeMR = 1,
        AirframeFW = 2,
        AirframeQP = 3,
        AirframeAG = 258,
    };

    enum CoreFamily : int {
        FamilyNone = 0,
        FamilyArno = 1,
        FamilyArno2 = 2,
        FamilyBrisk = 3,
        FamilyBrisk2 = 4,
        FamilyDRENT = 5,
        FamilyEmba = 6,
        FamilyEmba2 = 7,
    };

    // Transfer path classes (protocolClass).
    enum ProtocolClass : int {
        ClassCore = 1,
        ClassCan = 2,
        ClassCanByDevNum = 3,
        ClassBus = 4,
    };

    // The boards a second generation core carries beside itself: shown and
    // flashed with the core, not as modules of their own.
    enum BoardKind : int {
        NotABoard = 0,
        DataBoard = 1,
        FeatureBoard = 2,
    };

    ZoUtils() = delete;

    // Translated name. Sets airframe for the codes that carry one; the
    // family codes without a variant (21, 22, 26) leave it as it was.
    static QString deviceName(tdu1 code, int &airframe);
    // The device table has a row of its own for `code`.
    static bool isKnownDevice(tdu1 code);
    static QString iconPath(tdu1 code);
    static QString airframeName(int airframe);
    static QString versionText(const tVersion &version);

    static int coreFamily(tdu1 code);
    static bool sameCoreFamily(tdu1 a, tdu1 b);
    static bool isCore(tdu1 code);
    static bool isSecondGenerationCore(tdu1 code);
    static bool isArno2(tdu1 code);
    static bool isEmba2(tdu1 code);

    static int boardKind(tdu1 code);
    static bool isBoard(tdu1 code);
    // A board that belongs beside a core of coreCode's family.
    static bool isBoardOf(tdu1 code, tdu1 coreCode);
    // The code of that kind of board for coreCode's family, or 0.
    static tdu1 boardFor(tdu1 coreCode, int kind);

    static int protocolClass(tdu1 code);
    // Which of the four airframe protocol types a core of this code runs:
    // index 0 to 3 of the core header's protocol box (protocol type 1, 2, 3
    // or 258), or -1 for a code that offers no choice.
    static int coreProtocolIndex(tdu1 code);
    static int protocolTypeOfIndex(int index);
    static tdu1 firmwareIdFor(tdu1 code, int airframe);

    // The expected module list for the core. tunexNodes and servoNodes are
    // the nodes of the bus modules addressed by node (busdevcfg.xml); without
    // any tuning module node one is expected at node 0. The ids in `ignored`
    // (sysconfig.xml, catalogue ids: node x 65536 + type) are left out.
    static QList<ZoDeviceKey> moduleListFor(tdu1 coreCode, const QList<tdu1> &tunexNodes,
        const QList<tdu1> &servoNodes, const QList<tds4> &ignored);

    // A local IPv4 address (with a broadcast address, not 127.0.0.1) whose
    // first three octets equal those of address, or empty text.
    static QString findIpSameNetSegmentToIds(const QString &address);
    // Dotted IPv4 text (as ZoIpv4Address reads it) as a number, first octet
    // most significant. Anything else is logged and gives 0 with *ok false.
    static tdu4 ipToUInt(const QString &address, bool *ok = nullptr);
};
