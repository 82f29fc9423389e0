#include "ZoCliRunner.h"

#include "ZoLittleEndian.h"
#include "ZoMsgLooper.h"
#include "ZoNimbraHttpHelper.h"
#include "ZoTvkInstance.h"
#include "ZoUpgradeWorkflow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

const char *const kFetchStarted = "MsgFirmDownloading";
const char *const kPrepareFailed = "MsgPrepareUpgradeFailed:";
constexpr int kBarWidth = 24;
constexpr int kRedrawMs = 100;

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

QString rateText(double bytesPerSecond)
{
    if (bytesPerSecond >= 1024.0 * 1024.0)
        return QStringLiteral("%1 MiB/s").arg(bytesPerSecond / (1024.0 * 1024.0), 0, 'f', 1);
    if (bytesPerSecond >= 1024.0)
        return QStringLiteral("%1 KiB/s").arg(bytesPerSecond / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 B/s").arg(bytesPerSecond, 0, 'f', 0);
}

QString isoNow(const QDateTime &t)
{
    return t.toUTC().toString(Qt::ISODateWithMs);
}

QJsonValue versionJson(bool present, const tVersion &v)
{
    return present ? QJsonValue(ZoCliRunner::versionText(v)) : QJsonValue(QJsonValue::Null);
}

} // namespace

ZoCliRunner *ZoCliRunner::s_active = nullptr;
QtMessageHandler ZoCliRunner::s_previousHandler = nullptr;

void ZoCliRunner::onLogMessage(
    QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    // A log line must not land in the middle of a progress line drawn in
    // place on the terminal.
    if (s_active)
        s_active->closeProgressLine();
    if (s_previousHandler)
        s_previousHandler(type, context, text);
}

ZoCliRunner::ZoCliRunner(const ZoCliOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_engine(std::make_unique<ZoUpgradeWorkflow>(ZoTvkInstance::instance()->planeConfig()))
    , m_tty(::isatty(::fileno(stdout)) == 1)
{
    m_bound.setSingleShot(true);
    m_checkpoint.setSingleShot(true);
    m_settle.setSingleShot(true);
    connect(&m_bound, &QTimer::timeout, this, &ZoCliRunner::onBound);
    connect(&m_checkpoint, &QTimer::timeout, this, &ZoCliRunner::onCatalogueCheckpoint);
    connect(&m_settle, &QTimer::timeout, this, [this] { verifyDone(true); });
    connectEngine();
    if (!s_active) {
        s_active = this;
        s_previousHandler = qInstallMessageHandler(&ZoCliRunner::onLogMessage);
    }
}

ZoCliRunner::~ZoCliRunner()
{
    // The engine goes first: its looper may still log while it stops.
    m_engine.reset();
    if (s_active == this) {
        qInstallMessageHandler(s_previousHandler);
        s_active = nullptr;
        s_previousHandler = nullptr;
    }
}

// ---- output -----------------------------------------------------------------

void ZoCliRunner::say(const QString &line)
{
    closeProgressLine();
    std::fputs(qUtf8Printable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

void ZoCliRunner::complain(const QString &line)
{
    closeProgressLine();
    std::fputs(qUtf8Printable(QStringLiteral("tolvane-cli: ") + line + QLatin1Char('\n')), stderr);
    std::fflush(stderr);
}

void ZoCliRunner::closeProgressLine()
{
    // Also called from the looper's thread (through the log handler): the
    // flag is the only state touched there.
    if (m_lineOpen.exchange(false)) {
        std::fputs("\n", stdout);
        std::fflush(stdout);
    }
    if (QThread::currentThread() == thread())
        m_drawnKey = -1;
}

QString ZoCliRunner::label(const Device &d) const
{
    return d.core
        ? QStringLiteral("%1 (core, type %2)").arg(d.name).arg(d.type)
        : QStringLiteral("%1 (type %2, device %3)").arg(d.name).arg(d.type).arg(d.deviceNumber);
}

QString ZoCliRunner::versionText(const tVersion &v)
{
    return QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision);
}

void ZoCliRunner::printTable(bool after)
{
    QStringList head {QStringLiteral("NAME"), QStringLiteral("TYPE"), QStringLiteral("DEV"),
        QStringLiteral("SERIAL"), QStringLiteral("CURRENT"), QStringLiteral("TARGET"),
        QStringLiteral("DUE")};
    if (after)
        head << QStringLiteral("RESULT") << QStringLiteral("NOW") << QStringLiteral("VERIFIED");
    QList<QStringList> rows {head};
    for (const Device &d : qAsConst(m_devices)) {
        QStringList row {d.name, QString::number(d.type), QString::number(d.deviceNumber),
            d.serial.isEmpty() ? QStringLiteral("-") : d.serial, versionText(d.before),
            d.hasTarget ? versionText(d.target) : QStringLiteral("-"),
            d.due ? QStringLiteral("yes") : QStringLiteral("no")};
        if (after)
            row << resultName(resultOf(d))
                << (d.hasAfter ? versionText(d.after) : QStringLiteral("-"))
                << (d.upgraded && m_verifyRan
                           ? (d.verified ? QStringLiteral("yes") : QStringLiteral("NO"))
                           : QStringLiteral("-"));
        rows << row;
    }
    QVector<int> width(head.size(), 0);
    for (const QStringList &row : qAsConst(rows))
        for (int i = 0; i < row.size(); ++i)
            width[i] = std::max(width[i], int(row.at(i).size()));
    for (const QStringList &row : qAsConst(rows)) {
        QString line;
        for (int i = 0; i < row.size(); ++i) {
            // Names left, numbers right, like any listing of figures.
            const bool left = i == 0 || i == 3;
            const QString cell
                = left ? row.at(i).leftJustified(width[i]) : row.at(i).rightJustified(width[i]);
            line += (i ? QStringLiteral("  ") : QString()) + cell;
        }
        say(line.trimmed().isEmpty() ? line : QStringLiteral("  ") + line);
    }
}

// ---- the engine ----------------------------------------------------------------

void ZoCliRunner::connectEngine()
{
    ZoUpgradeWorkflow *e = m_engine.get();
    connect(e, &ZoUpgradeWorkflow::sigSearchFinished, this, &ZoCliRunner::onSearchFinished);
    connect(e, &ZoUpgradeWorkflow::sigQuestion, this,
        [this](int id, QString titleKey, QString text, ZoUpgradeWorkflow::Buttons) {
            onQuestion(id, titleKey, text);
        });
    connect(e, &ZoUpgradeWorkflow::sigTargetChanged, this,
        [this](tds4 key, tVersion, QString, bool canUpgrade) { m_due[key] = canUpgrade; });
    connect(e, &ZoUpgradeWorkflow::sigDownloadTips, this, [this](QString textKey) {
        if (textKey == QLatin1String(kFetchStarted))
            onFetchStarted();
    });
    connect(e, &ZoUpgradeWorkflow::sigCatalogueResult, this, &ZoCliRunner::onCatalogueResult);
    connect(e->cloud(), &ZoNimbraHttpHelper::sigFRMFileDownloaded, this, [this] {
        // A slow but working download is not a dead one.
        if (m_phase == PhaseCatalogue)
            m_bound.start(CatalogueBoundMs);
    });
    connect(e, &ZoUpgradeWorkflow::sigProgressRange, this, &ZoCliRunner::onProgressRange);
    connect(e, &ZoUpgradeWorkflow::sigProgress, this, &ZoCliRunner::onProgress);
    connect(e, &ZoUpgradeWorkflow::sigDeviceResult, this, &ZoCliRunner::onDeviceResult);
    connect(e, &ZoUpgradeWorkflow::sigRunFinished, this,
        [this](bool ok, QString messageKey, QString) { onRunFinished(ok, messageKey); });
    connect(e, &ZoUpgradeWorkflow::sigInformation, this, [this](QString, QString text) {
        if (m_phase != PhaseDone)
            say(QStringLiteral("engine: %1").arg(text));
    });
    connect(e, &ZoUpgradeWorkflow::sigVersionReported, this,
        [this](tds4 key, tVersion version, QString) {
            if (Device *d = device(key); d && m_options.firmwareDir.isEmpty())
                say(QStringLiteral("  %1: version %2 reported to the cloud")
                        .arg(label(*d), versionText(version)));
        });
    // The looper lives on its own thread: queued.
    connect(e->looper(), &ZoMsgLooper::openPlaneComm, this, &ZoCliRunner::onLinkOpened,
        Qt::QueuedConnection);
}

void ZoCliRunner::start()
{
    m_started = QDateTime::currentDateTimeUtc();
    m_clock.start();

    if (!m_options.firmwareDir.isEmpty()) {
        QList<FirmwareFile> files;
        QString error;
        if (!readFirmwareDir(m_options.firmwareDir, files, &error)) {
            complain(error);
            finish(ExitCatalogue, QStringLiteral("firmware-unusable"));
            return;
        }
        say(QStringLiteral("offline: %1 firmware file(s) from %2")
                .arg(files.size())
                .arg(QDir::toNativeSeparators(m_options.firmwareDir)));
        for (const FirmwareFile &f : qAsConst(files))
            say(QStringLiteral("  type %1 version %2  %3")
                    .arg(f.version.type)
                    .arg(versionText(f.version), QFileInfo(f.path).fileName()));
        m_engine->setVersionReporting(false);
        m_engine->setLocalFirmware(firmwareRecords(files));
    }

    m_phase = PhaseSearch;
    m_boundReason = QStringLiteral("no aircraft found within %1 s").arg(SearchBoundMs / 1000);
    m_bound.start(SearchBoundMs);
    if (m_options.autoLink) {
        say(QStringLiteral("searching for the aircraft on the stored links ..."));
        m_engine->startSearch();
    } else {
        say(QStringLiteral("searching for the aircraft on %1 ...").arg(m_options.linkText));
        m_engine->searchLink(m_options.link);
    }
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

void ZoCliRunner::onLinkOpened(int type, bool ok)
{
    Q_UNUSED(type)
    // Only a link named on the command line: the automatic search moves on
    // to its next candidate by itself.
    if (ok || m_options.autoLink)
        return;
    if (m_phase == PhaseSearch) {
        // A one-link search whose open failed waits for ever.
        complain(QStringLiteral("cannot open %1").arg(m_options.linkText));
        finish(ExitNotFound, QStringLiteral("not-found"));
    } else if (m_phase == PhaseVerify && !m_retryPending) {
        m_retryPending = true;
        QTimer::singleShot(1000, this, [this] {
            m_retryPending = false;
            if (m_phase != PhaseVerify)
                return;
            if (m_clock.elapsed() < m_comeBackDeadline)
                m_engine->research();
            else
                verifyDone(false);
        });
    }
}

void ZoCliRunner::onSearchFinished(bool found)
{
    switch (m_phase) {
    case PhaseSearch:
        m_bound.stop();
        if (!found) {
            complain(QStringLiteral("no aircraft found on %1").arg(m_options.linkText));
            finish(ExitNotFound, QStringLiteral("not-found"));
            return;
        }
        m_phase = PhaseCatalogue;
        m_fetchStarts = 0;
        m_resultAt = -1;
        m_checkpointPassed = false;
        m_boundReason
            = QStringLiteral("no firmware catalogue within %1 s").arg(CatalogueBoundMs / 1000);
        m_bound.start(CatalogueBoundMs);
        // After the engine's own fetch would have started: a core that never
        // gave its identity leaves the engine waiting, and the run fetches.
        m_checkpoint.start(m_engine->timings().identityToCatalogueMs + 1000);
        say(QStringLiteral("found the aircraft; reading the %1 firmware catalogue ...")
                .arg(m_options.firmwareDir.isEmpty() ? ZoCliOptions::branchName(m_options.branch)
                                                     : QStringLiteral("local")));
        // The stable branch is what the engine fetches by itself; another
        // branch must be chosen before that happens, and only once the search
        // has handed over (queued).
        if (m_options.branch != ZoCliOptions::BranchStable)
            QTimer::singleShot(0, this, [this] {
                if (m_phase == PhaseCatalogue)
                    requestBranch();
            });
        return;
    case PhaseVerify:
        if (found)
            m_settle.start(SettleMs);
        // Not found: the question that follows decides on a retry.
        return;
    default:
        return;
    }
}

void ZoCliRunner::onQuestion(int id, const QString &titleKey, const QString &text)
{
    if (id == ZoUpgradeWorkflow::QuestionNotFound) {
        if (m_phase == PhaseVerify && m_clock.elapsed() < m_comeBackDeadline) {
            answerLater(id, ZoUpgradeWorkflow::ButtonYes); // Retry
            return;
        }
        // At once: the run may end before a queued answer would arrive, and
        // Cancel starts nothing.
        m_engine->answer(id, ZoUpgradeWorkflow::ButtonCancel);
        if (m_phase == PhaseVerify)
            verifyDone(false);
        return;
    }
    if (m_phase == PhaseDone)
        return;
    const bool yes = m_options.yes;
    say(QStringLiteral("question (%1): %2 -> %3")
            .arg(titleKey, text,
                yes ? QStringLiteral("Yes") : QStringLiteral("No (--yes answers Yes)")));
    answerLater(id, yes ? ZoUpgradeWorkflow::ButtonYes : ZoUpgradeWorkflow::ButtonNo);
    // Declined, the engine drops the run without another word.
    if (!yes && id == ZoUpgradeWorkflow::QuestionSameDevice && m_phase == PhaseUpgrade) {
        complain(QStringLiteral("upgrade not started: the question was answered No"));
        finish(upgradeExitCode(false, m_devices), QStringLiteral("failed"));
    }
}

// ---- catalogue ------------------------------------------------------------------

void ZoCliRunner::requestBranch()
{
    switch (m_options.branch) {
    case ZoCliOptions::BranchCustom:
        // The engine asks for a custom branch only for a core whose header
        // offers an airframe protocol; without one the request goes nowhere.
        if (m_engine->protocolType() == 0) {
            complain(QStringLiteral("the custom branch is not offered for core type %1")
                         .arg(m_engine->coreType()));
            finish(ExitCatalogue, QStringLiteral("catalogue-failed"));
            return;
        }
        m_engine->fetchCustomBranch(m_options.key);
        return;
    case ZoCliOptions::BranchDevelopment:
        m_engine->selectBranch(ZoUpgradeWorkflow::BranchDevelopment);
        return;
    default:
        m_engine->selectBranch(ZoUpgradeWorkflow::BranchStable);
        return;
    }
}

void ZoCliRunner::onFetchStarted()
{
    if (m_phase != PhaseCatalogue)
        return;
    ++m_fetchStarts;
    m_bound.start(CatalogueBoundMs);
}

void ZoCliRunner::onCatalogueResult(bool ok)
{
    if (m_phase != PhaseCatalogue)
        return;
    if (!ok) {
        complain(m_options.firmwareDir.isEmpty()
                ? QStringLiteral("the firmware catalogue or a firmware download failed")
                : QStringLiteral("the local firmware could not be offered"));
        finish(ExitCatalogue, QStringLiteral("catalogue-failed"));
        return;
    }
    m_resultAt = m_fetchStarts;
    maybeCatalogueDone();
}

void ZoCliRunner::onCatalogueCheckpoint()
{
    if (m_phase != PhaseCatalogue)
        return;
    m_checkpointPassed = true;
    if (m_fetchStarts == 0)
        requestBranch();
    maybeCatalogueDone();
}

void ZoCliRunner::maybeCatalogueDone()
{
    if (m_phase == PhaseCatalogue && m_checkpointPassed && m_fetchStarts > 0
        && m_resultAt == m_fetchStarts)
        catalogueDone();
}

ZoCliRunner::Device *ZoCliRunner::device(tds4 key)
{
    for (Device &d : m_devices)
        if (d.key == key)
            return &d;
    // Whatever the engine flashes is reported, listed or not.
    const auto &records = m_engine->records();
    auto it = records.find(key);
    if (it == records.end() || key == 0)
        return nullptr;
    Device d;
    d.key = key;
    d.type = tdu1(key >> 16);
    d.core = key == m_engine->coreRecord().key;
    d.deviceNumber = it->devIdx;
    d.name = it->name;
    d.serial = it->serial;
    d.before = it->curVersion;
    d.hasTarget = it->tarVersion.type != 0;
    d.target = it->tarVersion;
    m_devices.append(d);
    return &m_devices.last();
}

void ZoCliRunner::snapshotDevices()
{
    m_devices.clear();
    const auto &records = m_engine->records();
    const tds4 coreKey = m_engine->coreRecord().key;
    QList<tds4> modules;
    QList<tds4> boards;
    for (auto it = records.cbegin(); it != records.cend(); ++it) {
        const tds4 key = it.key();
        if (key == 0 || key == coreKey)
            continue;
        if (m_engine->hasModuleRow(key))
            modules << key;
        else if (m_engine->hasCoreRow(key))
            boards << key;
    }
    // The order the engine flashes in: modules, the core's boards, the core.
    QList<tds4> order = modules + boards;
    if (coreKey != 0 && records.contains(coreKey))
        order << coreKey;
    for (tds4 key : qAsConst(order)) {
        const ZoDevFMInfo &r = records[key];
        Device d;
        d.key = key;
        d.core = key == coreKey;
        d.type = tdu1(key >> 16);
        d.deviceNumber = r.devIdx;
        d.name = r.name;
        d.serial = r.serial;
        d.before = r.curVersion;
        d.hasTarget = r.tarVersion.type != 0;
        d.target = r.tarVersion;
        d.due = d.hasTarget && m_due.value(key, false);
        d.hasAfter = true; // what it runs now, until something is flashed
        d.after = r.curVersion;
        m_devices << d;
    }
    const ZoDevFMInfo &core = m_engine->coreRecord();
    m_coreType = m_engine->coreType();
    m_coreName = core.name;
    m_coreEid = core.serial;
    m_coreVersion = core.curVersion;
    m_coreCompileTime = timeText(core.curCompileTime);
}

void ZoCliRunner::catalogueDone()
{
    m_bound.stop();
    m_checkpoint.stop();
    snapshotDevices();
    say(QStringLiteral("core: %1, type %2, version %3, compiled %4, EID %5")
            .arg(m_coreName)
            .arg(m_coreType)
            .arg(versionText(m_coreVersion), m_coreCompileTime,
                m_coreEid.isEmpty() ? QStringLiteral("-") : m_coreEid));
    printTable(false);
    const int due = int(
        std::count_if(m_devices.cbegin(), m_devices.cend(), [](const Device &d) { return d.due; }));
    if (m_options.mode == ZoCliOptions::ModeList) {
        say(QStringLiteral("%1 device(s), %2 due for an upgrade").arg(m_devices.size()).arg(due));
        finish(ExitSuccess, QStringLiteral("listed"));
        return;
    }
    say(due ? QStringLiteral("upgrading %1 device(s) ...").arg(due)
            : QStringLiteral("nothing is due for an upgrade"));
    m_phase = PhaseUpgrade;
    // Every step of a transfer is bounded by the engine's own timers; this
    // only catches an engine that fell silent altogether.
    m_boundReason
        = QStringLiteral("the upgrade made no progress for %1 s").arg(StallBoundMs / 1000);
    m_bound.start(StallBoundMs);
    m_engine->upgradeAll();
}

// ---- upgrade ---------------------------------------------------------------------

void ZoCliRunner::onProgressRange(tds4 key, int maximum)
{
    if (m_phase != PhaseUpgrade)
        return;
    Device *d = device(key);
    if (!d)
        return;
    d->attempted = true;
    closeProgressLine();
    Progress p;
    p.maximum = maximum;
    m_progress[key] = p;
    m_bound.start(StallBoundMs);
    say(QStringLiteral("%1: %2 -> %3, %4 bytes")
            .arg(label(*d), versionText(d->before),
                d->hasTarget ? versionText(d->target) : QStringLiteral("?"))
            .arg(maximum));
}

void ZoCliRunner::onProgress(tds4 key, int value)
{
    if (m_phase != PhaseUpgrade || !m_progress.contains(key))
        return;
    Device *d = device(key);
    if (!d)
        return;
    Progress &p = m_progress[key];
    // The engine shows the key frame and then the first acknowledged offset
    // (0) after its first figure: a step back is where the data starts, and
    // the rate is measured from there, not across the bootloader's wait.
    if (p.firstMs < 0 || value < p.value) {
        p.firstMs = m_clock.elapsed();
        p.firstValue = value;
    }
    p.value = value;
    m_bound.start(StallBoundMs);
    drawProgress(*d, p, false);
}

void ZoCliRunner::drawProgress(const Device &d, Progress &p, bool final)
{
    const int maximum = std::max(p.maximum, 1);
    const int value = std::clamp(p.value, 0, maximum);
    const int percent = int(qint64(value) * 100 / maximum);
    const qint64 now = m_clock.elapsed();
    const double seconds = p.firstMs >= 0 ? double(now - p.firstMs) / 1000.0 : 0.0;
    const double rate = seconds >= 0.02 ? double(value - p.firstValue) / seconds : 0.0;
    const int blocks = m_engine->transferStats(d.key).blocksSent;
    QString left = QStringLiteral("--");
    if (rate > 0)
        left = QStringLiteral("%1 s").arg(qint64(double(maximum - value) / rate + 0.5));
    const QString figures = QStringLiteral("%1 blocks, %2, %3 left")
                                .arg(blocks)
                                .arg(rate > 0 ? rateText(rate) : QStringLiteral("-- B/s"), left);
    if (m_tty) {
        if (!final && p.drawnMs >= 0 && now - p.drawnMs < kRedrawMs && percent < 100)
            return;
        p.drawnMs = now;
        if (m_drawnKey != d.key)
            closeProgressLine();
        const int filled = percent * kBarWidth / 100;
        const QString bar
            = QString(filled, QLatin1Char('#')) + QString(kBarWidth - filled, QLatin1Char('-'));
        const QString line = QStringLiteral("\r\033[K  %1 [%2] %3%  %4")
                                 .arg(d.name, bar)
                                 .arg(percent, 3)
                                 .arg(figures);
        std::fputs(qUtf8Printable(line), stdout);
        std::fflush(stdout);
        m_drawnKey = d.key;
        m_lineOpen = true;
        return;
    }
    const int decile = percent / 10;
    if (decile <= p.lastDecile || decile == 0)
        return;
    p.lastDecile = decile;
    say(QStringLiteral("  %1 %2%  %3").arg(d.name).arg(decile * 10).arg(figures));
}

void ZoCliRunner::onDeviceResult(tds4 key, bool ok)
{
    if (m_phase != PhaseUpgrade)
        return;
    Device *d = device(key);
    if (!d)
        return;
    const ZoUpgradeWorkflow::TransferStats stats = m_engine->transferStats(key);
    d->attempted = true;
    d->upgraded = ok;
    d->failed = !ok;
    // Nothing read from it yet: only the verification says what it runs.
    d->hasAfter = false;
    d->blocksSent = stats.blocksSent;
    d->resends = stats.resends;
    d->seconds = stats.endMs > stats.startMs ? double(stats.endMs - stats.startMs) / 1000.0 : 0.0;
    if (m_tty && m_drawnKey == key && m_progress.contains(key))
        drawProgress(*d, m_progress[key], true);
    closeProgressLine();
    const QString figures = QStringLiteral("%1 s, %2 blocks, %3 resends")
                                .arg(d->seconds, 0, 'f', 1)
                                .arg(d->blocksSent)
                                .arg(d->resends);
    if (ok)
        say(QStringLiteral("%1: transferred (%2)").arg(label(*d), figures));
    else
        complain(QStringLiteral("%1: upgrade FAILED (%2)").arg(label(*d), figures));
}

void ZoCliRunner::onRunFinished(bool ok, const QString &messageKey)
{
    if (m_phase != PhaseUpgrade)
        return;
    m_bound.stop();
    closeProgressLine();
    if (!ok) {
        if (messageKey.startsWith(QLatin1String(kPrepareFailed))) {
            // No transfer started, so no device result: find the one named.
            const QString name = messageKey.mid(int(qstrlen(kPrepareFailed)));
            for (Device &d : m_devices)
                if (d.due && !d.upgraded && !d.failed && d.name == name) {
                    d.failed = true;
                    d.hasAfter = false;
                    break;
                }
            complain(QStringLiteral("no usable firmware to flash %1").arg(name));
        }
        complain(QStringLiteral("the upgrade failed"));
        printTable(true);
        finish(upgradeExitCode(false, m_devices), QStringLiteral("failed"));
        return;
    }
    const bool anyUpgraded = std::any_of(
        m_devices.cbegin(), m_devices.cend(), [](const Device &d) { return d.upgraded; });
    if (!anyUpgraded) {
        const int code = upgradeExitCode(true, m_devices);
        printTable(true);
        finish(code, code == ExitSuccess ? QStringLiteral("up-to-date") : QStringLiteral("failed"));
        return;
    }
    // The leave-bootloader frames are on their way; give the link a moment
    // before it is closed for the verifying search.
    m_phase = PhaseComeBack;
    m_comeBackDeadline = m_clock.elapsed() + ComeBackMs;
    say(QStringLiteral("verifying: waiting up to %1 s for the aircraft to answer again ...")
            .arg(ComeBackMs / 1000));
    QTimer::singleShot(1000, this, &ZoCliRunner::startVerifySearch);
}

void ZoCliRunner::startVerifySearch()
{
    if (m_phase != PhaseComeBack)
        return;
    m_phase = PhaseVerify;
    m_verifyRan = true;
    // A search already under way when the wait runs out may still finish.
    m_boundReason = QStringLiteral("the aircraft did not answer again");
    m_bound.start(int(m_comeBackDeadline - m_clock.elapsed()) + SearchBoundMs);
    m_engine->research();
}

void ZoCliRunner::verifyDone(bool cameBack)
{
    if (m_phase != PhaseVerify)
        return;
    m_bound.stop();
    m_settle.stop();
    const auto &records = m_engine->records();
    const ZoDevFMInfo &core = m_engine->coreRecord();
    for (Device &d : m_devices) {
        d.hasAfter = false;
        if (!cameBack)
            continue;
        if (d.core) {
            // A core flashed with a sibling airframe's firmware comes back
            // under another type, so it is found as the core, not by key.
            if (core.key != 0 && records.contains(core.key)) {
                d.hasAfter = true;
                d.after = core.curVersion;
            }
        } else if (records.contains(d.key)
            && (m_engine->hasModuleRow(d.key) || m_engine->hasCoreRow(d.key))) {
            d.hasAfter = true;
            d.after = records[d.key].curVersion;
        }
        d.verified = d.upgraded && d.hasAfter && reportsTarget(d.after, d.target);
    }
    if (!cameBack)
        complain(QStringLiteral("the aircraft did not answer within %1 s after the upgrade")
                     .arg(ComeBackMs / 1000));
    for (const Device &d : qAsConst(m_devices))
        if (d.upgraded && !d.verified)
            complain(
                QStringLiteral("%1: not verified: it reports %2, the target is %3")
                    .arg(label(d),
                        d.hasAfter
                            ? QStringLiteral("%1:%2").arg(d.after.type).arg(versionText(d.after))
                            : QStringLiteral("nothing"),
                        QStringLiteral("%1:%2").arg(d.target.type).arg(versionText(d.target))));
    printTable(true);
    const int code = upgradeExitCode(true, m_devices);
    finish(code,
        code == ExitSuccess           ? QStringLiteral("upgraded")
            : code == ExitNotVerified ? QStringLiteral("not-verified")
                                      : QStringLiteral("failed"));
}

void ZoCliRunner::onBound()
{
    switch (m_phase) {
    case PhaseSearch:
        complain(m_boundReason);
        finish(ExitNotFound, QStringLiteral("not-found"));
        return;
    case PhaseCatalogue:
        // The cloud client gives up a request that goes its timeout without
        // a byte; one still receiving is a slow file on a slow link, and
        // cutting it would fail what the client lets through.
        if (m_engine->cloud()->isRequestPending()) {
            m_bound.start(CatalogueBoundMs);
            return;
        }
        complain(m_boundReason);
        finish(ExitCatalogue, QStringLiteral("catalogue-failed"));
        return;
    case PhaseUpgrade:
        complain(m_boundReason);
        for (Device &d : m_devices)
            if (d.attempted && !d.upgraded) {
                d.failed = true;
                d.hasAfter = false;
            }
        finish(ExitUpgradeFailed, QStringLiteral("failed"));
        return;
    case PhaseVerify:
        verifyDone(false);
        return;
    default:
        return;
    }
}

// ---- outcome ---------------------------------------------------------------------

bool ZoCliRunner::reportsTarget(const tVersion &after, const tVersion &target)
{
    return target.type != 0 && after.type == target.type && after.number() == target.number();
}

ZoCliRunner::Result ZoCliRunner::resultOf(const Device &d)
{
    if (d.upgraded)
        return ResultUpgraded;
    if (d.failed)
        return ResultFailed;
    if (!d.hasTarget || d.due)
        return ResultSkipped;
    return ResultUpToDate;
}

QString ZoCliRunner::resultName(Result result)
{
    switch (result) {
    case ResultUpgraded:
        return QStringLiteral("upgraded");
    case ResultFailed:
        return QStringLiteral("failed");
    case ResultUpToDate:
        return QStringLiteral("up-to-date");
    default:
        return QStringLiteral("skipped");
    }
}

int ZoCliRunner::upgradeExitCode(bool runSucceeded, const QList<Device> &devices)
{
    bool notVerified = false;
    for (const Device &d : devices) {
        // A device that was due and is not upgraded, for whatever reason, is
        // an upgrade that did not happen.
        if (d.failed || (d.due && !d.upgraded))
            return ExitUpgradeFailed;
        if (d.upgraded && !d.verified)
            notVerified = true;
    }
    if (!runSucceeded)
        return ExitUpgradeFailed;
    return notVerified ? ExitNotVerified : ExitSuccess;
}

// ---- firmware folder ---------------------------------------------------------------

bool ZoCliRunner::checkFirmwareFile(
    const QString &path, const QByteArray &bytes, tVersion &version, QString *error)
{
    auto bad = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
        return false;
    };
    const int header = int(ZoFRMFileInfo::HeaderSize);
    if (bytes.size() < header)
        return bad(QStringLiteral("%1 bytes, shorter than the %2-byte firmware header")
                       .arg(bytes.size())
                       .arg(header));
    const auto *v
        = reinterpret_cast<const unsigned char *>(bytes.constData()) + ZoFRMFileInfo::VersionOffset;
    tVersion read;
    read.type = v[0];
    read.major = v[1];
    read.minor = v[2];
    read.revision = v[3];
    if (read.type == 0)
        return bad(QStringLiteral("the header names no device type"));
    const tdu4 announced = ZoLittleEndian::read32(bytes, int(ZoFRMFileInfo::ImageLengthOffset));
    const tdu4 present = tdu4(bytes.size() - header);
    if (announced == 0)
        return bad(QStringLiteral("the header announces no image"));
    if (announced != present)
        return bad(QStringLiteral("the header announces %1 image bytes, the file holds %2")
                       .arg(announced)
                       .arg(present));
    if (quint64(announced) > quint64(ZoUpgradeWorkflow::MaxImageBytes))
        return bad(QStringLiteral("an image of %1 bytes is more than a transfer can carry (%2)")
                       .arg(announced)
                       .arg(ZoUpgradeWorkflow::MaxImageBytes));
    version = read;
    return true;
}

bool ZoCliRunner::readFirmwareDir(const QString &dir, QList<FirmwareFile> &files, QString *error)
{
    files.clear();
    // Regular files only: a pipe or a device would block the read. Without
    // QDir::Readable in the filter an unreadable file is named, not skipped.
    const QFileInfoList all
        = QDir(dir).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    QList<FirmwareFile> found;
    QMap<tdu1, QString> byType;
    for (const QFileInfo &info : all) {
        FirmwareFile f;
        f.path = info.filePath();
        QFile file(f.path);
        if (!file.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("%1: cannot be read: %2")
                             .arg(QDir::toNativeSeparators(f.path), file.errorString());
            return false;
        }
        // Nothing this family flashes comes near it; a bigger file is not
        // firmware and is not read into memory whole.
        if (file.size() > qint64(ZoFRMFileInfo::HeaderSize) + ZoUpgradeWorkflow::MaxImageBytes) {
            if (error)
                *error = QStringLiteral("%1: %2 bytes, too big for a firmware file")
                             .arg(QDir::toNativeSeparators(f.path))
                             .arg(file.size());
            return false;
        }
        f.bytes = file.readAll();
        if (!checkFirmwareFile(f.path, f.bytes, f.version, error))
            return false;
        if (byType.contains(f.version.type)) {
            if (error)
                *error = QStringLiteral("%1 and %2 both hold firmware for type %3")
                             .arg(QDir::toNativeSeparators(byType.value(f.version.type)),
                                 QDir::toNativeSeparators(f.path))
                             .arg(f.version.type);
            return false;
        }
        byType.insert(f.version.type, f.path);
        found << f;
    }
    if (found.isEmpty()) {
        if (error)
            *error = QStringLiteral("%1: no firmware files").arg(QDir::toNativeSeparators(dir));
        return false;
    }
    files = found;
    return true;
}

QList<ZoFRMFileInfo> ZoCliRunner::firmwareRecords(const QList<FirmwareFile> &files)
{
    QList<ZoFRMFileInfo> records;
    for (const FirmwareFile &f : files) {
        ZoFRMFileInfo info;
        info.fid = f.version.type;
        info.version = f.version;
        info.nickName = QFileInfo(f.path).fileName();
        info.nickNameEn = info.nickName;
        info.upgradeDescription = QStringLiteral("local file %1").arg(info.nickName);
        info.upgradeDescriptionEn = info.upgradeDescription;
        info.setDataCopy(f.bytes);
        records << info;
    }
    return records;
}

// ---- the end ---------------------------------------------------------------------

QJsonObject ZoCliRunner::reportJson(int code, const QString &result) const
{
    QJsonArray devices;
    for (const Device &d : m_devices) {
        QJsonObject o {{QStringLiteral("key"), d.key}, {QStringLiteral("type"), d.type},
            {QStringLiteral("deviceNumber"), d.deviceNumber}, {QStringLiteral("name"), d.name},
            {QStringLiteral("serial"), d.serial}, {QStringLiteral("core"), d.core},
            {QStringLiteral("versionBefore"), versionText(d.before)},
            {QStringLiteral("target"), versionJson(d.hasTarget, d.target)},
            {QStringLiteral("versionAfter"), versionJson(d.hasAfter, d.after)},
            {QStringLiteral("upgradeDue"), d.due},
            {QStringLiteral("result"), resultName(resultOf(d))},
            {QStringLiteral("verified"), d.verified}, {QStringLiteral("blocksSent"), d.blocksSent},
            {QStringLiteral("resends"), d.resends}, {QStringLiteral("seconds"), d.seconds}};
        if (d.hasAfter && d.after.type != d.type)
            o.insert(QStringLiteral("typeAfter"), d.after.type);
        devices.append(o);
    }
    QJsonObject core;
    if (m_coreType != 0)
        core = QJsonObject {{QStringLiteral("type"), m_coreType},
            {QStringLiteral("name"), m_coreName}, {QStringLiteral("eid"), m_coreEid},
            {QStringLiteral("version"), versionText(m_coreVersion)},
            {QStringLiteral("compileTime"), m_coreCompileTime}};
    return QJsonObject {{QStringLiteral("program"), QStringLiteral("tolvane-cli")},
        {QStringLiteral("mode"),
            m_options.mode == ZoCliOptions::ModeUpgrade ? QStringLiteral("upgrade")
                                                        : QStringLiteral("list")},
        {QStringLiteral("link"), m_options.linkText},
        {QStringLiteral("branch"), ZoCliOptions::branchName(m_options.branch)},
        {QStringLiteral("firmwareDir"),
            m_options.firmwareDir.isEmpty() ? QJsonValue(QJsonValue::Null)
                                            : QJsonValue(m_options.firmwareDir)},
        {QStringLiteral("core"), m_coreType != 0 ? QJsonValue(core) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("devices"), devices}, {QStringLiteral("verifyRan"), m_verifyRan},
        {QStringLiteral("start"), isoNow(m_started)}, {QStringLiteral("end"), isoNow(m_ended)},
        {QStringLiteral("result"), result}, {QStringLiteral("exitCode"), code}};
}

bool ZoCliRunner::writeReport(int code, const QString &result, QString *error) const
{
    QSaveFile file(m_options.reportPath);
    const QByteArray json = QJsonDocument(reportJson(code, result)).toJson(QJsonDocument::Indented);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

void ZoCliRunner::finish(int code, const QString &result)
{
    if (m_phase == PhaseDone)
        return;
    m_phase = PhaseDone;
    m_bound.stop();
    m_checkpoint.stop();
    m_settle.stop();
    m_ended = QDateTime::currentDateTimeUtc();
    if (!m_options.reportPath.isEmpty()) {
        QString error;
        if (!writeReport(code, result, &error)) {
            complain(
                QStringLiteral("cannot write the report %1: %2").arg(m_options.reportPath, error));
            // The record of the run is part of its result.
            if (code == ExitSuccess)
                code = ExitUpgradeFailed;
        }
    }
    m_exitCode = code;
    say(QStringLiteral("result: %1 (exit code %2)").arg(result).arg(code));
    Q_EMIT sigFinished(code);
}
