#include "ZoCliFleet.h"

#include "ZoRunJournal.h"
#include "ZoTvkInstance.h"
#include "ZoUpgradeEnvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <algorithm>

ZoCliFleet::ZoCliFleet(const ZoCliOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_out(false)
    , m_journal(std::make_unique<ZoRunJournal>(
          ZoUpgradeEnvironment::from(*ZoTvkInstance::instance()).journalPath))
{
    // Its own lines are messages like any other: stderr in json mode.
    if (options.jsonProgress)
        m_out.setJsonEvents(QString());
    m_out.setVerbose(options.verbose);
    QString why;
    if (!m_journal->load(&why))
        m_out.complain(
            QStringLiteral("the run journal was unreadable and is set aside: %1").arg(why));
    for (int i = 0; i < options.links.size(); ++i) {
        ZoCliOptions one = options;
        one.link = options.links.at(i);
        one.linkText = options.linkTexts.at(i);
        one.links = QList<ZoPlaneConfig> {one.link};
        one.linkTexts = QStringList(one.linkText);
        one.reportPath.clear(); // the fleet writes one report for all
        auto *m = new Member;
        m->link = one.linkText;
        m->runner = std::make_unique<ZoCliRunner>(
            one, nullptr, QStringLiteral("[%1] ").arg(one.linkText), m_journal.get());
        // Queued: a runner may finish from inside the fleet's own call.
        connect(
            m->runner.get(), &ZoCliRunner::sigAwaitingUpgrade, this, [this, m] { onAwaiting(m); },
            Qt::QueuedConnection);
        connect(
            m->runner.get(), &ZoCliRunner::sigFinished, this, [this, m] { onFinished(m); },
            Qt::QueuedConnection);
        m_members << m;
    }
}

ZoCliFleet::~ZoCliFleet()
{
    qDeleteAll(m_members);
}

void ZoCliFleet::start()
{
    m_out.say(QStringLiteral("%1 aircraft, one per link: %2")
                  .arg(m_members.size())
                  .arg(m_options.linkTexts.join(QStringLiteral(", "))));
    for (Member *m : qAsConst(m_members))
        m->runner->start();
}

void ZoCliFleet::interrupt(int request)
{
    for (Member *m : qAsConst(m_members))
        if (!m->finished)
            m->runner->interrupt(request);
}

void ZoCliFleet::onAwaiting(Member *m)
{
    m->waiting = true;
    settle();
}

void ZoCliFleet::onFinished(Member *m)
{
    m->finished = true;
    m->waiting = false;
    settle();
    if (std::all_of(
            m_members.cbegin(), m_members.cend(), [](const Member *x) { return x->finished; }))
        finishAll();
}

void ZoCliFleet::settle()
{
    if (!m_gateOpen) {
        // Until every aircraft knows its core or has given up, a second link
        // to one already served cannot be told apart from another aircraft.
        if (!std::all_of(m_members.cbegin(), m_members.cend(),
                [](const Member *x) { return x->waiting || x->finished; }))
            return;
        m_gateOpen = true;
        for (Member *m : qAsConst(m_members)) {
            const QString eid = m->runner->eid();
            if (!m->waiting)
                continue;
            if (eid.isEmpty() && m_members.size() > 1) {
                // Asked for and never told: it may be one of the others.
                m->waiting = false;
                m->runner->refuse(QStringLiteral("the aircraft on %1 never told its EID, so it may "
                                                 "be one of the others: nothing is flashed on it "
                                                 "(run it on its own link)")
                                      .arg(m->link));
                continue;
            }
            if (eid.isEmpty())
                continue;
            QStringList others;
            for (const Member *o : qAsConst(m_members))
                if (o != m && o->runner->eid() == eid)
                    others << o->link;
            if (others.isEmpty())
                continue;
            m->waiting = false;
            m->runner->refuse(
                QStringLiteral("the aircraft with EID %1 is also on %2: nothing is flashed on it")
                    .arg(eid, others.join(QStringLiteral(", "))));
        }
    }
    int flashing = int(std::count_if(m_members.cbegin(), m_members.cend(),
        [](const Member *x) { return x->released && !x->finished; }));
    for (Member *m : qAsConst(m_members)) {
        if (m_options.jobs > 0 && flashing >= m_options.jobs)
            break;
        if (!m->waiting || m->released || m->finished)
            continue;
        m->waiting = false;
        m->released = true;
        ++flashing;
        m->runner->proceed();
    }
}

int ZoCliFleet::worstExitCode(const QList<int> &codes)
{
    static const int order[]
        = {ZoCliRunner::ExitTerminated, ZoCliRunner::ExitInterrupted, ZoCliRunner::ExitUsage,
            ZoCliRunner::ExitLockRefused, ZoCliRunner::ExitUpgradeFailed, ZoCliRunner::ExitHistory,
            ZoCliRunner::ExitNotVerified, ZoCliRunner::ExitCatalogue, ZoCliRunner::ExitNotFound};
    for (int code : order)
        if (codes.contains(code))
            return code;
    // A code outside the known ones is a failure all the same.
    for (int code : codes)
        if (code != ZoCliRunner::ExitSuccess)
            return ZoCliRunner::ExitUpgradeFailed;
    return ZoCliRunner::ExitSuccess;
}

QJsonObject ZoCliFleet::reportJson(const QString &result, int code) const
{
    QJsonArray aircraft;
    for (const Member *m : m_members)
        aircraft.append(m->runner->reportJson());
    return QJsonObject {{QStringLiteral("program"), QStringLiteral("tolvane-cli")},
        {QStringLiteral("aircraft"), aircraft}, {QStringLiteral("result"), result},
        {QStringLiteral("exitCode"), code}};
}

void ZoCliFleet::finishAll()
{
    if (m_done)
        return;
    m_done = true;
    QList<int> codes;
    for (const Member *m : qAsConst(m_members)) {
        codes << m->runner->exitCode();
        const QString eid = m->runner->eid();
        m_out.say(
            QStringLiteral("aircraft %1 (%2): %3")
                .arg(eid.isEmpty() ? QStringLiteral("-") : eid, m->link, m->runner->result()));
        if (!m->runner->devices().isEmpty())
            m_out.table(m->runner->devices(), m_options.mode == ZoCliOptions::ModeUpgrade);
    }
    int code = worstExitCode(codes);
    // The result of the aircraft that set the exit code; among successes an
    // upgrade outweighs an aircraft that was already up to date.
    QString result;
    for (const Member *m : qAsConst(m_members))
        if (m->runner->exitCode() == code
            && (result.isEmpty() || m->runner->result() == QLatin1String("upgraded")))
            result = m->runner->result();
    if (!m_options.reportPath.isEmpty()) {
        QSaveFile file(m_options.reportPath);
        const QByteArray bytes
            = QJsonDocument(reportJson(result, code)).toJson(QJsonDocument::Indented);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()
            || !file.commit()) {
            m_out.complain(QStringLiteral("cannot write the report %1: %2")
                               .arg(m_options.reportPath, file.errorString()));
            if (code == ZoCliRunner::ExitSuccess)
                code = ZoCliRunner::ExitUpgradeFailed;
        }
    }
    m_out.say(QStringLiteral("result: %1 (exit code %2)").arg(result).arg(code));
    // A watcher learns the overall verdict without reading the report: the
    // last line, with an empty link.
    m_out.event(QStringLiteral("finished"),
        {{QStringLiteral("result"), result}, {QStringLiteral("exitCode"), code}});
    Q_EMIT sigFinished(code);
}
