#include "ZoRollbackPlan.h"

#include "ZoUpgradePolicy.h"
#include "ZoUtils.h"

#include <QStringList>

namespace {

using Row = ZoFlashHistory::Row;

bool confirmedAt(const Row &r, tdu1 type, const QString &version)
{
    return r.type == type && r.result == QLatin1String("upgraded") && r.confirmed == version
        && !r.sha256.isEmpty();
}

} // namespace

qint64 ZoRollbackPlan::versionNumber(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 3)
        return -1;
    qint64 n = 0;
    for (const QString &p : parts) {
        bool ok = false;
        const uint v = p.toUInt(&ok);
        if (!ok || v > 255)
            return -1;
        n = (n << 8) | v;
    }
    return n;
}

ZoRollbackPlan ZoRollbackPlan::make(
    const QString &eid, const QList<Row> &rows, const Images &images)
{
    ZoRollbackPlan plan;
    // The latest run is the one of this aircraft's newest row that names one
    // (rows from before runs had ids name none).
    const Row *newest = nullptr;
    for (const Row &r : rows)
        if (r.eid == eid && !r.run.isEmpty()
            && (!newest || r.time > newest->time || (r.time == newest->time && r.id > newest->id)))
            newest = &r;
    if (!newest) {
        plan.refusal = Refusal::NoRun;
        return plan;
    }
    plan.run = newest->run;
    for (const Row &r : rows) {
        if (r.eid != eid || r.run != plan.run || r.result != QLatin1String("upgraded")
            || r.before.isEmpty() || r.confirmed == r.before)
            continue;
        Step step;
        step.key = ZoDeviceKey(tdu1(r.type), tdu1(r.number));
        step.from = r.confirmed;
        step.to = r.before;
        const auto refuse = [&](Refusal why) {
            plan.refusal = why;
            plan.refused = step.key;
            plan.refusedFrom = step.from;
            plan.refusedTo = step.to;
            plan.steps.clear();
            return plan;
        };
        if (ZoUtils::protocolClass(step.key.type) == ZoUtils::ClassCore) {
            const qint64 line = ZoUpgradePolicy::VersionLine;
            const qint64 from = versionNumber(step.from), to = versionNumber(step.to);
            // Unreadable versions cannot be shown to stay on one side.
            if (from < 0 || to < 0 || (from >= line) != (to >= line))
                return refuse(Refusal::CoreLine);
        }
        // This aircraft's own rows first, then any other's; newest first.
        bool found = false;
        for (const bool own : {true, false}) {
            for (auto it = rows.crbegin(); !found && it != rows.crend(); ++it) {
                found = (it->eid == eid) == own && confirmedAt(*it, step.key.type, step.to)
                    && images(it->sha256, step.key.type, step.file);
                if (found)
                    step.sha256 = it->sha256;
            }
        }
        if (!found)
            return refuse(Refusal::NoImage);
        plan.steps << step;
    }
    if (plan.steps.isEmpty())
        plan.refusal = Refusal::NothingChanged;
    return plan;
}
