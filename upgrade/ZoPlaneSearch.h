#pragma once

#include "ZoLogLabel.h"
#include "ZoPlaneConfig.h"
#include "ZoDeviceKey.h"
#include "ZoTypes.h"
#include "ZoUpgradeTimings.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QTimer;
class ZoMsgLooper;

// Finds the flight controller: tries candidate links one after another (UDP,
// then every serial port, then one TCP client connection), asks the message
// looper to open each through the open signals, and waits for the looper to
// report the core's data. Then it asks for the core's identity and, paced,
// for every module the core type is known to carry, and reports the end of
// the search. It can also test one link named by the user.
//
// Widget-free: a form only shows it (progress, description, Cancel). "Active"
// stands for the form being visible: reports that arrive while the search is
// not active are ignored, and the search stops being active when it reports
// its end.
class ZoPlaneSearch : public QObject
{
    Q_OBJECT
public:
    // One serial port as the system lists it.
    struct PortCandidate
    {
        QString name;
        bool isNull = false;
        bool hasIdentifiers = false; // a vendor or product identifier
        bool busy = false;
    };
    using PortEnumerator = std::function<QList<PortCandidate>()>;

    // Version requests a core gets before the search gives it up.
    static constexpr int IdentityAttempts = 4;

    using Timings = ZoUpgradeTimings::Search;

    explicit ZoPlaneSearch(QObject *parent = nullptr);
    ~ZoPlaneSearch() override;

    // Default: QSerialPortInfo::availablePorts().
    void setPortEnumerator(PortEnumerator enumerator);
    // Opens and closes `looper`'s links and hears what becomes of them.
    void attach(ZoMsgLooper *looper);
    void setTimings(const Timings &timings);
    // Put before the search's warnings (see ZoLogLabel).
    void setLogLabel(const QString &label) { m_label.text = label; }

    bool isActive() const { return m_active; }
    bool isAutoMode() const { return m_autoMode; }
    const ZoPlaneConfig &candidate() const { return m_candidate; }
    QStringList portList() const { return m_portList; }
    int progressValue() const { return m_progressValue; }
    int progressMaximum() const { return m_progressMaximum; }

    // An automatic search stops at each candidate link that opened but
    // stayed silent (sigCandidateSilent) until candidateChecked() says
    // whether a core answered there some other way (from its bootloader).
    void setCheckSilentLinks(bool on) { m_checkSilent = on; }
    void candidateChecked(bool coreFound);

    // From the workflow when the core's version arrived. `modules` is the
    // catalogue's expected module list for that core, ignored devices left
    // out.
    void coreIdentified(bool answered, bool hasModules, const QList<ZoDeviceKey> &modules);

Q_SIGNALS:
    void sigOpenComUdp(QString host, tds4 hostPort, tds4 localPort);
    void sigOpenComTCPClient(QString host, tds4 hostPort, tds4 localPort);
    void sigOpenComSerial(QString com, tds4 baud, tds4 dataBits, tds4 parity, tds4 stopBits);
    void sigCloseCom();
    // devType 0: the core; 1: the module of type devId and number devNumIdx.
    void sigGetFirmwareInfo(tdu1 devType, tdu4 devId, tdu4 devNumIdx);
    void sigFinishSearch(bool succ, tds4 devNum);
    void sigPlaneConnectionFound(ZoPlaneConfig connConfig);
    // The candidate link is open and silent; the search waits.
    void sigCandidateSilent();
    // For the form: the progress bar and its text (a translation key).
    void sigProgressChanged(int value, int maximum);
    void sigDescriptionChanged(QString textKey);
    void sigActiveChanged(bool active);
    // A serial port's device node refused this user. An automatic search,
    // which goes on to the other links, tells the first such node just
    // before it reports an end without the aircraft; a search of the one
    // port the user chose tells it at once.
    void sigSerialPortDenied(QString node);

public Q_SLOTS:
    // Every candidate link with the stored settings, or only `link`.
    void searchConfigured(const ZoPlaneConfig &config);
    void searchLink(const ZoPlaneConfig &link);
    void onUpdateSearchRange(QStringList comList, QString host, tds4 hostPort, tds4 localPort,
        QString tcpServerIp, tds4 tcpServerPort, tds4 tcplocalPort);
    void onSearchOnSpecSPCom(QString com, tds4 baud, tds4 dataBits, tds4 parity, tds4 stopBits);
    void onSearchOnspecUdpCom(QString host, tds4 hostPort, tds4 localPort);
    void onSearchOnspecTcpClientCom(QString host, tds4 hostPort, tds4 localPort);
    void onPlaneDeteced(bool succ);
    void onOpenCommState(int type, bool bOK);
    // From the looper, before the failed open's report.
    void onSerialPortDenied(QString node);
    // What the form's Cancel button does.
    void cancel();

private Q_SLOTS:
    void onDetectTimeout();
    void onWaitPlaneDataTimeout();
    void onWaitCANDevInfoTimeout();

private:
    void resetSearch();
    void buildCandidates();
    void step();
    void finish(bool succ, tds4 devNum);
    void setActive(bool active);
    void setProgress(int value, int maximum);

    PortEnumerator m_enumerator;
    Timings m_timings;
    ZoLogLabel m_label;
    bool m_active = false;
    bool m_autoMode = true;
    QStringList m_portList;
    tds4 m_portIndex = -1;
    tds4 m_found = 0;
    ZoPlaneConfig m_candidate;
    QString m_deniedNode; // the first port that refused us in this search
    tdu1 m_moduleQueryState = 0;
    QList<ZoDeviceKey> m_moduleList;
    tdu4 m_moduleIndex = 0;
    tdu4 m_stepCount = 10;
    bool m_coreAnswered = false;
    bool m_checkSilent = false;
    bool m_checking = false; // waiting for candidateChecked()
    int m_identityAsked = 0; // version requests sent to the core found
    int m_progressValue = 0;
    int m_progressMaximum = 0;
    std::unique_ptr<QTimer> m_detectTimer;
    std::unique_ptr<QTimer> m_waitPlaneDataTimer;
    std::unique_ptr<QTimer> m_waitModuleInfoTimer;
};
