#include "ZoCliHistory.h"

#include "ZoCliOptions.h"
#include "ZoCliRunner.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

QString timeText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QString deviceText(const ZoFlashHistory::Row &r)
{
    return r.number == 0 ? QString::number(r.type)
                         : QStringLiteral("%1.%2").arg(r.type).arg(r.number);
}

QJsonObject toJson(const ZoFlashHistory::Row &r)
{
    return QJsonObject {{QStringLiteral("id"), r.id}, {QStringLiteral("time"), timeText(r.time)},
        {QStringLiteral("host"), r.host}, {QStringLiteral("user"), r.user},
        {QStringLiteral("tool"), r.tool}, {QStringLiteral("link"), r.link},
        {QStringLiteral("eid"), r.eid}, {QStringLiteral("type"), r.type},
        {QStringLiteral("number"), r.number}, {QStringLiteral("serial"), r.serial},
        {QStringLiteral("before"), r.before}, {QStringLiteral("target"), r.target},
        {QStringLiteral("confirmed"), r.confirmed}, {QStringLiteral("sha256"), r.sha256},
        {QStringLiteral("size"), r.size}, {QStringLiteral("source"), r.source},
        {QStringLiteral("result"), r.result}, {QStringLiteral("failure"), r.failure},
        {QStringLiteral("seconds"), r.seconds}, {QStringLiteral("resends"), r.resends},
        {QStringLiteral("hash"), r.hash}, {QStringLiteral("run"), r.run}};
}

// A field as RFC 4180 wants it: quoted when it holds a separator, a quote or
// a line break.
QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\""))
        + QLatin1Char('"');
}

} // namespace

QString ZoCliHistory::render(const QList<ZoFlashHistory::Row> &rows, const QString &format)
{
    if (format == QLatin1String("json")) {
        QJsonArray list;
        for (const ZoFlashHistory::Row &r : rows)
            list.append(toJson(r));
        return QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Indented));
    }
    if (format == QLatin1String("csv")) {
        const QStringList keys {QStringLiteral("id"), QStringLiteral("time"),
            QStringLiteral("host"), QStringLiteral("user"), QStringLiteral("tool"),
            QStringLiteral("link"), QStringLiteral("eid"), QStringLiteral("type"),
            QStringLiteral("number"), QStringLiteral("serial"), QStringLiteral("before"),
            QStringLiteral("target"), QStringLiteral("confirmed"), QStringLiteral("sha256"),
            QStringLiteral("size"), QStringLiteral("source"), QStringLiteral("result"),
            QStringLiteral("failure"), QStringLiteral("seconds"), QStringLiteral("resends"),
            QStringLiteral("hash"), QStringLiteral("run")};
        QString out = keys.join(QLatin1Char(',')) + QLatin1Char('\n');
        for (const ZoFlashHistory::Row &r : rows) {
            const QJsonObject o = toJson(r);
            QStringList fields;
            for (const QString &k : keys)
                fields << csvField(o.value(k).toVariant().toString());
            out += fields.join(QLatin1Char(',')) + QLatin1Char('\n');
        }
        return out;
    }
    QString out = QStringLiteral("%1  %2  %3  %4  %5  %6  %7\n")
                      .arg(QStringLiteral("time (UTC)"), -23)
                      .arg(QStringLiteral("aircraft"), -16)
                      .arg(QStringLiteral("device"), -7)
                      .arg(QStringLiteral("serial"), -10)
                      .arg(QStringLiteral("versions"), -26)
                      .arg(QStringLiteral("file"), -12)
                      .arg(QStringLiteral("result"));
    for (const ZoFlashHistory::Row &r : rows) {
        const QString versions = QStringLiteral("%1 -> %2 (%3)")
                                     .arg(r.before.isEmpty() ? QStringLiteral("-") : r.before,
                                         r.target.isEmpty() ? QStringLiteral("-") : r.target,
                                         r.confirmed.isEmpty() ? QStringLiteral("-") : r.confirmed);
        const QString result
            = r.failure.isEmpty() ? r.result : QStringLiteral("%1: %2").arg(r.result, r.failure);
        out += QStringLiteral("%1  %2  %3  %4  %5  %6  %7\n")
                   .arg(timeText(r.time), -23)
                   .arg(r.eid.isEmpty() ? QStringLiteral("-") : r.eid, -16)
                   .arg(deviceText(r), -7)
                   .arg(r.serial.isEmpty() ? QStringLiteral("-") : r.serial, -10)
                   .arg(versions, -26)
                   .arg(r.sha256.left(12), -12)
                   .arg(result + QStringLiteral(" [") + r.source + QLatin1Char(']'));
    }
    return out;
}

int ZoCliHistory::run(const ZoCliOptions &options, const QString &path)
{
    // Reading must not leave an empty database behind where there was none.
    if (!QFileInfo::exists(path)) {
        std::fprintf(stderr, "tolvane-cli: no flash history yet at %s\n", qUtf8Printable(path));
        if (options.verify || options.format == QLatin1String("table"))
            return ZoCliRunner::ExitSuccess;
        std::fputs(qUtf8Printable(render({}, options.format)), stdout);
        return ZoCliRunner::ExitSuccess;
    }
    // Read-only: a damaged file stays where it is, as it is, for whoever
    // looks into it; only a run that appends may set it aside.
    ZoFlashHistory history(path);
    QString why;
    if (!history.openReadOnly(&why)) {
        std::fprintf(stderr,
            "tolvane-cli: the flash history %s cannot be read, and is left as it is: %s\n",
            qUtf8Printable(path), qUtf8Printable(why));
        return ZoCliRunner::ExitHistory;
    }
    if (options.verify) {
        const ZoFlashHistory::Verdict v = history.verify();
        if (!v.ok) {
            std::fprintf(stderr,
                "tolvane-cli: the flash history %s does not verify at row %lld: %s\n",
                qUtf8Printable(path), v.firstBroken, qUtf8Printable(v.why));
            return ZoCliRunner::ExitHistory;
        }
        std::printf("the flash history %s verifies: %lld rows, none changed or taken out\n",
            qUtf8Printable(path), v.rows);
        return ZoCliRunner::ExitSuccess;
    }
    ZoFlashHistory::Filter filter;
    filter.eid = options.historyEid;
    filter.type = options.historyType;
    filter.number = options.historyNumber;
    filter.since = options.since;
    QString failed;
    const QList<ZoFlashHistory::Row> rows = history.rows(filter, &failed);
    // An empty table would say this aircraft was never flashed.
    if (!failed.isEmpty()) {
        std::fprintf(stderr, "tolvane-cli: the flash history %s cannot be read: %s\n",
            qUtf8Printable(path), qUtf8Printable(failed));
        return ZoCliRunner::ExitHistory;
    }
    std::fputs(qUtf8Printable(render(rows, options.format)), stdout);
    return ZoCliRunner::ExitSuccess;
}
