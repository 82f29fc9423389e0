#pragma once

#include "ZoDeviceOutcome.h"
#include "ZoLogLabel.h"
#include "ZoUpgradeRun.h"

#include <QMap>
#include <QObject>

class ZoDeviceRoster;
class ZoFirmwareSource;
class ZoUpgradePolicy;

// What became of each device in the last run: the outcome the views read
// (outcome(), for a device the run did not reach what a run would do), and
// the same written on the device's record. A confirmed device's new
// version goes to the cloud.
//
// Lives on the engine's thread beside the run it listens to.
class ZoRunResults : public QObject
{
    Q_OBJECT
public:
    // Nothing is owned; all must outlive this.
    ZoRunResults(ZoUpgradeRun *run, ZoDeviceRoster *roster, const ZoUpgradePolicy *policy,
        ZoFirmwareSource *source, ZoLogLabel label, QObject *parent = nullptr);

    ZoDeviceOutcome outcome(ZoDeviceKey key) const;
    // Some record shows a run's result.
    bool any() const;
    // A new run, or a new aircraft: `records` too clears the records' results.
    void clear(bool records);
    // The run was stopped by hand at `outcome`'s device, which stays in its
    // bootloader when `inBootloader`.
    void recordAbort(const ZoDeviceOutcome &outcome, bool inBootloader);

Q_SIGNALS:
    void sigRecordChanged(ZoDeviceKey key);
    void sigDeviceOutcome(ZoDeviceOutcome outcome);
    // Every device a run sent its image to, or stopped at for a file it
    // refused, once its end is known: what the flash history keeps.
    void sigDeviceEnded(ZoDeviceOutcome outcome);
    void sigVersionReported(ZoDeviceKey key, tVersion version, QString serial);

private:
    void onDeviceFinished(const ZoDeviceOutcome &outcome, const tFcsDateTime &reportedTime);
    void onRunEnded(ZoUpgradeRun::End end, ZoDeviceKey key);
    void confirm(const ZoDeviceOutcome &outcome, const tFcsDateTime &reportedTime);

    ZoDeviceRoster *m_roster;
    const ZoUpgradePolicy *m_policy;
    ZoFirmwareSource *m_source;
    ZoLogLabel m_label;
    QMap<ZoDeviceKey, ZoDeviceOutcome> m_outcomes;
};
