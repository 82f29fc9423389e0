#include "ZoCliReport.h"


#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace {

QJsonValue versionJson(bool present, const tVersion &v)
{
    return present ? QJsonValue(ZoCliDevice::versionText(v)) : QJsonValue(QJsonValue::Null);
}

QString isoTime(const QDateTime &t)
{
    return t.toUTC().toString(Qt::ISODateWithMs);
}

} // namespace

ZoCliReport::ZoCliReport(const ZoCliOptions &options)
    : m_options(options)
{
}

QJsonObject ZoCliReport::json(const QString &result, int exitCode) const
{
    QJsonArray list;
    for (const ZoCliDevice &d : devices) {
        const ZoDeviceOutcome &out = d.outcome;
        tVersion after;
        const bool hasAfter = d.versionAfter(after);
        QJsonObject o {{QStringLiteral("key"), d.key.packed()}, {QStringLiteral("type"), d.type},
            {QStringLiteral("deviceNumber"), d.deviceNumber}, {QStringLiteral("name"), d.name},
            {QStringLiteral("serial"), d.serial}, {QStringLiteral("core"), d.core},
            {QStringLiteral("state"), ZoCliDevice::stateName(d.presence)},
            {QStringLiteral("versionBefore"), ZoCliDevice::versionText(d.before)},
            {QStringLiteral("target"), versionJson(d.hasTarget, d.target)},
            {QStringLiteral("sha256"),
                out.sha256.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(out.sha256)},
            {QStringLiteral("versionAfter"), versionJson(hasAfter, after)},
            {QStringLiteral("upgradeDue"), d.due},
            {QStringLiteral("result"), ZoCliDevice::resultName(out.result)},
            {QStringLiteral("verified"), out.result == ZoDeviceOutcome::Result::Upgraded},
            {QStringLiteral("blocksSent"), out.blocksSent},
            {QStringLiteral("resends"), out.resends}, {QStringLiteral("seconds"), out.seconds}};
        // A core that took a sibling airframe's firmware answers as another type.
        if (hasAfter && after.type != d.type)
            o.insert(QStringLiteral("typeAfter"), after.type);
        list.append(o);
    }
    QJsonValue coreJson(QJsonValue::Null);
    if (core.type != 0)
        coreJson = QJsonObject {{QStringLiteral("type"), core.type},
            {QStringLiteral("name"), core.name}, {QStringLiteral("eid"), core.eid},
            {QStringLiteral("version"), ZoCliDevice::versionText(core.version)},
            {QStringLiteral("compileTime"), core.compileTime}};
    return QJsonObject {{QStringLiteral("program"), QStringLiteral("tolvane-cli")},
        {QStringLiteral("mode"),
            m_options.mode == ZoCliOptions::ModeUpgrade        ? QStringLiteral("upgrade")
                : m_options.mode == ZoCliOptions::ModeRollback ? QStringLiteral("rollback")
                                                               : QStringLiteral("list")},
        {QStringLiteral("link"), m_options.linkText},
        {QStringLiteral("branch"), ZoCliOptions::branchName(m_options.branch)},
        {QStringLiteral("firmwareDir"),
            m_options.firmwareDir.isEmpty() ? QJsonValue(QJsonValue::Null)
                                            : QJsonValue(m_options.firmwareDir)},
        {QStringLiteral("core"), coreJson}, {QStringLiteral("devices"), list},
        {QStringLiteral("verifyRan"), verifyRan}, {QStringLiteral("start"), isoTime(start)},
        {QStringLiteral("end"), isoTime(end)}, {QStringLiteral("result"), result},
        {QStringLiteral("exitCode"), exitCode}};
}

bool ZoCliReport::write(
    const QString &path, const QString &result, int exitCode, QString *error) const
{
    QSaveFile file(path);
    const QByteArray bytes
        = QJsonDocument(json(result, exitCode)).toJson(QJsonDocument::Indented);
    // commit() alone does not see a buffer that failed to reach the disk.
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()
        || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}
