#pragma once

#include "ZoCliDevice.h"
#include "ZoCliOptions.h"
#include "ZoCliPrinter.h"
#include "ZoCliReport.h"
#include "ZoTypes.h"
#include "ZoUpgradeWorkflow.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

// One run of tolvane-cli, phase by phase: find the aircraft, wait for the
// catalogue, list, flash (the engine reads each device back), report; and
// how it ended, as an exit code
// through sigFinished.
//
// The engine is driven only through its public slots and watched through
// its signals; every wait here is bounded, because several of the engine's
// ends (a one-link search whose open fails, a question answered No) are
// silence rather than a signal.
class ZoCliRollback;
class ZoRunJournal;

class ZoCliRunner : public QObject
{
    Q_OBJECT
public:
    enum ExitCode : int {
        ExitSuccess = 0,
        ExitUpgradeFailed = 1,
        ExitUsage = 2,
        ExitNotFound = 3,
        ExitCatalogue = 4,
        ExitNotVerified = 5,
        // The flash history could not be written (or, reading it, read or
        // verified); 6 is --doctor's.
        ExitHistory = 7,
        // --lock refused the run before anything was flashed.
        ExitLockRefused = 8,
        // --rollback refused (missing image, the 2.20 line, another EID, no
        // Yes): nothing was flashed.
        ExitRollbackRefused = 9,
        // 128 + the signal's number, as a shell reports a program it stopped.
        ExitInterrupted = 130,
        ExitTerminated = 143,
    };

    // How long the run waits for what the engine never bounds itself.
    static constexpr int SearchBoundMs = 60000;
    static constexpr int CatalogueBoundMs = 30000;
    static constexpr int StallBoundMs = 120000;
    static constexpr int DrainBoundMs = 15000;

    // fleetPrefix, when not empty, makes this one aircraft of several (see
    // ZoCliFleet): its lines carry the prefix, it keeps its own link record,
    // writes its journal entries into the fleet's journal, waits at the
    // start of its upgrade until proceed() or refuse(), writes no report and
    // leaves the final table to the fleet.
    explicit ZoCliRunner(const ZoCliOptions &options, QObject *parent = nullptr,
        const QString &fleetPrefix = QString(), ZoRunJournal *fleetJournal = nullptr);
    ~ZoCliRunner() override;

    // Starts the run; call with the event loop running.
    void start();
    // A stop request from outside (ZoPlatform::StopRequest): nothing more is
    // sent, the report is written and the run ends with 128 + its number.
    void interrupt(int request);
    int exitCode() const { return m_exitCode; }
    QString result() const { return m_result; }
    // The core's EID once the search has read it; empty before.
    QString eid() const;
    QJsonObject reportJson() const { return m_record.json(m_result, m_exitCode); }
    // Past the gate of a fleet member's upgrade phase: flash now, or not at
    // all (a usage error, why said on stderr).
    void proceed();
    void refuse(const QString &why, int code = ExitUsage,
        const QString &result = QStringLiteral("refused"));
    const QList<ZoCliDevice> &devices() const { return m_record.devices; }

    // The exit code of an upgrade run whose catalogue was read.
    static int upgradeExitCode(
        bool runSucceeded, const QList<ZoCliDevice> &devices, bool historyLost = false);

Q_SIGNALS:
    void sigFinished(int exitCode);
    // A fleet member has listed its aircraft and waits for proceed().
    void sigAwaitingUpgrade();

private:
    enum Phase {
        PhaseIdle,
        PhaseSearch,
        PhaseCatalogue,
        PhaseProbe, // the catalogue is in; the engine still looks for bootloaders
        PhaseGate, // a fleet member waits for leave to flash
        PhaseUpgrade,
        PhaseDone,
    };

    void connectEngine();
    bool offerLocalFirmware();
    void onSearchFinished(bool found);
    void onLinkOpened(bool ok);
    void onQuestion(int id, const QString &text);
    void onCatalogueState(ZoTargetIntake::State state);
    void catalogueDone();
    void requestCustomBranch();
    void onProgressRange(ZoDeviceKey key, int maximum);
    void onProgress(ZoDeviceKey key, int value);
    void onDeviceOutcome(const ZoDeviceOutcome &outcome);
    void onRunEnded(ZoUpgradeWorkflow::RunOutcome outcome, ZoDeviceKey key);
    void beginUpgrade();
    void onBound();
    void finish(int code, const QString &result);

    ZoCliDevice *device(ZoDeviceKey key);
    ZoCliDevice deviceOf(ZoDeviceKey key) const;
    void snapshotDevices();
    void answerLater(int id, int button);

    ZoCliOptions m_options;
    const bool m_fleet;
    // A fleet member's own: the engine writes the link it used back here.
    ZoPlaneConfig m_link;
    ZoCliPrinter m_out;
    ZoCliReport m_record;
    // Declared after the printer, so destroyed before it: the looper may
    // still log while it stops.
    std::unique_ptr<ZoUpgradeWorkflow> m_engine;
    ZoCliRollback *m_rollback = nullptr; // --rollback's; a child
    Phase m_phase = PhaseIdle;
    int m_exitCode = -1;
    bool m_historyLost = false; // a device's end missed the flash history
    QString m_result;
    QElapsedTimer m_clock;
    QTimer m_bound;
    QTimer m_drain;
    qint64 m_drainDeadline = 0;
    QString m_boundReason;
};
