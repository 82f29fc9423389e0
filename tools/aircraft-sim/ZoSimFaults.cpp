#include "ZoSimFaults.h"

#include <QJsonValue>

namespace {

struct Field
{
    const char *json;
    const char *flag;
    bool isBool;
    int minimum;
};

const Field kFields[] = {
    {"dropAckEvery", "drop-ack-every", false, 0},
    {"corruptEvery", "corrupt-every", false, 0},
    {"latencyMs", "latency-ms", false, 0},
    {"stallAfterBlocks", "stall-after-blocks", false, -1},
    {"closeAfterBlocks", "close-after-blocks", false, -1},
    {"neverAckErase", "never-ack-erase", true, 0},
    {"refuseKey", "refuse-key", true, 0},
    {"keepOldFirmware", "keep-old-firmware", true, 0},
    {"noIdentity", "no-identity", true, 0},
};

void store(ZoSimFaults &f, int index, int value)
{
    switch (index) {
    case 0:
        f.dropAckEvery = value;
        break;
    case 1:
        f.corruptEvery = value;
        break;
    case 2:
        f.latencyMs = value;
        break;
    case 3:
        f.stallAfterBlocks = value;
        break;
    case 4:
        f.closeAfterBlocks = value;
        break;
    case 5:
        f.neverAckErase = value != 0;
        break;
    case 6:
        f.refuseKey = value != 0;
        break;
    case 7:
        f.keepOldFirmware = value != 0;
        break;
    case 8:
        f.noIdentity = value != 0;
        break;
    default:
        break;
    }
}

} // namespace

bool ZoSimFaults::apply(const QJsonObject &o, QString *error)
{
    for (auto it = o.begin(); it != o.end(); ++it) {
        int index = -1;
        for (int i = 0; i < int(sizeof kFields / sizeof kFields[0]); ++i)
            if (it.key() == QLatin1String(kFields[i].json))
                index = i;
        if (index < 0) {
            if (error)
                *error = QStringLiteral("unknown fault \"%1\"").arg(it.key());
            return false;
        }
        const Field &f = kFields[index];
        const QJsonValue v = it.value();
        int value = 0;
        if (f.isBool && v.isBool()) {
            value = v.toBool() ? 1 : 0;
        } else if (!f.isBool && v.isDouble() && v.toDouble() == double(int(v.toDouble()))
            && v.toDouble() >= f.minimum && v.toDouble() <= 1e9) {
            value = int(v.toDouble());
        } else {
            if (error)
                *error = QStringLiteral("fault \"%1\" has a bad value").arg(it.key());
            return false;
        }
        store(*this, index, value);
    }
    return true;
}

bool ZoSimFaults::applyFlag(const QString &nameValue, QString *error)
{
    const int eq = nameValue.indexOf(QLatin1Char('='));
    const QString name = eq < 0 ? nameValue : nameValue.left(eq);
    const QString text = eq < 0 ? QString() : nameValue.mid(eq + 1);
    for (int i = 0; i < int(sizeof kFields / sizeof kFields[0]); ++i) {
        const Field &f = kFields[i];
        if (name != QLatin1String(f.flag) && name != QLatin1String(f.json))
            continue;
        int value = 1;
        if (f.isBool) {
            if (!text.isEmpty() && text != QLatin1String("1") && text != QLatin1String("true")) {
                value = (text == QLatin1String("0") || text == QLatin1String("false")) ? 0 : -2;
                if (value == -2) {
                    if (error)
                        *error = QStringLiteral("fault \"%1\" takes true or false").arg(name);
                    return false;
                }
            }
        } else {
            bool ok = false;
            value = text.toInt(&ok);
            if (!ok || value < f.minimum) {
                if (error)
                    *error = QStringLiteral("fault \"%1\" needs a number (%2 or more)")
                                 .arg(name)
                                 .arg(f.minimum);
                return false;
            }
        }
        store(*this, i, value);
        return true;
    }
    if (error)
        *error = QStringLiteral("unknown fault \"%1\"").arg(name);
    return false;
}

QJsonObject ZoSimFaults::toJson() const
{
    QJsonObject o;
    o[QStringLiteral("dropAckEvery")] = dropAckEvery;
    o[QStringLiteral("corruptEvery")] = corruptEvery;
    o[QStringLiteral("latencyMs")] = latencyMs;
    o[QStringLiteral("stallAfterBlocks")] = stallAfterBlocks;
    o[QStringLiteral("closeAfterBlocks")] = closeAfterBlocks;
    o[QStringLiteral("neverAckErase")] = neverAckErase;
    o[QStringLiteral("refuseKey")] = refuseKey;
    o[QStringLiteral("keepOldFirmware")] = keepOldFirmware;
    o[QStringLiteral("noIdentity")] = noIdentity;
    return o;
}
