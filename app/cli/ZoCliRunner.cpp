#include "ZoCliRunner.h"

#include "ZoCliRollback.h"
#include "ZoCliLock.h"
#include "ZoFirmwareFolder.h"
#include "ZoHistoryRecorder.h"
#include "ZoPlatform.h"
#include "ZoTvkInstance.h"
#include "ZoUpgradeEnvironment.h"
#include "ZoUpgradeWorkflow.h"
#include "ZoUtils.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

QString timeText(const tFcsDateTime &t)
{
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(t.year, 4, 10, QLatin1Char('0'))
        .arg(t.month, 2, 10, QLatin1Char('0'))
        .arg(t.day, 2, 10, QLatin1Char('0'))
        .arg(t.hour, 2, 10, QLatin1Char('0'))
        .arg(t.minute, 2, 10, QLatin1Char('0'))
        .arg(t.second, 2, 10, QLatin1Char('0'));
}

ZoUpgradeEnvironment environmentWith(
    const ZoCliOptions &options, ZoPlaneConfig *fleetLink, ZoRunJournal *fleetJournal)
{
    ZoUpgradeEnvironment env = ZoUpgradeEnvironment::from(*ZoTvkInstance::instance());
    env.campaignLock = options.lock;
    if (fleetLink) {
        // Engines side by side share no link record. They share one journal,
        // each aircraft's entries under its EID: two objects on one file
        // would rewrite each other's entries, and a later run of any kind
        // reads the one file.
        env.link = fleetLink;
        env.journal = fleetJournal;
        env.logLabel = QStringLiteral("[%1]").arg(options.linkText);
    }
    return env;
}

} // namespace

ZoCliRunner::ZoCliRunner(const ZoCliOptions &options, QObject *parent, const QString &fleetPrefix,
    ZoRunJournal *fleetJournal)
    : QObject(parent)
    , m_options(options)
    , m_fleet(!fleetPrefix.isEmpty())
    , m_link(options.link)
    // Progress drawn in place would be fought over by the aircraft.
    , m_out(!m_fleet && !options.jsonProgress && ZoCliPrinter::stdoutIsTerminal(), fleetPrefix)
    , m_record(options)
    , m_engine(std::make_unique<ZoUpgradeWorkflow>(
          environmentWith(options, m_fleet ? &m_link : nullptr, fleetJournal)))
{
    if (options.jsonProgress)
        m_out.setJsonEvents(options.linkText);
    m_out.setVerbose(options.verbose);
    m_bound.setSingleShot(true);
    m_drain.setInterval(100);
    connect(&m_bound, &QTimer::timeout, this, &ZoCliRunner::onBound);
    connect(&m_drain, &QTimer::timeout, this, [this] {
        if (!m_engine->source().hasRequestInFlight() || m_clock.elapsed() > m_drainDeadline) {
            m_drain.stop();
            Q_EMIT sigFinished(m_exitCode);
        }
    });
    connectEngine();
    if (options.mode == ZoCliOptions::ModeRollback) {
        m_rollback = new ZoCliRollback(m_options, m_engine.get(), &m_out, this);
        connect(m_rollback, &ZoCliRollback::sigAskingUser, &m_bound, &QTimer::stop);
        connect(m_rollback, &ZoCliRollback::sigRefused, this, [this](const QString &why) {
            m_out.complain(why);
            finish(ExitRollbackRefused, QStringLiteral("rollback-refused"));
        });
    }
}

ZoCliRunner::~ZoCliRunner()
{
    // The engine goes first: its looper may still log while it stops.
    m_engine.reset();
}

void ZoCliRunner::connectEngine()
{
    ZoUpgradeWorkflow *e = m_engine.get();
    connect(e, &ZoUpgradeWorkflow::sigSearchFinished, this, &ZoCliRunner::onSearchFinished);
    connect(e, &ZoUpgradeWorkflow::sigQuestion, this,
        [this](int id, QString text, ZoUpgradeWorkflow::Buttons) { onQuestion(id, text); });
    connect(&e->targets(), &ZoTargetIntake::sigStateChanged, this, &ZoCliRunner::onCatalogueState);
    connect(&e->targets(), &ZoTargetIntake::sigFirmwareArrived, this, [this] {
        // A slow but working download is not a dead one.
        if (m_phase == PhaseCatalogue)
            m_bound.start(CatalogueBoundMs);
    });
    connect(e, &ZoUpgradeWorkflow::sigProgressRange, this, &ZoCliRunner::onProgressRange);
    connect(e, &ZoUpgradeWorkflow::sigProgress, this, &ZoCliRunner::onProgress);
    connect(e, &ZoUpgradeWorkflow::sigDeviceOutcome, this, &ZoCliRunner::onDeviceOutcome);
    if (const ZoHistoryRecorder *history = e->history()) {
        connect(history, &ZoHistoryRecorder::sigUnwritable, this, [this](const QString &why) {
            m_out.complain(QStringLiteral("the flash history could not be written: %1").arg(why));
            m_historyLost = true;
        });
        connect(history, &ZoHistoryRecorder::sigImageFromCache, this,
            [this](ZoDeviceKey key, tVersion version, bool sameAircraft) {
                m_out.complain(QStringLiteral("no firmware file names device %1: it takes %2, the "
                                              "image its type last confirmed on %3")
                                   .arg(key.text(), ZoUtils::versionText(version),
                                       sameAircraft ? QStringLiteral("this aircraft")
                                                    : QStringLiteral("another aircraft")));
            });
    }
    connect(&e->run(), &ZoUpgradeRun::sigDevicePhase, this, [this](const ZoDevicePhase &now) {
        if (ZoCliDevice *d = m_phase == PhaseUpgrade ? device(now.key) : nullptr)
            m_out.phase(*d, now);
    });
    connect(e, &ZoUpgradeWorkflow::sigDeviceConfirming, this, [this](ZoDeviceKey key) {
        if (ZoCliDevice *d = m_phase == PhaseUpgrade ? device(key) : nullptr) {
            m_out.progressEnds(*d, m_engine->transferStats(key).blocksSent);
            m_out.say(QStringLiteral("%1: transferred; reading it back ...").arg(d->label()));
        }
    });
    connect(e, &ZoUpgradeWorkflow::sigProbeFinished, this, [this] {
        if (m_phase == PhaseProbe)
            catalogueDone();
    });
    connect(e, &ZoUpgradeWorkflow::sigRunEnded, this, &ZoCliRunner::onRunEnded);
    connect(e, &ZoUpgradeWorkflow::sigRunStarted, this, [this] {
        // What is due now is the rollback's, not the catalogue's.
        if (m_rollback && m_phase == PhaseUpgrade) {
            snapshotDevices();
            m_bound.start(StallBoundMs);
        }
    });
    connect(&e->campaign(), &ZoCampaignGuard::sigFinding, this,
        [this](const ZoCampaignGuard::Finding &f) {
            m_out.complain(ZoCliLock::findingText(f, deviceOf(f.key).label()));
        });
    connect(e, &ZoUpgradeWorkflow::sigInformation, this, [this](QString text) {
        if (m_phase != PhaseDone)
            m_out.say(QStringLiteral("engine: %1").arg(text));
    });
    connect(e, &ZoUpgradeWorkflow::sigVersionReported, this,
        [this](ZoDeviceKey key, tVersion version, QString) {
            if (ZoCliDevice *d = device(key); d && m_options.firmwareDir.isEmpty())
                m_out.say(QStringLiteral("  %1: version %2 reported to the cloud")
                              .arg(d->label(), ZoCliDevice::versionText(version)));
        });
    // Queued: a failed open is acted on once the engine has dealt with it.
    connect(
        e, &ZoUpgradeWorkflow::sigLinkOpened, this, [this](int, bool ok) { onLinkOpened(ok); },
        Qt::QueuedConnection);
}

// ---- search ----------------------------------------------------------------------

void ZoCliRunner::start()
{
    m_record.start = QDateTime::currentDateTimeUtc();
    m_clock.start();
    if (!m_options.firmwareDir.isEmpty() && !offerLocalFirmware())
        return;

    // A cloud branch is chosen before the search: its catalogue may be
    // fetched while the search still runs.
    if (m_options.branch != ZoCliOptions::BranchCustom)
        m_engine->selectBranch(m_options.branch == ZoCliOptions::BranchDevelopment
                ? ZoTargetIntake::BranchDevelopment
                : ZoTargetIntake::BranchStable);
    m_phase = PhaseSearch;
    m_out.event(QStringLiteral("searching"));
    m_boundReason = QStringLiteral("no aircraft found within %1 s").arg(SearchBoundMs / 1000);
    m_bound.start(SearchBoundMs);
    if (m_options.autoLink) {
        m_out.say(QStringLiteral("searching for the aircraft on the stored links ..."));
        m_engine->startSearch();
    } else {
        m_out.say(QStringLiteral("searching for the aircraft on %1 ...").arg(m_options.linkText));
        m_engine->searchLink(m_options.link);
    }
}

bool ZoCliRunner::offerLocalFirmware()
{
    QList<ZoFirmwareFolder::File> files;
    QString error;
    if (!ZoFirmwareFolder::read(
            m_options.firmwareDir, ZoTransferSession::MaxImageBytes, files, &error)) {
        m_out.complain(error);
        finish(ExitCatalogue, QStringLiteral("firmware-unusable"));
        return false;
    }
    m_out.say(QStringLiteral("offline: %1 firmware file(s) from %2")
                  .arg(files.size())
                  .arg(QDir::toNativeSeparators(m_options.firmwareDir)));
    for (const ZoFirmwareFolder::File &f : qAsConst(files))
        m_out.say(QStringLiteral("  type %1 version %2  %3")
                      .arg(f.version.type)
                      .arg(ZoCliDevice::versionText(f.version), QFileInfo(f.path).fileName()));
    m_engine->source().setVersionReporting(false);
    m_engine->source().setLocalFirmware(ZoFirmwareFolder::records(files));
    return true;
}

void ZoCliRunner::answerLater(int id, int button)
{
    // Never from inside the engine's own signal: its state after asking is
    // not settled until it returns.
    QTimer::singleShot(0, this, [this, id, button] {
        if (m_engine)
            m_engine->answer(id, button);
    });
}

void ZoCliRunner::onLinkOpened(bool ok)
{
    // Only a link named on the command line: the automatic search moves on
    // to its next candidate by itself.
    if (ok || m_options.autoLink)
        return;
    if (m_phase == PhaseSearch) {
        // A one-link search whose open failed waits for ever.
        m_out.complain(QStringLiteral("cannot open %1").arg(m_options.linkText));
        finish(ExitNotFound, QStringLiteral("not-found"));
    }
}

void ZoCliRunner::onSearchFinished(bool found)
{
    switch (m_phase) {
    case PhaseSearch:
        m_bound.stop();
        if (!found) {
            m_out.complain(QStringLiteral("no aircraft found on %1").arg(m_options.linkText));
            for (tdu1 type : m_engine->coresLeftInBootloader())
                m_out.complain(QStringLiteral("an earlier run left a core of type %1 in its "
                                              "bootloader, where it sends no telemetry: name its "
                                              "link with --link, where it is asked for")
                                   .arg(type));
            finish(ExitNotFound, QStringLiteral("not-found"));
            return;
        }
        m_phase = PhaseCatalogue;
        m_out.event(
            QStringLiteral("found"), {{QStringLiteral("eid"), m_engine->roster().core().serial}});
        m_boundReason
            = QStringLiteral("no firmware catalogue within %1 s").arg(CatalogueBoundMs / 1000);
        m_bound.start(CatalogueBoundMs);
        m_out.say(QStringLiteral("found the aircraft; reading the %1 firmware catalogue ...")
                      .arg(m_options.firmwareDir.isEmpty()
                              ? ZoCliOptions::branchName(m_options.branch)
                              : QStringLiteral("local")));
        // The engine fetches the chosen cloud branch by itself once it has
        // read the core's identity, often while the search still asked the
        // modules; the custom branch is asked for once the search has handed
        // over (queued, as is the look at a catalogue that is in already).
        QTimer::singleShot(0, this, [this] {
            if (m_phase != PhaseCatalogue)
                return;
            if (m_options.branch == ZoCliOptions::BranchCustom)
                requestCustomBranch();
            else
                onCatalogueState(m_engine->targets().state());
        });
        return;
    default:
        return;
    }
}

void ZoCliRunner::onQuestion(int id, const QString &text)
{
    if (id == ZoUpgradeWorkflow::QuestionNotFound) {
        // At once: the run may end before a queued answer would arrive, and
        // Cancel starts nothing.
        m_engine->answer(id, ZoUpgradeWorkflow::ButtonCancel);
        return;
    }
    if (m_phase == PhaseDone)
        return;
    if (m_rollback && id == ZoUpgradeWorkflow::QuestionRollBack)
        return m_rollback->onQuestion(id, text);
    const bool yes = m_options.yes;
    m_out.say(QStringLiteral("question: %1 -> %2")
                  .arg(text, yes ? QStringLiteral("Yes") : QStringLiteral("No (--yes answers Yes)")));
    answerLater(id, yes ? ZoUpgradeWorkflow::ButtonYes : ZoUpgradeWorkflow::ButtonNo);
    // Declined, the engine drops the run without another word.
    if (!yes && id == ZoUpgradeWorkflow::QuestionSameDevice && m_phase == PhaseUpgrade) {
        m_out.complain(QStringLiteral("upgrade not started: the question was answered No"));
        finish(upgradeExitCode(false, m_record.devices), QStringLiteral("failed"));
    }
}

// ---- catalogue -------------------------------------------------------------------

void ZoCliRunner::requestCustomBranch()
{
    // The engine asks for a custom branch only for a core whose header
    // offers an airframe protocol; without one the request goes nowhere.
    if (m_engine->protocolType() == 0) {
        m_out.complain(QStringLiteral("the custom branch is not offered for core type %1")
                           .arg(m_engine->roster().coreType()));
        finish(ExitCatalogue, QStringLiteral("catalogue-failed"));
        return;
    }
    m_engine->fetchCustomBranch(m_options.key);
}

void ZoCliRunner::onCatalogueState(ZoTargetIntake::State state)
{
    if (m_phase != PhaseCatalogue)
        return;
    switch (state) {
    case ZoTargetIntake::State::Fetching:
        m_bound.start(CatalogueBoundMs);
        return;
    case ZoTargetIntake::State::Ready:
        // The rows of devices found in a bootloader, or silent, come with
        // the end of the engine's look at the buses.
        if (m_engine->isProbing()) {
            m_phase = PhaseProbe;
            return;
        }
        catalogueDone();
        return;
    case ZoTargetIntake::State::Failed:
        m_out.complain(m_options.firmwareDir.isEmpty()
                ? QStringLiteral("the firmware catalogue or a firmware download failed")
                : QStringLiteral("the local firmware could not be offered"));
        finish(ExitCatalogue, QStringLiteral("catalogue-failed"));
        return;
    default:
        return;
    }
}

ZoCliDevice ZoCliRunner::deviceOf(ZoDeviceKey key) const
{
    const ZoDevFMInfo &r = m_engine->roster().records()[key];
    ZoCliDevice d;
    d.key = key;
    d.core = key == m_engine->roster().core().key;
    d.type = key.type;
    d.deviceNumber = r.devIdx;
    d.name = r.name;
    d.serial = r.serial;
    d.before = r.curVersion;
    d.hasTarget = r.tarVersion.type != 0;
    d.target = r.tarVersion;
    d.presence = r.presence;
    d.optional = m_engine->roster().isOptionalSilent(key);
    d.missing = m_engine->roster().isMissing(key);
    d.outcome = m_engine->outcome(key);
    return d;
}

ZoCliDevice *ZoCliRunner::device(ZoDeviceKey key)
{
    for (ZoCliDevice &d : m_record.devices)
        if (d.key == key)
            return &d;
    // Whatever the engine flashes is reported, listed or not.
    if (key.isNull() || !m_engine->roster().records().contains(key))
        return nullptr;
    m_record.devices.append(deviceOf(key));
    return &m_record.devices.last();
}

void ZoCliRunner::snapshotDevices()
{
    m_record.devices.clear();
    for (const ZoDeviceKey &key : m_engine->roster().displayOrder()) {
        ZoCliDevice d = deviceOf(key);
        d.due = m_engine->isDue(key);
        m_record.devices << d;
    }
    const ZoDevFMInfo &core = m_engine->roster().core();
    m_record.core.type = m_engine->roster().coreType();
    m_record.core.name = core.name;
    m_record.core.eid = core.serial;
    m_record.core.version = core.curVersion;
    m_record.core.compileTime = timeText(core.curCompileTime);
}

void ZoCliRunner::catalogueDone()
{
    m_bound.stop();
    snapshotDevices();
    QStringList silent;
    for (const ZoCliDevice &d : qAsConst(m_record.devices)) {
        if (d.presence == ZoDevFMInfo::Presence::InBootloader)
            m_out.complain(QStringLiteral("%1 is in its bootloader, left there by an earlier run: "
                                          "%2")
                               .arg(d.label(),
                                   d.hasTarget ? QStringLiteral("it is flashed first")
                                               : QStringLiteral("the catalogue has no firmware "
                                                                "for it")));
        else if (d.presence == ZoDevFMInfo::Presence::NotAnswering)
            silent << d.name;
    }
    if (!silent.isEmpty())
        m_out.say(QStringLiteral("expected, not answering: %1").arg(silent.join(QStringLiteral(", "))));
    const ZoCliReport::Core &core = m_record.core;
    m_out.say(QStringLiteral("core: %1, type %2, version %3, compiled %4, EID %5")
                  .arg(core.name)
                  .arg(core.type)
                  .arg(ZoCliDevice::versionText(core.version), core.compileTime,
                      core.eid.isEmpty() ? QStringLiteral("-") : core.eid));
    m_out.table(m_record.devices, false);
    const int due = m_engine->flashOrder().size();
    m_out.event(QStringLiteral("catalogue"),
        {{QStringLiteral("devices"), m_record.devices.size()}, {QStringLiteral("due"), due}});
    for (const ZoCliDevice &d : qAsConst(m_record.devices))
        m_out.deviceEvent(QStringLiteral("device"), d,
            {{QStringLiteral("name"), d.name},
                {QStringLiteral("current"), ZoCliDevice::versionText(d.before)},
                {QStringLiteral("target"),
                    d.hasTarget ? QJsonValue(ZoCliDevice::versionText(d.target))
                                : QJsonValue(QJsonValue::Null)},
                {QStringLiteral("due"), d.due}});
    if (!m_options.writeLockPath.isEmpty()) {
        QString said;
        const bool written = ZoCliLock::writeServed(m_options, m_engine->campaign(), eid(), &said);
        written ? m_out.say(said) : m_out.complain(said);
        if (!written)
            return finish(ExitUpgradeFailed, QStringLiteral("lock-unwritable"));
    }
    if (m_options.mode == ZoCliOptions::ModeList) {
        m_out.say(QStringLiteral("%1 device(s), %2 due for an upgrade")
                      .arg(m_record.devices.size())
                      .arg(due));
        finish(ExitSuccess, QStringLiteral("listed"));
        return;
    }
    if (!m_rollback)
        m_out.say(due ? QStringLiteral("upgrading %1 device(s) ...").arg(due)
                      : QStringLiteral("nothing is due for an upgrade"));
    if (m_fleet) {
        m_phase = PhaseGate;
        Q_EMIT sigAwaitingUpgrade();
        return;
    }
    beginUpgrade();
}

QString ZoCliRunner::eid() const
{
    return m_record.core.eid.isEmpty() ? m_engine->roster().core().serial : m_record.core.eid;
}

void ZoCliRunner::proceed()
{
    if (m_phase == PhaseGate)
        beginUpgrade();
}

void ZoCliRunner::refuse(const QString &why, int code, const QString &result)
{
    if (m_phase == PhaseDone)
        return;
    m_out.complain(why);
    finish(code, result);
}

void ZoCliRunner::beginUpgrade()
{
    m_phase = PhaseUpgrade;
    // Every step of a transfer is bounded by the engine's own timers; this
    // only catches an engine that fell silent altogether.
    m_boundReason
        = QStringLiteral("the upgrade made no progress for %1 s").arg(StallBoundMs / 1000);
    m_bound.start(StallBoundMs);
    if (m_rollback)
        m_rollback->begin(eid(), m_options.linkText);
    else
        m_engine->upgradeAll();
}

// ---- upgrade ---------------------------------------------------------------------

void ZoCliRunner::onProgressRange(ZoDeviceKey key, int maximum)
{
    if (m_phase != PhaseUpgrade)
        return;
    ZoCliDevice *d = device(key);
    if (!d)
        return;
    d->attempted = true;
    m_out.progressBegins(key, maximum);
    m_bound.start(StallBoundMs);
    m_out.say(QStringLiteral("%1: %2 -> %3, %4 bytes")
                  .arg(d->label(), ZoCliDevice::versionText(d->before),
                      d->hasTarget ? ZoCliDevice::versionText(d->target) : QStringLiteral("?"))
                  .arg(maximum));
}

void ZoCliRunner::onProgress(ZoDeviceKey key, int value)
{
    if (m_phase != PhaseUpgrade)
        return;
    if (ZoCliDevice *d = device(key)) {
        m_bound.start(StallBoundMs);
        m_out.progress(
            *d, value, m_engine->transferStats(key).blocksSent, m_engine->run().phaseNow());
    }
}

void ZoCliRunner::onDeviceOutcome(const ZoDeviceOutcome &outcome)
{
    if (m_phase != PhaseUpgrade)
        return;
    ZoCliDevice *d = device(outcome.key);
    if (!d)
        return;
    using Result = ZoDeviceOutcome::Result;
    d->attempted = true;
    d->outcome = outcome;
    if (outcome.transferred())
        m_record.verifyRan = true;
    m_out.progressEnds(*d, outcome.blocksSent);
    m_out.deviceEvent(QStringLiteral("result"), *d,
        {{QStringLiteral("result"), ZoCliDevice::resultName(outcome.result)}});
    if (outcome.result == Result::Upgraded)
        m_out.deviceEvent(QStringLiteral("confirmed"), *d,
            {{QStringLiteral("version"), ZoCliDevice::versionText(outcome.reported)}});
    const QString figures = QStringLiteral("%1 s, %2 blocks, %3 resends")
                                .arg(outcome.seconds, 0, 'f', 1)
                                .arg(outcome.blocksSent)
                                .arg(outcome.resends);
    auto typed = [](const tVersion &v) {
        return QStringLiteral("%1:%2").arg(v.type).arg(ZoCliDevice::versionText(v));
    };
    if (outcome.result == Result::Upgraded)
        m_out.say(QStringLiteral("%1: upgraded, it reports %2 (%3)")
                      .arg(d->label(), typed(outcome.reported), figures));
    else if (outcome.result == Result::NotConfirmed)
        m_out.complain(QStringLiteral("%1: NOT CONFIRMED: it reports %2, the target is %3 (%4)")
                           .arg(d->label(),
                               outcome.reported.type != 0 ? typed(outcome.reported)
                                                          : QStringLiteral("nothing"),
                               typed(outcome.target), figures));
    else
        m_out.complain(QStringLiteral("%1: upgrade FAILED (%2)").arg(d->label(), figures));
}

void ZoCliRunner::onRunEnded(ZoUpgradeWorkflow::RunOutcome outcome, ZoDeviceKey key)
{
    if (m_phase != PhaseUpgrade)
        return;
    m_bound.stop();
    using Outcome = ZoUpgradeWorkflow::RunOutcome;
    QList<ZoCliDevice> &devices = m_record.devices;
    ZoCliDevice *d = !key.isNull() ? device(key) : nullptr;
    const QString name = d ? d->label() : QStringLiteral("device %1").arg(key.text());
    // The devices the run did not reach too: skipped or up to date.
    for (ZoCliDevice &x : devices)
        x.outcome = m_engine->outcome(x.key);
    switch (outcome) {
    case Outcome::FirmwareUnusable:
        m_out.complain(QStringLiteral("no usable firmware to flash %1").arg(name));
        break;
    case Outcome::StrandedWithoutTarget:
        m_out.complain(QStringLiteral("%1 waits in its bootloader and the catalogue has no firmware "
                                      "for it: no module of its bus was flashed")
                           .arg(name));
        break;
    case Outcome::JournalUnwritable:
        m_out.complain(QStringLiteral("the run journal could not be written, so %1 was not entered "
                                      "into its bootloader: make its folder writable and free "
                                      "some space")
                           .arg(name));
        break;
    case Outcome::CoreUnidentified:
        m_out.complain(QStringLiteral("%1 never told its identity (EID), so it is not flashed: the "
                                      "core that came back could not be told from another "
                                      "aircraft's. Search again; if it never tells, its link "
                                      "may drop the identity reply")
                           .arg(name));
        break;
    case Outcome::LinkLost:
        m_out.complain(QStringLiteral("the link to the aircraft was lost during the upgrade"));
        if (d)
            m_out.complain(QStringLiteral("%1 was left in its bootloader; the next run finds it "
                                          "and flashes it first")
                               .arg(name));
        break;
    case Outcome::LockRefused:
        m_out.complain(QStringLiteral("the lock %1 refuses this run (see above): nothing was "
                                      "flashed")
                           .arg(m_options.lockPath));
        break;
    default:
        break;
    }
    const int code = outcome == Outcome::LockRefused
        ? int(ExitLockRefused)
        : upgradeExitCode(outcome == Outcome::Completed || outcome == Outcome::NotConfirmed,
            devices, m_historyLost);
    if (!m_fleet)
        m_out.table(devices, true);
    const bool anyUpgraded = std::any_of(
        devices.cbegin(), devices.cend(), [](const ZoCliDevice &x) {
            return x.outcome.result == ZoDeviceOutcome::Result::Upgraded;
        });
    const QString done = m_rollback ? QStringLiteral("rolled-back") : QStringLiteral("upgraded");
    finish(code,
        code == ExitSuccess           ? (anyUpgraded ? done : QStringLiteral("up-to-date"))
            : code == ExitNotVerified ? QStringLiteral("not-verified")
            : code == ExitHistory     ? QStringLiteral("history-unwritable")
            : code == ExitLockRefused ? QStringLiteral("lock-refused")
                                      : QStringLiteral("failed"));
}

// ---- the end ---------------------------------------------------------------------

void ZoCliRunner::onBound()
{
    switch (m_phase) {
    case PhaseSearch:
        m_out.complain(m_boundReason);
        finish(ExitNotFound, QStringLiteral("not-found"));
        return;
    case PhaseProbe:
    case PhaseCatalogue:
        // The cloud client gives up a request that goes its timeout without
        // a byte; one still receiving is a slow file on a slow link, and
        // cutting it would fail what the client lets through.
        if (m_engine->source().hasRequestInFlight()) {
            m_bound.start(CatalogueBoundMs);
            return;
        }
        m_out.complain(m_boundReason);
        finish(ExitCatalogue, QStringLiteral("catalogue-failed"));
        return;
    case PhaseUpgrade:
        m_out.complain(m_boundReason);
        // The engine fell silent: whatever it had begun did not happen.
        for (ZoCliDevice &d : m_record.devices)
            if (d.attempted && d.outcome.result != ZoDeviceOutcome::Result::Upgraded) {
                d.outcome.result = ZoDeviceOutcome::Result::Failed;
                d.outcome.reported = tVersion();
            }
        finish(ExitUpgradeFailed, QStringLiteral("failed"));
        return;
    default:
        return;
    }
}

int ZoCliRunner::upgradeExitCode(
    bool runSucceeded, const QList<ZoCliDevice> &devices, bool historyLost)
{
    bool notVerified = false;
    for (const ZoCliDevice &d : devices) {
        // A device that was due and is not upgraded, for whatever reason, is
        // an upgrade that did not happen.
        using Result = ZoDeviceOutcome::Result;
        const Result r = d.outcome.result;
        if (r == Result::NotConfirmed) {
            notVerified = true;
            continue;
        }
        if (r == Result::Failed || r == Result::Interrupted || (d.due && r != Result::Upgraded))
            return ExitUpgradeFailed;
    }
    if (!runSucceeded)
        return ExitUpgradeFailed;
    // A flash that is not on record must not look clean.
    if (historyLost)
        return ExitHistory;
    return notVerified ? ExitNotVerified : ExitSuccess;
}

void ZoCliRunner::interrupt(int request)
{
    if (m_phase == PhaseDone)
        return;
    const bool terminate = request == ZoPlatform::StopTerminate;
    const ZoDeviceKey inFlight = m_phase == PhaseUpgrade ? m_engine->abortRun() : ZoDeviceKey();
    m_out.complain(terminate ? QStringLiteral("terminated") : QStringLiteral("interrupted"));
    if (ZoCliDevice *d = !inFlight.isNull() ? device(inFlight) : nullptr) {
        d->outcome = m_engine->outcome(inFlight);
        d->attempted = true;
        if (m_engine->roster().records().value(inFlight).presence
            == ZoDevFMInfo::Presence::InBootloader)
            m_out.complain(QStringLiteral("%1 was left in its bootloader: it runs no application "
                                          "until it is flashed again; the next run finds it and "
                                          "flashes it first")
                               .arg(d->label()));
        else
            m_out.complain(QStringLiteral("%1 had left its bootloader and was being read back: "
                                          "whether it runs its new firmware was not confirmed")
                               .arg(d->label()));
    }
    if (m_phase == PhaseUpgrade && !m_fleet)
        m_out.table(m_record.devices, true);
    finish(terminate ? ExitTerminated : ExitInterrupted,
        terminate ? QStringLiteral("terminated") : QStringLiteral("interrupted"));
}

void ZoCliRunner::finish(int code, const QString &result)
{
    if (m_phase == PhaseDone)
        return;
    m_phase = PhaseDone;
    m_bound.stop();
    m_record.end = QDateTime::currentDateTimeUtc();
    if (!m_options.reportPath.isEmpty()) {
        QString error;
        if (!m_record.write(m_options.reportPath, result, code, &error)) {
            m_out.complain(
                QStringLiteral("cannot write the report %1: %2").arg(m_options.reportPath, error));
            // The record of the run is part of its result.
            if (code == ExitSuccess)
                code = ExitUpgradeFailed;
        }
    }
    m_exitCode = code;
    m_result = result;
    m_out.say(QStringLiteral("result: %1 (exit code %2)").arg(result).arg(code));
    m_out.event(QStringLiteral("finished"),
        {{QStringLiteral("result"), result}, {QStringLiteral("exitCode"), code}});
    // Version reports still on their way are let go out, each within its
    // own timeout; an interrupted run does not wait.
    if (code != ExitInterrupted && code != ExitTerminated && m_engine->source().hasRequestInFlight()) {
        m_drainDeadline = m_clock.elapsed() + DrainBoundMs;
        m_drain.start();
        return;
    }
    Q_EMIT sigFinished(code);
}
