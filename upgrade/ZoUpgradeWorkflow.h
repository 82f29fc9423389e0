#pragma once

#include "ZoBootloaderProbe.h"
#include "ZoCoreHeaderChoice.h"
#include "ZoConnectionPhase.h"
#include "ZoDevFMInfo.h"
#include "ZoEngineQuestions.h"
#include "ZoDeviceOutcome.h"
#include "ZoDeviceRoster.h"
#include "ZoFRMFileInfo.h"
#include "ZoFirmwareSource.h"
#include "ZoLogLabel.h"
#include "ZoManualAdd.h"
#include "ZoMsgLooper.h"
#include "ZoPlaneConfig.h"
#include "ZoPlaneSearch.h"
#include "ZoTransferSession.h"
#include "ZoTypes.h"
#include "ZoUpgradeEnvironment.h"
#include "ZoUpgradePolicy.h"
#include "ZoUpgradeTimings.h"
#include "ZoUpgradeRun.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class ZoBootCommands;
class ZoFRMFileStore;
class ZoProtocolLease;
class ZoRunJournal;

// The upgrade workflow, without a widget. It coordinates the device search,
// the records of what is on board (ZoDeviceRoster), what is due
// (ZoUpgradePolicy), where targets come from (ZoFirmwareSource), adding
// devices by hand (ZoManualAdd) and one transfer at a time
// (ZoTransferSession, on the looper's thread): modules first, the core last.
//
// Views (the main window, tolvane-cli) draw what it reports through typed
// signals, keyed by device (ZoDeviceKey), read what is
// due and in which order from it, and call its slots for what the user
// does. Questions to the user go out as sigQuestion and come back through
// answer(); the engine waits without a nested event loop.
//
// Lives on the thread that creates it; everything it needs is handed in.
class ZoUpgradeWorkflow : public QObject, public ZoEngineQuestions
{
    Q_OBJECT
public:
    // The window mode: what the program is doing with the aircraft. Tests on
    // it compare numerically: connected is 2 to 4, upgrading 5 or 6.
    enum WindowMode : tds4 {
        ModeNone = 0,
        ModeSearching = 1,
        ModeFound = 2,
        ModeReady = 4,
        ModeModuleUpgrade = 5,
        ModeCoreUpgrade = 6,
    };
    // How an upgrade-all run ended; the key names the device concerned.
    using RunOutcome = ZoUpgradeRun::End;
    // Where the catalogue of the selected branch stands. Ready or Failed after
    // the last Fetching describes the targets the records now hold.
    enum class CatalogueState : int { None = 0, Fetching, Ready, Failed };
    Q_ENUM(CatalogueState)

    // Firmware branches, as the branch box lists them.
    enum Branch : int { BranchStable = 0, BranchDevelopment = 1, BranchCustom = 2 };

    using Timings = ZoUpgradeTimings;
    static constexpr int MaxResends = ZoTransferSession::MaxResends;
    static constexpr int PageBytes = ZoTransferSession::PageBytes;
    static constexpr tds4 MaxImageBytes = ZoTransferSession::MaxImageBytes;

    using Pick = ZoUpgradePolicy::Pick;
    using TransferStats = ZoTransferSession::Stats;

    // What the window enables and shows besides the rows.
    struct Controls
    {
        bool upgradeEnabled = false;
        bool branchVisible = false;
        bool branchEnabled = false;
        bool customKeyVisible = false;
        bool manualAddEnabled = true;
        bool coreHeaderEnabled = true;
    };

    // The link record in `env` is read and written on this thread only.
    explicit ZoUpgradeWorkflow(const ZoUpgradeEnvironment &env, QObject *parent = nullptr);
    ~ZoUpgradeWorkflow() override;

    // Ends the looper's thread (the link with it) ahead of the destructor.
    void shutdown();
    // The looper runs and can take commands.
    bool isLooperReady() const { return m_looper->isReady(); }
    // A cloud request (catalogue, file or version report) is under way.
    bool hasRequestInFlight() const { return m_source->hasRequestInFlight(); }

    void setTimings(const Timings &timings);
    const Timings &timings() const { return m_timings; }

    // Searches every candidate link with the stored settings.
    void startSearch();
    // Tests only this link; later searches (after a reconnect or Retry) stay
    // on it too.
    void searchLink(const ZoPlaneConfig &requested);
    // Forgets the aircraft and reads everything again over the link in use.
    void research();

    // Without version reports (offline firmware): nothing is told to the cloud.
    void setVersionReporting(bool on) { m_source->setVersionReporting(on); }
    // Offline firmware: files that stand in for the cloud's catalogue. Each
    // firmware query then offers these instead of asking the cloud.
    void setLocalFirmware(const QList<ZoFRMFileInfo> &files) { m_source->setLocalFirmware(files); }

    tds4 windowMode() const { return m_windowMode; }
    // Where the transfer in flight stands (Idle between transfers).
    ZoTransferSession::State transferState() const { return m_run->sessionState(); }
    // Bootloaders are being asked whether one was left behind (after a
    // search, and before a run).
    bool isProbing() const { return m_probe->isActive(); }
    bool isUpgrading() const
    {
        return m_windowMode == ModeModuleUpgrade || m_windowMode == ModeCoreUpgrade;
    }
    // A search is under way (its form shows it).
    bool isSearching() const { return m_search->isActive(); }
    const QMap<ZoDeviceKey, ZoDevFMInfo> &records() const { return m_roster->records(); }
    const ZoDevFMInfo &coreRecord() const { return m_roster->core(); }
    tdu1 coreType() const { return m_roster->core().curVersion.type; }
    bool hasModuleRow(ZoDeviceKey key) const { return m_roster->isModuleRow(key); }
    bool hasCoreRow(ZoDeviceKey key) const { return m_roster->isCoreRow(key); }
    // The row that draws a record: its own, or for the core's record under
    // another protocol type, the core's.
    ZoDeviceKey rowOf(ZoDeviceKey key) const
    {
        return m_roster->isAlternateCore(key) ? m_roster->core().key : key;
    }
    bool allUpgraded() const { return m_allUpgraded; }
    bool reconnectCheck() const { return m_reconnectCheck; }
    int branchIndex() const { return m_branchIndex; }
    // The core header's protocol type (1, 2, 3, 258), 0 when it offers none.
    tds4 protocolType() const { return m_choice->protocolType(); }
    const Controls &controls() const { return m_controls; }
    // Figures of a device's transfer; live while it runs.
    TransferStats transferStats(ZoDeviceKey key) const { return m_run->stats(key); }
    int pendingQuestion() const { return m_question; }
    tdu1 pendingSelection() const { return m_manual->pending(); }
    CatalogueState catalogueState() const { return m_catalogueState; }
    // Cores the run journal says were being flashed when a run was cut
    // short: such a core waits in its bootloader and answers no search.
    QList<tdu1> coresLeftInBootloader() const;

    // What became of a device in the last run; for one the run did not
    // reach, whether it is up to date or was skipped, and the file a run
    // would take for it.
    ZoDeviceOutcome outcome(ZoDeviceKey key) const;
    // The devices in the order a list shows them: modules, then boards, the
    // core last.
    QList<ZoDeviceKey> displayOrder() const;
    // A device a run would flash now, and the order it flashes them in:
    // modules, then boards, the core last.
    bool isDue(ZoDeviceKey key) const { return m_policy.isDue(*m_roster, key); }
    QList<ZoDeviceKey> flashOrder() const { return m_policy.flashOrder(*m_roster); }
    Pick pickNextDevice() const { return m_policy.pick(*m_roster); }

    // The user's answer to the question asked last.
    void answer(int question, int button);

Q_SIGNALS:
    void sigCloseCom();
    // The looper opened (type: 0 UDP, 1 serial, 2 TCP client) or closed a link.
    void sigLinkOpened(int type, bool ok);
    void sigLinkClosed(bool ok);
    void sigWindowModeChanged(int mode);
    void sigConnectionChanged(bool connected);
    void sigSearchFinished(bool found);
    // What a search form shows: progress, its text (a translation key), and
    // whether a search is under way.
    void sigSearchProgress(int value, int maximum);
    void sigSearchText(QString textKey);
    void sigSearchActive(bool active);
    // The link a search found the aircraft on.
    void sigLinkFound(ZoPlaneConfig link);
    // A serial port's device node ("/dev/ttyUSB0") that this user may not
    // open. From an automatic search just before it ends without the
    // aircraft (so before its not-found question); from a search of the one
    // port the user chose, at once.
    void sigSerialPortDenied(QString node);
    // Rows: index is the row's place in the list, whose rows 0 and (module
    // rows + manual-add row) are the module and core headers.
    void sigRowAdded(ZoDeviceKey key, bool coreRow, int index);
    void sigRowRemoved(ZoDeviceKey key);
    void sigRowsCleared();
    void sigRecordChanged(ZoDeviceKey key);
    void sigManualAddRow(bool present, int index);
    void sigCurrentRow(ZoDeviceKey key);
    void sigProgressRange(ZoDeviceKey key, int maximum);
    // At most about 30 a second while a transfer runs.
    void sigProgress(ZoDeviceKey key, int value);
    // A device's transfer completed; it is being read back.
    void sigDeviceConfirming(ZoDeviceKey key);
    // A device's end in a run; its record shows it too.
    void sigDeviceOutcome(ZoDeviceOutcome outcome);
    // The look for bootloaders left behind, after a search, is done: the
    // rows now include the devices found in one and those not answering.
    void sigProbeFinished();
    void sigTargetChanged(ZoDeviceKey key, tVersion tarVersion, QString releaseNote, bool canUpgrade);
    // The core header: name and version, and what the boxes fall back to.
    void sigCoreHeader(QString name, tVersion version);
    void sigProtocolTypeReset(tdu1 coreType);
    void sigBrisk2Type(tdu1 type);
    void sigControlsChanged();
    void sigCatalogueStateChanged(ZoUpgradeWorkflow::CatalogueState state);
    // A catalogue file reached the store.
    void sigFirmwareArrived(tdu1 type);
    void sigRunEnded(ZoUpgradeWorkflow::RunOutcome outcome, ZoDeviceKey key);
    // Anything else the user should read: the translated text.
    void sigInformation(QString text);
    // The view words the question's title and buttons (ZoEngineQuestions).
    void sigQuestion(int id, QString text, QList<int> buttons);
    void sigPlaySound(bool success);
    void sigWaitPopup(bool visible, int value);
    void sigSelectModules(QList<ZoDeviceKey> missing);
    void sigModuleListChanged(QList<ZoDeviceKey> modules);
    // `instead`: the user chose to add the core instead of searching again,
    // so the link settings are done with.
    void sigShowAddCore(bool instead);
    void sigCloseAddCore();
    void sigHideLinkSettings();
    void sigVersionReported(ZoDeviceKey key, tVersion version, QString serial);

public Q_SLOTS:
    // What the user does.
    void upgradeAll();
    // Stops a run at once, without a word: nothing more is sent. Returns the
    // device whose transfer was under way (null for none), which stays in its
    // bootloader.
    ZoDeviceKey abortRun();
    void selectBranch(int index);
    void fetchCustomBranch(const QString &key);
    void onUpdateGNCDevIDByProtType(tds4 protType);
    void onUpdateBrisk2Type(tdu1 type);
    void onShowSelectModuleForm();
    // A missing module the user picked, addressed by its type and number.
    void onManSelectModule(ZoDeviceKey module);
    void onManSelectCoreGNCDevice(tdu4 devId);
    void onSearchOnSpecSPCom(QString com, tds4 baud, tds4 dataBits, tds4 parity, tds4 stopBits);
    void onSearchOnspecUdpCom(QString host, tds4 hostPort, tds4 localPort);
    void onSearchOnspecTcpClientCom(QString host, tds4 hostPort, tds4 localPort);
    void onClosePlaneComm();
    void cancelSearch();

    // What the search, the looper and the cloud report.
    void onAutoSearchPlaneFinished(bool bFound, tds4 planeNum);
    void onPlaneConnectionChanged(bool connected);
    void onGetFirmwareInfo(tdu1 devType, tdu4 devId, tdu4 devNumIdx);
    void onUpdateGNCFMVersion(tVersion version);
    void onUpdateGNCFMComplieTime(tFcsDateTime compileTime);
    void onUpdateGNCEID(QString eid);
    void onUpdateCANDevVersion(tVersion verInfo, tdu1 devIdx, QString sn);
    void onUpdateDevFRMTarInfo(ZoFRMFileInfo tarFileInfo);
    // The end of a catalogue fetch.
    void onCatalogueFetched(bool succ);

private:
    // The core report once a core added by hand has passed its check.
    void onUpdateGNCFMVersionChecked(tVersion version, bool manual);
    void onManualCoreAccepted(tVersion version);
    void onManualModuleSilent(tdu1 devId);
    void setWindowMode(tds4 mode);
    void setCatalogueState(CatalogueState state);
    void setControls(const std::function<void(Controls &)> &change);
    void enableControls();
    void resetUpgradeState();
    void applyTarget(ZoDevFMInfo &record, const ZoFRMFileInfo &info);
    void requestFirmware(int branch, const QString &key);
    void requestFirmwareFor(tdu1 fid, int branch, const QString &key);
    void identifyCore();
    QString releaseNoteOf(const ZoFRMFileInfo &info) const;

    // What the run reports.
    void onDeviceStarted(ZoDeviceKey key, bool core, int maximum);
    void onDeviceFinished(ZoDeviceOutcome outcome, tFcsDateTime reportedTime);
    void onRunEnded(ZoUpgradeRun::End end, ZoDeviceKey key, bool first);
    void finishDevice(const ZoDeviceOutcome &outcome, const tFcsDateTime &reportedTime);
    bool hasRunResults() const;
    void releaseHeldTargets();

    enum ProbePurpose { ProbeNone, ProbeAfterSearch, ProbeBeforeRun };
    void startProbe(ProbePurpose purpose);
    void onProbeFinished(QList<ZoBootloaderProbe::Found> found);

    void ask(Question id, const QString &text, const Buttons &buttons,
        std::function<void(int)> onAnswer);
    void inform(const QString &text);

    ZoUpgradeEnvironment m_env;
    ZoLogLabel m_label;
    std::unique_ptr<ZoFRMFileStore> m_ownStore;
    ZoFRMFileStore *m_store;
    ZoPlaneConfig m_ownLink;
    ZoPlaneConfig *m_config;
    Timings m_timings;
    std::unique_ptr<ZoMsgLooper> m_looper;
    // Taken in turn by the probe, a manual add and each transfer.
    std::unique_ptr<ZoProtocolLease> m_lease;
    std::unique_ptr<ZoBootCommands> m_commands;
    ZoDeviceRoster *m_roster;
    ZoUpgradePolicy m_policy;
    ZoFirmwareSource *m_source;
    ZoManualAdd *m_manual;
    ZoPlaneSearch *m_search;
    ZoConnectionPhase *m_connection;
    std::unique_ptr<ZoRunJournal> m_ownJournal;
    ZoRunJournal *m_journal;
    ZoBootloaderProbe *m_probe;
    ZoUpgradeRun *m_run;
    ZoCoreHeaderChoice *m_choice;

    tds4 m_windowMode = ModeNone;
    CatalogueState m_catalogueState = CatalogueState::None;
    Controls m_controls;
    bool m_allUpgraded = false;
    bool m_reconnectCheck = false;
    ProbePurpose m_probePurpose = ProbeNone;
    // The module whose next version report comes from its bootloader (its
    // type and the number it reported), null for none.
    ZoDeviceKey m_bootloaderReport;
    int m_branchIndex = BranchStable;
    QString m_customKey;
    QList<ZoFRMFileInfo> m_heldTargets; // arrived during a run
    QMap<ZoDeviceKey, ZoDeviceOutcome> m_outcomes; // of the last run

    int m_question = QuestionNone;
    std::function<void(int)> m_onAnswer;
};
