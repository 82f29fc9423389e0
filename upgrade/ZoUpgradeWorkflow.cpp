#include "ZoUpgradeWorkflow.h"

#include "ZoBootCommands.h"
#include "ZoBootloaderProbe.h"
#include "ZoDeviceRoster.h"
#include "ZoFRMFileStore.h"
#include "ZoFirmwareSource.h"
#include "ZoManualAdd.h"
#include "ZoMsgLooper.h"
#include "ZoPlaneSearch.h"
#include "ZoProtocolLease.h"
#include "ZoRunJournal.h"
#include "ZoUtils.h"

#include <QLoggingCategory>

#include <utility>

Q_LOGGING_CATEGORY(lcUpgrade, "tolvane.upgrade")


ZoUpgradeWorkflow::ZoUpgradeWorkflow(const ZoUpgradeEnvironment &env, QObject *parent)
    : QObject(parent)
    , m_env(env)
    , m_label {env.logLabel}
    , m_ownStore(env.store ? nullptr : std::make_unique<ZoFRMFileStore>())
    , m_store(env.store ? env.store : m_ownStore.get())
    , m_config(env.link ? env.link : &m_ownLink)
    , m_looper(std::make_unique<ZoMsgLooper>())
    , m_lease(std::make_unique<ZoProtocolLease>(m_looper.get(), m_label))
    , m_commands(std::make_unique<ZoBootCommands>(m_looper.get()))
    , m_roster(new ZoDeviceRoster(this))
    , m_source(new ZoFirmwareSource(m_store, env.cloudBaseUrl.toString(), this))
    , m_manual(new ZoManualAdd(m_commands.get(), m_lease.get(), this))
    , m_search(new ZoPlaneSearch(this))
    , m_connection(new ZoConnectionPhase(m_search, m_config, this))
    , m_ownJournal(env.journal ? nullptr : std::make_unique<ZoRunJournal>(env.journalPath))
    , m_journal(env.journal ? env.journal : m_ownJournal.get())
    , m_probe(new ZoBootloaderProbe(m_looper.get(), m_commands.get(), m_lease.get(), this))
    , m_run(new ZoUpgradeRun(m_looper.get(), m_commands.get(), m_lease.get(), m_roster,
          &m_policy, m_source, m_journal, this))
    , m_choice(new ZoCoreHeaderChoice(m_roster, this))
{
    qRegisterMetaType<tVersion>("tVersion");
    qRegisterMetaType<tFcsDateTime>("tFcsDateTime");
    qRegisterMetaType<tdu1>("tdu1");
    qRegisterMetaType<tdu2>("tdu2");
    qRegisterMetaType<tdu4>("tdu4");
    qRegisterMetaType<tds4>("tds4");
    qRegisterMetaType<ZoDeviceKey>("ZoDeviceKey");
    qRegisterMetaType<QList<ZoDeviceKey>>("QList<ZoDeviceKey>");
    qRegisterMetaType<ZoDeviceOutcome>("ZoDeviceOutcome");
    // The run's own type, under the name this class's signal gives it.
    qRegisterMetaType<RunOutcome>("ZoUpgradeWorkflow::RunOutcome");
    qRegisterMetaType<ZoFRMFileInfo>("ZoFRMFileInfo");
    qRegisterMetaType<ZoPlaneConfig>("ZoPlaneConfig");
    setTimings(m_timings);
    m_search->setLogLabel(env.logLabel);
    m_run->setLogLabel(env.logLabel);
    QString why;
    if (m_ownJournal && !m_ownJournal->load(&why))
        qCWarning(lcUpgrade).noquote()
            << m_label << "The run journal was unreadable and is set aside:" << why;

    connect(m_run, &ZoUpgradeRun::sigDeviceStarted, this, &ZoUpgradeWorkflow::onDeviceStarted);
    connect(m_run, &ZoUpgradeRun::sigProgress, this, [this](ZoDeviceKey key, int value) {
        Q_EMIT sigCurrentRow(key);
        Q_EMIT sigProgress(key, value);
    });
    connect(m_run, &ZoUpgradeRun::sigDeviceFinished, this, &ZoUpgradeWorkflow::onDeviceFinished);
    connect(m_run, &ZoUpgradeRun::sigDeviceConfirming, this, &ZoUpgradeWorkflow::sigDeviceConfirming);
    connect(m_probe, &ZoBootloaderProbe::sigFinished, this, &ZoUpgradeWorkflow::onProbeFinished);
    connect(m_run, &ZoUpgradeRun::sigEnded, this, &ZoUpgradeWorkflow::onRunEnded);
    connect(m_connection, &ZoConnectionPhase::sigCatalogueDue, this, [this] {
        if (m_windowMode >= ModeFound)
            selectBranch(m_branchIndex);
    });
    connect(m_connection, &ZoConnectionPhase::sigSearching, this,
        [this] { setWindowMode(ModeSearching); });

    connect(m_roster, &ZoDeviceRoster::sigRowAdded, this, &ZoUpgradeWorkflow::sigRowAdded);
    connect(m_roster, &ZoDeviceRoster::sigRowRemoved, this, &ZoUpgradeWorkflow::sigRowRemoved);
    connect(m_roster, &ZoDeviceRoster::sigRowsCleared, this, &ZoUpgradeWorkflow::sigRowsCleared);
    connect(
        m_roster, &ZoDeviceRoster::sigManualAddRow, this, &ZoUpgradeWorkflow::sigManualAddRow);

    connect(m_source, &ZoFirmwareSource::sigTargetReady, this,
        &ZoUpgradeWorkflow::onUpdateDevFRMTarInfo);
    connect(m_source, &ZoFirmwareSource::sigFetchFinished, this,
        &ZoUpgradeWorkflow::onCatalogueFetched);

    connect(m_choice, &ZoCoreHeaderChoice::sigProtocolTypeReset, this,
        &ZoUpgradeWorkflow::sigProtocolTypeReset);
    connect(m_choice, &ZoCoreHeaderChoice::sigBoardType, this, &ZoUpgradeWorkflow::sigBrisk2Type);
    connect(m_choice, &ZoCoreHeaderChoice::sigTargetCleared, this,
        [this](ZoDeviceKey key) { Q_EMIT sigTargetChanged(key, tVersion(), QString(), false); });
    connect(m_choice, &ZoCoreHeaderChoice::sigFetch, this, [this](tdu1 firmwareId) {
        if (m_windowMode < ModeFound)
            return;
        if (m_branchIndex == BranchCustom)
            requestFirmwareFor(firmwareId, ZoFirmwareSource::CloudCustom, m_customKey);
        else
            requestFirmwareFor(firmwareId, m_branchIndex + 1, QString());
    });
    connect(m_choice, &ZoCoreHeaderChoice::sigAddModule, this,
        &ZoUpgradeWorkflow::onManSelectModule);
    connect(m_choice, &ZoCoreHeaderChoice::sigInform, this, [this](const QString &key) {
        inform(tr(key.toLatin1()));
    });
    connect(m_manual, &ZoManualAdd::sigWaitPopup, this, &ZoUpgradeWorkflow::sigWaitPopup);
    connect(m_manual, &ZoManualAdd::sigModuleSilent, this,
        &ZoUpgradeWorkflow::onManualModuleSilent);
    connect(m_manual, &ZoManualAdd::sigCoreAccepted, this,
        &ZoUpgradeWorkflow::onManualCoreAccepted);
    connect(m_manual, &ZoManualAdd::sigCoreRefused, this, [this] {
        Q_EMIT sigShowAddCore(false);
        resetUpgradeState();
    });
    connect(m_manual, &ZoManualAdd::sigAsk, this,
        [this](int id, QString text) {
            ask(Question(id), text, {ButtonYes, ButtonNo},
                [this, id](int button) { m_manual->answer(id, button); });
        });

    ZoMsgLooper *l = m_looper.get();
    connect(l, &ZoMsgLooper::sigPlaneConnectionChanged, this,
        &ZoUpgradeWorkflow::onPlaneConnectionChanged);
    connect(this, &ZoUpgradeWorkflow::sigCloseCom, l, &ZoMsgLooper::onClosePlaneComm);
    connect(l, &ZoMsgLooper::sigGNCEID, this, &ZoUpgradeWorkflow::onUpdateGNCEID);
    connect(l, &ZoMsgLooper::sigGNCFMVersion, this, &ZoUpgradeWorkflow::onUpdateGNCFMVersion);
    connect(l, &ZoMsgLooper::sigGNCCompileTime, this, &ZoUpgradeWorkflow::onUpdateGNCFMComplieTime);
    connect(l, &ZoMsgLooper::sigCANDevBootloaderReport, this,
        [this](tVersion v, tdu1 index) { m_bootloaderReport = ZoDeviceKey(v.type, index); });
    connect(l, &ZoMsgLooper::sigCANDevVersion, this, &ZoUpgradeWorkflow::onUpdateCANDevVersion);
    connect(l, &ZoMsgLooper::openPlaneComm, this, &ZoUpgradeWorkflow::sigLinkOpened);
    connect(l, &ZoMsgLooper::sigCloseComState, this, &ZoUpgradeWorkflow::sigLinkClosed);
    connect(l, &ZoMsgLooper::sigCloseComState, this, [this] {
        // Whatever closed it, the device in flight is cut off.
        if (m_run->isRunning())
            m_run->fail(ZoUpgradeRun::End::LinkLost);
    });

    connect(m_search, &ZoPlaneSearch::sigOpenComUdp, l, &ZoMsgLooper::onOpenPlaneUdp);
    connect(m_search, &ZoPlaneSearch::sigOpenComTCPClient, l, &ZoMsgLooper::onOpenPlaneTCPClient);
    connect(m_search, &ZoPlaneSearch::sigOpenComSerial, l, &ZoMsgLooper::onOpenPlaneSerial);
    connect(m_search, &ZoPlaneSearch::sigCloseCom, l, &ZoMsgLooper::onClosePlaneComm);
    connect(l, &ZoMsgLooper::sigSerialPortDenied, m_search, &ZoPlaneSearch::onSerialPortDenied);
    connect(l, &ZoMsgLooper::openPlaneComm, m_search, &ZoPlaneSearch::onOpenCommState);
    connect(m_search, &ZoPlaneSearch::sigSerialPortDenied, this,
        &ZoUpgradeWorkflow::sigSerialPortDenied);
    connect(l, &ZoMsgLooper::sigPlaneConnectionChanged, m_search, &ZoPlaneSearch::onPlaneDeteced);
    connect(m_search, &ZoPlaneSearch::sigProgressChanged, this,
        &ZoUpgradeWorkflow::sigSearchProgress);
    connect(m_search, &ZoPlaneSearch::sigDescriptionChanged, this,
        &ZoUpgradeWorkflow::sigSearchText);
    connect(m_search, &ZoPlaneSearch::sigActiveChanged, this, &ZoUpgradeWorkflow::sigSearchActive);
    connect(m_search, &ZoPlaneSearch::sigPlaneConnectionFound, this,
        &ZoUpgradeWorkflow::sigLinkFound);
    if (env.portEnumerator)
        m_search->setPortEnumerator(env.portEnumerator);
    connect(m_search, &ZoPlaneSearch::sigFinishSearch, this,
        &ZoUpgradeWorkflow::onAutoSearchPlaneFinished);
    connect(
        m_search, &ZoPlaneSearch::sigGetFirmwareInfo, this, &ZoUpgradeWorkflow::onGetFirmwareInfo);

    l->setPlaneConfig(env.link);
    l->startLooper();
}

ZoUpgradeWorkflow::~ZoUpgradeWorkflow()
{
    shutdown();
}

void ZoUpgradeWorkflow::shutdown()
{
    m_run->stop();
    if (m_looper && m_looper->isRunning()) {
        ZoMsgLooper *l = m_looper.get();
        QMetaObject::invokeMethod(l, [l] { l->onTerminateLooper(); });
        if (!l->wait(3000))
            qCWarning(lcUpgrade).noquote()
                << m_label << "ZoUpgradeWorkflow::shutdown - looper did not stop";
    }
}

void ZoUpgradeWorkflow::setTimings(const Timings &timings)
{
    m_timings = timings;
    m_search->setTimings(timings.search);
    m_connection->setTimings(timings);
    m_run->setTimings(timings);
    m_probe->setListenMs(timings.probeListenMs);
    m_manual->setTimings(timings);
}

// ---- state ------------------------------------------------------------------

void ZoUpgradeWorkflow::setWindowMode(tds4 mode)
{
    if (m_windowMode == mode)
        return;
    m_windowMode = mode;
    Q_EMIT sigWindowModeChanged(mode);
}

void ZoUpgradeWorkflow::setCatalogueState(CatalogueState state)
{
    if (m_catalogueState == state)
        return;
    m_catalogueState = state;
    Q_EMIT sigCatalogueStateChanged(state);
}

void ZoUpgradeWorkflow::setControls(const std::function<void(Controls &)> &change)
{
    change(m_controls);
    Q_EMIT sigControlsChanged();
}

void ZoUpgradeWorkflow::enableControls()
{
    setControls([](Controls &c) {
        c.upgradeEnabled = true;
        c.branchEnabled = true;
        c.manualAddEnabled = true;
        c.coreHeaderEnabled = true;
    });
}

void ZoUpgradeWorkflow::resetUpgradeState()
{
    m_run->stop();
    m_manual->reset();
    setWindowMode(ModeReady);
}

void ZoUpgradeWorkflow::ask(
    Question id, const QString &text, const Buttons &buttons, std::function<void(int)> onAnswer)
{
    m_question = id;
    m_onAnswer = std::move(onAnswer);
    Q_EMIT sigQuestion(id, text, buttons);
}

void ZoUpgradeWorkflow::answer(int question, int button)
{
    if (question == QuestionNone || question != m_question)
        return;
    m_question = QuestionNone;
    auto onAnswer = std::move(m_onAnswer);
    m_onAnswer = nullptr;
    if (onAnswer)
        onAnswer(button);
}

void ZoUpgradeWorkflow::inform(const QString &text)
{
    Q_EMIT sigInformation(text);
}

// ---- search and link --------------------------------------------------------

void ZoUpgradeWorkflow::startSearch()
{
    m_connection->startSearch();
}

void ZoUpgradeWorkflow::searchLink(const ZoPlaneConfig &requested)
{
    m_connection->searchLink(requested);
}

void ZoUpgradeWorkflow::cancelSearch()
{
    m_search->cancel();
}

void ZoUpgradeWorkflow::research()
{
    onClosePlaneComm();
    m_connection->searchAgainSoon();
}

void ZoUpgradeWorkflow::onSearchOnSpecSPCom(
    QString com, tds4 baud, tds4 dataBits, tds4 parity, tds4 stopBits)
{
    m_connection->searchingByHand();
    m_search->onSearchOnSpecSPCom(com, baud, dataBits, parity, stopBits);
}

void ZoUpgradeWorkflow::onSearchOnspecUdpCom(QString host, tds4 hostPort, tds4 localPort)
{
    m_connection->searchingByHand();
    m_search->onSearchOnspecUdpCom(host, hostPort, localPort);
}

void ZoUpgradeWorkflow::onSearchOnspecTcpClientCom(QString host, tds4 hostPort, tds4 localPort)
{
    m_connection->searchingByHand();
    m_search->onSearchOnspecTcpClientCom(host, hostPort, localPort);
}

void ZoUpgradeWorkflow::onPlaneConnectionChanged(bool connected)
{
    m_reconnectCheck = false;
    Q_EMIT sigConnectionChanged(connected);
    if (!connected) {
        if (m_run->isRunning()) {
            // The core is silent in its bootloader and while it restarts;
            // behind it, a module's transfer or read-back is cut off.
            if (!m_run->currentIsCore())
                m_run->fail(ZoUpgradeRun::End::LinkLost);
            return;
        }
        if (m_probe->isActive())
            m_probe->cancel();
        // The results of a run stay on show until the aircraft is searched
        // again.
        if (!hasRunResults())
            m_roster->removeModuleRows();
        // A core restarts after a completed run: the next run first asks
        // whether this is still the same aircraft.
        if (m_windowMode == ModeReady && m_allUpgraded) {
            m_manual->setPending(coreType());
            m_reconnectCheck = true;
            if (ZoDevFMInfo *core = m_roster->record(m_roster->core().key)) {
                core->needUpgrade = true;
                Q_EMIT sigTargetChanged(core->key, core->tarVersion, core->releaseNote, true);
            }
        }
        return;
    }
    if (m_windowMode >= ModeFound && m_windowMode <= ModeReady) {
        research();
    }
}

void ZoUpgradeWorkflow::onAutoSearchPlaneFinished(bool bFound, tds4 planeNum)
{
    Q_UNUSED(planeNum)
    setControls([bFound](Controls &c) {
        c.branchVisible = bFound;
        c.branchEnabled = bFound;
    });
    setWindowMode(bFound ? ModeFound : ModeNone);
    Q_EMIT sigSearchFinished(bFound);

    if (m_roster->expectedModules().size() >= 2) {
        m_roster->setManualAddRow(true);
        if (bFound && ZoUtils::isArno2(coreType())
            && m_roster->missingModules().contains(
                ZoDeviceKey(ZoUtils::boardFor(coreType(), ZoUtils::DataBoard)))) {
            onManSelectModule(ZoDeviceKey(ZoUtils::boardFor(coreType(), ZoUtils::DataBoard)));
            setControls([](Controls &c) { c.manualAddEnabled = false; });
        }
    }

    if (!bFound) {
        // A core an earlier run left in its bootloader answers no search:
        // adding it by hand is how it is flashed again, so that is offered
        // at once, and named.
        const QList<tdu1> stranded = coresLeftInBootloader();
        m_connection->finished(false);
        const bool offerAdd = m_connection->unfoundSearches() > 1 || !stranded.isEmpty();
        QString text = offerAdd ? tr("MsgFCSNotFoundRetryAddCancel") : tr("MsgFCSNotFoundRetryCancel");
        for (tdu1 type : stranded) {
            int airframe = ZoUtils::AirframeNone;
            text += QLatin1Char('\n') + tr("MsgCoreLeftInBootloader").arg(ZoUtils::deviceName(type, airframe));
        }
        const Buttons buttons = offerAdd ? Buttons {ButtonYes, ButtonNo, ButtonCancel}
                                         : Buttons {ButtonYes, ButtonCancel};
        ask(QuestionNotFound, text, buttons, [this](int button) {
                if (button == ButtonYes) {
                    qCDebug(lcUpgrade) << "click the retry button";
                    Q_EMIT sigHideLinkSettings();
                    research();
                } else if (button == ButtonNo) {
                    qCDebug(lcUpgrade) << "click the add button";
                    Q_EMIT sigShowAddCore(true);
                } else {
                    qCDebug(lcUpgrade) << "click the cancel button";
                }
            });
        return;
    }

    m_allUpgraded = flashOrder().isEmpty();
    if (!m_roster->expectedModules().isEmpty())
        startProbe(ProbeAfterSearch);
    if (m_connection->finished(true))
        m_commands->identityQuery();
}

void ZoUpgradeWorkflow::onClosePlaneComm()
{
    if (m_run->isRunning())
        m_run->fail(ZoUpgradeRun::End::LinkLost);
    m_probe->cancel();
    m_probePurpose = ProbeNone;
    m_roster->clear();
    m_run->clearStats();
    m_outcomes.clear();
    m_roster->setManualAddRow(false);
    Q_EMIT sigSelectModules(QList<ZoDeviceKey>());
    Q_EMIT sigCloseCom();
    m_allUpgraded = false;
    m_connection->closed();
    m_policy.clearHeldBack();
    setControls([](Controls &c) {
        c.upgradeEnabled = false;
        c.branchEnabled = false;
        c.coreHeaderEnabled = true;
    });
    resetUpgradeState();
}

// ---- identity and versions ----------------------------------------------------

void ZoUpgradeWorkflow::onGetFirmwareInfo(tdu1 devType, tdu4 devId, tdu4 devNumIdx)
{
    if (devType == 0) {
        m_commands->coreVersionQuery();
    } else if (devType == 1) {
        m_commands->module(ZoBootCommands::OpVersion, tdu1(devId), tdu1(devNumIdx));
    }
}

void ZoUpgradeWorkflow::onUpdateGNCFMVersion(tVersion version)
{
    // During a run, what the core says is the read-back's; after it, a late
    // answer to the read-back repeats what the record holds.
    if (m_run->isRunning())
        return;
    const ZoDevFMInfo &core = m_roster->core();
    if (m_windowMode == ModeReady && m_roster->contains(core.key) && !core.key.isNull()
        && core.curVersion.type == version.type && core.curVersion == version
        && !m_manual->isCoreCheck())
        return;
    Q_EMIT sigCloseAddCore();
    if (m_manual->isCoreCheck()) {
        m_manual->answered();
        m_manual->checkCore(version);
        return;
    }
    onUpdateGNCFMVersionChecked(version, false);
}

void ZoUpgradeWorkflow::onUpdateGNCFMVersionChecked(tVersion version, bool manual)
{
    const tdu1 t = version.type;
    const bool hasModules = ZoUtils::isSecondGenerationCore(t);
    const QList<ZoDeviceKey> modules = hasModules
        ? ZoUtils::moduleListFor(t, m_env.tunexNodes, m_env.servoNodes, m_env.ignoredDevices)
        : QList<ZoDeviceKey>();
    m_roster->setExpectedModules(modules);
    Q_EMIT sigModuleListChanged(modules);
    m_search->coreIdentified(true, hasModules, modules);

    ZoDevFMInfo record = ZoDeviceRoster::reportRecord(version, 0, QString());
    if (ZoUtils::isEmba2(t))
        record.name = tr("MsgCoreApp");
    const tdu1 pending = m_manual->pending();
    record.needUpgrade = manual || (pending != 0 && ZoUtils::sameCoreFamily(t, pending));
    m_roster->insertCore(record, ZoUpgradePolicy::isBoard(t));
    m_choice->resetFor(t);
    Q_EMIT sigCoreHeader(record.name, version);

    if (manual)
        selectBranch(m_branchIndex);
    else
        m_commands->identityQuery();
}

void ZoUpgradeWorkflow::onUpdateGNCFMComplieTime(tFcsDateTime compileTime)
{
    if (m_run->isRunning())
        return;
    qCDebug(lcUpgrade).noquote() << "get GNC FRM compile Time:"
                                 << QStringLiteral("%1-%2-%3 %4:%5:%6")
                                        .arg(compileTime.year)
                                        .arg(compileTime.month)
                                        .arg(compileTime.day)
                                        .arg(compileTime.hour)
                                        .arg(compileTime.minute)
                                        .arg(compileTime.second);
    const ZoDeviceKey key = m_roster->setCoreCompileTime(compileTime);
    if (!key.isNull())
        Q_EMIT sigRecordChanged(key);
}

void ZoUpgradeWorkflow::onUpdateGNCEID(QString eid)
{
    if (m_run->isRunning())
        return;
    const bool repeated = eid == m_roster->core().serial;
    const ZoDeviceKey key = m_roster->setCoreSerial(eid);
    if (!key.isNull())
        Q_EMIT sigRecordChanged(key);
    qCDebug(lcUpgrade).noquote() << "Get GNC EID" << eid << m_roster->core().name;
    m_connection->identified(repeated);
    // This core answers from its application: whatever a cut-short run left
    // of it in the journal is over.
    for (const ZoRunJournal::Entry &e : m_journal->entriesFor(eid)) {
        if (e.core && (e.eid == eid || e.devId == coreType()))
            m_journal->clear(e.eid, e.key);
    }
}

void ZoUpgradeWorkflow::onUpdateCANDevVersion(tVersion verInfo, tdu1 devIdx, QString sn)
{
    // A run reads its devices back itself.
    if (m_run->isRunning())
        return;
    const bool fromBootloader
        = std::exchange(m_bootloaderReport, ZoDeviceKey()) == ZoDeviceKey(verInfo.type, devIdx);
    const tdu1 t = verInfo.type;
    const tdu1 pending = m_manual->pending();
    // What a probe hears from a bootloader becomes a row of its own when
    // the probe ends.
    if (fromBootloader && m_probe->isActive() && pending == 0)
        return;
    ZoDevFMInfo record = ZoDeviceRoster::reportRecord(verInfo, devIdx, sn);
    ZoDevFMInfo *known = m_roster->record(record.key);
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
    m_manual->answered();
    record.needUpgrade = t == pending;
    // A module added by hand that answers from its bootloader is there now:
    // an addressed one takes the frames meant for its siblings until it is
    // flashed, so it goes first, as one left there by a run would.
    const int kind = ZoUtils::protocolClass(t);
    if (fromBootloader && t == pending
        && (kind == ZoUtils::ClassCanByDevNum || kind == ZoUtils::ClassBus))
        record.presence = ZoDevFMInfo::Presence::InBootloader;
    m_roster->insertModuleReport(record, coreType());
    if (ZoUtils::boardKind(t) == ZoUtils::FeatureBoard && ZoUtils::isArno2(coreType()))
        Q_EMIT sigBrisk2Type(1);

    if (t == pending && t != 0) {
        bool found = false;
        const ZoFRMFileInfo file = m_source->file(t, found);
        ZoDevFMInfo *r = m_roster->record(record.key);
        if (found && r) {
            r->tarVersion = file.version;
            r->releaseNote = releaseNoteOf(file);
            Q_EMIT sigTargetChanged(r->key, r->tarVersion, r->releaseNote, true);
        }
    }
    m_manual->setPending(0);
}

// ---- catalogue and the upgrade decision ----------------------------------------

void ZoUpgradeWorkflow::selectBranch(int index)
{
    if (m_windowMode < ModeFound || m_windowMode > ModeReady)
        return;
    m_branchIndex = index;
    m_policy.setCustomBranch(false);
    if (index == BranchStable || index == BranchDevelopment) {
        setControls([](Controls &c) { c.customKeyVisible = false; });
        requestFirmware(index + 1, QString());
    } else {
        setControls([](Controls &c) { c.customKeyVisible = true; });
        setCatalogueState(CatalogueState::None);
        m_policy.setCustomBranch(true);
    }
}

void ZoUpgradeWorkflow::fetchCustomBranch(const QString &key)
{
    if (m_windowMode < ModeFound || m_windowMode > ModeReady || protocolType() == 0)
        return;
    m_branchIndex = BranchCustom;
    m_customKey = key;
    requestFirmware(ZoFirmwareSource::CloudCustom, key);
    m_policy.setCustomBranch(true);
}

void ZoUpgradeWorkflow::requestFirmware(int branch, const QString &key)
{
    requestFirmwareFor(ZoUtils::firmwareIdFor(coreType(), protocolType()), branch, key);
}

void ZoUpgradeWorkflow::requestFirmwareFor(tdu1 fid, int branch, const QString &key)
{
    setWindowMode(ModeReady);
    setCatalogueState(CatalogueState::Fetching);
    m_source->fetch(fid, branch, key);
}

void ZoUpgradeWorkflow::onCatalogueFetched(bool succ)
{
    setCatalogueState(succ ? CatalogueState::Ready : CatalogueState::Failed);
    if (m_windowMode != ModeReady) {
        setControls([](Controls &c) { c.customKeyVisible = false; });
        if (!isUpgrading())
            setWindowMode(ModeFound);
        return;
    }
    setControls([succ](Controls &c) { c.upgradeEnabled = succ; });
}

QString ZoUpgradeWorkflow::releaseNoteOf(const ZoFRMFileInfo &info) const
{
    return m_env.language == QLatin1String("zh_CN") ? info.upgradeDescription
                                                     : info.upgradeDescriptionEn;
}

void ZoUpgradeWorkflow::applyTarget(ZoDevFMInfo &record, const ZoFRMFileInfo &info)
{
    record.tarVersion = info.version;
    tVersion headerVersion;
    tFcsDateTime headerTime;
    if (info.headerVersion(headerVersion) && info.headerCompileTime(headerTime)) {
        record.tarVersion = headerVersion;
        record.tarCompileTime = headerTime;
    }
    record.releaseNote = releaseNoteOf(info);
    const bool u = m_policy.decide(record, m_roster->isCoreRow(record.key), protocolType(),
        m_branchIndex == BranchCustom, m_roster->coreCompileTimeKnown());
    if (m_policy.isHeldBack(record.key))
        record.releaseNote.clear();
    Q_EMIT sigTargetChanged(record.key, record.tarVersion, record.releaseNote, u);
}

void ZoUpgradeWorkflow::onUpdateDevFRMTarInfo(ZoFRMFileInfo tarFileInfo)
{
    // A target must not change under a run: the next device would take a
    // file nobody saw offered. It waits for the run's end.
    if (m_run->isRunning() || m_probePurpose == ProbeBeforeRun) {
        m_heldTargets.append(tarFileInfo);
        return;
    }
    m_store->setFRMFileInfo(tarFileInfo);
    // Every device of that type takes the file: serial-bus modules are keyed
    // with their device number, and each of them needs it.
    const QList<ZoDeviceKey> keys = m_roster->records().keys();
    for (const ZoDeviceKey &key : keys) {
        if (key.type != tarFileInfo.fid || key.isNull())
            continue;
        // A module that does not answer cannot be offered anything.
        ZoDevFMInfo *r = m_roster->record(key);
        if (r && r->presence != ZoDevFMInfo::Presence::NotAnswering)
            applyTarget(*r, tarFileInfo);
    }
    m_roster->syncCore();
    Q_EMIT sigFirmwareArrived(tdu1(tarFileInfo.fid));
}

// ---- an upgrade-all run ---------------------------------------------------------

void ZoUpgradeWorkflow::upgradeAll()
{
    if (isUpgrading() || m_question != QuestionNone || m_probePurpose == ProbeBeforeRun)
        return;
    if (m_reconnectCheck) {
        ask(QuestionSameDevice, tr("MsgPlsCheckIsSameDev"), {ButtonYes, ButtonNo},
            [this](int button) {
                if (button == ButtonYes) {
                    m_reconnectCheck = false;
                    upgradeAll();
                }
            });
        return;
    }
    setControls([](Controls &c) {
        c.upgradeEnabled = false;
        c.branchEnabled = false;
        c.manualAddEnabled = false;
        c.coreHeaderEnabled = false;
    });
    resetUpgradeState();
    m_outcomes.clear();
    for (ZoDevFMInfo &r : m_roster->recordsForUpdate()) {
        if (r.result != ZoDevFMInfo::Result::None) {
            r.result = ZoDevFMInfo::Result::None;
            Q_EMIT sigRecordChanged(r.key);
        }
    }
    // Whatever sits in a bootloader on these buses is found, and flashed
    // first, before any other module's bootloader is entered.
    setWindowMode(ModeModuleUpgrade);
    startProbe(ProbeBeforeRun);
}

ZoDeviceKey ZoUpgradeWorkflow::abortRun()
{
    if (m_probePurpose == ProbeBeforeRun) {
        m_probe->cancel();
        m_probePurpose = ProbeNone;
        resetUpgradeState();
        releaseHeldTargets();
        enableControls();
        return {};
    }
    if (!m_run->isRunning())
        return {};
    const bool inBootloader = m_run->phase() == ZoUpgradeRun::Phase::Transferring
        && m_run->sessionState() != ZoTransferSession::State::Idle;
    const ZoDeviceOutcome outcome = m_run->abort();
    const ZoDeviceKey key = outcome.key;
    if (ZoDevFMInfo *r = !key.isNull() ? m_roster->record(key) : nullptr) {
        m_outcomes.insert(key, outcome);
        r->result = ZoDevFMInfo::Result::Interrupted;
        if (inBootloader)
            r->presence = ZoDevFMInfo::Presence::InBootloader;
        Q_EMIT sigRecordChanged(key);
    }
    resetUpgradeState();
    enableControls();
    return key;
}

ZoDeviceOutcome ZoUpgradeWorkflow::outcome(ZoDeviceKey key) const
{
    const auto run = m_outcomes.constFind(key);
    if (run != m_outcomes.cend())
        return *run;
    ZoDeviceOutcome o;
    o.key = key;
    o.target = m_roster->records().value(key).tarVersion;
    // Due but not flashed, or nothing to flash it with: not up to date.
    o.result = o.target.type == 0 || isDue(key) ? ZoDeviceOutcome::Result::Skipped
                                                : ZoDeviceOutcome::Result::UpToDate;
    const tdu1 type = ZoUpgradePolicy::fileType(*m_roster, key);
    o.sha256 = m_source->fileSha256(type);
    o.firmwareId = o.sha256.isEmpty() ? 0 : type;
    return o;
}

QList<ZoDeviceKey> ZoUpgradeWorkflow::displayOrder() const
{
    QList<ZoDeviceKey> modules;
    QList<ZoDeviceKey> coreSection;
    const ZoDeviceKey core = m_roster->core().key;
    for (auto it = records().cbegin(); it != records().cend(); ++it) {
        if (it.key().isNull() || it.key() == core)
            continue;
        if (m_roster->isModuleRow(it.key()))
            modules << it.key();
        else if (m_roster->isCoreRow(it.key()))
            coreSection << it.key();
    }
    if (!core.isNull() && records().contains(core))
        coreSection << core;
    return modules + coreSection;
}

QList<tdu1> ZoUpgradeWorkflow::coresLeftInBootloader() const
{
    QList<tdu1> types;
    for (const ZoRunJournal::Entry &e : m_journal->entries())
        if (e.core && !types.contains(e.devId))
            types.append(e.devId);
    return types;
}

void ZoUpgradeWorkflow::releaseHeldTargets()
{
    const QList<ZoFRMFileInfo> held = std::exchange(m_heldTargets, {});
    for (const ZoFRMFileInfo &file : held)
        onUpdateDevFRMTarInfo(file);
}

bool ZoUpgradeWorkflow::hasRunResults() const
{
    for (const ZoDevFMInfo &r : m_roster->records())
        if (r.result != ZoDevFMInfo::Result::None)
            return true;
    return false;
}

// ---- bootloaders left behind ------------------------------------------------------

void ZoUpgradeWorkflow::startProbe(ProbePurpose purpose)
{
    // Kinds 3 and 4 answer only when asked by number: every expected device
    // that stayed silent, and every one the journal says was being flashed.
    QList<ZoBootloaderProbe::Device> addressed;
    const auto add = [&addressed](tdu1 type, tdu1 number) {
        const int kind = ZoUtils::protocolClass(type);
        const ZoBootloaderProbe::Device d(type, number);
        if ((kind == ZoUtils::ClassCanByDevNum || kind == ZoUtils::ClassBus)
            && !addressed.contains(d))
            addressed.append(d);
    };
    for (const ZoDeviceKey &entry : m_roster->expectedModules()) {
        const ZoDevFMInfo *r
            = m_roster->record(ZoDeviceRoster::recordKey(entry.type, entry.number));
        if (!r || r->presence != ZoDevFMInfo::Presence::Answering)
            add(entry.type, entry.number);
    }
    // A journal shared with other aircraft's engines holds their modules too.
    const QString eid = m_roster->core().serial;
    for (const ZoRunJournal::Entry &e :
        eid.isEmpty() ? m_journal->entries() : m_journal->entriesFor(eid)) {
        if (!e.core)
            add(e.devId, e.devNum);
    }
    m_probePurpose = purpose;
    m_probe->start(ZoUtils::isSecondGenerationCore(coreType()), addressed);
}

void ZoUpgradeWorkflow::onProbeFinished(QList<ZoBootloaderProbe::Found> found)
{
    const ProbePurpose purpose = std::exchange(m_probePurpose, ProbeNone);
    for (const ZoBootloaderProbe::Found &f : found) {
        qCWarning(lcUpgrade).noquote()
            << m_label << "Found in its bootloader:" << QString::number(f.version.type, 16) << f.number;
        // Found again before a run: the row stays where it is.
        const ZoDevFMInfo *known
            = m_roster->record(ZoDeviceRoster::recordKey(f.version.type, f.number));
        if (known && known->presence == ZoDevFMInfo::Presence::InBootloader)
            continue;
        const ZoDeviceKey key = m_roster->insertStranded(f.version, f.number);
        bool has = false;
        const ZoFRMFileInfo file = m_source->file(f.version.type, has);
        if (ZoDevFMInfo *r = has ? m_roster->record(key) : nullptr)
            applyTarget(*r, file);
        Q_EMIT sigRecordChanged(key);
    }
    const QString eid = m_roster->core().serial;
    // Devices of the journal that answer from their application again need
    // no recovery.
    for (const ZoRunJournal::Entry &e : m_journal->entriesFor(eid)) {
        const ZoDevFMInfo *r = m_roster->record(e.key);
        if (r && r->presence == ZoDevFMInfo::Presence::Answering && (!e.core || !eid.isEmpty()))
            m_journal->clear(e.eid, e.key);
    }
    for (const ZoDeviceKey &key : m_roster->markSilentModules())
        Q_EMIT sigRecordChanged(key);
    if (purpose == ProbeBeforeRun) {
        m_run->start();
        return;
    }
    m_allUpgraded = flashOrder().isEmpty();
    Q_EMIT sigProbeFinished();
}

void ZoUpgradeWorkflow::onDeviceStarted(ZoDeviceKey key, bool core, int maximum)
{
    setWindowMode(core ? ModeCoreUpgrade : ModeModuleUpgrade);
    Q_EMIT sigProgressRange(key, maximum);
}

void ZoUpgradeWorkflow::onDeviceFinished(ZoDeviceOutcome outcome, tFcsDateTime reportedTime)
{
    const ZoDeviceKey key = outcome.key;
    ZoDevFMInfo *r = m_roster->record(key);
    if (!r)
        return;
    m_outcomes.insert(key, outcome);
    using Result = ZoDeviceOutcome::Result;
    r->result = outcome.result == Result::Upgraded ? ZoDevFMInfo::Result::Upgraded
        : outcome.result == Result::NotConfirmed   ? ZoDevFMInfo::Result::NotConfirmed
        : outcome.result == Result::Interrupted    ? ZoDevFMInfo::Result::Interrupted
                                                   : ZoDevFMInfo::Result::Failed;
    const tVersion reported = outcome.reported;
    r->confirmedVersion = reported;
    if (outcome.result == Result::Upgraded) {
        finishDevice(outcome, reportedTime);
        return;
    }
    if (reported.type != 0) {
        // It runs an application again, only not the one it was sent.
        r->curVersion = reported;
        r->presence = ZoDevFMInfo::Presence::Answering;
    } else {
        r->presence = ZoDevFMInfo::Presence::InBootloader;
    }
    Q_EMIT sigRecordChanged(key);
    Q_EMIT sigDeviceOutcome(outcome);
}

void ZoUpgradeWorkflow::onRunEnded(ZoUpgradeRun::End end, ZoDeviceKey key, bool first)
{
    // A device the run stopped at before sending it anything.
    if (!key.isNull() && !m_outcomes.contains(key)
        && (end == ZoUpgradeRun::End::FirmwareUnusable
            || end == ZoUpgradeRun::End::StrandedWithoutTarget)) {
        ZoDeviceOutcome o = outcome(key);
        o.result = ZoDeviceOutcome::Result::Failed;
        o.failure = end == ZoUpgradeRun::End::FirmwareUnusable
            ? ZoDeviceOutcome::Failure::RefusedFile
            : ZoDeviceOutcome::Failure::NoTarget;
        m_outcomes.insert(key, o);
    }
    resetUpgradeState();
    releaseHeldTargets();
    if (end != ZoUpgradeRun::End::Completed && end != ZoUpgradeRun::End::FirmwareUnusable) {
        setControls([](Controls &c) {
            c.upgradeEnabled = true;
            c.branchEnabled = true;
        });
    } else {
        enableControls();
    }
    if (end == ZoUpgradeRun::End::Completed)
        m_allUpgraded = true;
    // A run that had nothing to do is no success worth a chime.
    if (!(first && end == ZoUpgradeRun::End::Completed))
        Q_EMIT sigPlaySound(end == ZoUpgradeRun::End::Completed);
    Q_EMIT sigRunEnded(end, key);
}

void ZoUpgradeWorkflow::finishDevice(
    const ZoDeviceOutcome &outcome, const tFcsDateTime &reportedTime)
{
    const ZoDeviceKey key = outcome.key;
    ZoDevFMInfo *r = m_roster->record(key);
    if (!r)
        return;
    r->needUpgrade = false;
    r->presence = ZoDevFMInfo::Presence::Answering;
    r->curVersion = r->confirmedVersion;
    r->curCompileTime = reportedTime.year != 0 ? reportedTime : r->tarCompileTime;
    m_roster->syncCore();
    if (m_source->versionReporting()) {
        m_source->reportVersion(r->curVersion, r->serial);
        Q_EMIT sigVersionReported(key, r->curVersion, r->serial);
    }
    qCCritical(lcUpgrade).noquote() << m_label << "mode upgrade done sn" << r->serial
                                    << "newest version" << ZoUtils::versionText(r->curVersion);
    Q_EMIT sigRecordChanged(key);
    Q_EMIT sigDeviceOutcome(outcome);
}

// ---- adding devices by hand -------------------------------------------------------

void ZoUpgradeWorkflow::onShowSelectModuleForm()
{
    const QList<ZoDeviceKey> missing = m_roster->missingModules();
    if (missing.isEmpty()) {
        inform(tr("MsgAllCANFoundOrManAddedDev"));
        return;
    }
    Q_EMIT sigSelectModules(missing);
}

void ZoUpgradeWorkflow::onManSelectModule(ZoDeviceKey module)
{
    if (isUpgrading())
        return;
    m_manual->addModule(module);
}

void ZoUpgradeWorkflow::onManSelectCoreGNCDevice(tdu4 devId)
{
    if (isUpgrading())
        return;
    const tdu1 id = tdu1(devId);
    m_roster->forgetCoreCompileTime();
    // While the core is asked, nothing else may start.
    if (m_roster->isModuleRow(ZoDeviceKey(id)))
        setWindowMode(ModeModuleUpgrade);
    else if (m_roster->isCoreRow(ZoDeviceKey(id)))
        setWindowMode(ModeCoreUpgrade);
    m_manual->addCore(id);
}

void ZoUpgradeWorkflow::onManualCoreAccepted(tVersion version)
{
    setControls([](Controls &c) {
        c.branchVisible = true;
        c.branchEnabled = true;
    });
    setWindowMode(ModeFound);
    onUpdateGNCFMVersionChecked(version, true);
}

void ZoUpgradeWorkflow::onManualModuleSilent(tdu1 devId)
{
    if (ZoUtils::isArno2(coreType()) && ZoUtils::boardKind(devId) == ZoUtils::FeatureBoard)
        Q_EMIT sigBrisk2Type(0);
    inform(tr("MsgManualAddModuleFailed"));
    m_manual->reset();
    Q_EMIT sigWaitPopup(false, 0);
}

// ---- the core header's boxes -------------------------------------------------------

void ZoUpgradeWorkflow::onUpdateGNCDevIDByProtType(tds4 protType)
{
    m_choice->pickProtocolType(protType, coreType(), m_roster->core().key);
}

void ZoUpgradeWorkflow::onUpdateBrisk2Type(tdu1 type)
{
    m_choice->pickBoardType(type, coreType());
}
