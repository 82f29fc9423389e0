#include "ZoHistoryRecorder.h"

#include "ZoConnectionPhase.h"
#include "ZoDeviceRoster.h"
#include "ZoFirmwareSource.h"
#include "ZoPlaneConfig.h"
#include "ZoRunResults.h"
#include "ZoTargetIntake.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLoggingCategory>
#include <QSysInfo>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

namespace {

QString versionOf(const tVersion &v)
{
    return v.type == 0 ? QString()
                       : QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision);
}

} // namespace

ZoHistoryRecorder::ZoHistoryRecorder(const QString &path, const Parts &parts, QObject *parent)
    : QObject(parent)
    , m_path(path)
    , m_p(parts)
{
    connect(m_p.results, &ZoRunResults::sigDeviceEnded, this, &ZoHistoryRecorder::record);
}

ZoHistoryRecorder::~ZoHistoryRecorder() = default;

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

void ZoHistoryRecorder::record(const ZoDeviceOutcome &o)
{
    QString why;
    if (!m_history) {
        auto history = std::make_unique<ZoFlashHistory>(m_path);
        if (!history->open(&why)) {
            qCCritical(lcUpgrade).noquote() << "The flash history cannot be opened:" << why;
            Q_EMIT sigUnwritable(why);
            return;
        }
        m_history = std::move(history);
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
    row.source = m_p.source->isOffline() ? QStringLiteral("folder")
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
}
