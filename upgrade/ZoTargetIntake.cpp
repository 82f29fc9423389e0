#include "ZoTargetIntake.h"

#include "ZoCoreHeaderChoice.h"
#include "ZoDeviceRoster.h"
#include "ZoFRMFileStore.h"
#include "ZoFirmwareSource.h"
#include "ZoUpgradePolicy.h"
#include "ZoUtils.h"

#include <QLoggingCategory>

#include <utility>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

namespace {
// The header's type is what a device's bootloader is told it receives: it
// must be the firmware id's own, or for a core a sibling airframe's core.
// Anything else would put one device's image on another.
bool carries(tdu1 fid, tdu1 headerType)
{
    return headerType == fid
        || (ZoUtils::isCore(fid) && ZoUtils::isCore(headerType)
            && ZoUtils::sameCoreFamily(fid, headerType));
}
} // namespace

ZoTargetIntake::ZoTargetIntake(ZoDeviceRoster *roster, ZoUpgradePolicy *policy,
    ZoFirmwareSource *source, ZoFRMFileStore *store, const ZoCoreHeaderChoice *choice,
    const QString &language, QObject *parent)
    : QObject(parent)
    , m_roster(roster)
    , m_policy(policy)
    , m_source(source)
    , m_store(store)
    , m_choice(choice)
    , m_language(language)
{
    qRegisterMetaType<State>("ZoTargetIntake::State");
    connect(m_source, &ZoFirmwareSource::sigTargetReady, this, &ZoTargetIntake::take);
    connect(m_source, &ZoFirmwareSource::sigFetchFinished, this,
        [this](bool ok) { setState(ok ? State::Ready : State::Failed); });
}

void ZoTargetIntake::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT sigStateChanged(state);
}

void ZoTargetIntake::selectBranch(int index, tdu1 coreType)
{
    m_branch = index;
    m_policy->setCustomBranch(index == BranchCustom);
    if (index == BranchCustom)
        setState(State::None);
    else
        fetchFor(ZoUtils::firmwareIdFor(coreType, m_choice->protocolType()));
}

void ZoTargetIntake::fetchCustom(const QString &key, tdu1 coreType)
{
    m_branch = BranchCustom;
    m_customKey = key;
    fetchFor(ZoUtils::firmwareIdFor(coreType, m_choice->protocolType()));
    m_policy->setCustomBranch(true);
}

bool ZoTargetIntake::fetchChosen(tdu1 coreType)
{
    if (m_branch == BranchCustom)
        return false;
    selectBranch(m_branch, coreType);
    return true;
}

void ZoTargetIntake::fetchFor(tdu1 fid)
{
    setState(State::Fetching);
    if (m_branch == BranchCustom)
        m_source->fetch(fid, ZoFirmwareSource::CloudCustom, m_customKey);
    else
        m_source->fetch(fid, m_branch + 1, QString());
}

void ZoTargetIntake::hold(bool on)
{
    m_holding = on;
    if (on)
        return;
    const QList<ZoFRMFileInfo> held = std::exchange(m_held, {});
    for (const ZoFRMFileInfo &file : held)
        take(file);
}

QString ZoTargetIntake::releaseNoteOf(const ZoFRMFileInfo &info) const
{
    return m_language == QLatin1String("zh_CN") ? info.upgradeDescription
                                                : info.upgradeDescriptionEn;
}

void ZoTargetIntake::apply(ZoDevFMInfo &record, const ZoFRMFileInfo &info)
{
    record.tarVersion = info.version;
    tVersion headerVersion;
    tFcsDateTime headerTime;
    if (info.headerVersion(headerVersion) && info.headerCompileTime(headerTime)) {
        record.tarVersion = headerVersion;
        record.tarCompileTime = headerTime;
    }
    record.releaseNote = releaseNoteOf(info);
    const bool core = m_roster->isCoreRow(record.key) || m_roster->isAlternateCore(record.key);
    const bool u = m_policy->decide(record, core,
        m_choice->protocolType(), m_branch == BranchCustom, m_roster->coreCompileTimeKnown());
    if (m_policy->isHeldBack(record.key))
        record.releaseNote.clear();
    Q_EMIT sigTargetChanged(record.key, record.tarVersion, record.releaseNote, u);
}

void ZoTargetIntake::applyStored(ZoDeviceKey key, bool offered)
{
    bool found = false;
    ZoFRMFileInfo file = m_source->file(key.type, found);
    // Kept like a catalogue's file, for every device of its type; one the
    // catalogue brings later takes its place.
    if (!found && m_fallback && m_fallback(key, file)) {
        take(file);
        return;
    }
    ZoDevFMInfo *r = found ? m_roster->record(key) : nullptr;
    if (!r)
        return;
    if (!offered) {
        apply(*r, file);
        return;
    }
    r->tarVersion = file.version;
    r->releaseNote = releaseNoteOf(file);
    Q_EMIT sigTargetChanged(r->key, r->tarVersion, r->releaseNote, true);
}

void ZoTargetIntake::applyArrived(ZoDeviceKey key)
{
    if (m_holding)
        return;
    bool found = false;
    const ZoFRMFileInfo file = m_source->file(key.type, found);
    ZoDevFMInfo *r = found ? m_roster->record(key) : nullptr;
    if (r && r->presence != ZoDevFMInfo::Presence::NotAnswering) {
        apply(*r, file);
        m_roster->syncCore();
    }
}

void ZoTargetIntake::applyOlder(ZoDeviceKey key, const ZoFRMFileInfo &file)
{
    ZoDevFMInfo *r = m_roster->record(key);
    if (!r)
        return;
    m_store->setFRMFileInfo(file);
    file.headerVersion(r->tarVersion);
    file.headerCompileTime(r->tarCompileTime);
    r->releaseNote.clear();
    m_roster->syncCore();
    Q_EMIT sigTargetChanged(key, r->tarVersion, QString(), true);
}

void ZoTargetIntake::take(const ZoFRMFileInfo &file)
{
    if (m_holding) {
        m_held.append(file);
        return;
    }
    tVersion header;
    if (file.headerVersion(header) && !carries(tdu1(file.fid), header.type)) {
        qCWarning(lcUpgrade).noquote()
            << "Refused" << file.nickNameEn << "firmware id" << file.fid << "header type"
            << header.type;
        Q_EMIT sigRefused(tr("MsgFirmwareHeaderMismatch")
                              .arg(file.nickNameEn.isEmpty() ? QString::number(file.fid)
                                                             : file.nickNameEn)
                              .arg(file.fid)
                              .arg(header.type));
        return;
    }
    m_store->setFRMFileInfo(file);
    // Every device of that type takes the file: serial-bus modules are keyed
    // with their device number, and each of them needs it.
    const QList<ZoDeviceKey> keys = m_roster->records().keys();
    for (const ZoDeviceKey &key : keys) {
        if (key.type != file.fid || key.isNull())
            continue;
        // A module that does not answer cannot be offered anything.
        ZoDevFMInfo *r = m_roster->record(key);
        if (r && r->presence != ZoDevFMInfo::Presence::NotAnswering)
            apply(*r, file);
    }
    m_roster->syncCore();
    Q_EMIT sigFirmwareArrived(tdu1(file.fid));
}
