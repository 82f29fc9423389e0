#pragma once

#include "ZoDevFMInfo.h"
#include "ZoFRMFileInfo.h"
#include "ZoPlaneConfig.h"
#include "ZoTypes.h"
#include "ZoUpgradeEnvironment.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>

#include <array>
#include <functional>
#include <memory>

class QTimer;
class ZoFRMFileStore;
class ZoMsgLooper;
class ZoNimbraHttpHelper;
class ZoPlaneSearch;

// The upgrade workflow, without a widget: it owns the message looper, the
// cloud client and the device search, keeps one record per device on board,
// decides which devices need new firmware and flashes them one after the
// other, modules first and the core last: enter bootloader, wait, key frame
// (the bootloader erases), data blocks acknowledged by offset with resends on
// time-out, leave bootloader, report the new version.
//
// Views (the main window, tolvane-cli) draw what it reports through its
// signals, keyed by device key (type << 16 | device number), and call its
// slots for what the user does. Questions to the user go out as sigQuestion
// and come back through answer(); the engine waits without a nested event
// loop, its timers stopped.
//
// Lives on the GUI thread. It is the only writer, on this side, of the
// looper's sendQueue, protocolMode and moduleVariant.
class ZoUpgradeWorkflow : public QObject
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
    enum UpgradeStep : tdu1 {
        StepIdle = 0,
        StepEnterBootloader = 5,
        StepErase = 7,
        StepProgram = 8,
        StepDone = 11,
    };
    enum Question : int {
        QuestionNone = 0,
        QuestionNotFound, // Retry (Yes), Add (No, from the second time on), Cancel
        QuestionSameDevice, // "MsgPlsCheckIsSameDev" before a run after a reconnect
        QuestionCoreMismatch, // a core added by hand is not what answered
        QuestionForceAddCore, // a core added by hand did not answer
    };
    enum Button : int { ButtonNone = 0, ButtonYes, ButtonNo, ButtonCancel };
    using Buttons = QList<QPair<int, QString>>; // button id, translation key

    // How an upgrade-all run ended; the key names the device concerned.
    enum class RunOutcome : int {
        Completed = 0, // every due device was flashed (or none was due)
        DeviceFailed, // the device stopped answering its transfer
        FirmwareUnusable, // no file that fits the device: nothing was sent to it
    };
    Q_ENUM(RunOutcome)
    // Where the catalogue of the selected branch stands. Ready or Failed after
    // the last Fetching describes the targets the records now hold.
    enum class CatalogueState : int { None = 0, Fetching, Ready, Failed };
    Q_ENUM(CatalogueState)

    // Firmware branches, as the branch box lists them.
    enum Branch : int { BranchStable = 0, BranchDevelopment = 1, BranchCustom = 2 };

    struct Timings
    {
        int enterBootloaderMs = 3000;
        int eraseMs = 12000;
        int blockMs = 2000;
        int betweenDevicesMs = 1000;
        int identityToCatalogueMs = 2000;
        int manualModuleMs = 2000;
        int manualCoreMs = 4000;
        int forceReportDelayMs = 1000;
        int researchDelayMs = 200;
    };
    static constexpr int MaxResends = 4;
    static constexpr int PageBytes = 128;
    // A transfer names its blocks with 16 bits of 32-byte units, and no
    // device of this family holds more.
    static constexpr tds4 MaxImageBytes = 65535 * 32 - 2 * PageBytes;

    // What pickNextDevice chose: devId 0 means nothing left to do.
    struct Pick
    {
        tdu1 devId = 0;
        bool isCore = false;
        tdu1 devNum = 0; // the number the device is addressed with
        tds4 key = 0; // the record (and row) it belongs to
    };

    // Figures of one device's transfer, for reports.
    struct TransferStats
    {
        int blocksSent = 0;
        int resends = 0;
        qint64 startMs = 0;
        qint64 endMs = 0;
    };

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
    // Transitional, for tolvane-cli only: the program's configuration.
    explicit ZoUpgradeWorkflow(ZoPlaneConfig *config, QObject *parent = nullptr);
    ~ZoUpgradeWorkflow() override;

    ZoPlaneSearch *search() const { return m_search; }
    // Transitional, for tolvane-cli only.
    ZoMsgLooper *looper() const { return m_looper.get(); }
    ZoNimbraHttpHelper *cloud() const { return m_cloud; }
    // Ends the looper's thread (the link with it) ahead of the destructor.
    void shutdown();
    // The looper runs and can take commands.
    bool isLooperReady() const;
    // A cloud request (catalogue, file or version report) is under way.
    bool hasRequestInFlight() const;
    CatalogueState catalogueState() const { return m_catalogueState; }
    // A device a run would flash now, and the order it flashes them in:
    // modules, then boards, the core last.
    bool isDue(tds4 key) const;
    QList<tds4> flashOrder() const;

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
    void setVersionReporting(bool on) { m_versionReporting = on; }
    // Offline firmware: files that stand in for the cloud's catalogue. Each
    // firmware query then offers these instead of asking the cloud.
    void setLocalFirmware(const QList<ZoFRMFileInfo> &files);

    tds4 windowMode() const { return m_windowMode; }
    tdu1 upgradeStep() const { return m_ctx.step; }
    bool isUpgrading() const
    {
        return m_windowMode == ModeModuleUpgrade || m_windowMode == ModeCoreUpgrade;
    }
    bool isConnected() const { return m_linkUp; }
    const QMap<tds4, ZoDevFMInfo> &records() const { return m_records; }
    const ZoDevFMInfo &coreRecord() const { return m_core; }
    tdu1 coreType() const { return m_core.curVersion.type; }
    bool hasModuleRow(tds4 key) const { return m_moduleRows.contains(key); }
    bool hasCoreRow(tds4 key) const { return m_coreRows.contains(key); }
    bool allUpgraded() const { return m_allUpgraded; }
    bool reconnectCheck() const { return m_reconnectCheck; }
    int branchIndex() const { return m_branchIndex; }
    bool customBranchMode() const { return m_customBranch; }
    // The core header's protocol type (1, 2, 3, 258), 0 when it offers none.
    tds4 protocolType() const { return m_protType; }
    const Controls &controls() const { return m_controls; }
    TransferStats transferStats(tds4 key) const { return m_stats.value(key); }
    int pendingQuestion() const { return m_question; }
    tdu1 pendingSelection() const { return m_pendingSelection; }

    Pick pickNextDevice() const;
    bool isNewerVersion(const tVersion &cur, const tVersion &tar) const;
    bool isCompileTimeDifferent(const tFcsDateTime &cur, const tFcsDateTime &tar) const;

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
    // Rows: index is the row's place in the list, whose rows 0 and (module
    // rows + manual-add row) are the module and core headers.
    void sigRowAdded(tds4 key, bool coreRow, int index);
    void sigRowRemoved(tds4 key);
    void sigRowsCleared();
    void sigRecordChanged(tds4 key);
    void sigManualAddRow(bool present, int index);
    void sigCurrentRow(tds4 key);
    void sigProgressRange(tds4 key, int maximum);
    void sigProgress(tds4 key, int value);
    void sigDeviceResult(tds4 key, bool upgraded);
    void sigTargetChanged(tds4 key, tVersion tarVersion, QString releaseNote, bool canUpgrade);
    // The core header: name and version, and what the boxes fall back to.
    void sigCoreHeader(QString name, tVersion version);
    void sigProtocolTypeReset(tdu1 coreType);
    void sigBrisk2Type(tdu1 type);
    void sigControlsChanged();
    void sigCatalogueStateChanged(ZoUpgradeWorkflow::CatalogueState state);
    void sigRunEnded(ZoUpgradeWorkflow::RunOutcome outcome, tds4 key);
    // Transitional, for tolvane-cli only; they go once it reads the above.
    void sigDownloadTips(QString textKey);
    void sigCatalogueResult(bool succ);
    void sigRunFinished(bool succ, QString messageKey, QString text);
    // Any other information box: title key and the translated text.
    void sigInformation(QString titleKey, QString text);
    void sigQuestion(int id, QString titleKey, QString text, QList<QPair<int, QString>> buttons);
    void sigPlaySound(bool success);
    void sigWaitPopup(bool visible, int value);
    void sigSelectModules(QList<tds4> missing);
    void sigModuleListChanged(QList<tds4> modules);
    void sigShowAddCore();
    void sigCloseAddCore();
    void sigHideLinkSettings();
    void sigVersionReported(tds4 key, tVersion version, QString serial);

public Q_SLOTS:
    // What the user does.
    void upgradeAll();
    void selectBranch(int index);
    void fetchCustomBranch(const QString &key);
    void onUpdateGNCDevIDByProtType(tds4 protType);
    void onUpdateBrisk2Type(tdu1 type);
    void onShowSelectModuleForm();
    void onManSelectModule(tdu1 devId);
    void onManSelectCoreGNCDevice(tdu4 devId);
    void onSearchOnSpecSPCom(QString com, tds4 baud, tds4 dataBits, tds4 parity, tds4 stopBits);
    void onSearchOnspecUdpCom(QString host, tds4 hostPort, tds4 localPort);
    void onSearchOnspecTcpClientCom(QString host, tds4 hostPort, tds4 localPort);
    void onClosePlaneComm();

    // What the search, the looper and the cloud report.
    void onAutoSearchPlaneFinished(bool bFound, tds4 planeNum);
    void onPlaneConnectionChanged(bool connected);
    void onGetFirmwareInfo(tdu1 devType, tdu4 devId, tdu4 devNumIdx);
    void onUpdateGNCFMVersion(tVersion version);
    void onUpdateGNCFMComplieTime(tFcsDateTime compileTime);
    void onUpdateGNCEID(QString eid);
    void onUpdateCANDevVersion(tVersion verInfo, tdu1 devIdx, QString sn);
    void onUpdateDevFRMTarInfo(ZoFRMFileInfo tarFileInfo);
    void onUpdateDownloadTips(bool succ, tdu1 task);
    void onGNCUpgEraseFlashAck();
    void onGNCUpgradeProgAck(tds4 upgradeSize);
    void onCANDevUpgEraseFlashAck();
    void onCANDevUpgradeProgAck(tds4 upgradeSize);
    void onSingleFRMUpgradeTimeout();
    void onWaitManDetectTimeout();

private:
    struct Context
    {
        std::array<tdu1, 48> header {};
        QByteArray image; // pageCount * 128 bytes, then one chunk of filler
        tds4 pageCount = 0;
        tds4 chunkSize = 0;
        tds4 offset = 0;
        tdu1 devId = 0;
        tdu1 devNum = 0;
        tds4 key = 0;
        tdu1 step = StepIdle;
        tds4 retries = 0;
        qint64 startTime = 0;
    };

    // The core report once a core added by hand has passed its check.
    void onUpdateGNCFMVersionChecked(tVersion version, bool manual);
    void setWindowMode(tds4 mode);
    void setCatalogueState(CatalogueState state);
    void endRun(RunOutcome outcome, tds4 key);
    void setControls(const std::function<void(Controls &)> &change);
    void resetUpgradeState();
    bool prepareUpgrade(const Pick &pick);
    bool startDevice(const Pick &pick);
    void startNextDevice();
    void finishDevice();
    void failRun();
    void deviceDone();
    void updateRowProgress(tds4 value);
    tds4 rowKeyOf(tdu1 devId, tdu1 devNum) const;
    bool needsUpgrade(const ZoDevFMInfo &record) const;
    void applyTarget(ZoDevFMInfo &record, const ZoFRMFileInfo &info);
    void requestFirmware(int branch, const QString &key);
    void requestFirmwareFor(tdu1 fid, int branch, const QString &key);
    void eraseAcknowledged(tds4 mode);
    void programAcknowledged(tds4 mode, tds4 upgradeSize);
    void enableControls();
    void offerLocalFirmware();

    // Rows.
    void insertModuleRow(const ZoDevFMInfo &record);
    void insertCoreRow(const ZoDevFMInfo &record);
    void removeModuleRows();
    void clearRows();
    QList<tds4> missingModules() const;

    // Sending; each returns false (and sends nothing) without a running
    // looper and its codecs.
    bool looperReady(bool needTransferCodec) const;
    bool sendCommand(const tdu1 *bytes, int length);
    bool sendCanPackage(tdu2 canId, bool standard, const tdu1 *data, int length);
    bool sendBusPackage(tdu1 command, const tdu1 *data, int length);
    bool sendModuleCommand(tdu1 devId, tdu1 devNum, int op);
    bool sendGetModuleVersion(tdu1 devId, tdu1 devNum);
    bool sendModuleEnterBootloader(tdu1 devId, tdu1 devNum);
    bool sendForceGetBootloader(tdu1 devId, tdu1 devNum);
    bool sendModuleLeaveBootloader(tdu1 devId, tdu1 devNum);
    bool sendTransferFrame(const tdu1 *frame, int length);
    bool sendCoreEnterBootloader();
    bool sendCoreLeaveBootloader();
    bool sendGetEid();
    bool sendEraseFlash();
    bool sendProgramData();
    // Runs `then` on this thread once the looper has taken everything queued
    // so far off its send queue.
    void afterQueuedSends(std::function<void()> then);

    void ask(Question id, const QString &titleKey, const QString &text, const Buttons &buttons,
        std::function<void(int)> onAnswer);
    void inform(const QString &titleKey, const QString &text);

    ZoUpgradeEnvironment m_env;
    std::unique_ptr<ZoFRMFileStore> m_ownStore;
    ZoFRMFileStore *m_store;
    ZoPlaneConfig m_ownLink;
    ZoPlaneConfig *m_config;
    QList<tds4> m_modules; // the expected modules of the core in hand
    Timings m_timings;
    std::unique_ptr<ZoMsgLooper> m_looper;
    ZoNimbraHttpHelper *m_cloud = nullptr;
    ZoPlaneSearch *m_search = nullptr;
    QTimer *m_stepTimer = nullptr;
    QTimer *m_manDetectTimer = nullptr;

    tds4 m_windowMode = ModeNone;
    Context m_ctx;
    QMap<tds4, ZoDevFMInfo> m_records;
    QSet<tds4> m_moduleRows; // key 0 is the module header
    QSet<tds4> m_coreRows; // key 0 is the core header
    QSet<tds4> m_altCoreRows;
    // Devices whose target the decision held back although it is newer.
    QSet<tds4> m_heldBack;
    QMap<tds4, TransferStats> m_stats;
    ZoDevFMInfo m_core;
    bool m_manualAddRow = false;
    Controls m_controls;

    tdu1 m_pendingSelection = 0;
    bool m_manualCore = false;
    bool m_compileTimeKnown = false;
    bool m_allUpgraded = false;
    bool m_reconnectCheck = false;
    bool m_customBranch = false;
    bool m_identityHandled = false;
    bool m_linkUp = false;
    bool m_notFoundBefore = false;
    int m_branchIndex = BranchStable;
    QString m_customKey;
    tds4 m_protType = 0;
    tdu1 m_brisk2Type = 0;
    bool m_catalogueInFlight = false;
    CatalogueState m_catalogueState = CatalogueState::None;
    bool m_versionReporting = true;
    bool m_offline = false;
    QList<ZoFRMFileInfo> m_localFirmware;
    std::unique_ptr<ZoPlaneConfig> m_pinnedLink;

    int m_question = QuestionNone;
    std::function<void(int)> m_onAnswer;
};
