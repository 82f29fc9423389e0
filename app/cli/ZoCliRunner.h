#pragma once

#include "ZoCliOptions.h"
#include "ZoFRMFileInfo.h"
#include "ZoTypes.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>

class ZoUpgradeWorkflow;

// One run of tolvane-cli: owns the upgrade workflow, finds the aircraft,
// waits for the catalogue, lists, flashes and verifies, prints as it goes,
// writes the report and says how it ended through sigFinished.
//
// The engine is driven only through its public slots and watched through
// its signals; every wait here is bounded, because several of the engine's
// ends (a one-link search whose open fails, a question answered No) are
// silence rather than a signal.
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
    };
    enum Result { ResultUpgraded, ResultFailed, ResultUpToDate, ResultSkipped };

    // One device as the run saw it.
    struct Device
    {
        tds4 key = 0;
        bool core = false;
        tdu1 type = 0;
        tdu1 deviceNumber = 0;
        QString name;
        QString serial;
        tVersion before;
        bool hasTarget = false;
        tVersion target;
        bool due = false;
        bool attempted = false; // its transfer was prepared
        bool upgraded = false; // the engine reported the transfer complete
        bool failed = false;
        bool hasAfter = false; // `after` was read from the device after the run
        tVersion after;
        bool verified = false;
        int blocksSent = 0;
        int resends = 0;
        double seconds = 0;
    };

    // A file of a --firmware folder, checked but not yet in the store.
    struct FirmwareFile
    {
        QString path;
        QByteArray bytes;
        tVersion version;
    };

    // How long the run waits for what the engine never bounds itself.
    static constexpr int SearchBoundMs = 60000;
    static constexpr int CatalogueBoundMs = 30000;
    static constexpr int ComeBackMs = 30000;
    static constexpr int SettleMs = 1000;
    static constexpr int StallBoundMs = 120000;

    explicit ZoCliRunner(const ZoCliOptions &options, QObject *parent = nullptr);
    ~ZoCliRunner() override;

    // Starts the run; call with the event loop running.
    void start();
    int exitCode() const { return m_exitCode; }
    const QList<Device> &devices() const { return m_devices; }

    // A firmware file for --firmware: a whole header, a non-zero type, and
    // exactly the image length the header announces (a truncated copy would
    // be flashed with filler, trailing bytes would be flashed as code).
    static bool checkFirmwareFile(
        const QString &path, const QByteArray &bytes, tVersion &version, QString *error);
    // Every file of the folder (hidden ones aside), at most one per type; on
    // false nothing is returned and *error names the file.
    static bool readFirmwareDir(const QString &dir, QList<FirmwareFile> &files, QString *error);
    // Store records for the engine, each with a copy of its file's bytes.
    static QList<ZoFRMFileInfo> firmwareRecords(const QList<FirmwareFile> &files);

    // A device is verified when it reports exactly the target: type and
    // version, since a core can take a sibling airframe's firmware.
    static bool reportsTarget(const tVersion &after, const tVersion &target);
    static Result resultOf(const Device &device);
    static QString resultName(Result result);
    // The exit code of an upgrade run whose catalogue was read.
    static int upgradeExitCode(bool runSucceeded, const QList<Device> &devices);
    static QString versionText(const tVersion &version);

Q_SIGNALS:
    void sigFinished(int exitCode);

private:
    enum Phase {
        PhaseIdle,
        PhaseSearch,
        PhaseCatalogue,
        PhaseUpgrade,
        PhaseComeBack, // the short pause before the verifying search
        PhaseVerify,
        PhaseDone,
    };

    struct Progress
    {
        int maximum = 0;
        int value = 0;
        qint64 firstMs = -1;
        int firstValue = 0;
        int lastDecile = 0;
        qint64 drawnMs = -1;
    };

    static void onLogMessage(
        QtMsgType type, const QMessageLogContext &context, const QString &text);

    void connectEngine();
    void onSearchFinished(bool found);
    void onLinkOpened(int type, bool ok);
    void onQuestion(int id, const QString &titleKey, const QString &text);
    void onFetchStarted();
    void onCatalogueResult(bool ok);
    void onCatalogueCheckpoint();
    void maybeCatalogueDone();
    void catalogueDone();
    void requestBranch();
    void onProgressRange(tds4 key, int maximum);
    void onProgress(tds4 key, int value);
    void onDeviceResult(tds4 key, bool ok);
    void onRunFinished(bool ok, const QString &messageKey);
    void startVerifySearch();
    void verifyDone(bool cameBack);
    void onBound();
    void finish(int code, const QString &result);

    Device *device(tds4 key);
    void snapshotDevices();
    void printTable(bool after);
    void drawProgress(const Device &d, Progress &p, bool final);
    void closeProgressLine();
    QString label(const Device &d) const;
    bool writeReport(int code, const QString &result, QString *error) const;
    QJsonObject reportJson(int code, const QString &result) const;
    void say(const QString &line);
    void complain(const QString &line);
    void answerLater(int id, int button);

    static ZoCliRunner *s_active;
    static QtMessageHandler s_previousHandler;

    ZoCliOptions m_options;
    std::unique_ptr<ZoUpgradeWorkflow> m_engine;
    Phase m_phase = PhaseIdle;
    int m_exitCode = -1;
    bool m_tty = false;
    QElapsedTimer m_clock;
    QDateTime m_started;
    QDateTime m_ended;
    QTimer m_bound;
    QTimer m_checkpoint;
    QTimer m_settle;
    QString m_boundReason;

    // Catalogue: fetches started since the search ended, and the count at
    // the moment the last result came in. The engine starts one fetch by
    // itself a fixed time after the search; only a result after the last
    // start describes the catalogue the records now hold.
    int m_fetchStarts = 0;
    int m_resultAt = -1;
    bool m_checkpointPassed = false;
    QMap<tds4, bool> m_due;

    QList<Device> m_devices;
    QMap<tds4, Progress> m_progress;
    tds4 m_drawnKey = -1; // whose progress the open line shows
    std::atomic<bool> m_lineOpen {false}; // stdout ends in a line drawn in place
    tdu1 m_coreType = 0;
    QString m_coreName;
    QString m_coreEid;
    tVersion m_coreVersion;
    QString m_coreCompileTime;
    bool m_verifyRan = false;
    qint64 m_comeBackDeadline = 0;
    bool m_retryPending = false;
};
