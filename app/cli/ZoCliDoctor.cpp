#include "ZoCliDoctor.h"

#include "ZoCliSerialCulprits.h"
#include "ZoSerialStableNames.h"

#include "ZoCloudAddress.h"
#include "ZoIpv4Address.h"
#include "ZoPlatform.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSet>
#include <QTimer>

#include <memory>

namespace {

using Finding = ZoCliDoctor::Finding;

const QString kUdevRuleFile = QStringLiteral("/etc/udev/rules.d/70-tolvane-modemmanager.rules");

QString hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

// "root:dialout crw-rw----", or nothing where files carry no owner.
QString ownerAndMode(const ZoPlatform::DeviceNode &node)
{
    if (!node.applicable || !node.exists)
        return QString();
    return QStringLiteral("%1:%2 %3").arg(node.owner, node.group, node.mode);
}

// Who may open the node, as far as its owner, group and mode tell.
QString accessWords(const ZoPlatform::DeviceNode &node)
{
    if (node.ownedByUser)
        return QStringLiteral("you own it");
    if (node.groupReadWrite) {
        if (node.inGroup)
            return QStringLiteral("you are in %1").arg(node.group);
        if (node.listedInGroup)
            return QStringLiteral("you were added to %1 after this login").arg(node.group);
        return QStringLiteral("you are not in %1").arg(node.group);
    }
    if (node.othersReadWrite)
        return QStringLiteral("open to everyone");
    return QStringLiteral("only %1 may use it").arg(node.owner);
}

// The way to the rights an open needs, for a node this process may not open.
QString permissionFix(const ZoPlatform::DeviceNode &node, const QString &location)
{
    if (!node.applicable)
        return QStringLiteral("close any program that uses %1, or run as an administrator")
            .arg(location);
    if (node.groupReadWrite && node.listedInGroup)
        return QStringLiteral("log out and in (or run: newgrp %1)").arg(node.group);
    if (node.groupReadWrite)
        return QStringLiteral("sudo usermod -aG %1 $USER, then log out and in").arg(node.group);
    return QStringLiteral("sudo chgrp dialout %1 && sudo chmod 660 %1 (until it is plugged in "
                          "again), and sudo usermod -aG dialout $USER, then log out and in")
        .arg(location);
}

QString networkText(const QHostAddress &address, int prefix)
{
    const quint32 mask = prefix <= 0 ? 0u : ~quint32(0) << (32 - prefix);
    return QStringLiteral("%1/%2")
        .arg(QHostAddress(address.toIPv4Address() & mask).toString())
        .arg(prefix);
}

} // namespace

Finding ZoCliDoctor::finding(
    Level level, const QString &subject, const QString &text, const QString &fix)
{
    Finding f;
    f.level = level;
    f.subject = subject;
    f.text = text;
    f.fix = fix;
    return f;
}

ZoCliDoctor::ZoCliDoctor(const QString &configDir, const ZoPlaneConfig &link, bool linkGiven,
    const QString &cloudUrl, bool configPerUser)
    : m_configDir(configDir)
    , m_link(link)
    , m_linkGiven(linkGiven)
    , m_cloudUrl(cloudUrl)
    , m_configPerUser(configPerUser)
{
}

QList<Finding> ZoCliDoctor::run(const std::function<void(const Finding &)> &found) const
{
    QList<Finding> all;
    auto take = [&](const QList<Finding> &findings) {
        for (const Finding &f : findings) {
            all.append(f);
            if (found)
                found(f);
        }
    };
    take({checkLink()});
    take(checkConfiguration());
    const QList<Port> ports = serialPorts();
    take(checkSerialPorts(ports));
    take(checkModemManager(ports));
    take(ZoCliSerialCulprits(
        ZoCliSerialCulprits::current(), m_link.type == ZoPlaneConfig::LinkSerialPort, m_link.com)
             .run(ports));
    take(checkNetwork());
    take({checkCloud()});
    return all;
}

int ZoCliDoctor::exitCode(const QList<Finding> &findings)
{
    for (const Finding &f : findings)
        if (f.level == Fail)
            return ExitBlocked;
    return 0;
}

QString ZoCliDoctor::linkOrigin() const
{
    return m_linkGiven ? QStringLiteral("given") : QStringLiteral("stored");
}

Finding ZoCliDoctor::checkLink() const
{
    return finding(Ok, QStringLiteral("link"),
        m_linkGiven ? QStringLiteral("%1, given with --link").arg(m_link.text())
                    : QStringLiteral("%1, stored in sysconfig.xml (the default without it); the "
                                     "search tries every serial port too")
                          .arg(m_link.text()));
}

// ---- configuration ----------------------------------------------------------------

QList<Finding> ZoCliDoctor::checkConfiguration() const
{
    const QString subject = QStringLiteral("config %1").arg(QDir::toNativeSeparators(m_configDir));
    const QFileInfo dir(m_configDir);
    if (!dir.exists())
        return {finding(Fail, subject, QStringLiteral("the folder does not exist"),
            QStringLiteral("mkdir -p '%1' and copy sysconfig.xml and busdevcfg.xml into it")
                .arg(m_configDir))};
    if (!dir.isDir())
        return {finding(Fail, subject, QStringLiteral("not a folder"),
            QStringLiteral("move the file '%1' away").arg(m_configDir))};

    QList<Finding> out;
    // Listing, reading and writing: the engine keeps its run journal here
    // and Tolvane saves the link settings here.
    const bool usable = dir.isReadable() && dir.isWritable() && dir.isExecutable();
    if (usable) {
        out.append(finding(Ok, subject,
            m_configPerUser ? QStringLiteral("folder readable and writable (your own)")
                            : QStringLiteral("folder readable and writable (the working directory, "
                                             "which holds its own configuration)")));
    } else {
        QString text
            = QStringLiteral("folder not %1 for you")
                  .arg(dir.isReadable() && dir.isExecutable() ? QStringLiteral("writable")
                                                              : QStringLiteral("readable"));
        const QString mode = ownerAndMode(ZoPlatform::deviceNode(m_configDir));
        if (!mode.isEmpty())
            text += QStringLiteral(" (%1)").arg(mode);
        text += QStringLiteral("; the run journal cannot be kept");
        out.append(finding(Fail, subject, text,
            QStringLiteral("sudo chown -R $USER '%1', or copy its files to a folder of your own")
                .arg(m_configDir)));
    }
    out += checkConfigFile(QStringLiteral("sysconfig.xml"));
    out += checkConfigFile(QStringLiteral("busdevcfg.xml"));

    // Files in the working directory are used only where they can be saved
    // again; a technician editing them there wonders why nothing changes.
    const QDir here = QDir::current();
    if (m_configPerUser && here.absolutePath() != QDir(m_configDir).absolutePath()) {
        for (const QString &name :
            {QStringLiteral("sysconfig.xml"), QStringLiteral("busdevcfg.xml")})
            if (here.exists(name))
                out.append(finding(Warn,
                    QStringLiteral("config %1").arg(QDir::toNativeSeparators(here.filePath(name))),
                    QStringLiteral("not used: the working directory is not writable, so %1 is")
                        .arg(QDir::toNativeSeparators(m_configDir)),
                    QStringLiteral("copy it into %1, or make the working directory writable")
                        .arg(QDir::toNativeSeparators(m_configDir))));
    }
    return out;
}

QList<Finding> ZoCliDoctor::checkConfigFile(const QString &fileName) const
{
    const bool settings = fileName == QLatin1String("sysconfig.xml");
    const QString path = QDir(m_configDir).filePath(fileName);
    const QString subject = QStringLiteral("config %1").arg(QDir::toNativeSeparators(path));
    const QFileInfo file(path);
    if (!file.exists()) {
        if (settings)
            return {finding(Warn, subject,
                QStringLiteral("missing: the default link settings apply"),
                QStringLiteral("save the link settings once in Tolvane, or copy your sysconfig.xml "
                               "into %1")
                    .arg(QDir::toNativeSeparators(m_configDir)))};
        // The installation carries an example beside the program.
        const QString example = QDir(QCoreApplication::applicationDirPath())
                                    .filePath(QStringLiteral("busdevcfg.xml"));
        return {finding(Warn, subject,
            QStringLiteral("missing: tuning modules and servos are not asked for"),
            QFileInfo(example).isFile()
                    && QFileInfo(example).absoluteFilePath() != file.absoluteFilePath()
                ? QStringLiteral("cp '%1' '%2' and list your modules' node ids in it")
                      .arg(example, m_configDir)
                : QStringLiteral("write it with your modules' node ids (see the README's "
                                 "configuration files)"))};
    }
    if (!file.isFile())
        return {finding(Fail, subject, QStringLiteral("not a file"),
            QStringLiteral("move '%1' away and put the file there").arg(path))};

    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        QString text = QStringLiteral("not readable for you");
        const QString mode = ownerAndMode(ZoPlatform::deviceNode(path));
        if (!mode.isEmpty())
            text += QStringLiteral(" (%1)").arg(mode);
        return {finding(Fail, subject, text,
            QStringLiteral("sudo chown $USER '%1' && chmod u+rw '%1'").arg(path))};
    }
    QDomDocument document;
    QString message;
    int line = 0;
    if (!document.setContent(&f, false, &message, &line))
        return {finding(Warn, subject,
            QStringLiteral("not well-formed XML (line %1: %2): the defaults apply")
                .arg(line)
                .arg(message),
            QStringLiteral("correct it, or delete it to start from the defaults"))};
    if (settings && !file.isWritable())
        return {finding(Warn, subject,
            QStringLiteral("readable, not writable: Tolvane cannot save link settings"),
            QStringLiteral("sudo chown $USER '%1' && chmod u+rw '%1'").arg(path))};
    return {finding(Ok, subject,
        QStringLiteral("readable")
            + (file.isWritable() ? QStringLiteral(" and writable") : QString()))};
}

// ---- serial ports -------------------------------------------------------------------

QList<ZoCliDoctor::Port> ZoCliDoctor::serialPorts()
{
    QList<Port> ports;
    QSet<QString> seen;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        Port p;
        p.location = info.systemLocation();
        p.name = info.portName();
        p.hasIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
        p.vendorId = info.vendorIdentifier();
        p.productId = info.productIdentifier();
        seen.insert(p.location);
        ports.append(p);
    }
    // An adapter the enumeration leaves out (no udev database, as in a
    // container) is still a port the search will try.
    for (const QString &node : ZoPlatform::serialAdapterNodes()) {
        if (seen.contains(node))
            continue;
        Port p;
        p.location = node;
        p.name = QFileInfo(node).fileName();
        ports.append(p);
    }
    return ports;
}

bool ZoCliDoctor::isLinkPort(const Port &port) const
{
    if (m_link.type != ZoPlaneConfig::LinkSerialPort || m_link.com.isEmpty())
        return false;
    // A stable name stands for whichever node the adapter has now.
    const QString node = ZoSerialStableNames().nodeOf(m_link.com);
    return node == port.location || m_link.com == port.name;
}

Finding ZoCliDoctor::checkSerialPort(const Port &port, bool linkPort, bool *usable) const
{
    *usable = false;
    const QString subject = QStringLiteral("serial %1").arg(port.location);
    // Where the port is the link's, it failing fails the upgrade; another
    // port is only one of the places the search looks.
    const Level bad = linkPort ? Fail : Warn;
    const ZoPlatform::DeviceNode node = ZoPlatform::deviceNode(port.location);
    QStringList parts;
    if (node.applicable) {
        if (!node.exists)
            return finding(bad, subject, QStringLiteral("no such device node"),
                QStringLiteral(
                    "plug the adapter in; `dmesg | tail` shows whether the system saw it"));
        parts << ownerAndMode(node) << accessWords(node);
    }
    if (port.hasIds)
        parts << QStringLiteral("USB %1:%2").arg(hex4(port.vendorId), hex4(port.productId));
    if (linkPort)
        parts << QStringLiteral("the %1 link's port").arg(linkOrigin());

    // Opened the way the link opens it, and closed again at once.
    QSerialPort serial;
    serial.setPortName(port.location);
    if (serial.open(QIODevice::ReadWrite)) {
        serial.close();
        *usable = true;
        parts << QStringLiteral("opens read-write");
        return finding(Ok, subject, parts.join(QStringLiteral(", ")));
    }
    const QString why = serial.errorString();
    // The mode allows it and still the open is refused: somebody else holds
    // the port (EBUSY, an exclusive open or a lock file). Decided from the
    // rights rather than the message, which follows the locale.
    const bool refused = serial.error() == QSerialPort::PermissionError;
    if (refused && (node.readWrite || !node.applicable)) {
        parts << QStringLiteral("busy: another program holds it (%1)").arg(why);
        return finding(bad, subject, parts.join(QStringLiteral(", ")),
            node.applicable
                ? QStringLiteral("close the program that holds it (sudo fuser -v %1 names it)")
                      .arg(port.location)
                : QStringLiteral("close the program that holds it"));
    }
    if (refused || (node.applicable && !node.readWrite)) {
        parts << QStringLiteral("cannot open it read-write (%1)").arg(why);
        return finding(
            bad, subject, parts.join(QStringLiteral(", ")), permissionFix(node, port.location));
    }
    parts << QStringLiteral("cannot open it (%1)").arg(why);
    return finding(bad, subject, parts.join(QStringLiteral(", ")),
        QStringLiteral("plug the adapter in again; `dmesg | tail` shows what the system saw"));
}

QList<Finding> ZoCliDoctor::checkSerialPorts(const QList<Port> &ports) const
{
    const bool serialLink = m_link.type == ZoPlaneConfig::LinkSerialPort;
    QList<Finding> out;
    int usableCount = 0;
    bool linkPortSeen = false;
    for (const Port &port : ports) {
        const bool linkPort = isLinkPort(port);
        linkPortSeen = linkPortSeen || linkPort;
        bool usable = false;
        out.append(checkSerialPort(port, linkPort, &usable));
        usableCount += usable ? 1 : 0;
    }
    if (!serialLink) {
        if (ports.isEmpty())
            out.append(finding(Ok, QStringLiteral("serial"),
                QStringLiteral("no serial port present (the %1 link is not serial)")
                    .arg(linkOrigin())));
        return out;
    }
    if (!linkPortSeen && !m_link.com.isEmpty()) {
        // A node the enumeration does not list (a pty, a symlink a udev
        // rule made) is still what the link opens by name.
        Port port;
        port.name = m_link.com;
        port.location = m_link.com;
#ifndef Q_OS_WIN
        if (!port.location.startsWith(QLatin1Char('/')))
            port.location.prepend(QStringLiteral("/dev/"));
#endif
        const ZoPlatform::DeviceNode node = ZoPlatform::deviceNode(port.location);
        if (node.applicable && node.exists) {
            bool usable = false;
            out.append(checkSerialPort(port, true, &usable));
            usableCount += usable ? 1 : 0;
        } else {
            // An explicit link opens only its own port; the stored one is
            // only where the search begins.
            out.append(
                finding(m_linkGiven ? Fail : Warn, QStringLiteral("serial %1").arg(m_link.com),
                    m_linkGiven ? QStringLiteral("the given port is not present")
                                : QStringLiteral("the stored port is not present; the search tries "
                                                 "the others"),
                    QStringLiteral(
                        "plug the adapter in; `dmesg | tail` shows the name the system gave it")));
        }
    }
    if (usableCount == 0) {
        bool failed = false;
        for (const Finding &f : qAsConst(out))
            failed = failed || f.level == Fail;
        if (!failed)
            out.append(finding(Fail, QStringLiteral("serial"),
                ports.isEmpty()
                    ? QStringLiteral("no serial port present, and the %1 link is serial")
                          .arg(linkOrigin())
                    : QStringLiteral("no serial port can be opened, and the %1 link is "
                                     "serial")
                          .arg(linkOrigin()),
                ports.isEmpty() ? QStringLiteral("plug the adapter in; `dmesg | tail` shows "
                                                 "whether the system saw it")
                                : QStringLiteral("see the serial lines above")));
    }
    return out;
}

QList<Finding> ZoCliDoctor::checkModemManager(const QList<Port> &ports) const
{
    const QString subject = QStringLiteral("modemmanager");
    switch (ZoPlatform::processPresence(QStringLiteral("ModemManager"))) {
    case ZoPlatform::ProcessUnknown:
        return {finding(Ok, subject, QStringLiteral("not applicable on this system"))};
    case ZoPlatform::ProcessAbsent:
        return {finding(Ok, subject, QStringLiteral("not running"))};
    case ZoPlatform::ProcessRunning:
        break;
    }
    if (ports.isEmpty() && m_link.type != ZoPlaneConfig::LinkSerialPort)
        return {finding(Ok, subject, QStringLiteral("running; no serial port for it to take"))};

    // It opens every new serial adapter to probe it for a modem, holding it
    // for seconds, and its AT commands land in the aircraft's link.
    const QString text
        = QStringLiteral("running: it probes serial adapters when they appear and can hold them");
    const QString then = QStringLiteral(", then sudo udevadm control --reload and plug the adapter "
                                        "in again");
    QList<Finding> out;
    QSet<quint32> seen;
    for (const Port &p : ports) {
        if (!p.hasIds || seen.contains(quint32(p.vendorId) << 16 | p.productId))
            continue;
        seen.insert(quint32(p.vendorId) << 16 | p.productId);
        out.append(finding(Warn, QStringLiteral("%1 %2").arg(subject, p.location), text,
            QStringLiteral(
                "put this line in %1: ATTRS{idVendor}==\"%2\", ATTRS{idProduct}==\"%3\", "
                "ENV{ID_MM_DEVICE_IGNORE}=\"1\"")
                    .arg(kUdevRuleFile, hex4(p.vendorId), hex4(p.productId))
                + then));
    }
    if (out.isEmpty())
        out.append(finding(Warn, subject, text,
            QStringLiteral("put this line in %1: KERNEL==\"ttyUSB[0-9]*|ttyACM[0-9]*\", "
                           "ENV{ID_MM_DEVICE_IGNORE}=\"1\"")
                    .arg(kUdevRuleFile)
                + then));
    return out;
}

// ---- network ------------------------------------------------------------------------

QList<Finding> ZoCliDoctor::checkNetwork() const
{
    QString kind;
    QString host;
    switch (m_link.type) {
    case ZoPlaneConfig::LinkSerialPort:
        return {};
    case ZoPlaneConfig::LinkTcpClient:
        kind = QStringLiteral("tcp");
        host = m_link.TcpServerHost;
        break;
    default:
        kind = QStringLiteral("udp");
        host = m_link.host;
        break;
    }
    const QString subject = QStringLiteral("network %1 %2").arg(kind, host);
    if (!ZoIpv4Address::parse(host, nullptr))
        return {finding(Warn, subject,
            QStringLiteral("not a dotted IPv4 address: the link cannot open"),
            QStringLiteral("set the aircraft's IPv4 address in the link settings"))};
    const QHostAddress endpoint(host);

    QStringList networks;
    QString suggestedInterface;
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        const auto flags = iface.flags();
        if (!(flags & QNetworkInterface::IsUp))
            continue;
        if (suggestedInterface.isEmpty() && !(flags & QNetworkInterface::IsLoopBack)
            && (flags & QNetworkInterface::IsRunning))
            suggestedInterface = iface.name();
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            int prefix = entry.prefixLength();
            if (prefix < 0 || prefix > 32)
                prefix = 32;
            if (endpoint.isInSubnet(ip, prefix))
                return {finding(Ok, subject,
                    QStringLiteral("in %1 on %2 (this machine is %3)")
                        .arg(networkText(ip, prefix), iface.name(), ip.toString()))};
            networks << QStringLiteral("%1 %2/%3").arg(iface.name(), ip.toString()).arg(prefix);
        }
    }
    // The aircraft's side is a /24 in every setup seen so far; any address
    // of it but the aircraft's own will do.
    const quint32 base = endpoint.toIPv4Address() & 0xFFFFFF00u;
    const quint32 mine = base | ((endpoint.toIPv4Address() & 0xFFu) == 100 ? 101u : 100u);
    QString fix
        = QStringLiteral("give this machine an address in %1").arg(networkText(endpoint, 24));
#ifdef Q_OS_LINUX
    fix += QStringLiteral(", e.g. sudo ip addr add %1/24 dev %2")
               .arg(QHostAddress(mine).toString(),
                   suggestedInterface.isEmpty() ? QStringLiteral("<interface>")
                                                : suggestedInterface);
#else
    fix += QStringLiteral(", e.g. %1 in the adapter's IPv4 settings")
               .arg(QHostAddress(mine).toString());
#endif
    return {finding(Warn, subject,
        QStringLiteral("in none of this machine's networks (%1)")
            .arg(networks.isEmpty() ? QStringLiteral("none up")
                                    : networks.join(QStringLiteral(", "))),
        fix)};
}

// ---- cloud --------------------------------------------------------------------------

Finding ZoCliDoctor::checkCloud(int timeoutMs) const
{
    const QString subject = QStringLiteral("cloud %1").arg(m_cloudUrl);
    // A stale or mistyped override is a classic reason for a silent cloud.
    QString origin;
    QString given = qEnvironmentVariable(ZoCloudAddress::EnvironmentVariable).trimmed();
    while (given.endsWith(QLatin1Char('/')))
        given.chop(1);
    const QLatin1String variable(ZoCloudAddress::EnvironmentVariable);
    if (!given.isEmpty() && given == m_cloudUrl)
        origin = QStringLiteral(" (address from %1)").arg(variable);
    else if (!given.isEmpty() && m_cloudUrl == ZoCloudAddress::defaultBaseUrl())
        origin
            = QStringLiteral(" (%1 is not an http or https address and is ignored)").arg(variable);
    const QString offline = QStringLiteral("; offline, --firmware DIR needs no cloud");

    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(m_cloudUrl + QLatin1Char('/')));
    // Any answer will do, a redirection too.
    request.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(timeoutMs);
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QNetworkReply> reply(manager.head(request));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // The transfer timeout ends the request; this only guards against it not.
    QTimer::singleShot(timeoutMs + 1000, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    const bool finished = reply->isFinished();
    if (!finished)
        reply->abort();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (finished && status.isValid())
        return finding(Ok, subject,
            QStringLiteral("answers (HTTP %1 after %2 s)%3")
                .arg(status.toInt())
                .arg(double(clock.elapsed()) / 1000.0, 0, 'f', 1)
                .arg(origin));

    const QUrl url(m_cloudUrl);
    QString text;
    QString fix = QStringLiteral("check this machine's connection to the internet");
    switch (finished ? reply->error() : QNetworkReply::OperationCanceledError) {
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        text = QStringLiteral("no answer within %1 s").arg(timeoutMs / 1000);
        break;
    case QNetworkReply::HostNotFoundError:
        text = QStringLiteral("the name %1 does not resolve").arg(url.host());
        fix = QStringLiteral("check the DNS settings (getent hosts %1)").arg(url.host());
        break;
    case QNetworkReply::ConnectionRefusedError:
        text = QStringLiteral("nothing listens at %1:%2")
                   .arg(url.host())
                   .arg(url.port(url.scheme() == QLatin1String("https") ? 443 : 80));
        break;
    case QNetworkReply::SslHandshakeFailedError:
        text = QStringLiteral("the TLS handshake failed (%1)").arg(reply->errorString());
        fix = QStringLiteral("check the system clock and the CA certificates");
        break;
    default:
        text = reply->errorString();
        break;
    }
    if (!given.isEmpty())
        fix += QStringLiteral(" and %1").arg(variable);
    return finding(Warn, subject, text + origin, fix + offline);
}
