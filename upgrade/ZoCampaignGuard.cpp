#include "ZoCampaignGuard.h"

#include "ZoDeviceRoster.h"
#include "ZoFirmwareSource.h"
#include "ZoUpgradePolicy.h"

#include <QLoggingCategory>
#include <QMap>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

ZoCampaignGuard::ZoCampaignGuard(
    const std::optional<Pins> &lock, const Parts &parts, QObject *parent)
    : QObject(parent)
    , m_lock(lock)
    , m_p(parts)
{
    qRegisterMetaType<Finding>("ZoCampaignGuard::Finding");
}

ZoCampaignGuard::Pin ZoCampaignGuard::pinOf(int type) const
{
    bool found = false;
    const ZoFRMFileInfo file = m_p.source->file(tdu1(type), found);
    if (!found || file.bytes().isNull())
        return {};
    // The version the device is told it takes, as the history records it.
    tVersion v = file.version;
    file.headerVersion(v);
    return {type, QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision),
        file.bytes().size(), m_p.source->fileSha256(tdu1(type))};
}

ZoCampaignGuard::Pins ZoCampaignGuard::served() const
{
    QMap<int, Pin> byType;
    for (const ZoDevFMInfo &r : m_p.roster->records()) {
        if (r.key.isNull() || r.tarVersion.type == 0
            || r.presence == ZoDevFMInfo::Presence::NotAnswering)
            continue;
        const int type = ZoUpgradePolicy::fileType(*m_p.roster, r.key);
        const Pin pin = pinOf(type);
        if (pin.type != 0)
            byType.insert(type, pin);
    }
    return byType.values();
}

QList<ZoCampaignGuard::Finding> ZoCampaignGuard::findings() const
{
    QList<QPair<ZoDeviceKey, Pin>> due;
    for (const ZoDeviceKey &key : m_p.policy->flashOrder(*m_p.roster)) {
        // A device without a file is the run's to refuse, not a campaign's.
        const Pin pin = pinOf(ZoUpgradePolicy::fileType(*m_p.roster, key));
        if (pin.type != 0)
            due.append({key, pin});
    }
    // On the custom branch one version is many builds, told apart by their
    // compile time: other bytes under it are no news.
    return compare(m_lock, due, m_p.policy->customBranch() ? History() : m_history);
}

QList<ZoCampaignGuard::Finding> ZoCampaignGuard::compare(const std::optional<Pins> &lock,
    const QList<QPair<ZoDeviceKey, Pin>> &due, const History &history)
{
    QList<Finding> out;
    for (const auto &[key, served] : due) {
        if (lock) {
            Finding f;
            f.key = key;
            f.served = served;
            f.kind = Finding::Kind::Unpinned;
            for (const Pin &pin : *lock) {
                if (pin.type == served.type) {
                    f.kind = Finding::Kind::Differs;
                    f.expected = pin;
                }
            }
            if (!(f.expected == served))
                out << f;
        }
        if (!history)
            continue;
        QStringList others = history(key.type, served.version);
        others.removeAll(served.sha256);
        others.removeDuplicates();
        if (!others.isEmpty()) {
            Finding f;
            f.kind = Finding::Kind::ChangedBytes;
            f.key = key;
            f.served = served;
            f.seen = others;
            out << f;
        }
    }
    return out;
}

bool ZoCampaignGuard::refuses(const std::optional<Pins> &lock, const QList<Finding> &findings)
{
    // Changed bytes under a lock come with a lock finding of the same device
    // unless the lock pins exactly them: the lock's findings decide.
    if (!lock)
        return false;
    for (const Finding &f : findings)
        if (f.kind != Finding::Kind::ChangedBytes)
            return true;
    return false;
}

bool ZoCampaignGuard::admit()
{
    const QList<Finding> all = findings();
    m_refused = ZoDeviceKey();
    QStringList warned; // twins and numbered modules take one file
    for (const Finding &f : all) {
        const QString name = m_p.roster->records().value(f.key).name;
        if (f.kind == Finding::Kind::ChangedBytes) {
            qCWarning(lcUpgrade).noquote()
                << m_p.label << "Other bytes under a version already flashed:" << f.key.text()
                << "version" << f.served.version << "served" << f.served.sha256 << "flashed before"
                << f.seen.join(QLatin1Char(' '));
            QString text = tr("MsgCampaignBytesChanged");
            if (!text.contains(QLatin1String("%1"))) // no dictionary
                text += QStringLiteral(": %1 %2 %3 %4");
            if (!warned.contains(f.served.sha256))
                Q_EMIT sigWarning(text.arg(name.isEmpty() ? f.key.text() : name, f.served.version,
                    f.served.sha256, f.seen.join(QLatin1Char(' '))));
            warned << f.served.sha256;
        } else {
            qCWarning(lcUpgrade).noquote()
                << m_p.label << "The campaign's lock refuses" << f.key.text() << "served"
                << f.served.version << f.served.sha256 << "pinned"
                << (f.expected.type ? f.expected.version + QLatin1Char(' ') + f.expected.sha256
                                    : QStringLiteral("nothing"));
            if (m_refused.isNull())
                m_refused = f.key;
        }
        Q_EMIT sigFinding(f);
    }
    return !refuses(m_lock, all);
}
