#include "ZoCliSerialCulprits.h"

#include "ZoPlatform.h"
#include "ZoSerialStableNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace {

using Finding = ZoCliSerialCulprits::Finding;
using Level = ZoCliDoctor::Level;

QByteArray readTrimmed(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(4096).trimmed() : QByteArray();
}

// The adapters brltty's udev rule claims, as "vendor:product".
const QStringList kBrailleClaimed {
    QStringLiteral("1a86:7523"), QStringLiteral("1a86:5523"), QStringLiteral("10c4:ea60")};

// The groups whose members may open serial nodes on the usual systems.
const QStringList kSerialGroups {QStringLiteral("dialout"), QStringLiteral("uucp")};

const QString kLatencyRuleFile = QStringLiteral("/etc/udev/rules.d/71-tolvane-ftdi-latency.rules");

} // namespace

ZoCliSerialCulprits::System ZoCliSerialCulprits::current()
{
    System s;
    s.user = qEnvironmentVariable("USER");
    s.loginGroups = ZoPlatform::processGroupNames();
    return s;
}

ZoCliSerialCulprits::ZoCliSerialCulprits(
    const System &system, bool serialLink, const QString &linkPort)
    : m_system(system)
    , m_serialLink(serialLink)
    , m_linkPort(linkPort)
{
}

QString ZoCliSerialCulprits::path(const QString &absolute) const
{
    return QDir::cleanPath(m_system.root + QLatin1Char('/') + absolute);
}

bool ZoCliSerialCulprits::processRuns(const QString &name) const
{
    const QDir proc(path(QStringLiteral("/proc")));
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool pid = false;
        entry.toLong(&pid);
        if (pid && readTrimmed(proc.filePath(entry + QStringLiteral("/comm"))) == name.toUtf8())
            return true;
    }
    return false;
}

QList<Finding> ZoCliSerialCulprits::run(const QList<Port> &ports) const
{
    return checkBrltty() + checkLatencyTimers(ports) + checkStableNames(ports) + checkLoginGroups();
}

QList<Finding> ZoCliSerialCulprits::checkBrltty() const
{
    const QString subject = QStringLiteral("brltty");
    QStringList rules;
    for (const QString &dir : {QStringLiteral("/usr/lib/udev/rules.d"),
             QStringLiteral("/lib/udev/rules.d"), QStringLiteral("/etc/udev/rules.d")})
        for (const QString &name :
            QDir(path(dir)).entryList({QStringLiteral("*brltty*.rules")}, QDir::Files))
            rules.append(dir + QLatin1Char('/') + name);
    const bool running = processRuns(subject);
    const bool installed = running || !rules.isEmpty()
        || QFileInfo::exists(path(QStringLiteral("/usr/bin/brltty")))
        || QFileInfo::exists(path(QStringLiteral("/bin/brltty")));
    if (!installed)
        return {ZoCliDoctor::finding(ZoCliDoctor::Ok, subject, QStringLiteral("not installed"))};
    if (!running && rules.isEmpty())
        return {ZoCliDoctor::finding(ZoCliDoctor::Ok, subject,
            QStringLiteral("installed, not running, and no udev rule starts it"))};

    // A claimed adapter loses its ttyUSB node, so it is looked for among the
    // USB devices rather than the serial ports.
    QStringList claimed;
    const QDir usb(path(QStringLiteral("/sys/bus/usb/devices")));
    for (const QString &dev : usb.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        const QString id
            = QString::fromLatin1(readTrimmed(usb.filePath(dev + QStringLiteral("/idVendor"))) + ':'
                + readTrimmed(usb.filePath(dev + QStringLiteral("/idProduct"))));
        if (kBrailleClaimed.contains(id) && !claimed.contains(id))
            claimed.append(id);
    }
    QString text = running ? QStringLiteral("running") : QStringLiteral("installed");
    text += QStringLiteral(": the braille-display service claims CH340 and CP210x serial adapters "
                           "as they are plugged in, and their ttyUSB node goes away");
    if (!claimed.isEmpty())
        text += QStringLiteral(" (plugged in now: %1)").arg(claimed.join(QStringLiteral(", ")));
    const QString fix
        = QStringLiteral("without a braille display: sudo apt remove brltty; with one: sudo "
                         "systemctl mask brltty-udev.service and comment out the 1a86 and 10c4 "
                         "lines of %1; then plug the adapter in again")
              .arg(rules.value(0, QStringLiteral("/usr/lib/udev/rules.d/85-brltty.rules")));
    const Level level = !claimed.isEmpty() && m_serialLink ? ZoCliDoctor::Fail : ZoCliDoctor::Warn;
    return {ZoCliDoctor::finding(level, subject, text, fix)};
}

QList<Finding> ZoCliSerialCulprits::checkLatencyTimers(const QList<Port> &ports) const
{
    QList<Finding> out;
    for (const Port &port : ports) {
        const QString name = QFileInfo(port.location).fileName();
        const QByteArray value = readTrimmed(
            path(QStringLiteral("/sys/bus/usb-serial/devices/%1/latency_timer").arg(name)));
        bool ok = false;
        const int ms = value.toInt(&ok);
        if (!ok)
            continue; // no FTDI adapter
        const QString subject = QStringLiteral("latency %1").arg(port.location);
        if (ms <= 1) {
            out.append(ZoCliDoctor::finding(
                ZoCliDoctor::Ok, subject, QStringLiteral("FTDI latency timer 1 ms")));
            continue;
        }
        out.append(ZoCliDoctor::finding(ZoCliDoctor::Warn, subject,
            QStringLiteral("FTDI latency timer %1 ms: every acknowledged block waits up to that "
                           "long before it is passed on")
                .arg(ms),
            QStringLiteral("now: echo 1 | sudo tee /sys/bus/usb-serial/devices/%1/latency_timer; "
                           "for good, put this line in %2: ACTION==\"add\", "
                           "SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", "
                           "ATTR{latency_timer}=\"1\"")
                .arg(name, kLatencyRuleFile)));
    }
    return out;
}

QList<Finding> ZoCliSerialCulprits::checkStableNames(const QList<Port> &ports) const
{
    const QMap<QString, QString> names = ZoSerialStableNames(m_system.root).byNode();
    QHash<QString, int> sameKind;
    for (const Port &port : ports)
        if (port.hasIds)
            ++sameKind[QStringLiteral("%1:%2").arg(port.vendorId).arg(port.productId)];
    QList<Finding> out;
    for (const Port &port : ports) {
        const QString stable = names.value(port.location);
        if (stable.isEmpty())
            continue;
        const QString subject = QStringLiteral("name %1").arg(port.location);
        const bool twin = port.hasIds
            && sameKind.value(QStringLiteral("%1:%2").arg(port.vendorId).arg(port.productId)) > 1;
        const bool linkByNumber = m_serialLink && !m_linkPort.isEmpty()
            && (m_linkPort == port.location || m_linkPort == port.name);
        if (twin && linkByNumber)
            out.append(ZoCliDoctor::finding(ZoCliDoctor::Warn, subject,
                QStringLiteral("the link names it by number, and an identical adapter is plugged "
                               "in: the two may swap numbers; its stable name is %1")
                    .arg(stable),
                QStringLiteral("--link serial:%1 (or pick that name in the window's port list)")
                    .arg(stable)));
        else
            out.append(ZoCliDoctor::finding(ZoCliDoctor::Ok, subject,
                QStringLiteral("stable name %1 (--link serial:%1)").arg(stable)));
    }
    return out;
}

QList<Finding> ZoCliSerialCulprits::checkLoginGroups() const
{
    if (m_system.user.isEmpty())
        return {};
    QFile groups(path(QStringLiteral("/etc/group")));
    if (!groups.open(QIODevice::ReadOnly))
        return {};
    QList<Finding> out;
    while (!groups.atEnd()) {
        // name:password:gid:member,member
        const QList<QByteArray> f = groups.readLine().trimmed().split(':');
        const QString group = QString::fromUtf8(f.value(0));
        if (f.size() < 4 || !kSerialGroups.contains(group))
            continue;
        const QStringList members
            = QString::fromUtf8(f.value(3)).split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (!members.contains(m_system.user))
            continue;
        const QString subject = QStringLiteral("group %1").arg(group);
        if (m_system.loginGroups.contains(group))
            out.append(ZoCliDoctor::finding(
                ZoCliDoctor::Ok, subject, QStringLiteral("this login holds it")));
        else
            out.append(ZoCliDoctor::finding(ZoCliDoctor::Warn, subject,
                QStringLiteral("%1 was added to %2 after this login began, so serial adapters "
                               "are still closed to it")
                    .arg(m_system.user, group),
                QStringLiteral("log out and in (or run: newgrp %1)").arg(group)));
    }
    return out;
}
