#include "ZoCliStation.h"

#include "ZoCliFleet.h"
#include "ZoCliLinkPresence.h"
#include "ZoCliRunner.h"
#include "ZoPlatform.h"
#include "ZoRunJournal.h"
#include "ZoTvkInstance.h"
#include "ZoUpgradeEnvironment.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSocketNotifier>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr int kSerialScanMs = 1000;

} // namespace

ZoCliStation::ZoCliStation(const ZoCliOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_out(false)
    , m_journal(std::make_unique<ZoRunJournal>(
          ZoUpgradeEnvironment::from(*ZoTvkInstance::instance()).journalPath))
    , m_gate(options.firstBatch > 0 ? Gate::Trial : Gate::Open)
{
    if (options.jsonProgress)
        m_out.setJsonEvents(QString());
    QString why;
    if (!m_journal->load(&why))
        m_out.complain(
            QStringLiteral("the run journal was unreadable and is set aside: %1").arg(why));
    for (int i = 0; i < options.links.size(); ++i)
        addBay(options.linkTexts.at(i), options.links.at(i));
    m_serialScan.setInterval(kSerialScanMs);
    connect(&m_serialScan, &QTimer::timeout, this, &ZoCliStation::scanSerialFolder);
}

ZoCliStation::~ZoCliStation()
{
    qDeleteAll(m_bays);
}

ZoCliStation::Bay *ZoCliStation::addBay(const QString &linkText, const ZoPlaneConfig &config)
{
    auto *bay = new Bay;
    bay->link = linkText;
    bay->config = config;
    bay->presence = std::make_unique<ZoCliLinkPresence>(config, m_options.leaveAfterMs);
    connect(
        bay->presence.get(), &ZoCliLinkPresence::sigArrived, this, [this, bay] { onArrived(bay); });
    connect(bay->presence.get(), &ZoCliLinkPresence::sigLeft, this, [this, bay] { onLeft(bay); });
    m_bays << bay;
    return bay;
}

void ZoCliStation::start()
{
    QStringList watched = m_options.linkTexts;
    if (!m_options.serialById.isEmpty())
        watched << QStringLiteral("serial adapters under %1").arg(m_options.serialById);
    m_out.say(QStringLiteral("station: watching %1; Ctrl-C or SIGTERM stops it")
                  .arg(watched.join(QStringLiteral(", "))));
    if (m_options.firstBatch > 0)
        m_out.say(QStringLiteral("station: the first %1 aircraft are a trial: if any of them "
                                 "fails, no further aircraft is taken until Enter is pressed "
                                 "or SIGUSR1 arrives")
                      .arg(m_options.firstBatch));
#ifdef Q_OS_UNIX
    m_keys = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_keys, &QSocketNotifier::activated, this, &ZoCliStation::readKeys);
#endif
    for (Bay *bay : qAsConst(m_bays))
        bay->presence->awaitArrival();
    if (!m_options.serialById.isEmpty()) {
        scanSerialFolder();
        m_serialScan.start();
    }
}

void ZoCliStation::scanSerialFolder()
{
    // Polled: the folder itself comes and goes with the first and the last
    // adapter, where a file system watch would be lost with it.
    const QDir dir(m_options.serialById);
    for (const QFileInfo &entry :
        dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString path = dir.absoluteFilePath(entry.fileName());
        const QString text = QStringLiteral("serial:") + path;
        if (std::any_of(
                m_bays.cbegin(), m_bays.cend(), [&](const Bay *b) { return b->link == text; }))
            continue;
        ZoPlaneConfig config;
        QString why;
        if (!ZoCliOptions::parseLink(text, config, &why)) {
            m_out.complain(QStringLiteral("%1: cannot serve it: %2").arg(path, why));
            continue;
        }
        m_out.say(QStringLiteral("station: serial adapter %1 plugged in").arg(entry.fileName()));
        addBay(text, config)->presence->awaitArrival();
    }
}

void ZoCliStation::onArrived(Bay *bay)
{
    if (m_stopRequest || bay->state != Bay::Watching)
        return;
    bay->state = Bay::Queued;
    m_out.say(QStringLiteral("[%1] an aircraft arrived").arg(bay->link));
    m_out.eventFor(bay->link, QStringLiteral("arrived"), {});
    if (m_gate == Gate::Closed)
        m_out.say(QStringLiteral("[%1] held: the campaign gate is closed").arg(bay->link));
    pump();
}

void ZoCliStation::onLeft(Bay *bay)
{
    if (bay->state != Bay::Leaving && bay->state != Bay::Queued)
        return;
    bay->state = Bay::Watching;
    m_out.say(
        QStringLiteral("[%1] the aircraft has left; the link takes the next one").arg(bay->link));
    m_out.eventFor(bay->link, QStringLiteral("left"), {});
}

int ZoCliStation::running() const
{
    return int(std::count_if(
        m_bays.cbegin(), m_bays.cend(), [](const Bay *b) { return b->state == Bay::Running; }));
}

bool ZoCliStation::mayStart() const
{
    if (m_stopRequest || (m_options.jobs > 0 && running() >= m_options.jobs))
        return false;
    switch (m_gate) {
    case Gate::Open:
        return true;
    case Gate::Trial:
        return m_trialStarted < m_options.firstBatch;
    case Gate::Closed:
        break;
    }
    return false;
}

void ZoCliStation::pump()
{
    for (Bay *bay : qAsConst(m_bays))
        if (bay->state == Bay::Queued && mayStart())
            startRun(bay);
}

void ZoCliStation::startRun(Bay *bay)
{
    // The engine takes the link; the watch gives it up first.
    bay->presence->stop();
    bay->state = Bay::Running;
    bay->skipped.clear();
    bay->trial = m_gate == Gate::Trial;
    if (bay->trial)
        ++m_trialStarted;
    ZoCliOptions one = m_options;
    one.link = bay->config;
    one.linkText = bay->link;
    one.links = QList<ZoPlaneConfig> {bay->config};
    one.linkTexts = QStringList(bay->link);
    one.reportPath.clear(); // the station writes one report for all
    bay->runner = std::make_unique<ZoCliRunner>(
        one, nullptr, QStringLiteral("[%1] ").arg(bay->link), m_journal.get());
    // Queued: a runner may finish from inside the station's own call.
    connect(
        bay->runner.get(), &ZoCliRunner::sigAwaitingUpgrade, this, [this, bay] { onAwaiting(bay); },
        Qt::QueuedConnection);
    connect(
        bay->runner.get(), &ZoCliRunner::sigFinished, this, [this, bay] { onRunFinished(bay); },
        Qt::QueuedConnection);
    bay->runner->start();
}

void ZoCliStation::onAwaiting(Bay *bay)
{
    if (!bay->runner)
        return;
    const QString eid = bay->runner->eid();
    if (!eid.isEmpty() && m_confirmed.contains(eid))
        bay->skipped = QStringLiteral("the aircraft with EID %1 was upgraded and confirmed by "
                                      "this station at %2: skipped")
                           .arg(eid, m_confirmed.value(eid).toString(Qt::ISODate));
    for (const Bay *other : qAsConst(m_bays))
        if (bay->skipped.isEmpty() && other != bay && other->runner && other->runner->eid() == eid
            && !eid.isEmpty())
            bay->skipped = QStringLiteral("the aircraft with EID %1 is being served on %2: "
                                          "nothing is flashed on it here")
                               .arg(eid, other->link);
    if (!bay->skipped.isEmpty()) {
        m_out.eventFor(bay->link, QStringLiteral("skipped"),
            {{QStringLiteral("eid"), eid}, {QStringLiteral("why"), bay->skipped}});
        bay->runner->refuse(bay->skipped, ZoCliRunner::ExitSuccess, QStringLiteral("skipped"));
        return;
    }
    m_out.eventFor(bay->link, QStringLiteral("started"), {{QStringLiteral("eid"), eid}});
    bay->runner->proceed();
}

void ZoCliStation::onRunFinished(Bay *bay)
{
    if (!bay->runner)
        return;
    std::unique_ptr<ZoCliRunner> runner = std::move(bay->runner);
    const QString eid = runner->eid();
    const int code = runner->exitCode();
    const bool skipped = !bay->skipped.isEmpty();
    if (bay->trial && (skipped || (code == ZoCliRunner::ExitNotFound && eid.isEmpty()))) {
        // No aircraft of the batch after all: its seat goes to the next.
        bay->trial = false;
        --m_trialStarted;
    }
    if (code == ZoCliRunner::ExitNotFound && eid.isEmpty()) {
        m_out.say(QStringLiteral("[%1] no aircraft answered; the link is tried again once it "
                                 "has been silent or gone")
                      .arg(bay->link));
    } else {
        Served s;
        s.link = bay->link;
        s.eid = eid;
        s.result = runner->result();
        s.exitCode = code;
        s.record = runner->reportJson();
        ZoCliLabel label {eid, QDateTime::currentDateTimeUtc(), s.result, bay->link,
            runner->devices(), skipped ? QStringLiteral("skipped") : QString()};
        s.label = label.line();
        s.record.insert(QStringLiteral("label"), s.label);
        if (!skipped && code == ZoCliRunner::ExitSuccess && !eid.isEmpty())
            m_confirmed.insert(eid, label.time);
        if (bay->trial) {
            ++m_trialEnded;
            if (code != ZoCliRunner::ExitSuccess)
                m_trialFailed << QStringLiteral("%1 (%2)").arg(
                    eid.isEmpty() ? bay->link : eid, s.result);
        }
        // The label is the line's own; in JSON mode stdout carries events only.
        if (m_options.jsonProgress)
            m_out.eventFor(bay->link, QStringLiteral("served"),
                {{QStringLiteral("eid"), eid}, {QStringLiteral("result"), s.result},
                    {QStringLiteral("exitCode"), s.exitCode}, {QStringLiteral("label"), s.label}});
        else
            m_out.say(s.label);
        if (!m_options.labelPngDir.isEmpty()) {
            QString why;
            const QString path = QDir(m_options.labelPngDir).filePath(label.pngName());
            if (!label.writePng(path, &why))
                m_out.complain(QStringLiteral("[%1] the label picture %2 was not written: %3")
                                   .arg(bay->link, path, why));
        }
        m_served << s;
    }
    bay->trial = false;
    // The engine may still be stopping its looper from inside this turn.
    runner.release()->deleteLater();
    if (m_stopRequest) {
        bay->state = Bay::Stopped;
        if (running() == 0)
            finishAll();
        return;
    }
    bay->state = Bay::Leaving;
    bay->presence->awaitLeave();
    judgeTrial();
    pump();
}

void ZoCliStation::judgeTrial()
{
    if (m_gate != Gate::Trial || m_trialEnded < m_options.firstBatch)
        return;
    if (m_trialFailed.isEmpty()) {
        m_gate = Gate::Open;
        m_out.say(QStringLiteral("station: the first %1 aircraft went well; the campaign goes on")
                      .arg(m_options.firstBatch));
        return;
    }
    m_gate = Gate::Closed;
    const QString why = QStringLiteral("%1 of the first %2 aircraft failed: %3")
                            .arg(m_trialFailed.size())
                            .arg(m_options.firstBatch)
                            .arg(m_trialFailed.join(QStringLiteral(", ")));
    m_out.complain(QStringLiteral("campaign gate closed: %1. No further aircraft is taken until "
                                  "a person has looked at the line and pressed Enter (or sent "
                                  "SIGUSR1)")
                       .arg(why));
    m_out.eventFor(QString(), QStringLiteral("gateClosed"),
        {{QStringLiteral("why"), why},
            {QStringLiteral("failed"), QJsonArray::fromStringList(m_trialFailed)}});
}

void ZoCliStation::goAhead(const QString &by)
{
    if (m_gate != Gate::Closed || m_stopRequest)
        return;
    m_gate = Gate::Open;
    m_out.say(QStringLiteral("campaign gate opened (%1): aircraft are taken again").arg(by));
    m_out.eventFor(QString(), QStringLiteral("gateOpened"), {{QStringLiteral("by"), by}});
    pump();
}

void ZoCliStation::readKeys()
{
#ifdef Q_OS_UNIX
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
        // No terminal (a service's /dev/null): only SIGUSR1 opens the gate.
        m_keys->setEnabled(false);
        return;
    }
    if (std::find(buffer, buffer + n, '\n') != buffer + n)
        goAhead(QStringLiteral("key"));
#endif
}

void ZoCliStation::interrupt(int request)
{
    if (m_stopRequest)
        return;
    m_stopRequest = request;
    m_serialScan.stop();
    const bool terminate = request == ZoPlatform::StopTerminate;
    m_out.complain(
        QStringLiteral("station: %1; the aircraft being flashed are stopped")
            .arg(terminate ? QStringLiteral("terminated") : QStringLiteral("interrupted")));
    for (Bay *bay : qAsConst(m_bays)) {
        bay->presence->stop();
        if (bay->state == Bay::Queued) {
            // Arrived, never started: told in the summary, not lost.
            Served s;
            s.link = bay->link;
            s.result = QStringLiteral("not-started");
            s.record = QJsonObject {{QStringLiteral("link"), bay->link},
                {QStringLiteral("result"), s.result}, {QStringLiteral("exitCode"), 0}};
            m_served << s;
        }
        if (bay->state != Bay::Running)
            bay->state = Bay::Stopped;
        else if (bay->runner)
            bay->runner->interrupt(request);
    }
    if (running() == 0)
        QTimer::singleShot(0, this, &ZoCliStation::finishAll);
}

void ZoCliStation::finishAll()
{
    if (m_done)
        return;
    m_done = true;
    QList<int> codes;
    QMap<QString, int> counts;
    QJsonArray aircraft;
    for (const Served &s : qAsConst(m_served)) {
        codes << s.exitCode;
        ++counts[s.result];
        aircraft.append(s.record);
        m_out.say(QStringLiteral("aircraft %1 (%2): %3")
                      .arg(s.eid.isEmpty() ? QStringLiteral("-") : s.eid, s.link, s.result));
    }
    QStringList tally;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        tally << QStringLiteral("%1 %2").arg(it.value()).arg(it.key());
    int code = ZoCliFleet::worstExitCode(codes);
    QString result = QStringLiteral("stopped");
    for (const Served &s : qAsConst(m_served))
        if (code != ZoCliRunner::ExitSuccess && s.exitCode == code)
            result = s.result;
    if (!m_options.reportPath.isEmpty()) {
        const QJsonObject report {{QStringLiteral("program"), QStringLiteral("tolvane-cli")},
            {QStringLiteral("station"), true}, {QStringLiteral("aircraft"), aircraft},
            {QStringLiteral("result"), result}, {QStringLiteral("exitCode"), code}};
        QSaveFile file(m_options.reportPath);
        const QByteArray bytes = QJsonDocument(report).toJson(QJsonDocument::Indented);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()
            || !file.commit()) {
            m_out.complain(QStringLiteral("cannot write the report %1: %2")
                               .arg(m_options.reportPath, file.errorString()));
            if (code == ZoCliRunner::ExitSuccess)
                code = ZoCliRunner::ExitUpgradeFailed;
        }
    }
    m_out.say(QStringLiteral("station: %1 aircraft%2%3")
                  .arg(m_served.size())
                  .arg(tally.isEmpty() ? QString() : QStringLiteral(": "),
                      tally.join(QStringLiteral(", "))));
    m_out.say(QStringLiteral("result: %1 (exit code %2)").arg(result).arg(code));
    m_out.event(QStringLiteral("finished"),
        {{QStringLiteral("result"), result}, {QStringLiteral("exitCode"), code},
            {QStringLiteral("aircraft"), m_served.size()}});
    Q_EMIT sigFinished(code);
}
