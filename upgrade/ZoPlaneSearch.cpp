#include "ZoPlaneSearch.h"

#include "ZoMsgLooper.h"

#include <QSerialPortInfo>
#include <QDebug>
#include <QTimer>

#include <utility>

namespace {

QList<ZoPlaneSearch::PortCandidate> systemPorts()
{
    QList<ZoPlaneSearch::PortCandidate> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        ZoPlaneSearch::PortCandidate port;
        port.name = info.portName();
        port.isNull = info.isNull();
        port.hasIdentifiers = info.hasVendorIdentifier() || info.hasProductIdentifier();
        port.busy = info.isBusy();
        ports.append(port);
    }
    return ports;
}

} // namespace

ZoPlaneSearch::ZoPlaneSearch(QObject *parent)
    : QObject(parent)
    , m_enumerator(systemPorts)
    , m_detectTimer(std::make_unique<QTimer>(this))
    , m_waitPlaneDataTimer(std::make_unique<QTimer>(this))
    , m_waitModuleInfoTimer(std::make_unique<QTimer>(this))
{
    // The timers are children too, so that they follow a moveToThread; the
    // unique_ptrs delete them before QObject would.
    // The signals' typedef names, for queued connections and signal spies.
    qRegisterMetaType<tdu1>("tdu1");
    qRegisterMetaType<tdu4>("tdu4");
    qRegisterMetaType<tds4>("tds4");
    qRegisterMetaType<ZoPlaneConfig>("ZoPlaneConfig");
    connect(m_detectTimer.get(), &QTimer::timeout, this, &ZoPlaneSearch::onDetectTimeout);
    connect(
        m_waitPlaneDataTimer.get(), &QTimer::timeout, this, &ZoPlaneSearch::onWaitPlaneDataTimeout);
    connect(m_waitModuleInfoTimer.get(), &QTimer::timeout, this,
        &ZoPlaneSearch::onWaitCANDevInfoTimeout);
}

ZoPlaneSearch::~ZoPlaneSearch() = default;

void ZoPlaneSearch::setPortEnumerator(PortEnumerator enumerator)
{
    m_enumerator = enumerator ? std::move(enumerator) : PortEnumerator(systemPorts);
}

void ZoPlaneSearch::setTimings(const Timings &timings)
{
    m_timings = timings;
}

void ZoPlaneSearch::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    emit sigActiveChanged(active);
}

void ZoPlaneSearch::setProgress(int value, int maximum)
{
    if (value == m_progressValue && maximum == m_progressMaximum)
        return;
    m_progressValue = value;
    m_progressMaximum = maximum;
    emit sigProgressChanged(value, maximum);
}

// Every end of the search: inactive (the form hides) and no timer left
// running, before the report so that a receiver may start a new search.
void ZoPlaneSearch::finish(bool succ, tds4 devNum)
{
    m_checking = false;
    m_detectTimer->stop();
    m_waitPlaneDataTimer->stop();
    m_waitModuleInfoTimer->stop();
    setActive(false);
    const QString denied = std::exchange(m_deniedNode, QString());
    if (!succ && !denied.isEmpty())
        emit sigSerialPortDenied(denied);
    emit sigFinishSearch(succ, devNum);
}

void ZoPlaneSearch::resetSearch()
{
    m_detectTimer->stop();
    m_waitPlaneDataTimer->stop();
    m_waitModuleInfoTimer->stop();
    setProgress(0, m_progressMaximum);
    m_portList.clear();
    m_moduleQueryState = 0;
    m_moduleIndex = 0;
    m_moduleList.clear();
    m_stepCount = 0;
    m_found = 0;
    m_portIndex = -1;
    m_identityAsked = 0;
    m_deniedNode.clear();
    m_checking = false;
}

void ZoPlaneSearch::buildCandidates()
{
    QStringList identified;
    QStringList busy;
    QStringList plain;
    const QList<PortCandidate> ports = m_enumerator();
    for (const PortCandidate &port : ports) {
        if (port.isNull)
            continue;
        if (port.hasIdentifiers)
            identified.append(port.name);
        else if (port.busy)
            busy.append(port.name);
        else
            plain.append(port.name);
    }
    m_portList = identified + busy + plain;

    m_candidate.type = ZoPlaneConfig::LinkUdp;
    setProgress(0, m_progressMaximum);
    emit sigDescriptionChanged(QStringLiteral("MsgDeviceSearching"));
    m_moduleIndex = 0;
    m_stepCount = 10;
    setProgress(m_progressValue, int(m_stepCount) + 2 + m_portList.size());
}

void ZoPlaneSearch::step()
{
    setProgress(m_progressValue + 1, m_progressMaximum);
    if (m_autoMode) {
        if (m_candidate.type == ZoPlaneConfig::LinkSerialPort) {
            m_portIndex += 1;
            if (m_portIndex >= m_portList.size()) {
                m_candidate.type = ZoPlaneConfig::LinkTcpClient;
                m_portIndex = -1;
            } else {
                m_candidate.com = m_portList.at(m_portIndex);
            }
        }
        // Not "else": a serial stage that just ran out goes on to the one
        // TCP client attempt here.
        if (m_candidate.type == ZoPlaneConfig::LinkTcpClient) {
            m_portIndex += 1;
            if (m_portIndex >= 1) {
                finish(false, 0);
                return;
            }
        }
    }

    m_coreAnswered = false;
    const ZoPlaneConfig &c = m_candidate;
    switch (c.type) {
    case ZoPlaneConfig::LinkSerialPort:
        emit sigOpenComSerial(c.com, tds4(c.baud), tds4(c.databits), c.parity, c.stopbits);
        break;
    case ZoPlaneConfig::LinkTcpClient:
        emit sigOpenComTCPClient(
            c.TcpServerHost, tds4(c.TcpServerHostPort), tds4(c.TcpClientLocalPort));
        break;
    default:
        emit sigOpenComUdp(c.host, tds4(c.hostport), tds4(c.localPort));
        break;
    }
}

void ZoPlaneSearch::onUpdateSearchRange(QStringList comList, QString host, tds4 hostPort,
    tds4 localPort, QString tcpServerIp, tds4 tcpServerPort, tds4 tcplocalPort)
{
    Q_UNUSED(comList) // the ports are always enumerated afresh
    m_candidate.host = host;
    m_candidate.hostport = tdu4(hostPort);
    m_candidate.localPort = tdu4(localPort);
    m_candidate.TcpServerHost = tcpServerIp;
    m_candidate.TcpServerHostPort = tdu4(tcpServerPort);
    m_candidate.TcpClientLocalPort = tdu4(tcplocalPort);
    m_candidate.type = ZoPlaneConfig::LinkUdp;
    m_autoMode = true;
    setActive(true);
    resetSearch();
    m_autoMode = true;
    m_moduleIndex = 0;
    m_found = 0;
    m_portIndex = -1;
    buildCandidates();
    step();
    // step() may already have ended the search (a receiver of an open signal
    // reporting synchronously); only a running search gets the detect bound.
    if (m_active)
        m_detectTimer->start(m_timings.detectMs);
}

void ZoPlaneSearch::onSearchOnSpecSPCom(
    QString com, tds4 baud, tds4 dataBits, tds4 parity, tds4 stopBits)
{
    m_candidate.com = com;
    m_candidate.baud = tdu4(baud);
    m_candidate.databits = tdu4(dataBits);
    m_candidate.parity = tdu1(parity);
    m_candidate.stopbits = tdu1(stopBits);
    m_candidate.type = ZoPlaneConfig::LinkSerialPort;
    m_autoMode = false;
    setActive(true);
    resetSearch();
    step();
}

void ZoPlaneSearch::onSearchOnspecUdpCom(QString host, tds4 hostPort, tds4 localPort)
{
    m_candidate.host = host;
    m_candidate.hostport = tdu4(hostPort);
    m_candidate.localPort = tdu4(localPort);
    m_candidate.type = ZoPlaneConfig::LinkUdp;
    m_autoMode = false;
    setActive(true);
    resetSearch();
    step();
}

void ZoPlaneSearch::onSearchOnspecTcpClientCom(QString host, tds4 hostPort, tds4 localPort)
{
    m_candidate.TcpServerHost = host;
    m_candidate.TcpServerHostPort = tdu4(hostPort);
    m_candidate.TcpClientLocalPort = tdu4(localPort);
    m_candidate.type = ZoPlaneConfig::LinkTcpClient;
    m_autoMode = false;
    setActive(true);
    resetSearch();
    step();
}

void ZoPlaneSearch::onOpenCommState(int type, bool bOK)
{
    if (!m_active)
        return;
    if (bOK) {
        m_waitPlaneDataTimer->start(m_timings.waitPlaneDataMs);
        return;
    }
    if (!m_autoMode)
        return; // one link given by the user: the form stays up
    if (type == ZoPlaneConfig::LinkUdp && m_candidate.type == ZoPlaneConfig::LinkUdp) {
        // On to the serial ports now: left to the detect timeout, the switch
        // to serial would be taken for the end of the serial stage and the
        // ports never tried (a busy local UDP port hid a cabled aircraft).
        m_detectTimer->stop();
        m_candidate.type = ZoPlaneConfig::LinkSerialPort;
        m_portIndex = -1;
        step();
    } else if (type == ZoPlaneConfig::LinkSerialPort
        && m_candidate.type == ZoPlaneConfig::LinkSerialPort && m_portIndex >= m_portList.size()) {
        m_candidate.type = ZoPlaneConfig::LinkTcpClient;
        step();
    } else {
        step();
    }
}

void ZoPlaneSearch::onSerialPortDenied(QString node)
{
    if (!m_active)
        return;
    if (!m_autoMode)
        emit sigSerialPortDenied(node);
    else if (m_deniedNode.isEmpty())
        m_deniedNode = node;
}

void ZoPlaneSearch::onDetectTimeout()
{
    // An open, silent UDP candidate is checked before the stage ends.
    if (m_checkSilent && m_waitPlaneDataTimer->isActive())
        return onWaitPlaneDataTimeout();
    m_detectTimer->stop();
    // The UDP candidate's data wait belongs to it: left running it would
    // close the next candidate before that one's data could arrive.
    m_waitPlaneDataTimer->stop();
    if (m_candidate.type == ZoPlaneConfig::LinkUdp)
        m_candidate.type = ZoPlaneConfig::LinkSerialPort;
    else if (m_candidate.type == ZoPlaneConfig::LinkSerialPort)
        m_candidate.type = ZoPlaneConfig::LinkTcpClient;
    m_portIndex = -1;
    step();
}

void ZoPlaneSearch::onWaitPlaneDataTimeout()
{
    m_waitPlaneDataTimer->stop();
    if (m_autoMode && m_checkSilent) {
        // The stage's bound would move on under the check: the check's
        // answer moves on instead.
        m_detectTimer->stop();
        m_checking = true;
        emit sigCandidateSilent();
    } else if (m_autoMode) {
        emit sigCloseCom();
        step();
    } else if (m_moduleIndex >= m_stepCount) {
        finish(m_found != 0, m_found);
    }
}

void ZoPlaneSearch::onPlaneDeteced(bool succ)
{
    // While a silent link is checked, what answers is the check's.
    if (!m_active || !succ || m_checking)
        return;
    m_detectTimer->stop();
    m_waitPlaneDataTimer->stop();
    m_waitModuleInfoTimer->stop();
    emit sigPlaneConnectionFound(m_candidate);
    m_found = 1;
    if (m_moduleQueryState < 2) {
        emit sigGetFirmwareInfo(0, 0, 0);
        m_moduleQueryState = 1;
        // A core that sends data but never tells its version would hold the
        // search (and the window behind it) for good: ask again at the
        // module pace, a few times, then give up.
        m_identityAsked = 1;
        m_waitModuleInfoTimer->start(m_timings.waitModuleInfoMs);
    } else {
        emit sigGetFirmwareInfo(1, 0, 0);
        // The core came back while its modules were being asked (the link
        // went quiet for a moment): go on asking, or the search never ends.
        m_waitModuleInfoTimer->start(m_timings.waitModuleInfoMs);
    }
}

void ZoPlaneSearch::coreIdentified(bool answered, bool hasModules, const QList<ZoDeviceKey> &modules)
{
    if (!m_active || !answered || m_moduleQueryState != 1)
        return;
    m_coreAnswered = true;
    if (hasModules)
        m_moduleList = modules;
    if (m_moduleList.isEmpty()) {
        m_moduleQueryState = 0;
        finish(m_found != 0, m_found);
        return;
    }
    m_moduleIndex = 0;
    m_stepCount = tdu4(m_moduleList.size());
    if (m_autoMode)
        setProgress(m_progressValue, int(m_stepCount) + 2 + m_portList.size());
    else
        setProgress(1, int(m_stepCount) + 1);
    m_moduleQueryState = 2;
    m_waitModuleInfoTimer->start(m_timings.waitModuleInfoMs);
    const ZoDeviceKey entry = m_moduleList.first();
    emit sigGetFirmwareInfo(1, entry.type, entry.number);
}

void ZoPlaneSearch::onWaitCANDevInfoTimeout()
{
    if (m_moduleQueryState == 1 && !m_coreAnswered) {
        if (m_identityAsked < IdentityAttempts) {
            ++m_identityAsked;
            emit sigGetFirmwareInfo(0, 0, 0);
            return;
        }
        qWarning().noquote() << m_label
                             << "ZoPlaneSearch - the core sends data but never answered its version";
        finish(false, 0);
        return;
    }
    m_moduleIndex += 1;
    setProgress(m_progressValue + 1, m_progressMaximum);
    if (m_moduleIndex < m_stepCount) {
        const ZoDeviceKey entry = m_moduleList.value(int(m_moduleIndex));
        if (m_moduleQueryState == 2) {
            emit sigGetFirmwareInfo(1, entry.type, entry.number);
        } else {
            emit sigGetFirmwareInfo(0, entry.type, 0);
            m_moduleQueryState = 1;
        }
        return;
    }
    finish(m_found != 0, m_found);
}

void ZoPlaneSearch::candidateChecked(bool coreFound)
{
    if (!std::exchange(m_checking, false) || !m_active)
        return;
    if (coreFound) {
        emit sigPlaneConnectionFound(m_candidate);
        finish(true, 1);
        return;
    }
    emit sigCloseCom();
    // UDP was asked once: on to the serial ports, as its bound would.
    if (m_candidate.type == ZoPlaneConfig::LinkUdp) {
        m_candidate.type = ZoPlaneConfig::LinkSerialPort;
        m_portIndex = -1;
    }
    step();
}

void ZoPlaneSearch::cancel()
{
    m_detectTimer->stop();
    m_waitPlaneDataTimer->stop();
    setProgress(0, m_progressMaximum);
    m_moduleIndex = 0;
    m_stepCount = 10;
    finish(false, m_found);
}

void ZoPlaneSearch::searchConfigured(const ZoPlaneConfig &c)
{
    onUpdateSearchRange(QStringList(), c.host, tds4(c.hostport), tds4(c.localPort),
        c.TcpServerHost, tds4(c.TcpServerHostPort), tds4(c.TcpClientLocalPort));
}

void ZoPlaneSearch::searchLink(const ZoPlaneConfig &link)
{
    switch (link.type) {
    case ZoPlaneConfig::LinkSerialPort:
        onSearchOnSpecSPCom(
            link.com, tds4(link.baud), tds4(link.databits), tds4(link.parity), tds4(link.stopbits));
        break;
    case ZoPlaneConfig::LinkTcpClient:
        onSearchOnspecTcpClientCom(
            link.TcpServerHost, tds4(link.TcpServerHostPort), tds4(link.TcpClientLocalPort));
        break;
    default:
        onSearchOnspecUdpCom(link.host, tds4(link.hostport), tds4(link.localPort));
        break;
    }
}

void ZoPlaneSearch::attach(ZoMsgLooper *l)
{
    connect(this, &ZoPlaneSearch::sigOpenComUdp, l, &ZoMsgLooper::onOpenPlaneUdp);
    connect(this, &ZoPlaneSearch::sigOpenComTCPClient, l, &ZoMsgLooper::onOpenPlaneTCPClient);
    connect(this, &ZoPlaneSearch::sigOpenComSerial, l, &ZoMsgLooper::onOpenPlaneSerial);
    connect(this, &ZoPlaneSearch::sigCloseCom, l, &ZoMsgLooper::onClosePlaneComm);
    connect(l, &ZoMsgLooper::sigSerialPortDenied, this, &ZoPlaneSearch::onSerialPortDenied);
    connect(l, &ZoMsgLooper::openPlaneComm, this, &ZoPlaneSearch::onOpenCommState);
    connect(l, &ZoMsgLooper::sigPlaneConnectionChanged, this, &ZoPlaneSearch::onPlaneDeteced);
}
