#include "ZoRunResults.h"

#include "ZoDeviceRoster.h"
#include "ZoFirmwareSource.h"
#include "ZoUpgradePolicy.h"
#include "ZoUtils.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

ZoRunResults::ZoRunResults(ZoUpgradeRun *run, ZoDeviceRoster *roster,
    const ZoUpgradePolicy *policy, ZoFirmwareSource *source, ZoLogLabel label, QObject *parent)
    : QObject(parent)
    , m_roster(roster)
    , m_policy(policy)
    , m_source(source)
    , m_label(label)
{
    connect(run, &ZoUpgradeRun::sigDeviceFinished, this, &ZoRunResults::onDeviceFinished);
    connect(run, &ZoUpgradeRun::sigEnded, this, &ZoRunResults::onRunEnded);
}

ZoDeviceOutcome ZoRunResults::outcome(ZoDeviceKey key) const
{
    const auto run = m_outcomes.constFind(key);
    if (run != m_outcomes.cend())
        return *run;
    ZoDeviceOutcome o;
    o.key = key;
    o.target = m_roster->records().value(key).tarVersion;
    o.before = m_roster->records().value(key).curVersion;
    // Due but not flashed, or nothing to flash it with: not up to date.
    o.result = o.target.type == 0 || m_policy->isDue(*m_roster, key)
        ? ZoDeviceOutcome::Result::Skipped
        : ZoDeviceOutcome::Result::UpToDate;
    const tdu1 type = ZoUpgradePolicy::fileType(*m_roster, key);
    o.sha256 = m_source->fileSha256(type);
    o.firmwareId = o.sha256.isEmpty() ? 0 : type;
    bool found = false;
    o.fileBytes = m_source->file(type, found).bytes().size();
    return o;
}

bool ZoRunResults::any() const
{
    for (const ZoDevFMInfo &r : m_roster->records())
        if (r.result != ZoDevFMInfo::Result::None)
            return true;
    return false;
}

void ZoRunResults::clear(bool records)
{
    m_outcomes.clear();
    if (!records)
        return;
    for (ZoDevFMInfo &r : m_roster->recordsForUpdate()) {
        if (r.result != ZoDevFMInfo::Result::None) {
            r.result = ZoDevFMInfo::Result::None;
            Q_EMIT sigRecordChanged(r.key);
        }
    }
}

void ZoRunResults::recordAbort(const ZoDeviceOutcome &outcome, bool inBootloader)
{
    ZoDevFMInfo *r = !outcome.key.isNull() ? m_roster->record(outcome.key) : nullptr;
    if (!r)
        return;
    m_outcomes.insert(outcome.key, outcome);
    Q_EMIT sigDeviceEnded(outcome);
    r->result = ZoDevFMInfo::Result::Interrupted;
    if (inBootloader)
        r->presence = ZoDevFMInfo::Presence::InBootloader;
    Q_EMIT sigRecordChanged(outcome.key);
}

void ZoRunResults::onDeviceFinished(
    const ZoDeviceOutcome &outcome, const tFcsDateTime &reportedTime)
{
    const ZoDeviceKey key = outcome.key;
    ZoDevFMInfo *r = m_roster->record(key);
    if (!r)
        return;
    m_outcomes.insert(key, outcome);
    Q_EMIT sigDeviceEnded(outcome);
    using Result = ZoDeviceOutcome::Result;
    r->result = outcome.result == Result::Upgraded ? ZoDevFMInfo::Result::Upgraded
        : outcome.result == Result::NotConfirmed   ? ZoDevFMInfo::Result::NotConfirmed
        : outcome.result == Result::Interrupted    ? ZoDevFMInfo::Result::Interrupted
                                                   : ZoDevFMInfo::Result::Failed;
    const tVersion reported = outcome.reported;
    r->confirmedVersion = reported;
    if (outcome.result == Result::Upgraded) {
        confirm(outcome, reportedTime);
        return;
    }
    if (reported.type != 0) {
        // It runs an application again, only not the one it was sent.
        r->curVersion = reported;
        r->presence = ZoDevFMInfo::Presence::Answering;
    } else {
        r->presence = ZoDevFMInfo::Presence::InBootloader;
    }
    Q_EMIT sigRecordChanged(key);
    Q_EMIT sigDeviceOutcome(outcome);
}

void ZoRunResults::onRunEnded(ZoUpgradeRun::End end, ZoDeviceKey key)
{
    // A device the run stopped at before sending it anything.
    using End = ZoUpgradeRun::End;
    using Failure = ZoDeviceOutcome::Failure;
    if (key.isNull() || m_outcomes.contains(key)
        || (end != End::FirmwareUnusable && end != End::StrandedWithoutTarget
            && end != End::JournalUnwritable && end != End::CoreUnidentified))
        return;
    ZoDeviceOutcome o = outcome(key);
    o.result = ZoDeviceOutcome::Result::Failed;
    o.failure = end == End::FirmwareUnusable ? Failure::RefusedFile
        : end == End::JournalUnwritable      ? Failure::NotRecorded
        : end == End::CoreUnidentified       ? Failure::Unidentified
                                             : Failure::NoTarget;
    m_outcomes.insert(key, o);
    if (o.failure == Failure::RefusedFile)
        Q_EMIT sigDeviceEnded(o);
}

void ZoRunResults::confirm(const ZoDeviceOutcome &outcome, const tFcsDateTime &reportedTime)
{
    const ZoDeviceKey key = outcome.key;
    ZoDevFMInfo *r = m_roster->record(key);
    r->needUpgrade = false;
    r->presence = ZoDevFMInfo::Presence::Answering;
    r->curVersion = r->confirmedVersion;
    r->curCompileTime = reportedTime.year != 0 ? reportedTime : r->tarCompileTime;
    m_roster->syncCore();
    if (m_source->versionReporting()) {
        m_source->reportVersion(r->curVersion, r->serial);
        Q_EMIT sigVersionReported(key, r->curVersion, r->serial);
    }
    qCCritical(lcUpgrade).noquote() << m_label << "mode upgrade done sn" << r->serial
                                    << "newest version" << ZoUtils::versionText(r->curVersion);
    Q_EMIT sigRecordChanged(key);
    Q_EMIT sigDeviceOutcome(outcome);
}
