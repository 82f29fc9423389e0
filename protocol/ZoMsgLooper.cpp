#include "ZoMsgLooper.h"

#include "ZoFcsProtocolBase.h"
#include "ZoFirmwareUpdateProtocol.h"
#include "ZoLittleEndian.h"
#include "ZoPlaneConfig.h"
#include "ZoPureSerialPortWrapper.h"
#include "ZoPureTCPClientWrapper.h"
#include "ZoPureUdpWapper.h"
#include "ZoPureWapper.h"
#include "ZoUtils.h"

#include <QDateTime>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <chrono>

Q_LOGGING_CATEGORY(lcLooper, "tolvane.looper")

namespace {

constexpr tdu1 SubAddress = 0x00;
constexpr tdu1 SubSequence = 0x10;
constexpr tdu1 SubCanReply = 0x5F;
constexpr tdu1 SubBusReply = 0x9B;
constexpr tdu1 SubEnterBootloader = 0xE1;
constexpr tdu1 SubVersion = 0xE2;
constexpr tdu1 SubCompileTime = 0xE3;
constexpr tdu1 SubIdentity = 0xEB;

constexpr tdu1 ReplyMarker = 0x81;
constexpr tdu1 CmdErase = '!';
constexpr tdu1 CmdProgram = '1';
constexpr tdu1 CmdParameters = 0x22;
constexpr tdu1 CmdModuleVersion = 'A';

constexpr tdu1 BusSelectorIdentity = 0xFA;
constexpr tdu1 BusSelectorTransfer = 0xFC;

constexpr tdu1 VariantShortForm = 3;

// A block index counts 32-byte units of the image.
constexpr tds4 BlockUnit = 32;

tVersion versionOf(tdu1 type, const tdu1 *mmr)
{
    tVersion v;
    v.type = type;
    v.major = mmr[0];
    v.minor = mmr[1];
    v.revision = mmr[2];
    return v;
}

QString nameOf(tdu1 code)
{
    int airframe = 0;
    return ZoUtils::deviceName(code, airframe);
}

bool isApplicationMode(tds4 mode)
{
    return mode == 0 || mode == 1;
}

bool isBootloaderMode(tds4 mode)
{
    return mode == 2 || mode == 3;
}

} // namespace

ZoMsgLooper::ZoMsgLooper()
{
    // The signals cross to the GUI thread queued; registering here as well
    // keeps a looper usable by any owner (the main window registers too).
    qRegisterMetaType<tdu1>("tdu1");
    qRegisterMetaType<tds4>("tds4");
    qRegisterMetaType<tVersion>("tVersion");
    qRegisterMetaType<tFcsDateTime>("tFcsDateTime");
    qRegisterMetaType<ZoPlaneConfig>("ZoPlaneConfig");

    rxQueue.configure(RecordSize, 10);
    sendQueue.configure(RecordSize, 5);
    gcpmQueue.configure(RecordSize, 10);
    gcpmTarget = ZoGcpmTarget::fromEnvironment();
    gcpmProtocol = std::make_unique<ZoGcpmProtocol>();

    // Connected before the thread runs so that a command queued right after
    // startLooper() is not lost; the queued call waits for the event loop.
    connect(this, &ZoMsgLooper::readyReadMsg, this, &ZoMsgLooper::onReadGNCMsg);
    connect(this, &ZoMsgLooper::sigSendCmd, this, &ZoMsgLooper::onSendDataToGNC);

    moveToThread(this);
}

ZoMsgLooper::~ZoMsgLooper()
{
    if (isRunning()) {
        quit();
        if (!wait(3000))
            qCWarning(lcLooper) << "ZoMsgLooper::~ZoMsgLooper - worker thread did not stop";
    }
}

void ZoMsgLooper::setPlaneConfig(ZoPlaneConfig *config)
{
    // The writer belongs to the calling thread, so the queued signal runs the
    // write there; deleting it drops the connection and any report still
    // waiting for it.
    configWriter.reset();
    if (!config)
        return;
    configWriter = std::make_unique<QObject>();
    connect(
        this, &ZoMsgLooper::sigPlaneConfigUsed, configWriter.get(),
        [config](const ZoPlaneConfig &settings) { config->applyLink(settings); },
        Qt::QueuedConnection);
}

void ZoMsgLooper::startLooper()
{
    start(QThread::InheritPriority);
}

void ZoMsgLooper::run()
{
    ownFcs = std::make_unique<ZoFcsProtocolBase>();
    ownFcs->setReceiver(this);
    ownUpdate = std::make_unique<ZoFirmwareUpdateProtocol>();
    ownUpdate->setReceiver(this);
    lastRxTime = QDateTime::currentMSecsSinceEpoch();
    dlCheckTimer = std::make_unique<QTimer>();
    dlCheckTimer->setInterval(DataLinkCheckMs);
    dlCheckTimer->setTimerType(Qt::PreciseTimer);
    connect(dlCheckTimer.get(), &QTimer::timeout, this, &ZoMsgLooper::onDLCheckTimeout);
    ready = true;

    exec();

    ready = false;

    // Whatever ended the loop, the link and the timers belong to this thread
    // and go with it.
    QMutexLocker locker(&mutex);
    dropLink();
    dlCheckTimer.reset();
}

void ZoMsgLooper::dropLink()
{
    if (link) {
        link->removeReceiver(this);
        link->close();
        link.reset();
    }
    stopAnnouncer();
}

void ZoMsgLooper::finishOpen(LinkKind kind, bool ok)
{
    if (ok && dlCheckTimer && !dlCheckTimer->isActive())
        dlCheckTimer->start();
    emit openPlaneComm(int(kind), ok);
}

void ZoMsgLooper::onOpenPlaneUdp(QString host, tds4 hostPort, tds4 localPort)
{
    QMutexLocker locker(&mutex);
    dropLink();
    auto udp = std::make_unique<ZoPureUdpWapper>();
    udp->addReceiver(this);
    udp->setName(host);
    udp->setHostAddress(host);
    udp->setPort(localPort);
    udp->hostPort = hostPort;
    const bool ok = udp->open();
    link = std::move(udp);
    finishOpen(LinkUdp, ok);

    ZoPlaneConfig used;
    used.type = ZoPlaneConfig::LinkUdp;
    used.host = host;
    used.hostport = tdu4(hostPort);
    used.localPort = tdu4(localPort);
    emit sigPlaneConfigUsed(used);
    connected = false;
    protocolModeNow = ModeApplication;
}

void ZoMsgLooper::onOpenPlaneSerial(
    QString com, tds4 baud, tds4 dataBits, tds4 parity, tds4 stopBits)
{
    QMutexLocker locker(&mutex);
    dropLink();
    auto serial = std::make_unique<ZoPureSerialPortWrapper>();
    serial->addReceiver(this);
    serial->setName(com);
    serial->baud = baud;
    serial->dataBits = dataBits;
    serial->parity = parity;
    serial->stopBits = stopBits;
    const bool ok = serial->open();
    const QString denied = serial->deniedNode();
    link = std::move(serial);
    if (!denied.isEmpty())
        emit sigSerialPortDenied(denied);
    finishOpen(LinkSerial, ok);

    ZoPlaneConfig used;
    used.type = ZoPlaneConfig::LinkSerialPort;
    used.com = com;
    used.baud = tdu4(baud);
    used.databits = tdu4(dataBits);
    used.parity = tdu1(parity);
    used.stopbits = tdu1(stopBits);
    emit sigPlaneConfigUsed(used);
    connected = false;
    protocolModeNow = ModeApplication;
    moduleVariantNow = 0;
}

void ZoMsgLooper::onOpenPlaneTCPClient(QString host, tds4 hostPort, tds4 localPort)
{
    QMutexLocker locker(&mutex);
    dropLink();
    auto tcp = std::make_unique<ZoPureTCPClientWrapper>();
    tcp->addReceiver(this);
    connect(tcp.get(), &ZoPureTCPClientWrapper::sigOpenCommSucc, this, &ZoMsgLooper::onOpenComSucc);
    tcp->setName(host);
    tcp->setHostAddress(host);
    tcp->hostPort = hostPort;
    tcp->setPort(localPort);
    ZoPureTCPClientWrapper *raw = tcp.get();
    link = std::move(tcp);
    const bool ok = raw->open();
    finishOpen(LinkTcpClient, ok);

    // The settings are reported before the announcer starts; the announcer
    // takes this connection's server host and port as arguments and reads
    // nothing from the record.
    ZoPlaneConfig used;
    used.type = ZoPlaneConfig::LinkTcpClient;
    used.TcpServerHost = host;
    used.TcpServerHostPort = tdu4(hostPort);
    used.TcpClientLocalPort = tdu4(localPort);
    emit sigPlaneConfigUsed(used);
    startAnnouncer(host, localPort > 0 ? localPort : tds4(raw->boundPort()));

    connected = false;
    protocolModeNow = ModeApplication;
}

void ZoMsgLooper::closeLink()
{
    {
        QMutexLocker locker(&mutex);
        dropLink();
    }
    if (dlCheckTimer && dlCheckTimer->isActive())
        dlCheckTimer->stop();
    connected = false;
    rxQueue.clear();
    addressCaptured = false;
    peerAddress = 0;
    emit sigCloseComState(true);
    emit sigPlaneConnectionChanged(false);
}

void ZoMsgLooper::onClosePlaneComm()
{
    closeLink();
}

void ZoMsgLooper::onOpenComSucc(bool succ)
{
    emit openPlaneComm(int(LinkTcpClient), succ);
}

void ZoMsgLooper::onTerminateLooper()
{
    closeLink();
    exit(0);
}

// ---- receiving -------------------------------------------------------------

void ZoMsgLooper::feedBytes(const tdu1 *data, tds4 count)
{
    if (!data || count < 1)
        return;
    const qint64 now = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
                           .count();
    // A frame's bytes come together (the longest takes a quarter second at
    // 9600 baud): one still incomplete after this long had a damaged length
    // byte, and the replies caught in it are looked for again. Bootloader
    // replies carry no checked CRC, and the resends would wait behind it.
    const bool overdue = now - lastRxNs.exchange(now) > StalePartialNs;
    const tds4 mode = protocolModeNow.load();
    if (isApplicationMode(mode)) {
        if (ZoFcsProtocolBase *fcs = ownFcs.get()) {
            if (overdue)
                fcs->dropPartial();
            fcs->feed(data, count);
        }
    } else if (isBootloaderMode(mode)) {
        if (ZoFirmwareUpdateProtocol *upd = ownUpdate.get()) {
            if (overdue)
                upd->dropPartial();
            upd->feed(data, count);
        }
    }
}

void ZoMsgLooper::onUdpData(const tdu1 *data, tds4 count)
{
    // A datagram is one chunk: one larger than a codec chunk is dropped whole.
    feedBytes(data, count);
}

void ZoMsgLooper::onTcpData(const tdu1 *data, tds4 count)
{
    // A stream has no chunk boundaries of its own; a read of more bytes than
    // the codec takes at once is handed on in pieces instead of being lost.
    if (!data)
        return;
    const tds4 piece = ZoProtocolBase::MaxChunk;
    for (tds4 done = 0; done < count; done += piece)
        feedBytes(data + done, std::min(piece, count - done));
}

void ZoMsgLooper::onSerialData(const tdu1 *data, tds4 count)
{
    feedBytes(data, count);
}

void ZoMsgLooper::onPackage(const tdu1 *frame, tdu2 length)
{
    lastRxTime = QDateTime::currentMSecsSinceEpoch();
    // A frame longer than a record is dropped here, never cut or overrun.
    if (rxQueue.push(frame, length))
        emit readyReadMsg();
}

void ZoMsgLooper::onBadPackage(const tdu1 *, tdu2)
{
    lastRxTime = QDateTime::currentMSecsSinceEpoch();
}

void ZoMsgLooper::onReadGNCMsg()
{
    const tdu2 length = rxQueue.popInto(rxFrame.data(), tdu2(rxFrame.size()));
    if (length == 0)
        return;
    if (isBootloaderMode(protocolModeNow.load()))
        decodeBootloaderReply(rxFrame.data(), length);
    else
        decodeApplicationFrame(rxFrame.data(), length);
}

void ZoMsgLooper::reportConnected()
{
    connected = true;
    emit sigPlaneConnectionChanged(true);
}

void ZoMsgLooper::decodeApplicationFrame(const tdu1 *frame, tdu2 length)
{
    ZoFcsProtocolBase *fcs = ownFcs.get();
    if (!fcs || length < ZoProtocolBase::MinFrame)
        return;
    const tdu1 count = ZoProtocolBase::subMessageCountOf(frame, length);
    bool justConnected = false;
    if (count >= 1 && !connected) {
        reportConnected();
        justConnected = true;
    }
    if (justConnected || !addressCaptured) {
        captureAddress(frame, length);
        addressCaptured = true;
    }

    // The body ends where the CRC starts; a sub-message must at least have
    // its type and length byte there, and one whose length byte runs past the
    // body is not read at all.
    const int bodyEnd = std::min<int>(frame[2] + 1, length - 2);
    for (tdu1 i = 0; i < count; ++i) {
        tdu1 dataLength = 0;
        const tdu1 *sub = ZoProtocolBase::subMessageOf(frame, i, dataLength, length);
        if (!sub)
            break;
        const int offset = int(sub - frame);
        if (offset + 2 > bodyEnd || sub[1] != dataLength || offset + 2 + dataLength > bodyEnd)
            continue;
        const tdu2 available = tdu2(dataLength + 2);
        const tdu1 *data = sub + 2;
        switch (sub[0]) {
        case SubCanReply:
            if (dataLength > 2)
                decodeCanReply(data, dataLength);
            break;
        case SubBusReply:
            if (dataLength >= 2)
                decodeBusReply(data, dataLength);
            break;
        case SubVersion: {
            tVersion version;
            if (fcs->parseVersion(sub, version, available) >= 0)
                emit sigGNCFMVersion(version);
            break;
        }
        case SubCompileTime: {
            tFcsDateTime time;
            if (fcs->parseCompileTime(sub, time, available) >= 0)
                emit sigGNCCompileTime(time);
            break;
        }
        case SubIdentity: {
            // A one-byte status reply carries no identity; nothing is shown.
            std::unique_ptr<tdu1[]> text;
            tdu1 textLength = 0;
            if (fcs->parseIdentity(sub, text, textLength, available) == 0 && text
                && textLength > 0) {
                const QByteArray raw(reinterpret_cast<const char *>(text.get()), textLength);
                emit sigGNCEID(QString::fromLatin1(raw.toHex().toUpper()));
            }
            break;
        }
        default:
            break;
        }
    }
}

void ZoMsgLooper::captureAddress(const tdu1 *frame, tdu2 length)
{
    tdu4 address = 0;
    // The address sub-message must lie inside the body: [0x00, n, data].
    const int bodyEnd = std::min<int>(frame[2] + 1, length - 2);
    if (bodyEnd >= 5 && frame[3] == SubAddress) {
        const int n = frame[4];
        if (n == 4 && 5 + 4 <= bodyEnd)
            address = ZoLittleEndian::read32(frame, size_t(bodyEnd), 5);
        else if (n != 4 && n >= 8 && 5 + 8 <= bodyEnd)
            address = ZoLittleEndian::read32(frame, size_t(bodyEnd), 9);
    }
    if (address == 0) {
        hasAddressPrefix = false;
        return;
    }
    peerAddress = address;
    addressPrefix = {SubAddress, 0x08, tdu1(address), tdu1(address >> 8), tdu1(address >> 16),
        tdu1(address >> 24), 0, 0, 0, 0};
    hasAddressPrefix = true;
}

void ZoMsgLooper::decodeCanReply(const tdu1 *data, tdu2 length)
{
    const tdu2 identifier = ZoLittleEndian::read16(data, length, 0);
    const tdu1 *payload = data + 2;
    const tdu2 n = tdu2(length - 2);
    const bool shortForm = moduleVariantNow.load() == VariantShortForm;

    if (identifier < 0xF0)
        return;
    if (identifier == 0xF0 || identifier == 0xF1) {
        if (n != 8 || payload[1] != 0x10)
            return;
        const tVersion version = versionOf(payload[0], payload + 4);
        const tdu2 serial = ZoLittleEndian::read16(payload, n, 2);
        const tdu1 index = payload[7];
        qCDebug(lcLooper).noquote()
            << "CAN DeviceInfo:" << nameOf(version.type) << "DEVIDx:" << index << "SN:" << serial
            << "Version:" << ZoUtils::versionText(version);
        emit sigCANDevVersion(version, index, QString::number(serial, 16));
        return;
    }
    if (identifier == 0x6F1) {
        if (shortForm) {
            decodeShortForm(payload, n, false);
            return;
        }
        if (n < 3 || payload[0] != ReplyMarker)
            return;
        if (payload[1] == CmdErase) {
            emit sigCANDevUpgEraseFlashAck();
        } else if (payload[1] == CmdProgram && n >= 4) {
            const tdu2 index = ZoLittleEndian::read16(payload, n, 2);
            emit sigCANDevUpgradeProgAck(tds4(index) * BlockUnit);
            qCDebug(lcLooper) << "handleBLUpgradedSinglePacket ACK: " << index;
        }
        return;
    }
    if (identifier == 0x6F2) {
        if (shortForm) {
            if (n >= 4)
                qCDebug(lcLooper) << "CAN DeviceInfo ACK decTYPE,Idx,cmdId:" << payload[0]
                                  << payload[1] << payload[2] << payload[3];
            return;
        }
        decodeLongForm(payload, n);
    }
}

void ZoMsgLooper::decodeBusReply(const tdu1 *data, tdu2 length)
{
    const tdu1 selector = data[1];
    const tdu1 *payload = data + 2;
    const tdu2 n = tdu2(length - 2);
    if (selector == BusSelectorIdentity) {
        if (n != 8)
            return;
        const tVersion version = versionOf(payload[0], payload + 4);
        const tdu1 index = payload[1] & 0x7F;
        qCDebug(lcLooper).noquote()
            << "CAN DeviceInfo:" << nameOf(version.type) << "DEVIDx:" << index
            << "SN:" << ZoLittleEndian::read16(payload, n, 2)
            << "Version:" << ZoUtils::versionText(version);
        emit sigCANDevVersion(version, index, QString::number(index));
    } else if (selector == BusSelectorTransfer) {
        decodeShortForm(payload, n, true);
    }
}

void ZoMsgLooper::decodeShortForm(const tdu1 *payload, tdu2 length, bool bus)
{
    // [byte 0, device index, command, data length n, data...]
    if (length < 4)
        return;
    const tdu1 index = payload[1];
    const tdu1 command = payload[2];
    const tdu1 n = payload[3];
    const tdu1 *data = payload + 4;
    const ZoDeviceKey peer = ZoDeviceKey::fromPacked(transferPeer.load());
    if ((command == CmdErase || command == CmdProgram) && !peer.isNull()
        && peer != ZoDeviceKey(payload[0], index)) {
        qCDebug(lcLooper) << "Acknowledgement of another device ignored:" << payload[0] << index;
        return;
    }
    if (command == CmdErase) {
        if (length == 4 || n == 0)
            emit sigCANDevUpgEraseFlashAck();
    } else if (command == CmdProgram) {
        if ((length == 6 || n == 2) && length >= 6) {
            const tdu2 block = ZoLittleEndian::read16(payload, length, 4);
            emit sigCANDevUpgradeProgAck(tds4(block) * BlockUnit);
            qCDebug(lcLooper) << (bus ? "handleBLUpgradedDBUSV2 ACK: "
                                      : "handleBLUpgradedSinglePacket ACK: ")
                              << block;
        }
    } else if (command == CmdModuleVersion) {
        if ((length == 8 || n == 4) && length >= 8) {
            const tVersion version = versionOf(data[0], data + 1);
            qCDebug(lcLooper).noquote()
                << (bus ? "DBUS DeviceInfo:" : "CAN DeviceInfo:") << nameOf(version.type)
                << payload[0] << "Version:" << ZoUtils::versionText(version);
            emit sigCANDevBootloaderReport(version, index);
            emit sigCANDevVersion(version, index, QString::number(index));
        }
    }
}

void ZoMsgLooper::decodeLongForm(const tdu1 *payload, tdu2 length)
{
    // [0x81, command, ...]
    if (length < 3 || payload[0] != ReplyMarker)
        return;
    const tdu1 command = payload[1];
    if (command == CmdErase) {
        emit sigCANDevUpgEraseFlashAck();
    } else if (command == CmdParameters) {
        if (length != 50)
            return;
        const tVersion version = versionOf(payload[24], payload + 25);
        qCDebug(lcLooper).noquote() << "CAN DeviceInfo:" << nameOf(version.type)
                                    << "Version:" << ZoUtils::versionText(version);
        emit sigCANDevBootloaderReport(version, 0);
        emit sigCANDevVersion(version, 0, QString());
    } else if (command == CmdProgram && length >= 4) {
        const tdu2 index = ZoLittleEndian::read16(payload, length, 2);
        emit sigCANDevUpgradeProgAck(tds4(index) * BlockUnit);
        qCDebug(lcLooper) << "handleBLUpgradedMultiPacket ACK: " << index;
    }
}

void ZoMsgLooper::decodeBootloaderReply(const tdu1 *frame, tdu2 length)
{
    if (length < 6)
        return;
    if (!connected)
        reportConnected();
    // Byte 6 names the command answered; a frame that ends before it says
    // nothing.
    if (length < 7 || frame[5] != ReplyMarker)
        return;
    const tdu1 command = frame[6];
    if (command == CmdErase) {
        emit sigGNCUpgEraseFlashAck();
    } else if (command == CmdParameters) {
        if (length != 55)
            return;
        const tdu1 *parameters = frame + 7;
        const tVersion version = versionOf(parameters[22], parameters + 23);
        qCDebug(lcLooper).noquote() << "CAN DeviceInfo:" << nameOf(version.type)
                                    << "Version:" << ZoUtils::versionText(version);
        emit sigGNCFMVersion(version);
    } else if (command == CmdProgram) {
        if (length < 9)
            return;
        ZoFirmwareUpdateProtocol *upd = ownUpdate.get();
        const tdu2 index
            = upd ? upd->parseAck(frame, true, length) : ZoLittleEndian::read16(frame, length, 7);
        emit sigGNCUpgradeProgAck(tds4(index) * BlockUnit);
    }
}

// ---- data-link check and sending --------------------------------------------

void ZoMsgLooper::onDLCheckTimeout()
{
    if (QDateTime::currentMSecsSinceEpoch() - lastRxTime >= SilenceMs) {
        connected = false;
        emit sigPlaneConnectionChanged(false);
    }
}

void ZoMsgLooper::onSendDataToGNC()
{
    QMutexLocker locker(&mutex);
    // Taken even without a link: a command meant for a link that is gone
    // must not reach the next one.
    const tdu2 length = sendQueue.popInto(txCommand.data(), tdu2(txCommand.size()));
    const tds4 mode = protocolModeNow.load();
    if (!link || !link->isOpen() || length == 0 || mode < 0)
        return;

    const tdu1 *out = nullptr;
    tds4 outLength = 0;
    if (isApplicationMode(mode)) {
        ZoFcsProtocolBase *fcs = ownFcs.get();
        if (!fcs)
            return;
        // [address sub-message][sequence sub-message] command; entering the
        // bootloader goes without a sequence number.
        tdu1 prefix[14];
        tdu1 prefixLength = 0;
        if (hasAddressPrefix) {
            std::copy(addressPrefix.begin(), addressPrefix.end(), prefix);
            prefixLength = tdu1(addressPrefix.size());
        }
        if (txCommand[0] != SubEnterBootloader) {
            ++sequenceCounter;
            sequenceMessage = {SubSequence, 0x02, sequenceCounter, sequenceValue};
            std::copy(sequenceMessage.begin(), sequenceMessage.end(), prefix + prefixLength);
            prefixLength = tdu1(prefixLength + sequenceMessage.size());
        }
        if (length + prefixLength > ZoProtocolBase::MaxFrameBody) {
            qCWarning(lcLooper) << "ZoMsgLooper::onSendDataToGNC - command too long for a frame:"
                                << length;
            return;
        }
        tdu1 frameLength = tdu1(length);
        out = fcs->buildFrame(prefix, prefixLength, txCommand.data(), frameLength);
        outLength = frameLength;
    } else if (isBootloaderMode(mode)) {
        out = txCommand.data();
        outLength = length;
    }
    if (!out || outLength <= 0)
        return;
    link->write(out, outLength);
    qCDebug(lcLooper).noquote()
        << "writedata" << QByteArray(reinterpret_cast<const char *>(out), outLength).toHex(' ');
}

bool ZoMsgLooper::sendCommand(const tdu1 *bytes, int length)
{
    if (!ready.load() || !bytes || length <= 0 || length > RecordSize)
        return false;
    if (!sendQueue.push(bytes, tdu2(length)))
        return false;
    if (QThread::currentThread() == this)
        onSendDataToGNC();
    else
        emit sigSendCmd();
    return true;
}

void ZoMsgLooper::setProtocol(tds4 mode, tdu1 variant)
{
    if (QThread::currentThread() == this) {
        applyProtocol(mode, variant);
        return;
    }
    // Queued behind the sigSendCmd of every command sent before it, so those
    // still go out in the protocol they were built for.
    QMetaObject::invokeMethod(
        this, [this, mode, variant] { applyProtocol(mode, variant); }, Qt::QueuedConnection);
}

void ZoMsgLooper::setTransferPeer(ZoDeviceKey peer)
{
    transferPeer = peer.isNull() ? 0 : peer.packed();
}

void ZoMsgLooper::applyProtocol(tds4 mode, tdu1 variant)
{
    protocolModeNow = mode;
    moduleVariantNow = variant;
}

// ---- GCPM announcer ---------------------------------------------------------

void ZoMsgLooper::startAnnouncer(const QString &serverHost, tds4 clientPort)
{
    stopAnnouncer();
    gcpmSocket = std::make_unique<QUdpSocket>();
    gcpmTimer = std::make_unique<QTimer>();
    gcpmTimer->setInterval(GcpmPollMs);
    gcpmTimer->setTimerType(Qt::PreciseTimer);
    connect(gcpmTimer.get(), &QTimer::timeout, this, &ZoMsgLooper::onSendGmpCmdTimer);
    gcpmTimer->start();

    const QString own = ZoUtils::findIpSameNetSegmentToIds(serverHost);
    if (own.isEmpty())
        return;
    bool ok = false;
    const tdu4 address = ZoUtils::ipToUInt(own, &ok);
    if (!ok)
        return;
    const tdu2 port = tdu2(clientPort);
    const tdu1 args[ZoGcpmProtocol::AnnounceArgs] = {tdu1(address), tdu1(address >> 8),
        tdu1(address >> 16), tdu1(address >> 24), tdu1(port), tdu1(port >> 8)};
    tdu1 length = ZoGcpmProtocol::AnnounceArgs;
    const tdu1 *command = gcpmProtocol->makeAnnounce(args, length);
    if (!command)
        return;
    tdu2 frameLength = length;
    const tdu1 *frame = gcpmProtocol->buildFrame(command, frameLength);
    if (frame)
        gcpmSocket->writeDatagram(reinterpret_cast<const char *>(frame), frameLength,
            QHostAddress(gcpmTarget.address), gcpmTarget.port);
}

void ZoMsgLooper::stopAnnouncer()
{
    if (gcpmTimer)
        gcpmTimer->stop();
    gcpmTimer.reset();
    gcpmSocket.reset();
}

void ZoMsgLooper::onSendGmpCmdTimer()
{
    if (!gcpmSocket)
        return;
    tdu1 length = 0;
    const tdu1 *poll = gcpmProtocol->makePoll(length);
    gcpmQueue.push(poll, length);
    tdu1 command[RecordSize];
    const tdu2 queued = gcpmQueue.popInto(command, sizeof command);
    if (queued == 0)
        return;
    tdu2 frameLength = queued;
    const tdu1 *frame = gcpmProtocol->buildFrame(command, frameLength);
    if (frame)
        gcpmSocket->writeDatagram(reinterpret_cast<const char *>(frame), frameLength,
            QHostAddress(gcpmTarget.address), gcpmTarget.port);
}
