#include "ZoReportIntake.h"

#include "ZoBootCommands.h"
#include "ZoBootloaderProbe.h"
#include "ZoConnectionPhase.h"
#include "ZoCoreHeaderChoice.h"
#include "ZoCoreRecovery.h"
#include "ZoDeviceRoster.h"
#include "ZoManualAdd.h"
#include "ZoMsgLooper.h"
#include "ZoPlaneSearch.h"
#include "ZoRunJournal.h"
#include "ZoTargetIntake.h"
#include "ZoUpgradePolicy.h"
#include "ZoUpgradeRun.h"
#include "ZoUtils.h"

#include <QLoggingCategory>

#include <utility>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

ZoReportIntake::ZoReportIntake(const Parts &parts, const ZoUpgradeEnvironment &env, QObject *parent)
    : QObject(parent)
    , m_p(parts)
    , m_env(env)
{
}

void ZoReportIntake::onCoreVersion(tVersion version)
{
    if (m_p.recovery->isActive())
        return m_p.recovery->onCoreReport(version);
    // During a run, what the core says is the read-back's; after it, a late
    // answer to the read-back repeats what the record holds.
    if (m_p.run->isRunning())
        return;
    const ZoDevFMInfo &core = m_p.roster->core();
    if (m_settled && m_p.roster->contains(core.key) && !core.key.isNull()
        && core.curVersion.type == version.type && core.curVersion == version
        && !m_p.manual->isCoreCheck())
        return;
    Q_EMIT sigCloseAddCore();
    if (m_p.manual->isCoreCheck()) {
        m_p.manual->answered();
        m_p.manual->checkCore(version);
        return;
    }
    addCore(version, false);
}

void ZoReportIntake::addCore(tVersion version, bool manual)
{
    const tdu1 t = version.type;
    const bool hasModules = ZoUtils::isSecondGenerationCore(t);
    const QList<ZoDeviceKey> modules = hasModules
        ? ZoUtils::moduleListFor(t, m_env.tunexNodes, m_env.servoNodes, m_env.ignoredDevices)
        : QList<ZoDeviceKey>();
    // The nodes the bus configuration names are meant to be there; the rest
    // of the family's list is what such an aircraft may carry.
    QList<ZoDeviceKey> configured;
    for (const ZoDeviceKey &m : modules)
        if ((m.type == 77 && m_env.tunexNodes.contains(m.number))
            || (m.type == 86 && m_env.servoNodes.contains(m.number)))
            configured << m;
    m_p.roster->setExpectedModules(modules, configured);
    m_p.search->coreIdentified(true, hasModules, modules);

    ZoDevFMInfo record = ZoDeviceRoster::reportRecord(version, 0, QString());
    if (ZoUtils::isEmba2(t))
        record.name = tr("MsgCoreApp");
    const tdu1 pending = m_p.manual->pending();
    record.needUpgrade = manual || (pending != 0 && ZoUtils::sameCoreFamily(t, pending));
    // Added by hand, it answered from the bootloader it was just sent to.
    if (manual)
        record.presence = ZoDevFMInfo::Presence::InBootloader;
    m_p.roster->insertCore(record, ZoUpgradePolicy::isBoard(t));
    m_p.choice->resetFor(t);
    Q_EMIT sigCoreHeader(record.name, version);

    if (manual)
        Q_EMIT sigCoreAdded();
    else
        m_p.commands->identityQuery();
}

void ZoReportIntake::addStrandedCore(tVersion version)
{
    addCore(version, false);
    // A bootloader does not tell its aircraft. The station that left a core
    // of this type there does: the core that comes back must name it.
    QStringList eids;
    for (const ZoRunJournal::Entry &e : m_p.journal->entries())
        if (e.core && e.devId == version.type && !e.eid.isEmpty() && !eids.contains(e.eid))
            eids << e.eid;
    if (eids.size() == 1)
        m_p.roster->setCoreSerial(eids.first());
    if (ZoDevFMInfo *core = m_p.roster->record(m_p.roster->core().key)) {
        core->presence = ZoDevFMInfo::Presence::InBootloader;
        core->needUpgrade = true;
        Q_EMIT sigRecordChanged(core->key);
    }
}

void ZoReportIntake::onCoreCompileTime(tFcsDateTime compileTime)
{
    if (m_p.run->isRunning())
        return;
    qCDebug(lcUpgrade).noquote() << "get GNC FRM compile Time:"
                                 << QStringLiteral("%1-%2-%3 %4:%5:%6")
                                        .arg(compileTime.year)
                                        .arg(compileTime.month)
                                        .arg(compileTime.day)
                                        .arg(compileTime.hour)
                                        .arg(compileTime.minute)
                                        .arg(compileTime.second);
    const ZoDeviceKey key = m_p.roster->setCoreCompileTime(compileTime);
    if (!key.isNull())
        Q_EMIT sigRecordChanged(key);
}

void ZoReportIntake::onCoreEid(const QString &eid)
{
    if (m_p.run->isRunning())
        return;
    const bool repeated = eid == m_p.roster->core().serial;
    const ZoDeviceKey key = m_p.roster->setCoreSerial(eid);
    if (!key.isNull())
        Q_EMIT sigRecordChanged(key);
    qCDebug(lcUpgrade).noquote() << "Get GNC EID" << eid << m_p.roster->core().name;
    m_p.connection->identified(repeated);
    // This core answers from its application: whatever a cut-short run left
    // of it in the journal is over. An entry whose aircraft was not known
    // may be another's core of the same type: only its run or its age ends it.
    for (const ZoRunJournal::Entry &e : m_p.journal->entriesFor(eid)) {
        if (e.core && e.eid == eid)
            m_p.journal->clear(e.eid, e.key);
    }
}

void ZoReportIntake::onBootloaderReport(tVersion version, tdu1 number)
{
    m_bootloaderReport = ZoDeviceKey(version.type, number);
}

void ZoReportIntake::onModuleVersion(tVersion verInfo, tdu1 devIdx, const QString &sn)
{
    // A run reads its devices back itself.
    if (m_p.run->isRunning())
        return;
    const bool fromBootloader
        = std::exchange(m_bootloaderReport, ZoDeviceKey()) == ZoDeviceKey(verInfo.type, devIdx);
    const tdu1 t = verInfo.type;
    const tdu1 pending = m_p.manual->pending();
    // What a probe hears from a bootloader becomes a row of its own when
    // the probe ends.
    if (fromBootloader && m_p.probe->isActive() && pending == 0)
        return;
    ZoDevFMInfo record = ZoDeviceRoster::reportRecord(verInfo, devIdx, sn);
    record.key = m_p.roster->reportKey(t, devIdx, sn);
    ZoDevFMInfo *known = m_p.roster->record(record.key);
    if (known && known->presence == ZoDevFMInfo::Presence::Answering && t != pending
        && !fromBootloader) {
        // A device answering again (a late answer, a second query) keeps
        // its target and its run's result.
        known->curVersion = verInfo;
        known->serial = sn;
        known->devIdx = devIdx;
        Q_EMIT sigRecordChanged(record.key);
        return;
    }
    m_p.manual->answered();
    record.needUpgrade = t == pending;
    // A module added by hand that answers from its bootloader is there now:
    // an addressed one takes the frames meant for its siblings until it is
    // flashed, so it goes first, as one left there by a run would.
    const int kind = ZoUtils::protocolClass(t);
    if (fromBootloader && t == pending
        && (kind == ZoUtils::ClassCanByDevNum || kind == ZoUtils::ClassBus))
        record.presence = ZoDevFMInfo::Presence::InBootloader;
    const tdu1 coreType = m_p.roster->core().curVersion.type;
    m_p.roster->insertModuleReport(record, coreType);
    if (ZoUtils::boardKind(t) == ZoUtils::FeatureBoard && ZoUtils::isArno2(coreType))
        Q_EMIT sigBrisk2Type(1);
    if (t == pending && t != 0)
        m_p.targets->applyStored(record.key, true);
    else if (m_p.connection->state() == ZoConnectionPhase::State::Catalogued)
        m_p.targets->applyArrived(record.key); // the catalogue came before it answered
    m_p.manual->setPending(0);
}

void ZoReportIntake::attach(ZoMsgLooper *l)
{
    connect(l, &ZoMsgLooper::sigGNCEID, this, &ZoReportIntake::onCoreEid);
    connect(l, &ZoMsgLooper::sigGNCFMVersion, this, &ZoReportIntake::onCoreVersion);
    connect(l, &ZoMsgLooper::sigGNCCompileTime, this, &ZoReportIntake::onCoreCompileTime);
    connect(l, &ZoMsgLooper::sigCANDevBootloaderReport, this, &ZoReportIntake::onBootloaderReport);
    connect(l, &ZoMsgLooper::sigCANDevVersion, this, &ZoReportIntake::onModuleVersion);
}
