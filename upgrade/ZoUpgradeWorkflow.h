#pragma once

#include "ZoBootloaderProbe.h"
#include "ZoConnectionPhase.h" // with the link record and the timings
#include "ZoCoreHeaderChoice.h"
#include "ZoDeviceRoster.h"
#include "ZoEngineQuestions.h"
#include "ZoFirmwareSource.h"
#include "ZoManualAdd.h"
#include "ZoMsgLooper.h"
#include "ZoPlaneSearch.h"
#include "ZoReportIntake.h"
#include "ZoRunJournal.h"
#include "ZoRunResults.h"
#include "ZoTargetIntake.h"
#include "ZoUpgradeEnvironment.h"
#include "ZoUpgradePolicy.h"
#include "ZoUpgradeRun.h"

#include <memory>

class ZoBootCommands;
class ZoBootloaderSweep;
class ZoFRMFileStore;
class ZoHistoryRecorder;
class ZoProtocolLease;
class ZoRollback;

// The upgrade workflow, without a widget: it hands the link's reports to the parts that keep
// them, starts the bootloader sweep and the run, and asks the user (sigQuestion, answered through
// answer(); no nested event loop). Views follow its typed signals and its parts', and call its
// slots. Lives on the thread that creates it; everything it needs is handed in.
class ZoUpgradeWorkflow : public QObject, public ZoEngineQuestions
{
    Q_OBJECT
public:
    // What it is doing with the aircraft, in order: connected from Found to
    // Ready, then upgrading. The window decides what that enables.
    enum class Stage : tds4 { Idle, Searching, Found, Ready, UpgradingModules, UpgradingCore };
    using RunOutcome = ZoUpgradeRun::End; // the key names the device concerned

    // The link record in `env` is read and written on this thread only.
    explicit ZoUpgradeWorkflow(const ZoUpgradeEnvironment &env, QObject *parent = nullptr);
    ~ZoUpgradeWorkflow() override;
    void shutdown(); // ends the looper's thread (the link with it) ahead of the destructor
    bool isLooperReady() const { return m_looper->isReady(); }
    void setTimings(const ZoUpgradeTimings &timings);

    // Every candidate link, or only the one given (later searches stay on it).
    void startSearch() { m_connection->startSearch(); }
    void searchLink(const ZoPlaneConfig &requested) { m_connection->searchLink(requested); }
    ZoFirmwareSource &source() { return *m_source; } // catalogue, reports, or offline files

    // The parts whose signals and state views read directly.
    const ZoDeviceRoster &roster() const { return *m_roster; }
    const ZoPlaneSearch *search() const { return m_search; }
    const ZoTargetIntake &targets() const { return *m_targets; }
    const ZoUpgradeRun &run() const { return *m_run; } // each device's phase
    const ZoHistoryRecorder *history() const { return m_history; } // null: none kept
    const ZoCampaignGuard &campaign() const { return *m_campaign; } // lock, changed bytes

    Stage stage() const { return m_stage; }
    bool isUpgrading() const { return m_stage >= Stage::UpgradingModules; }
    bool isProbing() const { return m_probe->isActive(); } // asking for bootloaders
    ZoTransferSession::State transferState() const { return m_run->sessionState(); }
    ZoTransferSession::Stats transferStats(ZoDeviceKey key) const { return m_run->stats(key); }
    // The core header's protocol type (1, 2, 3, 258), 0 when it offers none.
    tds4 protocolType() const { return m_choice->protocolType(); }
    tdu1 pendingSelection() const { return m_manual->pending(); }
    QList<tdu1> coresLeftInBootloader() const { return m_journal->coreTypes(); } // cut short
    // What became of a device in the last run, or what a run would do.
    ZoDeviceOutcome outcome(ZoDeviceKey key) const { return m_results->outcome(key); }
    // Modules, then boards, the core last, as a run flashes those due.
    bool isDue(ZoDeviceKey key) const { return m_policy.isDue(*m_roster, key); }
    QList<ZoDeviceKey> flashOrder() const { return m_policy.flashOrder(*m_roster); }
    ZoUpgradePolicy::Pick pickNextDevice() const { return m_policy.pick(*m_roster); }

Q_SIGNALS:
    void sigCloseCom();
    void sigLinkOpened(int type, bool ok); // 0 UDP, 1 serial, 2 TCP client
    void sigLinkClosed(bool ok);
    void sigConnectionChanged(bool connected);
    void sigSearchFinished(bool found);
    void sigRecordChanged(ZoDeviceKey key);
    void sigProgressRange(ZoDeviceKey key, int maximum);
    void sigProgress(ZoDeviceKey key, int value); // about 30 a second at most
    void sigDeviceConfirming(ZoDeviceKey key); // transferred, being read back
    void sigDeviceOutcome(ZoDeviceOutcome outcome);
    void sigProbeFinished(); // the rows include bootloaders and silent devices
    void sigTargetChanged(ZoDeviceKey key, tVersion tarVersion, QString releaseNote, bool canUpgrade);
    void sigCoreHeader(QString name, tVersion version);
    void sigProtocolTypeReset(tdu1 coreType);
    void sigBrisk2Type(tdu1 type);
    void sigBranchSelected(int branch); // what is possible now (custom waits for its key)
    void sigCoreAddedByHand();
    void sigManualAddOffered(bool offered);
    void sigRunStarted();
    void sigRollbackRefused(QString text); // nothing was flashed; the text says why
    void sigRunEnded(ZoUpgradeWorkflow::RunOutcome outcome, ZoDeviceKey key);
    void sigInformation(QString text);
    void sigQuestion(int id, QString text, QList<int> buttons);
    void sigPlaySound(bool success);
    void sigWaitPopup(bool visible, int value);
    void sigSelectModules(QList<ZoDeviceKey> missing);
    void sigShowAddCore(bool instead); // instead of searching again; link settings done
    void sigCloseAddCore();
    void sigHideLinkSettings();
    void sigVersionReported(ZoDeviceKey key, tVersion version, QString serial);

public Q_SLOTS:
    void upgradeAll();
    // What the aircraft's latest run changed, back; asks QuestionRollBack first.
    void rollBack();
    // Nothing more is sent; the device in flight (returned) stays in its bootloader.
    ZoDeviceKey abortRun();
    void selectBranch(int index);
    void fetchCustomBranch(const QString &key);
    void onUpdateGNCDevIDByProtType(tds4 protType) { m_choice->pickProtocolType(protType); }
    void onUpdateBrisk2Type(tdu1 type) { m_choice->pickBoardType(type); }
    void onShowSelectModuleForm();
    void onManSelectModule(ZoDeviceKey module)
    {
        if (!isUpgrading())
            m_manual->addModule(module);
    }
    void onManSelectCoreGNCDevice(tdu4 devId);
    void onSearchOnSpecSPCom(QString com, tds4 baud, tds4 dataBits, tds4 parity, tds4 stopBits);
    void onSearchOnspecUdpCom(QString host, tds4 hostPort, tds4 localPort);
    void onSearchOnspecTcpClientCom(QString host, tds4 hostPort, tds4 localPort);
    void onClosePlaneComm();
    void cancelSearch() { m_search->cancel(); }
    // What the link and the cloud report.
    void onAutoSearchPlaneFinished(bool found, tds4 planeNum);
    void onPlaneConnectionChanged(bool connected);
    void onUpdateGNCFMVersion(tVersion version) { m_reports->onCoreVersion(version); }
    void onUpdateGNCFMComplieTime(tFcsDateTime time) { m_reports->onCoreCompileTime(time); }
    void onUpdateGNCEID(QString eid) { m_reports->onCoreEid(eid); }
    void onUpdateCANDevVersion(tVersion v, tdu1 n, QString sn) { m_reports->onModuleVersion(v, n, sn); }
    void onUpdateDevFRMTarInfo(ZoFRMFileInfo file) { m_targets->take(file); }

private:
    void research();
    void onNotFound();
    void endSweep();
    void onRunEnded(ZoUpgradeRun::End end, ZoDeviceKey key, bool first);
    bool readyToRun(void (ZoUpgradeWorkflow::*then)()); // else asks, or ignores it
    void beginRun(bool rollback);
    void setStage(Stage stage);
    void resetUpgradeState();
    void ask(Question id, const QString &text, const Buttons &buttons, Answered onAnswer);
    void connectLooper(const ZoUpgradeEnvironment &env);

    ZoLogLabel m_label;
    std::unique_ptr<ZoFRMFileStore> m_ownStore;
    ZoPlaneConfig m_ownLink;
    std::unique_ptr<ZoMsgLooper> m_looper;
    std::unique_ptr<ZoProtocolLease> m_lease; // the probe, a manual add, each transfer in turn
    std::unique_ptr<ZoBootCommands> m_commands;
    std::unique_ptr<ZoRunJournal> m_ownJournal;
    ZoRunJournal *m_journal;
    ZoUpgradePolicy m_policy;
    ZoDeviceRoster *m_roster;
    ZoFirmwareSource *m_source;
    ZoManualAdd *m_manual;
    ZoPlaneSearch *m_search;
    ZoConnectionPhase *m_connection;
    ZoBootloaderProbe *m_probe;
    ZoUpgradeRun *m_run;
    ZoCoreHeaderChoice *m_choice;
    ZoTargetIntake *m_targets;
    ZoBootloaderSweep *m_sweep;
    ZoReportIntake *m_reports;
    ZoRunResults *m_results;
    ZoCampaignGuard *m_campaign;
    ZoHistoryRecorder *m_history; // null: no history is kept
    ZoRollback *m_rollback;

    Stage m_stage = Stage::Idle;
    bool m_allUpgraded = false, m_reconnectCheck = false;
};
