#include "ZoCliLock.h"

#include "ZoCliOptions.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

bool fail(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return false;
}

// A whole JSON number within [low, high]; -1 otherwise.
qint64 wholeNumber(const QJsonValue &v, qint64 low, qint64 high)
{
    if (!v.isDouble())
        return -1;
    const double d = v.toDouble();
    if (d < double(low) || d > double(high) || d != double(qint64(d)))
        return -1;
    return qint64(d);
}

bool isVersion(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("\\A[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\z"));
    if (!form.match(text).hasMatch())
        return false;
    for (const QString &part : text.split(QLatin1Char('.')))
        if (part.toUInt() > 255)
            return false;
    return true;
}

} // namespace

bool ZoCliLock::parse(const QByteArray &json, Pins &pins, QString *why)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (!doc.isObject())
        return fail(why,
            error.error != QJsonParseError::NoError ? QStringLiteral("not JSON (%1 at byte %2)")
                                                          .arg(error.errorString())
                                                          .arg(error.offset)
                                                    : QStringLiteral("not a JSON object"));
    const QJsonObject root = doc.object();
    const QJsonValue schema = root.value(QLatin1String("schema"));
    if (wholeNumber(schema, Schema, Schema) != Schema)
        return fail(why,
            QStringLiteral("unknown schema (%1); this program reads schema %2")
                .arg(schema.isUndefined()   ? QStringLiteral("none given")
                        : schema.isDouble() ? QString::number(schema.toDouble())
                                            : QStringLiteral("not a number"))
                .arg(Schema));
    const QJsonValue targets = root.value(QLatin1String("targets"));
    if (!targets.isArray())
        return fail(why, QStringLiteral("\"targets\" is not a list"));
    Pins read;
    const QRegularExpression hex(QStringLiteral("\\A[0-9a-fA-F]{64}\\z"));
    for (const QJsonValue &v : targets.toArray()) {
        const QJsonObject o = v.toObject();
        const int n = read.size() + 1;
        ZoCampaignGuard::Pin pin;
        pin.type = int(wholeNumber(o.value(QLatin1String("type")), 1, 255));
        pin.version = o.value(QLatin1String("version")).toString();
        pin.size = wholeNumber(o.value(QLatin1String("size")), 1, MaxImageFileBytes);
        pin.sha256 = o.value(QLatin1String("sha256")).toString().toLower();
        if (!v.isObject() || pin.type < 0)
            return fail(why, QStringLiteral("target %1: \"type\" is not a number 1-255").arg(n));
        if (!isVersion(pin.version))
            return fail(why,
                QStringLiteral("target %1 (type %2): \"version\" is not N.N.N")
                    .arg(n)
                    .arg(pin.type));
        if (pin.size < 0)
            return fail(why,
                QStringLiteral("target %1 (type %2): \"size\" is not a number 1-%3")
                    .arg(n)
                    .arg(pin.type)
                    .arg(MaxImageFileBytes));
        if (!hex.match(pin.sha256).hasMatch())
            return fail(why,
                QStringLiteral("target %1 (type %2): \"sha256\" is not 64 hex digits")
                    .arg(n)
                    .arg(pin.type));
        for (const ZoCampaignGuard::Pin &p : qAsConst(read))
            if (p.type == pin.type)
                return fail(why, QStringLiteral("type %1 is pinned twice").arg(pin.type));
        read << pin;
    }
    pins = read;
    return true;
}

QByteArray ZoCliLock::serialize(const Pins &pins, const Origin &origin)
{
    QJsonArray targets;
    for (const ZoCampaignGuard::Pin &p : pins)
        targets.append(
            QJsonObject {{QStringLiteral("type"), p.type}, {QStringLiteral("version"), p.version},
                {QStringLiteral("size"), p.size}, {QStringLiteral("sha256"), p.sha256.toLower()}});
    return QJsonDocument(
        QJsonObject {{QStringLiteral("schema"), Schema},
            {QStringLiteral("written"),
                origin.written.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"))},
            {QStringLiteral("eid"), origin.eid}, {QStringLiteral("source"), origin.source},
            {QStringLiteral("targets"), targets}})
        .toJson(QJsonDocument::Indented);
}

bool ZoCliLock::read(const QString &path, Pins &pins, QString *why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(why, QStringLiteral("cannot read it (%1)").arg(file.errorString()));
    const QByteArray bytes = file.read(MaxFileBytes + 1);
    if (bytes.size() > MaxFileBytes)
        return fail(why, QStringLiteral("larger than %1 bytes: not a lock").arg(MaxFileBytes));
    return parse(bytes, pins, why);
}

bool ZoCliLock::write(const QString &path, const Pins &pins, const Origin &origin, QString *why)
{
    QSaveFile file(path);
    const QByteArray bytes = serialize(pins, origin);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return fail(why, file.errorString());
    return true;
}

bool ZoCliLock::writeServed(
    const ZoCliOptions &options, const ZoCampaignGuard &guard, const QString &eid, QString *said)
{
    const Pins pins = guard.served();
    const QString &path = options.writeLockPath;
    const QString source = options.firmwareDir.isEmpty() ? ZoCliOptions::branchName(options.branch)
                                                         : QStringLiteral("folder");
    QString why;
    const bool ok = write(path, pins, {QDateTime::currentDateTimeUtc(), eid, source}, &why);
    *said = ok ? QStringLiteral("lock written to %1: %2 file(s) pinned").arg(path).arg(pins.size())
               : QStringLiteral("cannot write the lock %1: %2; nothing is flashed").arg(path, why);
    return ok;
}

QString ZoCliLock::findingText(const ZoCampaignGuard::Finding &f, const QString &device)
{
    const auto file = [](const ZoCampaignGuard::Pin &p) {
        return QStringLiteral("version %1, %2 bytes, SHA-256 %3")
            .arg(p.version)
            .arg(p.size)
            .arg(p.sha256);
    };
    using Kind = ZoCampaignGuard::Finding::Kind;
    switch (f.kind) {
    case Kind::Unpinned:
        return QStringLiteral("%1: REFUSED by the lock, which pins no file of type %2; served: %3")
            .arg(device)
            .arg(f.served.type)
            .arg(file(f.served));
    case Kind::Differs:
        return QStringLiteral("%1: REFUSED by the lock: expected %2; served: %3")
            .arg(device, file(f.expected), file(f.served));
    case Kind::ChangedBytes:
        break;
    }
    return QStringLiteral("%1: WARNING: version %2 is served as SHA-256 %3, but this station "
                          "flashed version %2 before as SHA-256 %4: the same version with other "
                          "bytes")
        .arg(device, f.served.version, f.served.sha256, f.seen.join(QStringLiteral(", ")));
}
