#pragma once

#include "ZoBootloaderProbe.h"
#include "ZoLogLabel.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class ZoDeviceRoster;
class ZoRunJournal;
class ZoTargetIntake;

// Which bootloaders are asked for after a search and before a run, and what
// is found there put on the roster: every expected module of kinds 3 and 4
// that did not answer (every number of a type none of whose devices did),
// and every module the run journal says was being flashed. A device found in its bootloader becomes a row with its target;
// journal entries of devices that answer again are done with; expected
// modules that answer from nowhere are marked silent.
//
// Lives on the engine's thread; the probe it drives is not owned.
class ZoBootloaderSweep : public QObject
{
    Q_OBJECT
public:
    enum class Purpose : int { None, AfterSearch, BeforeRun };
    Q_ENUM(Purpose)

    ZoBootloaderSweep(ZoBootloaderProbe *probe, ZoDeviceRoster *roster, ZoRunJournal *journal,
        ZoTargetIntake *targets, ZoLogLabel label, QObject *parent = nullptr);

    // Its own and its probe's.
    void setTimings(const ZoUpgradeTimings &timings);
    // Ends with sigFinished, within this call when there is nothing to ask.
    // Before a run that follows the search's sweep within the fresh time,
    // nothing is asked again: it ends from the event loop with that sweep's
    // findings, which are on the roster already.
    void start(Purpose purpose, tdu1 coreType);
    void cancel();
    Purpose purpose() const { return m_purpose; }
    bool isBeforeRun() const { return m_purpose == Purpose::BeforeRun; }

Q_SIGNALS:
    void sigRecordChanged(ZoDeviceKey key);
    void sigFinished(ZoBootloaderSweep::Purpose purpose);

private:
    void onProbeFinished(const QList<ZoBootloaderProbe::Found> &found);

    ZoBootloaderProbe *m_probe;
    ZoDeviceRoster *m_roster;
    ZoRunJournal *m_journal;
    ZoTargetIntake *m_targets;
    ZoLogLabel m_label;
    Purpose m_purpose = Purpose::None;
    int m_freshMs = ZoUpgradeTimings().probeFreshMs;
    // Since the last search's sweep ended; invalid once a run took it.
    QElapsedTimer m_searchSwept;
    QTimer m_taken;
};
