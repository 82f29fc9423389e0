#include "ZoBootloaderSweep.h"

#include "ZoDeviceRoster.h"
#include "ZoRunJournal.h"
#include "ZoTargetIntake.h"
#include "ZoUtils.h"

#include <QLoggingCategory>
#include <QSet>

#include <utility>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

ZoBootloaderSweep::ZoBootloaderSweep(ZoBootloaderProbe *probe, ZoDeviceRoster *roster,
    ZoRunJournal *journal, ZoTargetIntake *targets, ZoLogLabel label, QObject *parent)
    : QObject(parent)
    , m_probe(probe)
    , m_roster(roster)
    , m_journal(journal)
    , m_targets(targets)
    , m_label(label)
{
    qRegisterMetaType<Purpose>("ZoBootloaderSweep::Purpose");
    connect(probe, &ZoBootloaderProbe::sigFinished, this, &ZoBootloaderSweep::onProbeFinished);
    m_taken.setSingleShot(true);
    m_taken.setInterval(0);
    connect(&m_taken, &QTimer::timeout, this, [this] { onProbeFinished({}); });
}

void ZoBootloaderSweep::setTimings(const ZoUpgradeTimings &timings)
{
    m_probe->setTimings(timings);
    m_freshMs = timings.probeFreshMs;
}

void ZoBootloaderSweep::start(Purpose purpose, tdu1 coreType)
{
    const bool fresh = m_searchSwept.isValid() && !m_searchSwept.hasExpired(m_freshMs);
    m_searchSwept.invalidate();
    if (purpose == Purpose::BeforeRun && fresh) {
        qCDebug(lcUpgrade).noquote() << m_label << "The buses were just asked; the run takes that";
        m_purpose = purpose;
        m_taken.start();
        return;
    }
    // Kinds 3 and 4 answer only when asked by number: every expected device
    // that stayed silent, and every one the journal says was being flashed.
    QList<ZoBootloaderProbe::Device> addressed;
    const auto add = [&addressed](tdu1 type, tdu1 number) {
        const int kind = ZoUtils::protocolClass(type);
        const ZoBootloaderProbe::Device d(type, number);
        if ((kind == ZoUtils::ClassCanByDevNum || kind == ZoUtils::ClassBus)
            && !addressed.contains(d))
            addressed.append(d);
    };
    // A type nothing answered for may sit in its bootloader at any number:
    // another station's run may have left it there, and only that station's
    // journal names it. Every number of such a type is asked; one found in
    // its bootloader already is asked again at its own number.
    QSet<tdu1> heard;
    for (const ZoDevFMInfo &r : m_roster->records()) {
        if (r.presence == ZoDevFMInfo::Presence::InBootloader)
            add(r.key.type, r.devIdx);
        if (r.presence != ZoDevFMInfo::Presence::NotAnswering)
            heard.insert(r.key.type);
    }
    for (const ZoDeviceKey &entry : m_roster->expectedModules()) {
        const ZoDevFMInfo *r
            = m_roster->record(ZoDeviceRoster::recordKey(entry.type, entry.number));
        for (int n = 0; !heard.contains(entry.type) && n <= 255; ++n)
            add(entry.type, tdu1(n));
        if (!r || r->presence != ZoDevFMInfo::Presence::Answering)
            add(entry.type, entry.number);
    }
    // A journal shared with other aircraft's engines holds their modules too.
    const QString eid = m_roster->core().serial;
    for (const ZoRunJournal::Entry &e :
        eid.isEmpty() ? m_journal->entries() : m_journal->entriesFor(eid)) {
        if (!e.core)
            add(e.devId, e.devNum);
    }
    m_purpose = purpose;
    m_probe->start(ZoUtils::isSecondGenerationCore(coreType), addressed);
}

void ZoBootloaderSweep::cancel()
{
    m_taken.stop();
    m_searchSwept.invalidate();
    m_probe->cancel();
    m_purpose = Purpose::None;
}

void ZoBootloaderSweep::onProbeFinished(const QList<ZoBootloaderProbe::Found> &found)
{
    const Purpose purpose = std::exchange(m_purpose, Purpose::None);
    for (const ZoBootloaderProbe::Found &f : found) {
        qCWarning(lcUpgrade).noquote() << m_label << "Found in its bootloader:"
                                       << QString::number(f.version.type, 16) << f.number;
        // Found again before a run: the row stays where it is.
        const ZoDevFMInfo *known
            = m_roster->record(ZoDeviceRoster::recordKey(f.version.type, f.number));
        if (known && known->presence == ZoDevFMInfo::Presence::InBootloader)
            continue;
        const ZoDeviceKey key = m_roster->insertStranded(f.version, f.number);
        m_targets->applyStored(key);
        Q_EMIT sigRecordChanged(key);
    }
    const QString eid = m_roster->core().serial;
    // Devices of the journal that answer from their application again need
    // no recovery. One whose aircraft was not known may be another
    // aircraft's, still waiting: only its run or its age ends that entry.
    for (const ZoRunJournal::Entry &e : m_journal->entriesFor(eid)) {
        const ZoDevFMInfo *r = m_roster->record(e.key);
        if (r && r->presence == ZoDevFMInfo::Presence::Answering && !e.eid.isEmpty())
            m_journal->clear(e.eid, e.key);
    }
    for (const ZoDeviceKey &key : m_roster->markSilentModules())
        Q_EMIT sigRecordChanged(key);
    if (purpose == Purpose::AfterSearch)
        m_searchSwept.start();
    Q_EMIT sigFinished(purpose);
}
