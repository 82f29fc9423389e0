#pragma once

#include "ZoDevFMInfo.h"
#include "ZoFRMFileInfo.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class ZoCoreHeaderChoice;
class ZoDeviceRoster;
class ZoFRMFileStore;
class ZoFirmwareSource;
class ZoUpgradePolicy;

// What each record should run: the branch the user chose (and a custom
// branch's key), the state of its catalogue, and every file that arrives
// given to the records of its type, where the policy decides whether it is
// due. While a run may take a file, files that arrive wait for its end, so
// that no device takes a file nobody saw offered.
//
// Lives on the engine's thread, like the roster, policy and source it writes.
class ZoTargetIntake : public QObject
{
    Q_OBJECT
public:
    // Ready or Failed after the last Fetching describes the targets the
    // records now hold.
    enum class State : int { None = 0, Fetching, Ready, Failed };
    Q_ENUM(State)
    // As the branch box lists them.
    enum Branch : int { BranchStable = 0, BranchDevelopment = 1, BranchCustom = 2 };

    // Nothing is owned; all must outlive the intake. `language` picks the
    // release note ("zh_CN" the Chinese one).
    ZoTargetIntake(ZoDeviceRoster *roster, ZoUpgradePolicy *policy, ZoFirmwareSource *source,
        ZoFRMFileStore *store, const ZoCoreHeaderChoice *choice, const QString &language,
        QObject *parent = nullptr);

    State state() const { return m_state; }
    int branch() const { return m_branch; }
    QString customKey() const { return m_customKey; }

    // The branch box: a cloud branch's catalogue for the core is asked at
    // once; the custom branch waits for its key.
    void selectBranch(int index, tdu1 coreType);
    void fetchCustom(const QString &key, tdu1 coreType);
    // Chosen before a core was found: fetchChosen() asks for it.
    void choose(int index) { m_branch = index; }
    // The chosen cloud branch's catalogue (true: asked); a custom branch
    // waits for its key.
    bool fetchChosen(tdu1 coreType);
    // The catalogue of firmware id `fid` on the branch in use.
    void fetchFor(tdu1 fid);
    // Files that arrive wait while held, and are given out when released.
    void hold(bool on);

    // Gives `file` to `record` and lets the policy decide whether it is due.
    void apply(ZoDevFMInfo &record, const ZoFRMFileInfo &file);
    // The stored file of the record's type given to it (found in its
    // bootloader). `offered`: added by hand, so offered as it is.
    void applyStored(ZoDeviceKey key, bool offered = false);
    // A module that answered after its type's file came takes it as the
    // catalogue would have given it.
    void applyArrived(ZoDeviceKey key);
    // Where applyStored() finds a file when the source holds none for the
    // type: true with `file` filled in.
    using Fallback = std::function<bool(ZoDeviceKey key, ZoFRMFileInfo &file)>;
    void setFallback(Fallback fallback) { m_fallback = std::move(fallback); }
    // A rollback's: `file`, kept in the store, is `key`'s target as its
    // header names it, whatever the policy would say of an older version.
    void applyOlder(ZoDeviceKey key, const ZoFRMFileInfo &file);
    // A file of the catalogue: kept in the store and given to every record
    // of its type (or held).
    void take(const ZoFRMFileInfo &file);

Q_SIGNALS:
    void sigStateChanged(ZoTargetIntake::State state);
    void sigTargetChanged(ZoDeviceKey key, tVersion tarVersion, QString releaseNote, bool canUpgrade);
    // A catalogue file reached the store.
    void sigFirmwareArrived(tdu1 type);
    // A file was refused: the image it holds is not for what its firmware id
    // names. The text says which.
    void sigRefused(QString text);

private:
    void setState(State state);
    QString releaseNoteOf(const ZoFRMFileInfo &info) const;

    ZoDeviceRoster *m_roster;
    ZoUpgradePolicy *m_policy;
    ZoFirmwareSource *m_source;
    ZoFRMFileStore *m_store;
    const ZoCoreHeaderChoice *m_choice;
    QString m_language;
    State m_state = State::None;
    int m_branch = BranchStable;
    QString m_customKey;
    Fallback m_fallback;
    bool m_holding = false;
    QList<ZoFRMFileInfo> m_held;
};
