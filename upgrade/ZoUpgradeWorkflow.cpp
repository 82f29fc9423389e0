#include "ZoUpgradeWorkflow.h"

#include "ZoBootCommands.h"
#include "ZoBootloaderProbe.h"
#include "ZoBootloaderSweep.h"
#include "ZoCampaignGuard.h"
#include "ZoConnectionPhase.h"
#include "ZoCoreHeaderChoice.h"
#include "ZoCoreRecovery.h"
#include "ZoFRMFileStore.h"
#include "ZoHistoryRecorder.h"
#include "ZoProtocolLease.h"
#include "ZoReportIntake.h"
#include "ZoRollback.h"
#include "ZoRunJournal.h"
#include "ZoUtils.h"

#include <QLoggingCategory>

#include <utility>

Q_LOGGING_CATEGORY(lcUpgrade, "tolvane.upgrade")

ZoUpgradeWorkflow::ZoUpgradeWorkflow(const ZoUpgradeEnvironment &env, QObject *parent)
    : QObject(parent)
    , m_label {env.logLabel}
    , m_ownStore(env.store ? nullptr : std::make_unique<ZoFRMFileStore>())
    , m_looper(std::make_unique<ZoMsgLooper>())
    , m_lease(std::make_unique<ZoProtocolLease>(m_looper.get(), m_label))
    , m_commands(std::make_unique<ZoBootCommands>(m_looper.get()))
    , m_ownJournal(env.journal ? nullptr : std::make_unique<ZoRunJournal>(env.journalPath))
    , m_journal(env.journal ? env.journal : m_ownJournal.get())
    , m_roster(new ZoDeviceRoster(this))
    , m_source(new ZoFirmwareSource(
          env.store ? env.store : m_ownStore.get(), env.cloudBaseUrl.toString(), this))
    , m_manual(new ZoManualAdd(m_commands.get(), m_lease.get(), this))
    , m_search(new ZoPlaneSearch(this))
    , m_connection(new ZoConnectionPhase(
          m_search, env.link ? env.link : &m_ownLink, m_commands.get(), m_lease.get(), this))
    , m_probe(new ZoBootloaderProbe(m_looper.get(), m_commands.get(), m_lease.get(), this))
    , m_run(new ZoUpgradeRun(m_looper.get(), m_commands.get(), m_lease.get(), m_roster, &m_policy,
          m_source, m_journal, this))
    , m_choice(new ZoCoreHeaderChoice(m_roster, this))
    , m_targets(new ZoTargetIntake(m_roster, &m_policy, m_source,
          env.store ? env.store : m_ownStore.get(), m_choice, env.language, this))
    , m_sweep(new ZoBootloaderSweep(m_probe, m_roster, m_journal, m_targets, m_label, this))
    , m_reports(new ZoReportIntake(
          {m_roster, m_run, m_manual, m_search, m_choice, m_commands.get(), m_journal, m_connection,
              m_probe, m_targets, m_connection->recovery()},
          env, this))
    , m_results(new ZoRunResults(m_run, m_roster, &m_policy, m_source, m_label, this))
    , m_campaign(
          new ZoCampaignGuard(env.campaignLock, {m_roster, &m_policy, m_source, m_label}, this))
    , m_history(ZoHistoryRecorder::forEnvironment(
          env, {m_results, m_roster, m_source, m_targets, m_connection, m_campaign}, this))
    , m_rollback(new ZoRollback(m_history, m_roster, &m_policy, m_targets,
          env.store ? env.store : m_ownStore.get(), this))
{
    // The looper and the search registered the types of the link's reports.
    qRegisterMetaType<ZoDeviceKey>("ZoDeviceKey");
    qRegisterMetaType<QList<ZoDeviceKey>>("QList<ZoDeviceKey>");
    qRegisterMetaType<ZoDeviceOutcome>("ZoDeviceOutcome");
    qRegisterMetaType<RunOutcome>("ZoUpgradeWorkflow::RunOutcome"); // as the signal names it
    qRegisterMetaType<ZoFRMFileInfo>("ZoFRMFileInfo");
    setTimings(ZoUpgradeTimings());
    m_search->setLogLabel(env.logLabel);
    m_run->setLogLabel(env.logLabel);
    QString why;
    if (m_ownJournal && !m_ownJournal->load(&why))
        qCWarning(lcUpgrade).noquote()
            << m_label << "The run journal was unreadable and is set aside:" << why;

    // The run.
    connect(m_run, &ZoUpgradeRun::sigDeviceStarted, this, [this](ZoDeviceKey k, bool core, int n) {
        setStage(core ? Stage::UpgradingCore : Stage::UpgradingModules);
        Q_EMIT sigProgressRange(k, n);
    });
    connect(m_run, &ZoUpgradeRun::sigProgress, this, &ZoUpgradeWorkflow::sigProgress);
    connect(m_run, &ZoUpgradeRun::sigDeviceConfirming, this, &ZoUpgradeWorkflow::sigDeviceConfirming);
    connect(m_run, &ZoUpgradeRun::sigEnded, this, &ZoUpgradeWorkflow::onRunEnded);
    connect(m_rollback, &ZoRollback::sigRefused, this, &ZoUpgradeWorkflow::sigRollbackRefused);
    connect(m_rollback, &ZoRollback::sigAsk, this, [this](const QString &text) {
        ask(QuestionRollBack, text, {ButtonYes, ButtonNo}, [this](int button) {
            if (button == ButtonYes && !isUpgrading())
                beginRun(true);
        });
    });
    connect(m_results, &ZoRunResults::sigRecordChanged, this, &ZoUpgradeWorkflow::sigRecordChanged);
    connect(m_results, &ZoRunResults::sigDeviceOutcome, this, &ZoUpgradeWorkflow::sigDeviceOutcome);
    connect(m_results, &ZoRunResults::sigVersionReported, this,
        &ZoUpgradeWorkflow::sigVersionReported);
    connect(m_sweep, &ZoBootloaderSweep::sigRecordChanged, this, &ZoUpgradeWorkflow::sigRecordChanged);
    connect(m_sweep, &ZoBootloaderSweep::sigFinished, this, [this](ZoBootloaderSweep::Purpose p) {
        if (p == ZoBootloaderSweep::Purpose::BeforeRun) // nothing flashed against the lock
            return m_campaign->admit()
                ? m_run->start()
                : onRunEnded(RunOutcome::LockRefused, m_campaign->refused(), false);
        m_allUpgraded = flashOrder().isEmpty();
        Q_EMIT sigProbeFinished();
    });

    // Search, identity and catalogue.
    connect(m_connection, &ZoConnectionPhase::sigCatalogueDue, this, [this] {
        if (m_stage != Stage::Searching)
            selectBranch(m_targets->branch());
        else if (m_targets->fetchChosen(m_roster->coreType()))
            m_connection->catalogueAsked(); // while the search still asks the modules
    });
    connect(m_connection, &ZoConnectionPhase::sigSearching, this,
        [this] { setStage(Stage::Searching); });
    connect(m_connection->recovery(), &ZoCoreRecovery::sigSearchEnded, this,
        &ZoUpgradeWorkflow::onAutoSearchPlaneFinished);
    connect(m_connection->recovery(), &ZoCoreRecovery::sigFound, m_reports,
        &ZoReportIntake::addStrandedCore);
    connect(m_search, &ZoPlaneSearch::sigGetFirmwareInfo, this,
        [c = m_commands.get()](tdu1 what, tdu4 type, tdu4 n) { c->searchQuery(what, type, n); });
    connect(m_reports, &ZoReportIntake::sigRecordChanged, this, &ZoUpgradeWorkflow::sigRecordChanged);
    connect(m_reports, &ZoReportIntake::sigCoreHeader, this, &ZoUpgradeWorkflow::sigCoreHeader);
    connect(m_reports, &ZoReportIntake::sigCloseAddCore, this, &ZoUpgradeWorkflow::sigCloseAddCore);
    connect(m_reports, &ZoReportIntake::sigBrisk2Type, this, &ZoUpgradeWorkflow::sigBrisk2Type);
    connect(m_reports, &ZoReportIntake::sigCoreAdded, this,
        [this] { selectBranch(m_targets->branch()); });
    connect(m_targets, &ZoTargetIntake::sigTargetChanged, this, &ZoUpgradeWorkflow::sigTargetChanged);
    connect(m_targets, &ZoTargetIntake::sigRefused, this, &ZoUpgradeWorkflow::sigInformation);
    connect(m_source, &ZoFirmwareSource::sigFetchFinished, this, [this] {
        // A catalogue that comes in a search or a run is no news to act on.
        if (m_stage == Stage::Idle)
            setStage(Stage::Found);
    });

    // The core header's boxes.
    connect(m_choice, &ZoCoreHeaderChoice::sigProtocolTypeReset, this,
        &ZoUpgradeWorkflow::sigProtocolTypeReset);
    connect(m_choice, &ZoCoreHeaderChoice::sigBoardType, this, &ZoUpgradeWorkflow::sigBrisk2Type);
    connect(m_choice, &ZoCoreHeaderChoice::sigTargetCleared, this,
        [this](ZoDeviceKey key) { Q_EMIT sigTargetChanged(key, tVersion(), QString(), false); });
    connect(m_choice, &ZoCoreHeaderChoice::sigFetch, this, [this](tdu1 firmwareId) {
        if (m_stage < Stage::Found)
            return;
        setStage(Stage::Ready);
        m_targets->fetchFor(firmwareId);
    });
    connect(m_choice, &ZoCoreHeaderChoice::sigAddModule, this,
        &ZoUpgradeWorkflow::onManSelectModule);
    connect(m_choice, &ZoCoreHeaderChoice::sigInform, this,
        [this](const QString &key) { Q_EMIT sigInformation(tr(key.toLatin1())); });

    // Adding by hand.
    m_manual->recordIn(m_journal, m_roster, m_label);
    connect(m_manual, &ZoManualAdd::sigWaitPopup, this, &ZoUpgradeWorkflow::sigWaitPopup);
    connect(m_manual, &ZoManualAdd::sigModuleSilent, this, [this](tdu1 devId) {
        if (ZoUtils::isArno2(m_roster->coreType())
            && ZoUtils::boardKind(devId) == ZoUtils::FeatureBoard)
            Q_EMIT sigBrisk2Type(0);
        Q_EMIT sigInformation(tr("MsgManualAddModuleFailed"));
    });
    connect(m_manual, &ZoManualAdd::sigCoreAccepted, this, [this](tVersion version) {
        Q_EMIT sigCoreAddedByHand();
        setStage(Stage::Found);
        m_reports->addCore(version, true);
    });
    connect(m_manual, &ZoManualAdd::sigCoreRefused, this, [this] {
        Q_EMIT sigShowAddCore(false);
        resetUpgradeState();
    });
    connect(m_manual, &ZoManualAdd::sigAsk, this, [this](int id, QString text) {
        ask(Question(id), text, {ButtonYes, ButtonNo},
            [this, id](int button) { m_manual->answer(id, button); });
    });
    connectLooper(env);
}

void ZoUpgradeWorkflow::connectLooper(const ZoUpgradeEnvironment &env)
{
    ZoMsgLooper *l = m_looper.get();
    connect(l, &ZoMsgLooper::sigPlaneConnectionChanged, this,
        &ZoUpgradeWorkflow::onPlaneConnectionChanged);
    connect(this, &ZoUpgradeWorkflow::sigCloseCom, l, &ZoMsgLooper::onClosePlaneComm);
    m_reports->attach(l);
    connect(l, &ZoMsgLooper::openPlaneComm, this, &ZoUpgradeWorkflow::sigLinkOpened);
    connect(l, &ZoMsgLooper::sigCloseComState, this, &ZoUpgradeWorkflow::sigLinkClosed);
    connect(l, &ZoMsgLooper::sigCloseComState, this, [this] {
        // Whatever closed it, the device in flight is cut off.
        if (m_run->isRunning())
            m_run->fail(ZoUpgradeRun::End::LinkLost);
    });
    m_search->attach(l);
    if (env.portEnumerator)
        m_search->setPortEnumerator(env.portEnumerator);
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

void ZoUpgradeWorkflow::setTimings(const ZoUpgradeTimings &timings)
{
    m_search->setTimings(timings.search);
    m_connection->setTimings(timings);
    m_run->setTimings(timings);
    m_sweep->setTimings(timings);
    m_manual->setTimings(timings);
}

void ZoUpgradeWorkflow::setStage(Stage stage)
{
    m_reports->setSettled(stage == Stage::Ready || stage >= Stage::UpgradingModules);
    m_stage = stage;
}

void ZoUpgradeWorkflow::resetUpgradeState()
{
    m_run->stop();
    m_rollback->disarm();
    m_manual->reset();
    setStage(Stage::Ready);
}

void ZoUpgradeWorkflow::ask(
    Question id, const QString &text, const Buttons &buttons, Answered onAnswer)
{
    expect(id, std::move(onAnswer));
    Q_EMIT sigQuestion(id, text, buttons);
}

// ---- search, link and catalogue ---------------------------------------------

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
    if (connected) {
        if (m_stage >= Stage::Found && m_stage <= Stage::Ready)
            research();
        return;
    }
    if (m_run->isRunning()) {
        // The core is silent in its bootloader and while it restarts;
        // behind it, a module's transfer or read-back is cut off.
        if (!m_run->currentIsCore())
            m_run->fail(ZoUpgradeRun::End::LinkLost);
        return;
    }
    if (m_roster->isCoreInBootloader())
        return; // silent there unless asked; a closed link is told apart
    endSweep();
    // The results of a run stay on show until the aircraft is searched again.
    if (!m_results->any())
        m_roster->removeModuleRows();
    // A core restarts after a completed run: the next run first asks
    // whether this is still the same aircraft.
    if (m_stage == Stage::Ready && m_allUpgraded) {
        m_manual->setPending(m_roster->coreType());
        m_reconnectCheck = true;
        if (ZoDevFMInfo *core = m_roster->record(m_roster->core().key)) {
            core->needUpgrade = true;
            Q_EMIT sigTargetChanged(core->key, core->tarVersion, core->releaseNote, true);
        }
    }
}

void ZoUpgradeWorkflow::onAutoSearchPlaneFinished(bool found, tds4)
{
    const bool catalogued = m_connection->state() == ZoConnectionPhase::State::Catalogued;
    setStage(!found ? Stage::Idle : catalogued ? Stage::Ready : Stage::Found);
    Q_EMIT sigSearchFinished(found);
    if (m_roster->expectedModules().size() >= 2) {
        m_roster->setManualAddRow(true);
        const tdu1 core = m_roster->coreType();
        const ZoDeviceKey board(ZoUtils::boardFor(core, ZoUtils::DataBoard));
        if (found && ZoUtils::isArno2(core) && m_roster->missingModules().contains(board)) {
            onManSelectModule(board);
            Q_EMIT sigManualAddOffered(false);
        }
    }
    if (!found)
        return onNotFound();
    m_allUpgraded = flashOrder().isEmpty();
    if (!m_roster->expectedModules().isEmpty())
        m_sweep->start(ZoBootloaderSweep::Purpose::AfterSearch, m_roster->coreType());
    if (m_connection->finished(true))
        m_commands->identityQuery();
}

void ZoUpgradeWorkflow::onNotFound()
{
    // A core an earlier run left in its bootloader answers no search: adding
    // it by hand is how it is flashed again, so that is offered at once, and
    // named.
    const QList<tdu1> stranded = coresLeftInBootloader();
    m_connection->finished(false);
    const bool offerAdd = m_connection->unfoundSearches() > 1 || !stranded.isEmpty();
    QString text = offerAdd ? tr("MsgFCSNotFoundRetryAddCancel") : tr("MsgFCSNotFoundRetryCancel");
    for (tdu1 type : stranded) {
        int airframe = ZoUtils::AirframeNone;
        text += QLatin1Char('\n')
            + tr("MsgCoreLeftInBootloader").arg(ZoUtils::deviceName(type, airframe));
    }
    const Buttons buttons = offerAdd ? Buttons {ButtonYes, ButtonNo, ButtonCancel}
                                     : Buttons {ButtonYes, ButtonCancel};
    ask(QuestionNotFound, text, buttons, [this](int button) {
        qCDebug(lcUpgrade) << "click the"
                           << (button == ButtonYes ? "retry" : button == ButtonNo ? "add" : "cancel")
                           << "button";
        if (button == ButtonYes) {
            Q_EMIT sigHideLinkSettings();
            research();
        } else if (button == ButtonNo) {
            Q_EMIT sigShowAddCore(true);
        }
    });
}

void ZoUpgradeWorkflow::onClosePlaneComm()
{
    if (m_run->isRunning())
        m_run->fail(ZoUpgradeRun::End::LinkLost);
    endSweep();
    m_roster->clear();
    m_run->clearStats();
    m_results->clear(false);
    m_roster->setManualAddRow(false);
    Q_EMIT sigSelectModules(QList<ZoDeviceKey>());
    Q_EMIT sigCloseCom();
    m_allUpgraded = false;
    m_connection->closed();
    m_policy.clearHeldBack();
    resetUpgradeState();
}

void ZoUpgradeWorkflow::selectBranch(int index)
{
    if (m_stage < Stage::Found)
        return m_targets->choose(index); // for the catalogue, when it is due
    if (m_stage > Stage::Ready)
        return;
    Q_EMIT sigBranchSelected(index);
    if (index != ZoTargetIntake::BranchCustom)
        setStage(Stage::Ready);
    m_targets->selectBranch(index, m_roster->coreType());
}

void ZoUpgradeWorkflow::fetchCustomBranch(const QString &key)
{
    if (m_stage < Stage::Found || m_stage > Stage::Ready || protocolType() == 0)
        return;
    setStage(Stage::Ready);
    m_targets->fetchCustom(key, m_roster->coreType());
}

// ---- an upgrade-all run ---------------------------------------------------------

void ZoUpgradeWorkflow::upgradeAll()
{
    if (readyToRun(&ZoUpgradeWorkflow::upgradeAll))
        beginRun(false);
}

void ZoUpgradeWorkflow::rollBack()
{
    if (readyToRun(&ZoUpgradeWorkflow::rollBack))
        m_rollback->offer(m_roster->core().serial);
}

bool ZoUpgradeWorkflow::readyToRun(void (ZoUpgradeWorkflow::*then)())
{
    if (isUpgrading() || pendingQuestion() != QuestionNone || m_sweep->isBeforeRun())
        return false;
    if (m_reconnectCheck)
        ask(QuestionSameDevice, tr("MsgPlsCheckIsSameDev"), {ButtonYes, ButtonNo},
            [this, then](int button) {
                m_reconnectCheck = button != ButtonYes;
                if (!m_reconnectCheck)
                    (this->*then)();
            });
    return !m_reconnectCheck;
}

void ZoUpgradeWorkflow::beginRun(bool rollback)
{
    resetUpgradeState();
    if (rollback && !m_rollback->arm())
        return;
    if (m_history)
        m_history->beginRun(rollback ? QStringLiteral("rollback") : QString());
    Q_EMIT sigRunStarted();
    m_results->clear(true);
    // Whatever sits in a bootloader on these buses is found, and flashed
    // first, before any other module's bootloader is entered. No target
    // changes under the run: one that arrives waits for its end.
    setStage(Stage::UpgradingModules);
    m_targets->hold(true);
    m_sweep->start(ZoBootloaderSweep::Purpose::BeforeRun, m_roster->coreType());
}

ZoDeviceKey ZoUpgradeWorkflow::abortRun()
{
    if (m_sweep->isBeforeRun()) {
        m_sweep->cancel();
        resetUpgradeState();
        m_targets->hold(false);
        return {};
    }
    if (!m_run->isRunning())
        return {};
    const bool inBootloader = m_run->phase() == ZoUpgradeRun::Phase::Transferring
        && m_run->sessionState() != ZoTransferSession::State::Idle;
    const ZoDeviceOutcome outcome = m_run->abort();
    m_results->recordAbort(outcome, inBootloader);
    resetUpgradeState();
    m_targets->hold(false);
    return outcome.key;
}

void ZoUpgradeWorkflow::endSweep()
{
    // A link lost while the buses are asked before a run ends that run as
    // it would have ended it, instead of leaving it waiting for ever.
    const bool beforeRun = m_sweep->isBeforeRun();
    m_sweep->cancel();
    if (beforeRun)
        onRunEnded(ZoUpgradeRun::End::LinkLost, ZoDeviceKey(), false);
}

void ZoUpgradeWorkflow::onRunEnded(ZoUpgradeRun::End end, ZoDeviceKey key, bool first)
{
    resetUpgradeState();
    m_targets->hold(false);
    if (end == ZoUpgradeRun::End::Completed)
        m_allUpgraded = true;
    // A run that had nothing to do is no success worth a chime.
    if (!(first && end == ZoUpgradeRun::End::Completed))
        Q_EMIT sigPlaySound(end == ZoUpgradeRun::End::Completed);
    Q_EMIT sigRunEnded(end, key);
}

// ---- adding devices by hand -------------------------------------------------------

void ZoUpgradeWorkflow::onShowSelectModuleForm()
{
    const QList<ZoDeviceKey> missing = m_roster->missingModules();
    if (missing.isEmpty())
        Q_EMIT sigInformation(tr("MsgAllCANFoundOrManAddedDev"));
    else
        Q_EMIT sigSelectModules(missing);
}

void ZoUpgradeWorkflow::onManSelectCoreGNCDevice(tdu4 devId)
{
    if (isUpgrading())
        return;
    const tdu1 id = tdu1(devId);
    m_roster->forgetCoreCompileTime();
    // While the core is asked, nothing else may start.
    if (m_roster->isModuleRow(ZoDeviceKey(id)))
        setStage(Stage::UpgradingModules);
    else if (m_roster->isCoreRow(ZoDeviceKey(id)))
        setStage(Stage::UpgradingCore);
    m_manual->addCore(id);
}
