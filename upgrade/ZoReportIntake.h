#pragma once

#include "ZoDevFMInfo.h"
#include "ZoUpgradeEnvironment.h"

#include <QList>
#include <QObject>

class ZoBootCommands;
class ZoBootloaderProbe;
class ZoConnectionPhase;
class ZoCoreHeaderChoice;
class ZoCoreRecovery;
class ZoDeviceRoster;
class ZoManualAdd;
class ZoMsgLooper;
class ZoPlaneSearch;
class ZoRunJournal;
class ZoTargetIntake;
class ZoUpgradeRun;

// What the aircraft reports outside a run, put on the roster: the core's
// version (which sets the modules its type carries), build and EID, and each
// module's version from its application or, after a forced report, from its
// bootloader. A run reads its devices back itself, so nothing is taken
// while one runs.
//
// Lives on the engine's thread; the looper's reports reach it queued.
class ZoReportIntake : public QObject
{
    Q_OBJECT
public:
    // The engine's parts it reads and writes; none is owned.
    struct Parts
    {
        ZoDeviceRoster *roster;
        const ZoUpgradeRun *run;
        ZoManualAdd *manual;
        ZoPlaneSearch *search;
        ZoCoreHeaderChoice *choice;
        ZoBootCommands *commands;
        ZoRunJournal *journal;
        ZoConnectionPhase *connection;
        const ZoBootloaderProbe *probe;
        ZoTargetIntake *targets;
        ZoCoreRecovery *recovery;
    };
    ZoReportIntake(const Parts &parts, const ZoUpgradeEnvironment &env, QObject *parent = nullptr);

    // Settled on an aircraft (its catalogue asked, or a run under way): the
    // core repeating what its record holds changes nothing.
    void setSettled(bool on) { m_settled = on; }

    void onCoreVersion(tVersion version);
    // A core found answering from its bootloader: due whatever its version,
    // its catalogue fetched as for a core that never tells its identity.
    void addStrandedCore(tVersion version);
    // A core that answered, or one added by hand that passed its check.
    void addCore(tVersion version, bool manual);
    void onCoreCompileTime(tFcsDateTime compileTime);
    // Hears the core's and the modules' reports from `looper`.
    void attach(ZoMsgLooper *looper);
    void onCoreEid(const QString &eid);
    // The next version report of this module comes from its bootloader.
    void onBootloaderReport(tVersion version, tdu1 number);
    void onModuleVersion(tVersion version, tdu1 number, const QString &serial);

Q_SIGNALS:
    void sigRecordChanged(ZoDeviceKey key);
    void sigCoreHeader(QString name, tVersion version);
    void sigCloseAddCore();
    void sigBrisk2Type(tdu1 type);
    // A core added by hand is on the roster: its catalogue is due.
    void sigCoreAdded();

private:
    Parts m_p;
    ZoUpgradeEnvironment m_env;
    bool m_settled = false;
    // The module whose next version report comes from its bootloader (its
    // type and the number it reported), null for none.
    ZoDeviceKey m_bootloaderReport;
};
