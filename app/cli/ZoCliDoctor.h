#pragma once

#include "ZoPlaneConfig.h"

#include <QList>
#include <QString>

#include <functional>

// tolvane-cli --doctor: why this machine may not reach the aircraft or the
// cloud. Each check returns findings and prints nothing (ZoCliDoctorPrinter
// turns them into lines). A Fail is something that stops an upgrade; a Warn
// may cost a search or a download but leaves a way through.
class ZoCliDoctor
{
public:
    enum Level { Ok, Warn, Fail };
    struct Finding
    {
        Level level = Ok;
        QString subject; // "serial /dev/ttyUSB0", "config", "cloud", ...
        QString text;
        QString fix; // empty where nothing is to be done
    };

    // A serial port as the checks see it; vendor and product ids only where
    // the system names them (USB adapters).
    struct Port
    {
        QString location; // what is opened: /dev/ttyUSB0, \\.\COM3
        QString name; // ttyUSB0, COM3: how the link settings may name it
        bool hasIds = false;
        quint16 vendorId = 0;
        quint16 productId = 0;
    };

    static constexpr int ExitBlocked = 6;
    static constexpr int CloudTimeoutMs = 5000;

    // configDir: the folder of sysconfig.xml and busdevcfg.xml; configPerUser:
    // it is the user's own rather than the working directory. link: the link
    // an upgrade would take first; linkGiven: it came from --link rather than
    // from sysconfig.xml. cloudUrl: the cloud's base address.
    ZoCliDoctor(const QString &configDir, const ZoPlaneConfig &link, bool linkGiven,
        const QString &cloudUrl, bool configPerUser = false);

    // Every check in turn; found sees each finding as soon as it is made, as
    // the cloud may take its whole timeout to answer.
    QList<Finding> run(const std::function<void(const Finding &)> &found = {}) const;

    Finding checkLink() const;
    QList<Finding> checkConfiguration() const;
    // The system's ports and the USB serial nodes it may not list.
    static QList<Port> serialPorts();
    QList<Finding> checkSerialPorts(const QList<Port> &ports) const;
    QList<Finding> checkModemManager(const QList<Port> &ports) const;
    // The link's endpoint against this machine's IPv4 networks; nothing for
    // a serial link.
    QList<Finding> checkNetwork() const;
    Finding checkCloud(int timeoutMs = CloudTimeoutMs) const;

    static Finding finding(
        Level level, const QString &subject, const QString &text, const QString &fix = {});
    // ExitBlocked when any finding is a Fail, otherwise 0.
    static int exitCode(const QList<Finding> &findings);

private:
    Finding checkSerialPort(const Port &port, bool isLinkPort, bool *usable) const;
    QList<Finding> checkConfigFile(const QString &fileName) const;
    bool isLinkPort(const Port &port) const;
    QString linkOrigin() const;

    QString m_configDir;
    ZoPlaneConfig m_link;
    bool m_linkGiven;
    QString m_cloudUrl;
    bool m_configPerUser;
};
