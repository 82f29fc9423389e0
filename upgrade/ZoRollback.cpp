#include "ZoRollback.h"

#include "ZoDeviceRoster.h"
#include "ZoFRMFileStore.h"
#include "ZoHistoryRecorder.h"
#include "ZoTargetIntake.h"
#include "ZoUpgradePolicy.h"
#include "ZoUtils.h"

#include <QLoggingCategory>
#include <QMap>
#include <QSet>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

ZoRollback::ZoRollback(ZoHistoryRecorder *history, ZoDeviceRoster *roster, ZoUpgradePolicy *policy,
    ZoTargetIntake *targets, ZoFRMFileStore *store, QObject *parent)
    : QObject(parent)
    , m_history(history)
    , m_roster(roster)
    , m_policy(policy)
    , m_targets(targets)
    , m_store(store)
{
}

namespace {

const ZoDevFMInfo *recordOf(const ZoDeviceRoster *roster, ZoDeviceKey key)
{
    const auto it = roster->records().constFind(key);
    return it != roster->records().constEnd() ? &*it : nullptr;
}

} // namespace

QString ZoRollback::nameOf(ZoDeviceKey key) const
{
    const ZoDevFMInfo *r = recordOf(m_roster, key);
    int airframe = ZoUtils::AirframeNone;
    const QString name
        = r && !r->name.isEmpty() ? r->name : ZoUtils::deviceName(key.type, airframe);
    return QStringLiteral("%1 %2").arg(name, key.text());
}

bool ZoRollback::readPlan(const QString &eid, QString *refusal)
{
    m_plan = ZoRollbackPlan();
    QString why;
    ZoFlashHistory::Filter filter;
    filter.eid = eid;
    QList<ZoFlashHistory::Row> own;
    if (!m_history || !m_history->readRows(filter, own, &why)) {
        *refusal = tr("MsgRollbackNoHistory").arg(m_history ? why : QStringLiteral("-"));
        return false;
    }
    // An image may have been confirmed on another aircraft: the rows of the
    // types this aircraft's devices have, from every aircraft, by id.
    QMap<qint64, ZoFlashHistory::Row> rows;
    QSet<int> types;
    for (const ZoFlashHistory::Row &r : qAsConst(own)) {
        rows.insert(r.id, r);
        types.insert(r.type);
    }
    for (int type : qAsConst(types)) {
        filter = ZoFlashHistory::Filter();
        filter.type = type;
        QList<ZoFlashHistory::Row> more;
        if (m_history->readRows(filter, more, &why))
            for (const ZoFlashHistory::Row &r : qAsConst(more))
                rows.insert(r.id, r);
    }
    m_plan = ZoRollbackPlan::make(
        eid, rows.values(), [this](const QString &sha, tdu1 type, ZoFRMFileInfo &file) {
            return m_history->takeImage(sha, type, file);
        });
    return true;
}

QString ZoRollback::refusalText(const QString &eid) const
{
    using Refusal = ZoRollbackPlan::Refusal;
    const QString device = nameOf(m_plan.refused);
    switch (m_plan.refusal) {
    case Refusal::NoRun:
        return tr("MsgRollbackNoRun").arg(eid);
    case Refusal::NothingChanged:
        return tr("MsgRollbackNothingChanged").arg(eid);
    case Refusal::NoImage:
        return tr("MsgRollbackNoImage").arg(device, m_plan.refusedTo);
    case Refusal::CoreLine:
        return tr("MsgRollbackCoreLine").arg(device, m_plan.refusedFrom, m_plan.refusedTo);
    case Refusal::None:
        break;
    }
    return QString();
}

void ZoRollback::offer(const QString &eid)
{
    disarm();
    QString refusal;
    if (eid.isEmpty())
        refusal = tr("MsgRollbackNoEid");
    else if (readPlan(eid, &refusal) && !m_plan.ok())
        refusal = refusalText(eid);
    QStringList lines;
    for (const ZoRollbackPlan::Step &s : qAsConst(m_plan.steps)) {
        const ZoDevFMInfo *r = recordOf(m_roster, s.key);
        // Whatever the history says, a device that is not heard cannot be
        // flashed, and half a rollback is no rollback.
        if (refusal.isEmpty() && (!r || r->presence != ZoDevFMInfo::Presence::Answering))
            refusal = tr("MsgRollbackNotAboard").arg(nameOf(s.key));
        lines << QStringLiteral("%1: %2 → %3").arg(nameOf(s.key), s.from, s.to);
    }
    if (!refusal.isEmpty()) {
        qCDebug(lcUpgrade).noquote() << "Rollback refused:" << refusal;
        m_plan = ZoRollbackPlan();
        Q_EMIT sigRefused(refusal);
        return;
    }
    qCDebug(lcUpgrade).noquote() << "Rollback of run" << m_plan.run
                                 << "offered:" << lines.join(QStringLiteral("; "));
    Q_EMIT sigAsk(tr("MsgRollbackAsk").arg(lines.join(QLatin1Char('\n'))));
}

bool ZoRollback::arm()
{
    QSet<ZoDeviceKey> keys;
    for (const ZoRollbackPlan::Step &s : qAsConst(m_plan.steps)) {
        if (!m_roster->record(s.key)) {
            Q_EMIT sigRefused(tr("MsgRollbackNotAboard").arg(nameOf(s.key)));
            return false;
        }
        keys.insert(s.key);
    }
    if (keys.isEmpty())
        return false;
    for (const ZoRollbackPlan::Step &s : qAsConst(m_plan.steps)) {
        bool found = false;
        const ZoFRMFileInfo current = m_store->getFRMFileInfo(s.file.fid, found);
        if (found)
            m_saved << current;
        m_targets->applyOlder(s.key, s.file);
    }
    m_policy->setRollback(keys);
    m_armed = true;
    m_plan = ZoRollbackPlan();
    return true;
}

void ZoRollback::disarm()
{
    if (!m_armed)
        return;
    m_armed = false;
    m_policy->setRollback({});
    // Through the intake, as the catalogue gave them: each device is offered
    // what the catalogue holds, and the policy decides again what is due.
    const QList<ZoFRMFileInfo> saved = std::exchange(m_saved, {});
    for (const ZoFRMFileInfo &file : saved)
        m_targets->take(file);
}
