#include "ZoDataLinkSettingForm.h"

#include "ZoSerialStableNames.h"
#include "ui_ZoDataLinkSettingForm.h"

#include "ZoTvkInstance.h"

#include <QButtonGroup>
#include <QListView>
#include <QPainter>
#include <QSerialPortInfo>
#include <QStyle>

namespace {

// Radio id and page index are the same number; the link type numbers the
// kinds differently (UDP is 0 in sysconfig.xml but the second radio).
int pageOfLinkType(int linkType)
{
    switch (linkType) {
    case ZoPlaneConfig::LinkSerialPort:
        return 0;
    case ZoPlaneConfig::LinkUdp:
        return 1;
    case ZoPlaneConfig::LinkTcpClient:
        return 2;
    default:
        return -1;
    }
}

int linkTypeOfPage(int page)
{
    switch (page) {
    case 0:
        return ZoPlaneConfig::LinkSerialPort;
    case 1:
        return ZoPlaneConfig::LinkUdp;
    case 2:
        return ZoPlaneConfig::LinkTcpClient;
    default:
        return -1;
    }
}

QList<ZoDataLinkSettingForm::PortEntry> systemPorts()
{
    QList<ZoDataLinkSettingForm::PortEntry> ports;
    const QMap<QString, QString> stable = ZoSerialStableNames().byNode();
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        ports.append({info.portName(), info.isBusy()});
        // Its stable name too: saved, it finds the adapter again whatever
        // number it gets beside an identical one.
        const QString name = stable.value(info.systemLocation());
        if (!name.isEmpty())
            ports.append({name, info.isBusy()});
    }
    return ports;
}

// The close button's picture; a drawn cross while the artwork is missing, so
// the panel can always be closed.
QIcon closeIcon()
{
    QPixmap picture(QStringLiteral(":/resource/close.png"));
    if (picture.isNull()) {
        picture = QPixmap(16, 16);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::white, 2));
        painter.drawLine(3, 3, 13, 13);
        painter.drawLine(13, 3, 3, 13);
    }
    return QIcon(picture);
}

const QString kOn = QStringLiteral("ON");
const QString kOff = QStringLiteral("OFF");

} // namespace

ZoDataLinkSettingForm::ZoDataLinkSettingForm(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ZoDataLinkSettingForm)
    , m_portLister(systemPorts)
{
    ui->setupUi(this);
    // Signal arguments by their alias names, for queued connections.
    qRegisterMetaType<tds4>("tds4");
    setAttribute(Qt::WA_StyledBackground);
    ZoTvkInstance *tvk = ZoTvkInstance::instance();
    // Start from what the file says, not from whatever an earlier panel left
    // in memory. A missing file keeps the settings in memory.
    tvk->loadSysConfig();
    m_planeConfig = tvk->planeConfig();

    ui->cmbSerialPort->setView(new QListView(ui->cmbSerialPort));
    ui->btnOpenCom->setText(kOn);
    ui->btnCloseWnd->setIcon(closeIcon());
    ui->btnSearchSerial->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    // The TCP client's fields are filled and applied but not offered: the
    // server is found by the device search.
    for (QWidget *w :
        {static_cast<QWidget *>(ui->labTcpRemoteIp), static_cast<QWidget *>(ui->leTcpRemoteIp),
            static_cast<QWidget *>(ui->labTcpRemotePort),
            static_cast<QWidget *>(ui->leTcpRemotePort),
            static_cast<QWidget *>(ui->labTcpLocalPort),
            static_cast<QWidget *>(ui->leTcpLocalPort)})
        w->hide();

    m_linkGroup = new QButtonGroup(this);
    m_linkGroup->setExclusive(true);
    m_linkGroup->addButton(ui->rbSerialPort, 0);
    m_linkGroup->addButton(ui->rbUDP, 1);
    m_linkGroup->addButton(ui->rbTCPClient, 2);
    connect(
        m_linkGroup, &QButtonGroup::idClicked, this, &ZoDataLinkSettingForm::onChangeConnectType);

    fillFromConfig();
    refreshPorts();
}

ZoDataLinkSettingForm::~ZoDataLinkSettingForm()
{
    delete ui;
}

void ZoDataLinkSettingForm::fillFromConfig()
{
    ui->leHostAddress->setText(m_planeConfig->host);
    ui->leRemotePort->setText(QString::number(m_planeConfig->hostport));
    ui->leLocalPort->setText(QString::number(m_planeConfig->localPort));
    ui->leTcpRemoteIp->setText(m_planeConfig->TcpServerHost);
    ui->leTcpRemotePort->setText(QString::number(m_planeConfig->TcpServerHostPort));
    ui->leTcpLocalPort->setText(QString::number(m_planeConfig->TcpClientLocalPort));

    // An unknown kind of link checks no radio: the open button then requests
    // nothing until the user picks one.
    const int page = pageOfLinkType(m_planeConfig->type);
    if (page < 0)
        return;
    m_linkGroup->button(page)->setChecked(true);
    ui->swConnect->setCurrentIndex(page);
}

void ZoDataLinkSettingForm::setPortLister(PortLister lister)
{
    m_portLister = std::move(lister);
    refreshPorts();
}

void ZoDataLinkSettingForm::refreshPorts()
{
    m_portNames.clear();
    if (m_portLister) {
        const QList<PortEntry> ports = m_portLister();
        for (const PortEntry &port : ports)
            if (!port.second)
                m_portNames.append(port.first);
    }
    ui->cmbSerialPort->setPorts(m_portNames);
}

tdu4 ZoDataLinkSettingForm::parsePort(const QString &text)
{
    bool ok = false;
    const short port = text.toShort(&ok, 10);
    // A negative number would be stored sign-extended as a port above
    // 65535; it is as unusable as text that is no number at all.
    if (!ok || port < 0)
        return 0;
    return tdu4(port);
}

bool ZoDataLinkSettingForm::applySettings()
{
    m_planeConfig->com = ui->cmbSerialPort->currentText();
    m_planeConfig->host = ui->leHostAddress->text();
    m_planeConfig->TcpServerHost = ui->leTcpRemoteIp->text();
    m_planeConfig->hostport = parsePort(ui->leRemotePort->text());
    m_planeConfig->localPort = parsePort(ui->leLocalPort->text());
    m_planeConfig->TcpServerHostPort = parsePort(ui->leTcpRemotePort->text());
    m_planeConfig->TcpClientLocalPort = parsePort(ui->leTcpLocalPort->text());
    const bool saved = ZoTvkInstance::instance()->saveSysConfig();
    if (!saved)
        qWarning("ZoDataLinkSettingForm::applySettings() - Fail to save sysconfig.xml");
    return saved;
}

void ZoDataLinkSettingForm::emitOpen()
{
    const ZoPlaneConfig &c = *m_planeConfig;
    switch (c.type) {
    case ZoPlaneConfig::LinkUdp:
        Q_EMIT sigOpenComUdp(c.host, tds4(c.hostport), tds4(c.localPort));
        break;
    case ZoPlaneConfig::LinkSerialPort:
        Q_EMIT sigOpenComSerial(
            c.com, tds4(c.baud), tds4(c.databits), tds4(c.parity), tds4(c.stopbits));
        break;
    case ZoPlaneConfig::LinkTcpClient:
        Q_EMIT sigOpenComTcpClient(
            c.TcpServerHost, tds4(c.TcpServerHostPort), tds4(c.TcpClientLocalPort));
        break;
    default:
        break;
    }
}

void ZoDataLinkSettingForm::openLink()
{
    if (m_isOpen)
        return;
    applySettings();
    emitOpen();
}

void ZoDataLinkSettingForm::setInputsEnabled(bool enabled)
{
    for (QWidget *w :
        {static_cast<QWidget *>(ui->btnSearchSerial), static_cast<QWidget *>(ui->cmbSerialPort),
            static_cast<QWidget *>(ui->rbSerialPort), static_cast<QWidget *>(ui->rbUDP),
            static_cast<QWidget *>(ui->rbTCPClient), static_cast<QWidget *>(ui->leHostAddress),
            static_cast<QWidget *>(ui->leRemotePort), static_cast<QWidget *>(ui->leLocalPort),
            static_cast<QWidget *>(ui->leTcpRemoteIp), static_cast<QWidget *>(ui->leTcpRemotePort),
            static_cast<QWidget *>(ui->leTcpLocalPort)})
        w->setEnabled(enabled);
}

void ZoDataLinkSettingForm::showLinkType(int linkType)
{
    const int page = pageOfLinkType(linkType);
    ui->swConnect->setCurrentIndex(page);
    m_planeConfig->type = tdu1(linkType);
}

void ZoDataLinkSettingForm::on_btnCloseWnd_clicked()
{
    applySettings();
    hide();
}

void ZoDataLinkSettingForm::onChangeConnectType(int typeIndex)
{
    const int linkType = linkTypeOfPage(typeIndex);
    if (linkType < 0)
        return;
    showLinkType(linkType);
}

void ZoDataLinkSettingForm::on_btnOpenCom_clicked()
{
    applySettings();
    if (m_isOpen) {
        Q_EMIT sigCloseCom();
        ui->btnOpenCom->setText(kOn);
        m_isOpen = false;
        setInputsEnabled(true);
        return;
    }
    // The button changes only when the link reports how the opening went.
    emitOpen();
}

void ZoDataLinkSettingForm::on_btnSearchSerial_clicked()
{
    refreshPorts();
}

void ZoDataLinkSettingForm::onOpenCommState(int type, bool bOK)
{
    if (pageOfLinkType(type) < 0)
        return;
    showLinkType(type);
    m_linkGroup->button(pageOfLinkType(type))->setChecked(true);
    ui->btnOpenCom->setText(bOK ? kOff : kOn);
    m_isOpen = bOK;
    setInputsEnabled(!bOK);
}

void ZoDataLinkSettingForm::onCloseCommState(bool bOK)
{
    Q_UNUSED(bOK)
    ui->btnOpenCom->setText(kOn);
    m_isOpen = false;
    setInputsEnabled(true);
}

void ZoDataLinkSettingForm::onSynFoundConnection(ZoPlaneConfig connConfig)
{
    switch (connConfig.type) {
    case ZoPlaneConfig::LinkSerialPort: {
        ui->rbSerialPort->setChecked(true);
        const int index = ui->cmbSerialPort->findText(connConfig.com, Qt::MatchExactly);
        if (index >= 0)
            ui->cmbSerialPort->setCurrentIndex(index);
        break;
    }
    case ZoPlaneConfig::LinkTcpClient:
        ui->rbTCPClient->setChecked(true);
        ui->leTcpRemoteIp->setText(connConfig.TcpServerHost);
        ui->leTcpRemotePort->setText(QString::number(connConfig.TcpServerHostPort));
        ui->leTcpLocalPort->setText(QString::number(connConfig.TcpClientLocalPort));
        break;
    case ZoPlaneConfig::LinkUdp:
        ui->rbUDP->setChecked(true);
        ui->leHostAddress->setText(connConfig.host);
        ui->leRemotePort->setText(QString::number(connConfig.hostport));
        ui->leLocalPort->setText(QString::number(connConfig.localPort));
        break;
    default:
        break;
    }
}
