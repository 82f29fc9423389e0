#pragma once

#include "ZoPlaneConfig.h"
#include "ZoTypes.h"

#include <QPair>
#include <QStringList>
#include <QWidget>
#include <functional>

class QButtonGroup;

namespace Ui {
class ZoDataLinkSettingForm;
}

// The panel in which the user picks the kind of link to the aircraft, edits
// its addresses and opens or closes it. It edits the application's link
// settings in place and saves sysconfig.xml whenever they are applied; the
// link itself is opened and closed by whoever listens to its signals.
class ZoDataLinkSettingForm : public QWidget
{
    Q_OBJECT

public:
    // One serial port as the system offers it: name and whether another
    // program holds it.
    using PortEntry = QPair<QString, bool>;
    using PortLister = std::function<QList<PortEntry>()>;

    explicit ZoDataLinkSettingForm(QWidget *parent = nullptr);
    ~ZoDataLinkSettingForm() override;

    // Opens the configured link again unless one is open.
    void openLink();
    // Copies the fields into the link settings and saves sysconfig.xml.
    // False when the file could not be written; the settings in memory are
    // updated either way.
    bool applySettings();

    bool isOpen() const { return m_isOpen; }
    QStringList portNames() const { return m_portNames; }

    // Where the port list comes from; by default the system's serial ports.
    // Refreshes the list at once.
    void setPortLister(PortLister lister);

    // A port field's text as the link settings store it: a decimal number
    // from 0 to 32767, anything else 0.
    static tdu4 parsePort(const QString &text);

public Q_SLOTS:
    void onOpenCommState(int type, bool bOK);
    void onCloseCommState(bool bOK);
    void onSynFoundConnection(ZoPlaneConfig connConfig);

Q_SIGNALS:
    void sigOpenComUdp(QString host, tds4 hostPort, tds4 localPort);
    void sigOpenComSerial(QString com, tds4 baud, tds4 dataBits, tds4 parity, tds4 stopBits);
    void sigOpenComTcpClient(QString host, tds4 hostPort, tds4 localPort);
    void sigCloseCom();

private Q_SLOTS:
    void on_btnCloseWnd_clicked();
    void onChangeConnectType(int typeIndex);
    void on_btnOpenCom_clicked();
    void on_btnSearchSerial_clicked();

private:
    void fillFromConfig();
    void refreshPorts();
    void emitOpen();
    void setInputsEnabled(bool enabled);
    void showLinkType(int linkType);

    Ui::ZoDataLinkSettingForm *ui;
    ZoPlaneConfig *m_planeConfig = nullptr;
    QStringList m_portNames;
    bool m_isOpen = false;
    QButtonGroup *m_linkGroup = nullptr;
    PortLister m_portLister;
};
