#pragma once

#include "ZoCliDoctor.h"

#include <QList>
#include <QStringList>

// The usual culprits behind a serial adapter that will not carry a flash:
// the braille-display service that claims CH340 and CP210x adapters, an FTDI
// adapter's latency timer that holds back every acknowledgement, ttyUSB
// numbers that swap between identical adapters, and a serial group granted
// after this login began. Each check reads the system below a root folder
// handed in, so that a test hands it a scratch tree; returns findings and
// prints nothing. Used from one thread.
class ZoCliSerialCulprits
{
public:
    using Finding = ZoCliDoctor::Finding;
    using Port = ZoCliDoctor::Port;

    struct System
    {
        QString root = QStringLiteral("/"); // where /dev, /sys, /proc, /etc and /usr are read
        QString user; // this login's user name
        QStringList loginGroups; // the groups this process holds
    };
    // This machine as it is.
    static System current();

    // serialLink: the upgrade's link is serial; linkPort its port as given.
    ZoCliSerialCulprits(const System &system, bool serialLink, const QString &linkPort);

    QList<Finding> run(const QList<Port> &ports) const;
    QList<Finding> checkBrltty() const;
    QList<Finding> checkLatencyTimers(const QList<Port> &ports) const;
    QList<Finding> checkStableNames(const QList<Port> &ports) const;
    QList<Finding> checkLoginGroups() const;

private:
    QString path(const QString &absolute) const;
    bool processRuns(const QString &name) const;

    System m_system;
    bool m_serialLink;
    QString m_linkPort;
};
