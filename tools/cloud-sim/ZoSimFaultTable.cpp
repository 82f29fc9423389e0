#include "ZoSimFaultTable.h"

#include <QFile>
#include <QJsonDocument>
#include <QStringList>

namespace {

bool readInt(const QJsonValue &v, int minimum, int *out)
{
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (d != static_cast<double>(static_cast<qint64>(d)) || d < minimum || d > 1e9)
        return false;
    *out = static_cast<int>(d);
    return true;
}

bool readFlag(const QJsonValue &v, bool *out)
{
    if (v.isBool()) {
        *out = v.toBool();
        return true;
    }
    return false;
}

} // namespace

QString ZoSimFault::describe() const
{
    QStringList parts;
    if (delayMs > 0)
        parts << QStringLiteral("delay=%1").arg(delayMs);
    if (hangSec > 0)
        parts << QStringLiteral("hang=%1").arg(hangSec);
    if (httpStatus > 0)
        parts << QStringLiteral("status=%1").arg(httpStatus);
    if (apiStatus > 0)
        parts << QStringLiteral("apiStatus=%1").arg(apiStatus);
    if (emptyBody)
        parts << QStringLiteral("empty");
    if (malformed)
        parts << QStringLiteral("malformed");
    if (drop)
        parts << (dropAfter >= 0 ? QStringLiteral("drop=%1").arg(dropAfter)
                                 : QStringLiteral("drop"));
    if (rateBytesPerSec > 0)
        parts << QStringLiteral("rate=%1").arg(rateBytesPerSec);
    if (stallSec > 0)
        parts << QStringLiteral("stall=%1").arg(stallSec);
    if (stallAfter >= 0)
        parts << QStringLiteral("stallAt=%1").arg(stallAfter);
    if (chunked)
        parts << QStringLiteral("chunked");
    return parts.join(QLatin1Char(','));
}

bool ZoSimFaultTable::loadFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &pe);
    if (pe.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = QStringLiteral("%1: not a JSON object (%2)").arg(path, pe.errorString());
        return false;
    }
    const QJsonValue faults = doc.object().value(QStringLiteral("faults"));
    if (faults.isUndefined())
        return true;
    if (!faults.isObject()) {
        *error = QStringLiteral("%1: \"faults\" must be an object").arg(path);
        return false;
    }
    const QJsonObject table = faults.toObject();
    for (auto it = table.begin(); it != table.end(); ++it) {
        if (!it.value().isObject()) {
            *error = QStringLiteral("%1: fault for %2 must be an object").arg(path, it.key());
            return false;
        }
        if (!addRule(it.key(), it.value().toObject(), error))
            return false;
    }
    return true;
}

bool ZoSimFaultTable::addRule(const QString &pattern, const QJsonObject &settings, QString *error)
{
    Rule rule;
    rule.pattern = pattern;
    if (pattern.endsWith(QLatin1Char('*'))) {
        rule.prefix = true;
        rule.pattern.chop(1);
    }
    if (!rule.pattern.startsWith(QLatin1Char('/'))) {
        *error = QStringLiteral("fault path %1 must start with /").arg(pattern);
        return false;
    }
    for (auto it = settings.begin(); it != settings.end(); ++it) {
        const QString &k = it.key();
        const QJsonValue &v = it.value();
        bool ok = false;
        if (k == QLatin1String("delay"))
            ok = readInt(v, 0, &rule.fault.delayMs);
        else if (k == QLatin1String("hang"))
            ok = readInt(v, 0, &rule.fault.hangSec);
        else if (k == QLatin1String("status"))
            ok = readInt(v, 100, &rule.fault.httpStatus) && rule.fault.httpStatus <= 599;
        else if (k == QLatin1String("apiStatus"))
            ok = readInt(v, 1, &rule.fault.apiStatus);
        else if (k == QLatin1String("empty"))
            ok = readFlag(v, &rule.fault.emptyBody);
        else if (k == QLatin1String("malformed"))
            ok = readFlag(v, &rule.fault.malformed);
        else if (k == QLatin1String("times"))
            ok = readInt(v, 0, &rule.times);
        else if (k == QLatin1String("stall"))
            ok = readInt(v, 1, &rule.fault.stallSec);
        else if (k == QLatin1String("chunked"))
            ok = readFlag(v, &rule.fault.chunked);
        else if (k == QLatin1String("rate")) {
            int bytes = 0;
            ok = readInt(v, 1, &bytes);
            rule.fault.rateBytesPerSec = bytes;
        } else if (k == QLatin1String("stallAt")) {
            int bytes = 0;
            ok = readInt(v, 0, &bytes);
            rule.fault.stallAfter = ok ? bytes : -1;
        } else if (k == QLatin1String("drop")) {
            int bytes = 0;
            if (readFlag(v, &rule.fault.drop)) {
                ok = true;
            } else if (readInt(v, 0, &bytes)) {
                rule.fault.drop = true;
                rule.fault.dropAfter = bytes;
                ok = true;
            }
        } else {
            *error = QStringLiteral("unknown fault kind %1 for %2").arg(k, pattern);
            return false;
        }
        if (!ok) {
            *error = QStringLiteral("bad value for fault %1 of %2").arg(k, pattern);
            return false;
        }
    }
    if (rule.fault.stallAfter >= 0 && rule.fault.stallSec == 0) {
        *error = QStringLiteral("fault stallAt of %1 needs stall").arg(pattern);
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rules.push_back(rule);
    return true;
}

bool ZoSimFaultTable::addFlag(const QString &flag, QString *error)
{
    const int colon = flag.indexOf(QLatin1Char(':'));
    if (colon <= 0) {
        *error = QStringLiteral("fault %1: expected PATH:kind[=value][,...]").arg(flag);
        return false;
    }
    QJsonObject settings;
    const QStringList kinds = flag.mid(colon + 1).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &kind : kinds) {
        const int eq = kind.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? kind : kind.left(eq);
        if (eq < 0) {
            settings.insert(name, true);
            continue;
        }
        bool ok = false;
        const qint64 n = kind.mid(eq + 1).toLongLong(&ok);
        if (!ok) {
            *error = QStringLiteral("fault %1: %2 needs a number").arg(flag, name);
            return false;
        }
        settings.insert(name, static_cast<double>(n));
    }
    return addRule(flag.left(colon), settings, error);
}

ZoSimFault ZoSimFaultTable::take(const std::string &path)
{
    const QString p = QString::fromStdString(path);
    std::lock_guard<std::mutex> lock(m_mutex);
    Rule *best = nullptr;
    for (Rule &r : m_rules) {
        if (r.times > 0 && r.used >= r.times)
            continue;
        const bool hit = r.prefix ? p.startsWith(r.pattern) : p == r.pattern;
        if (!hit)
            continue;
        if (!best || (!r.prefix && best->prefix)
            || (r.prefix == best->prefix && r.pattern.size() > best->pattern.size()))
            best = &r;
    }
    if (!best)
        return {};
    ++best->used;
    return best->fault;
}
