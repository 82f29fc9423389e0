#pragma once

#include "IReceivePackage.h"
#include "IZoReceiveData.h"
#include "ZoGcpmProtocol.h"
#include "ZoPlaneConfig.h"
#include "ZoTelemetryQueue.h"
#include "ZoDeviceKey.h"
#include "ZoTypes.h"

#include <QMutex>
#include <QString>
#include <QThread>

#include <array>
#include <atomic>
#include <memory>

class QTimer;
class QUdpSocket;
class ZoFcsProtocolBase;
class ZoFirmwareUpdateProtocol;
class ZoPureWapper;

// The device-side main loop. A thread object moved into its own thread: it
// alone creates, opens, reads, writes and deletes the data link, runs both
// codecs' receive paths, watches the link for silence, announces itself to
// the GCPM endpoint while a TCP client link is open, and reports every reply
// the upgrade workflow waits for as a signal.
//
// Other threads talk to it through the open/close slots (queued),
// sendCommand() and setProtocol(); every field is written on its own thread.
// Objects that live on its thread (a transfer session) get its replies as
// direct calls and their commands written at once.
class ZoMsgLooper : public QThread, public IZoReceiveData, public IReceivePackage
{
    Q_OBJECT
public:
    // Protocol modes: 0/1 application protocol, 2/3 bootloader protocol;
    // anything else ignores received bytes and sends nothing.
    enum : tds4 {
        ModeApplication = 0,
        ModeCoreBootloader = 2,
        ModeModuleTransfer = 3,
    };
    static constexpr int RecordSize = 256;
    static constexpr int DataLinkCheckMs = 1000;
    static constexpr int SilenceMs = 2000;
    // A frame held incomplete longer than this is taken for a damaged one.
    static constexpr qint64 StalePartialNs = 500 * 1000 * 1000;
    static constexpr int GcpmPollMs = 500;

    ZoMsgLooper();
    ~ZoMsgLooper() override;

    // Before startLooper(), on the owner's thread; not owned, and it must
    // outlive the looper. The worker thread never touches it: each open slot
    // reports the link it opened with sigPlaneConfigUsed, and the owner's
    // thread (the one calling this) writes that link type and that kind's
    // fields into *config when the queued signal arrives
    // (ZoPlaneConfig::applyLink); no other field changes. Without a record
    // nothing is written anywhere. The looper is then to be destroyed on
    // that same thread.
    void setPlaneConfig(ZoPlaneConfig *config);
    void startLooper();

    // The object that writes the record given to setPlaneConfig; it lives on
    // the thread that called setPlaneConfig. Null without a record.
    const QObject *planeConfigWriter() const { return configWriter.get(); }

    // The thread runs with its codecs: commands are taken from here on.
    bool isReady() const { return ready.load(); }

    // Any thread. One built command (up to RecordSize bytes): framed for the
    // application protocol, raw for the bootloader's. On the looper's own
    // thread it is written before this returns; from another it waits in a
    // queue of 4 (the oldest is dropped when full). False when refused.
    bool sendCommand(const tdu1 *bytes, int length);
    // Any thread. The protocol the link speaks and the transfer variant of
    // the bus module being upgraded (3 changes how module replies behind the
    // flight controller are read). From another thread it takes effect after
    // the commands that thread sent before it.
    void setProtocol(tds4 mode, tdu1 variant);
    // Any thread. The module a transfer is talking to: acknowledgements that
    // name another device (the addressed bus kinds name type and number) are
    // dropped, so that a second bootloader listening on the bus cannot
    // acknowledge on its behalf. A null key takes every acknowledgement.
    void setTransferPeer(ZoDeviceKey peer);
    tds4 protocolMode() const { return protocolModeNow.load(); }
    tdu1 moduleVariant() const { return moduleVariantNow.load(); }
    int queuedCommands() const { return sendQueue.size(); }
    // When bytes last arrived from the link (steady clock, nanoseconds): the
    // start of the program's own turnaround for the reply they carried.
    qint64 lastReceiveNs() const { return lastRxNs.load(); }

    // The state last reported by sigPlaneConnectionChanged.
    bool isConnected() const { return connected.load(); }

    // IZoReceiveData: bytes from the link, on the worker thread.
    void onUdpData(const tdu1 *data, tds4 count) override;
    void onTcpData(const tdu1 *data, tds4 count) override;
    void onSerialData(const tdu1 *data, tds4 count) override;
    // IReceivePackage: frames from the codec in use, on the worker thread.
    void onPackage(const tdu1 *frame, tdu2 length) override;
    void onBadPackage(const tdu1 *frame, tdu2 length) override;

Q_SIGNALS:
    void openPlaneComm(int type, bool succ);
    // Just before openPlaneComm(1, false): the serial port's device node
    // ("/dev/ttyUSB0") is one this user may not read and write.
    void sigSerialPortDenied(QString node);
    // From an open slot, after openPlaneComm: the link type and that kind's
    // fields as just used; the other fields hold defaults.
    void sigPlaneConfigUsed(ZoPlaneConfig settings);
    void sigCloseComState(bool succ);
    void sigPlaneConnectionChanged(bool connected);
    void sigGNCFMVersion(tVersion fmVersion);
    void sigGNCEID(QString eid);
    void sigCANDevVersion(tVersion fmVersion, tdu1 devIdx, QString sn);
    // A module answered from its bootloader (a force report): emitted just
    // before the same report as sigCANDevVersion.
    void sigCANDevBootloaderReport(tVersion fmVersion, tdu1 devIdx);
    void sigGNCCompileTime(tFcsDateTime fmComTime);
    void sigGNCUpgEraseFlashAck();
    void sigCANDevUpgEraseFlashAck();
    void sigGNCUpgradeProgAck(tds4 updSize);
    void sigCANDevUpgradeProgAck(tds4 updSize);
    void readyReadMsg();
    void sigSendCmd();

public Q_SLOTS:
    void onOpenPlaneUdp(QString host, tds4 hostPort, tds4 localPort);
    void onOpenPlaneSerial(QString com, tds4 baud, tds4 dataBits, tds4 parity, tds4 stopBits);
    void onOpenPlaneTCPClient(QString host, tds4 hostPort, tds4 localPort);
    void onClosePlaneComm();
    void onOpenComSucc(bool succ);
    void onTerminateLooper();

protected Q_SLOTS:
    void onReadGNCMsg();
    void onDLCheckTimeout();
    void onSendDataToGNC();
    void onSendGmpCmdTimer();

protected:
    void run() override;

private:
    enum LinkKind { LinkUdp = 0, LinkSerial = 1, LinkTcpClient = 2 };

    void feedBytes(const tdu1 *data, tds4 count);
    // Under `mutex`: deletes the link and stops the announcer.
    void dropLink();
    void finishOpen(LinkKind kind, bool ok);
    void closeLink();

    void decodeApplicationFrame(const tdu1 *frame, tdu2 length);
    void captureAddress(const tdu1 *frame, tdu2 length);
    void decodeCanReply(const tdu1 *data, tdu2 length);
    void decodeBusReply(const tdu1 *data, tdu2 length);
    void decodeShortForm(const tdu1 *payload, tdu2 length, bool bus);
    void decodeLongForm(const tdu1 *payload, tdu2 length);
    void decodeBootloaderReply(const tdu1 *frame, tdu2 length);
    void reportConnected();

    void startAnnouncer(const QString &serverHost, tds4 clientPort);
    void stopAnnouncer();

    void applyProtocol(tds4 mode, tdu1 variant);

    // Commands waiting to be sent: 5 records of up to 256 bytes.
    ZoTelemetryQueue sendQueue;
    std::atomic<tds4> protocolModeNow {ModeApplication};
    std::atomic<tdu1> moduleVariantNow {0};
    std::atomic<tds4> transferPeer {0}; // ZoDeviceKey::packed()
    std::atomic<bool> ready {false};
    std::atomic<qint64> lastRxNs {0};
    std::unique_ptr<ZoFcsProtocolBase> ownFcs;
    std::unique_ptr<ZoFirmwareUpdateProtocol> ownUpdate;
    QMutex mutex;
    // Created by setPlaneConfig on the owner's thread and deleted there.
    std::unique_ptr<QObject> configWriter;
    std::unique_ptr<ZoPureWapper> link;
    tds8 lastRxTime = 0;
    tdu1 sequenceCounter = 0;
    tdu1 sequenceValue = 0;
    std::array<tdu1, 4> sequenceMessage {};
    ZoTelemetryQueue rxQueue;
    std::unique_ptr<QTimer> dlCheckTimer;
    std::atomic<bool> connected {false};
    tdu4 peerAddress = 0;
    std::array<tdu1, 10> addressPrefix {};
    bool hasAddressPrefix = false;
    bool addressCaptured = false;
    std::unique_ptr<QUdpSocket> gcpmSocket;
    std::unique_ptr<QTimer> gcpmTimer;
    ZoGcpmTarget gcpmTarget;
    std::unique_ptr<ZoGcpmProtocol> gcpmProtocol;
    ZoTelemetryQueue gcpmQueue;

    // Work buffers of the worker thread, so nothing is allocated per frame.
    std::array<tdu1, RecordSize> rxFrame {};
    std::array<tdu1, RecordSize> txCommand {};
    std::array<tdu1, 255> canData {};
};
