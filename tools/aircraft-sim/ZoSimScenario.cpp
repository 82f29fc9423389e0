#include "ZoSimScenario.h"

#include <cmath>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>

namespace {

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool intValue(const QJsonValue &v, qint64 lo, qint64 hi, qint64 *out)
{
    if (v.isDouble()) {
        const double d = v.toDouble();
        // Range before conversion: casting a double that does not fit qint64
        // (or NaN) is undefined.
        if (!(d >= double(lo) && d <= double(hi)) || !(std::fabs(d) < 9.2e18)
            || std::trunc(d) != d)
            return false;
        *out = qint64(d);
        return true;
    }
    if (v.isString()) {
        bool ok = false;
        const qint64 x = v.toString().toLongLong(&ok, 0);
        if (!ok || x < lo || x > hi)
            return false;
        *out = x;
        return true;
    }
    return false;
}

bool isCommentKey(const QString &k)
{
    return k.startsWith(QLatin1Char('_')) || k == QLatin1String("comment");
}

bool loadDevice(const QJsonObject &o, bool isCore, ZoSimDeviceConfig *d, QString *error)
{
    const QString where = isCore ? QStringLiteral("core") : QStringLiteral("module");
    for (auto it = o.begin(); it != o.end(); ++it) {
        const QString k = it.key();
        const QJsonValue v = it.value();
        qint64 x = 0;
        if (isCommentKey(k))
            continue;
        if (k == QLatin1String("type")) {
            if (!intValue(v, 1, 255, &x))
                return fail(error, where + QStringLiteral(": \"type\" must be 1 to 255"));
            d->type = uint8_t(x);
        } else if (k == QLatin1String("node") && !isCore) {
            if (!intValue(v, 0, 255, &x))
                return fail(error, where + QStringLiteral(": \"node\" must be 0 to 255"));
            d->node = uint8_t(x);
        } else if (k == QLatin1String("version")) {
            if (!v.isString() || !ZoSimScenario::parseVersion(v.toString(), d->version))
                return fail(
                    error, where + QStringLiteral(": \"version\" must read MAJOR.MINOR.REVISION"));
        } else if (k == QLatin1String("compileTime")) {
            if (!v.isString() || !ZoSimScenario::parseCompileTime(v.toString(), d->compileTime))
                return fail(error,
                    where + QStringLiteral(": \"compileTime\" must read YYYY-MM-DD hh:mm:ss"));
        } else if (k == QLatin1String("serial") && !isCore) {
            // A string is hexadecimal, as the program shows serial numbers.
            if (v.isString()) {
                bool ok = false;
                const uint s = v.toString().toUInt(&ok, 16);
                if (!ok || s > 0xFFFF)
                    return fail(error, where + QStringLiteral(": \"serial\" must be 16 bits"));
                d->serial = uint16_t(s);
            } else if (intValue(v, 0, 0xFFFF, &x)) {
                d->serial = uint16_t(x);
            } else {
                return fail(error, where + QStringLiteral(": \"serial\" must be 16 bits"));
            }
        } else if (k == QLatin1String("eid") && isCore) {
            if (!v.isString() || !ZoSimScenario::parseHex(v.toString(), &d->eid))
                return fail(
                    error, QStringLiteral("core: \"eid\" must be 1 to 64 bytes of hexadecimal"));
        } else if (k == QLatin1String("eraseMs")) {
            if (!intValue(v, 0, 600000, &x))
                return fail(error, where + QStringLiteral(": \"eraseMs\" must be 0 to 600000"));
            d->eraseMs = int(x);
        } else if (k == QLatin1String("bootloader")) {
            if (!v.isBool())
                return fail(
                    error, where + QStringLiteral(": \"bootloader\" must be true or false"));
            d->bootloader = v.toBool();
        } else if (k == QLatin1String("faults")) {
            ZoSimFaults probe;
            if (!v.isObject() || !probe.apply(v.toObject(), error))
                return error && !error->isEmpty()
                    ? false
                    : fail(error, where + QStringLiteral(": bad \"faults\""));
            d->faultJson = v.toObject();
        } else {
            return fail(error, where + QStringLiteral(": unknown key \"%1\"").arg(k));
        }
    }
    return true;
}

} // namespace

QString ZoSimDeviceConfig::name() const
{
    return QStringLiteral("%1.%2").arg(type).arg(node);
}

ZoSimScenario::ZoSimScenario()
{
    core.type = 80;
    core.version[0] = 2;
    core.version[1] = 19;
    core.version[2] = 3;
    core.eid = QByteArray::fromHex("3A0F2C5D00170043");
}

int ZoSimScenario::busKind(uint8_t type)
{
    if (type == 77 || type == 86)
        return 4;
    if (type == 79 || type == 83)
        return 3;
    if (isCoreType(type))
        return 1;
    return 2;
}

bool ZoSimScenario::isCoreType(uint8_t t)
{
    return (t >= 6 && t <= 12) || t == 15 || (t >= 21 && t <= 26) || (t >= 33 && t <= 35)
        || (t >= 41 && t <= 43) || (t >= 47 && t <= 49) || (t >= 67 && t <= 69)
        || (t >= 80 && t <= 82);
}

bool ZoSimScenario::isCoreBoard(uint8_t t)
{
    return t == 44 || t == 45 || t == 83;
}

bool ZoSimScenario::parseVersion(const QString &text, uint8_t out[3])
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 3)
        return false;
    uint8_t v[3];
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const uint x = parts[i].toUInt(&ok, 10);
        if (!ok || x > 255)
            return false;
        v[i] = uint8_t(x);
    }
    std::copy(v, v + 3, out);
    return true;
}

bool ZoSimScenario::parseCompileTime(const QString &text, uint8_t out[7])
{
    static const QRegularExpression re(
        QStringLiteral("^(\\d{1,5})-(\\d{1,2})-(\\d{1,2})[ T](\\d{1,2}):(\\d{1,2}):(\\d{1,2})$"));
    const QRegularExpressionMatch m = re.match(text.trimmed());
    if (!m.hasMatch())
        return false;
    const uint year = m.captured(1).toUInt();
    const uint f[5] = {m.captured(2).toUInt(), m.captured(3).toUInt(), m.captured(4).toUInt(),
        m.captured(5).toUInt(), m.captured(6).toUInt()};
    if (year > 0xFFFF || f[0] > 12 || f[1] > 31 || f[2] > 23 || f[3] > 59 || f[4] > 59)
        return false;
    out[0] = uint8_t(year & 0xFF);
    out[1] = uint8_t(year >> 8);
    for (int i = 0; i < 5; ++i)
        out[2 + i] = uint8_t(f[i]);
    return true;
}

bool ZoSimScenario::parseHex(const QString &text, QByteArray *out)
{
    QString t = text.trimmed();
    t.remove(QLatin1Char(' '));
    t.remove(QLatin1Char(':'));
    static const QRegularExpression re(QStringLiteral("^([0-9A-Fa-f]{2}){1,64}$"));
    if (!re.match(t).hasMatch())
        return false;
    *out = QByteArray::fromHex(t.toLatin1());
    return true;
}

bool ZoSimScenario::load(const QByteArray &json, QString *error)
{
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &pe);
    if (pe.error != QJsonParseError::NoError)
        return fail(error,
            QStringLiteral("scenario: %1 at offset %2").arg(pe.errorString()).arg(pe.offset));
    if (!doc.isObject())
        return fail(error, QStringLiteral("scenario: the top level must be an object"));
    const QJsonObject o = doc.object();
    for (auto it = o.begin(); it != o.end(); ++it) {
        const QString k = it.key();
        const QJsonValue v = it.value();
        qint64 x = 0;
        if (isCommentKey(k))
            continue;
        if (k == QLatin1String("telemetryMs")) {
            if (!intValue(v, 0, 600000, &x))
                return fail(error, QStringLiteral("scenario: \"telemetryMs\" must be 0 to 600000"));
            telemetryMs = int(x);
        } else if (k == QLatin1String("eraseMs")) {
            if (!intValue(v, 0, 600000, &x))
                return fail(error, QStringLiteral("scenario: \"eraseMs\" must be 0 to 600000"));
            eraseMs = int(x);
        } else if (k == QLatin1String("rebootMs")) {
            if (!intValue(v, 0, 600000, &x))
                return fail(error, QStringLiteral("scenario: \"rebootMs\" must be 0 to 600000"));
            rebootMs = int(x);
        } else if (k == QLatin1String("address")) {
            const QString t = v.isDouble() ? QString::number(v.toInt()) : v.toString();
            if (!setAddressMode(t, error))
                return false;
        } else if (k == QLatin1String("addressValue")) {
            if (!intValue(v, 0, 0xFFFFFFFFll, &x))
                return fail(error, QStringLiteral("scenario: \"addressValue\" must be 32 bits"));
            address = uint32_t(x);
        } else if (k == QLatin1String("core")) {
            if (!v.isObject() || !loadDevice(v.toObject(), true, &core, error))
                return error && !error->isEmpty()
                    ? false
                    : fail(error, QStringLiteral("scenario: bad \"core\""));
        } else if (k == QLatin1String("modules")) {
            if (!v.isArray())
                return fail(error, QStringLiteral("scenario: \"modules\" must be an array"));
            modules.clear();
            for (const QJsonValue &m : v.toArray()) {
                ZoSimDeviceConfig d;
                if (!m.isObject() || !loadDevice(m.toObject(), false, &d, error))
                    return error && !error->isEmpty()
                        ? false
                        : fail(error, QStringLiteral("scenario: bad module entry"));
                if (d.type == 0)
                    return fail(error, QStringLiteral("module: \"type\" is required"));
                modules.append(d);
            }
        } else if (k == QLatin1String("faults")) {
            if (!v.isObject() || !faults.apply(v.toObject(), error))
                return error && !error->isEmpty()
                    ? false
                    : fail(error, QStringLiteral("scenario: bad \"faults\""));
        } else {
            return fail(error, QStringLiteral("scenario: unknown key \"%1\"").arg(k));
        }
    }
    return validate(error);
}

bool ZoSimScenario::setAddressMode(const QString &text, QString *error)
{
    if (text == QLatin1String("none") || text == QLatin1String("0"))
        addressMode = 0;
    else if (text == QLatin1String("4"))
        addressMode = 4;
    else if (text == QLatin1String("8"))
        addressMode = 8;
    else
        return fail(error, QStringLiteral("address must be none, 4 or 8"));
    return true;
}

bool ZoSimScenario::addModule(const QString &text, QString *error)
{
    const QStringList p = text.split(QLatin1Char(':'));
    if (p.size() < 3 || p.size() > 4)
        return fail(error,
            QStringLiteral("--module wants TYPE:NODE:VERSION[:SERIAL], got \"%1\"").arg(text));
    ZoSimDeviceConfig d;
    bool ok1 = false, ok2 = false, ok3 = true;
    const uint type = p[0].toUInt(&ok1, 0);
    const uint node = p[1].toUInt(&ok2, 0);
    uint serial = 0;
    if (p.size() == 4)
        serial = p[3].toUInt(&ok3, 16);
    if (!ok1 || type < 1 || type > 255 || !ok2 || node > 255 || !ok3 || serial > 0xFFFF
        || !parseVersion(p[2], d.version))
        return fail(
            error, QStringLiteral("--module \"%1\": bad type, node, version or serial").arg(text));
    d.type = uint8_t(type);
    d.node = uint8_t(node);
    d.serial = uint16_t(serial);
    for (ZoSimDeviceConfig &m : modules) {
        if (m.type == d.type && m.node == d.node) {
            std::copy(d.version, d.version + 3, m.version);
            m.serial = d.serial;
            return true;
        }
    }
    modules.append(d);
    return true;
}

bool ZoSimScenario::addFault(const QString &text, QString *error)
{
    const int colon = text.indexOf(QLatin1Char(':'));
    // Where a device starts is not a switch every device could share.
    const bool stranded = text.mid(colon + 1) == QLatin1String("bootloader");
    if (colon < 0) {
        if (stranded)
            return fail(
                error, QStringLiteral("--fault bootloader needs a device: DEVICE:bootloader"));
        return faults.applyFlag(text, error);
    }
    const QString dev = text.left(colon);
    const QString flag = text.mid(colon + 1);
    ZoSimFaults probe;
    if (!stranded && !probe.applyFlag(flag, error))
        return false;
    auto apply = [&](ZoSimDeviceConfig &d) {
        if (stranded)
            d.bootloader = true;
        else
            d.faultFlags << flag;
    };
    if (dev == QLatin1String("core")) {
        apply(core);
        return true;
    }
    bool matched = false;
    for (ZoSimDeviceConfig &m : modules) {
        if (dev == QString::number(m.type) || dev == m.name()) {
            apply(m);
            matched = true;
        }
    }
    return matched
        ? true
        : fail(error,
            QStringLiteral("--fault \"%1\": no device \"%2\" (use core, TYPE or TYPE.NODE;"
                           " give --module first)")
                .arg(text, dev));
}

ZoSimFaults ZoSimScenario::faultsFor(const ZoSimDeviceConfig &dev) const
{
    ZoSimFaults f = faults;
    f.apply(dev.faultJson, nullptr);
    for (const QString &flag : dev.faultFlags)
        f.applyFlag(flag, nullptr);
    return f;
}

bool ZoSimScenario::validate(QString *error) const
{
    if (core.type == 0)
        return fail(error, QStringLiteral("core: \"type\" is required"));
    if (modules.size() > 64)
        return fail(error, QStringLiteral("at most 64 modules"));
    for (int i = 0; i < modules.size(); ++i) {
        if (busKind(modules[i].type) == 1)
            return fail(error,
                QStringLiteral("module %1: type %2 is a core type").arg(i).arg(modules[i].type));
        for (int j = 0; j < i; ++j)
            if (modules[i].type == modules[j].type && modules[i].node == modules[j].node)
                return fail(error,
                    QStringLiteral("module %1.%2 is listed twice")
                        .arg(modules[i].type)
                        .arg(modules[i].node));
    }
    return true;
}
