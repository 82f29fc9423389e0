#include "ZoHistoryRecorder.h"

#include "ZoCampaignGuard.h"
#include "ZoConnectionPhase.h"
#include "ZoDeviceRoster.h"
#include "ZoFirmwareSource.h"
#include "ZoPlaneConfig.h"
#include "ZoRunResults.h"
#include "ZoTargetIntake.h"
#include "ZoUpgradeEnvironment.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSysInfo>
#include <QUuid>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

namespace {

QString versionOf(const tVersion &v)
{
    return v.type == 0 ? QString()
                       : QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision);
}

} // namespace

ZoHistoryRecorder::ZoHistoryRecorder(const Files &files, const Parts &parts, QObject *parent)
    : QObject(parent)
    , m_path(files.history)
    , m_p(parts)
    , m_cache(files.images.isEmpty()
              ? nullptr
              : std::make_unique<ZoImageCache>(files.images, files.imageBytes))
{
    connect(m_p.results, &ZoRunResults::sigDeviceEnded, this, &ZoHistoryRecorder::record);
    if (m_p.campaign)
        m_p.campaign->setHistory(
            [this](int type, const QString &version) { return flashedDigests(type, version); });
    if (m_cache)
        m_p.targets->setFallback(
            [this](ZoDeviceKey key, ZoFRMFileInfo &file) { return imageFor(key, file); });
}

ZoHistoryRecorder::~ZoHistoryRecorder() = default;

ZoHistoryRecorder *ZoHistoryRecorder::forEnvironment(
    const ZoUpgradeEnvironment &env, const Parts &parts, QObject *parent)
{
    if (env.historyPath.isEmpty())
        return nullptr;
    return new ZoHistoryRecorder(
        {env.historyPath, env.imageCacheDir, env.imageCacheBytes}, parts, parent);
}

QString ZoHistoryRecorder::resultText(const ZoDeviceOutcome &o)
{
    using Result = ZoDeviceOutcome::Result;
    switch (o.result) {
    case Result::Upgraded:
        return QStringLiteral("upgraded");
    case Result::NotConfirmed:
        return QStringLiteral("not confirmed");
    case Result::Interrupted:
        return QStringLiteral("interrupted");
    case Result::Failed:
        return QStringLiteral("failed");
    case Result::UpToDate:
        return QStringLiteral("up to date");
    case Result::Skipped:
        break;
    }
    return QStringLiteral("skipped");
}

QString ZoHistoryRecorder::failureText(const ZoDeviceOutcome &o)
{
    using Failure = ZoDeviceOutcome::Failure;
    switch (o.failure) {
    case Failure::None:
        return QString();
    case Failure::RefusedFile:
        return QStringLiteral("refused file");
    case Failure::NoTarget:
        return QStringLiteral("no target");
    case Failure::NotRecorded:
        return QStringLiteral("journal unwritable");
    case Failure::Unidentified:
        return QStringLiteral("core unidentified");
    case Failure::SendFailed:
        return QStringLiteral("send failed");
    case Failure::BlockTimeout:
        // Every block went out once, and only the last one sent was never
        // answered: blocks are counted from 0.
        return QStringLiteral("block time-out at block %1").arg(o.blocksSent - o.resends - 1);
    case Failure::LinkLost:
        return QStringLiteral("link lost");
    case Failure::WrongVersion:
        return QStringLiteral("wrong version");
    case Failure::Silent:
        return QStringLiteral("silent");
    case Failure::OtherAircraft:
        return QStringLiteral("other aircraft");
    }
    return QString();
}

void ZoHistoryRecorder::beginRun(const QString &source)
{
    m_run = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_runSource = source;
}

bool ZoHistoryRecorder::readRows(
    const ZoFlashHistory::Filter &filter, QList<ZoFlashHistory::Row> &rows, QString *why)
{
    if (!openHistory(why))
        return false;
    rows = m_history->rows(filter);
    return true;
}

bool ZoHistoryRecorder::takeImage(const QString &sha256, tdu1 type, ZoFRMFileInfo &file)
{
    return m_cache && m_cache->take(sha256, type, file);
}

bool ZoHistoryRecorder::openHistory(QString *why)
{
    if (m_history)
        return true;
    auto history = std::make_unique<ZoFlashHistory>(m_path);
    if (!history->open(why)) {
        qCCritical(lcUpgrade).noquote() << "The flash history cannot be opened:" << *why;
        return false;
    }
    m_history = std::move(history);
    return true;
}

void ZoHistoryRecorder::keepImage(const ZoDeviceOutcome &o)
{
    // The file sent is the one the source holds for the type its header names.
    bool found = false;
    const ZoFRMFileInfo file = m_p.source->file(o.target.type, found);
    QString why;
    if (found && m_p.source->fileSha256(o.target.type) == o.sha256
        && !m_cache->keep(file.bytes(), &why))
        qCWarning(lcUpgrade).noquote() << "The image cache could not keep" << o.sha256 << why;
}

bool ZoHistoryRecorder::imageFor(ZoDeviceKey key, ZoFRMFileInfo &file)
{
    QString why;
    if (!openHistory(&why))
        return false;
    const QString eid = m_p.roster->core().serial;
    for (const bool sameAircraft : {true, false}) {
        if (sameAircraft && eid.isEmpty())
            continue;
        ZoFlashHistory::Filter filter;
        filter.eid = sameAircraft ? eid : QString();
        filter.type = key.type;
        const QList<ZoFlashHistory::Row> rows = m_history->rows(filter);
        for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
            if (it->result != QLatin1String("upgraded")
                || !m_cache->take(it->sha256, key.type, file))
                continue;
            qCWarning(lcUpgrade).noquote()
                << "No file names" << key.text() << "- it takes the image its type last confirmed"
                << (sameAircraft ? "on this aircraft:" : "on another aircraft:") << it->sha256;
            Q_EMIT sigImageFromCache(key, file.version, sameAircraft);
            return true;
        }
    }
    return false;
}

QStringList ZoHistoryRecorder::flashedDigests(int type, const QString &version)
{
    // A station without a history has flashed nothing; asking makes no file.
    QString why;
    if ((!m_history && !QFileInfo::exists(m_path)) || !openHistory(&why))
        return {};
    ZoFlashHistory::Filter filter;
    filter.type = type;
    filter.target = version;
    QStringList digests;
    for (const ZoFlashHistory::Row &row : m_history->rows(filter)) {
        // The device took the whole file; what it did with it is another matter.
        if ((row.result == QLatin1String("upgraded")
                || row.result == QLatin1String("not confirmed"))
            && !row.sha256.isEmpty() && !digests.contains(row.sha256))
            digests << row.sha256;
    }
    return digests;
}

void ZoHistoryRecorder::record(const ZoDeviceOutcome &o)
{
    QString why;
    if (!openHistory(&why)) {
        Q_EMIT sigUnwritable(why);
        return;
    }
    ZoFlashHistory::Row row;
    row.time = QDateTime::currentDateTimeUtc();
    row.host = QSysInfo::machineHostName();
    row.user = qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME"));
    row.tool = QCoreApplication::applicationName() + QLatin1Char(' ')
        + QCoreApplication::applicationVersion();
    row.link = m_p.connection->link().text();
    row.eid = m_p.roster->core().serial;
    row.type = o.key.type;
    row.number = o.key.number;
    row.serial = m_p.roster->records().value(o.key).serial;
    row.before = versionOf(o.before);
    row.target = versionOf(o.target);
    row.confirmed = versionOf(o.reported);
    row.sha256 = o.sha256;
    row.size = o.fileBytes;
    const int branch = m_p.targets->branch();
    // A device's end outside a run begun here still has one of its own.
    if (m_run.isEmpty())
        beginRun();
    row.run = m_run;
    row.source = !m_runSource.isEmpty() ? m_runSource
        : m_p.source->isOffline()       ? QStringLiteral("folder")
        : branch == ZoTargetIntake::BranchCustom
        ? QStringLiteral("custom:") + m_p.targets->customKey()
        : branch == ZoTargetIntake::BranchDevelopment ? QStringLiteral("development")
                                                      : QStringLiteral("stable");
    row.result = resultText(o);
    row.failure = failureText(o);
    row.seconds = o.seconds;
    row.resends = o.resends;
    if (!m_history->append(row, &why)) {
        qCCritical(lcUpgrade).noquote() << "The flash history could not be written:" << why;
        Q_EMIT sigUnwritable(why);
    }
    if (m_cache && o.result == ZoDeviceOutcome::Result::Upgraded)
        keepImage(o);
}
