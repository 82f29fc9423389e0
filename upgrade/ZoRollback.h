#pragma once

#include "ZoDeviceKey.h"
#include "ZoFRMFileInfo.h"
#include "ZoRollbackPlan.h"

#include <QList>
#include <QObject>
#include <QString>

class ZoDeviceRoster;
class ZoFRMFileStore;
class ZoHistoryRecorder;
class ZoTargetIntake;
class ZoUpgradePolicy;

// Takes back what the latest run on the connected aircraft changed. offer()
// reads the flash history into a plan (ZoRollbackPlan), checks it against
// the devices on board and either asks (sigAsk, naming each device and its
// two versions) or refuses (sigRefused, naming why and which device). Once
// the user agrees, arm() gives each device of the plan its older image as
// its target and tells the policy that only these are due; the owner then
// starts an ordinary run (journal, transfer, read-back, history, cloud
// report). disarm() after the run puts the catalogue's targets back.
//
// Lives on the engine's thread, like the roster, policy, store and intake it
// writes; nothing is owned.
class ZoRollback : public QObject
{
    Q_OBJECT
public:
    // `history` may be null: no history is kept, and nothing can be taken back.
    ZoRollback(ZoHistoryRecorder *history, ZoDeviceRoster *roster, ZoUpgradePolicy *policy,
        ZoTargetIntake *targets, ZoFRMFileStore *store, QObject *parent = nullptr);

    // Plans the rollback of aircraft `eid` (the core's EID as searched).
    void offer(const QString &eid);
    // The plan offered last becomes the targets; false (and sigRefused) when
    // a device of it is no longer on board.
    bool arm();
    // Puts the catalogue's files back and ends the rollback; harmless when
    // none is armed.
    void disarm();
    bool isArmed() const { return m_armed; }

Q_SIGNALS:
    // "Roll back? Tunex 77.1: 2.1.0 → 2.0.4 ..."; the answer goes to arm().
    void sigAsk(QString text);
    // Nothing is flashed; the text names why.
    void sigRefused(QString text);

private:
    bool readPlan(const QString &eid, QString *refusal);
    QString nameOf(ZoDeviceKey key) const;
    QString refusalText(const QString &eid) const;

    ZoHistoryRecorder *m_history;
    ZoDeviceRoster *m_roster;
    ZoUpgradePolicy *m_policy;
    ZoTargetIntake *m_targets;
    ZoFRMFileStore *m_store;
    ZoRollbackPlan m_plan;
    QList<ZoFRMFileInfo> m_saved; // the catalogue's files the plan's images replaced
    bool m_armed = false;
};
