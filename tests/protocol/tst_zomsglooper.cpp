#include "ZoFcsProtocolBase.h"
#include "ZoFirmwareUpdateProtocol.h"
#include "ZoMsgLooper.h"
#include "ZoPlaneConfig.h"
#include "ZoProtocolTestUtil.h"
#include "ZoTestPlaneConfig.h"
#include "ZoTestPty.h"
#include "ZoUtils.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

// The looper on its own thread against scripted peers over loopback sockets
// and a pseudo-terminal. Expected frames are written out byte by byte here;
// the CRC is the tests' own bitwise CRC-16/MODBUS.
namespace {

tdu2 xmodem(const QByteArray &b)
{
    tdu2 crc = 0;
    for (char c : b) {
        crc ^= tdu2(tdu1(c) << 8);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x8000) ? tdu2((crc << 1) ^ 0x1021) : tdu2(crc << 1);
    }
    return crc;
}

QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}

// [type, n, data]
QByteArray sub(tdu1 type, const QByteArray &data)
{
    return QByteArray(1, char(type)) + char(data.size()) + data;
}

// Bootloader reply: EB 90, total length, CRC over byte 6 on, then bytes 5...
QByteArray boot(const QByteArray &fromByte5)
{
    const tdu2 crc = referenceCrc(fromByte5.mid(1));
    return hex("eb90") + char(fromByte5.size() + 5) + char(crc & 0xFF) + char(crc >> 8) + fromByte5;
}

// 0x22 answer: 48 parameter bytes with the version record at 22..25.
QByteArray parameters(tdu1 type, tdu1 major, tdu1 minor, tdu1 rev, int size = 48)
{
    const QByteArray p = QByteArray(22, '\0') + char(type) + char(major) + char(minor) + char(rev)
        + QByteArray(22, '\0');
    return boot(hex("8122") + p.left(size));
}

QByteArray canReply(tdu2 id, const QByteArray &payload)
{
    return appFrame(sub(0x5F, QByteArray(1, char(id & 0xFF)) + char(id >> 8) + payload));
}

QByteArray busReply(tdu1 selector, const QByteArray &payload)
{
    return appFrame(sub(0x9B, QByteArray(1, char(0xA0)) + char(selector) + payload));
}

// A signal's arguments as the event log writes them.
QString str(int x)
{
    return QString::number(x);
}
QString str(const QString &s)
{
    return s;
}
QString str(const tVersion &x)
{
    return QStringLiteral("%1.%2.%3.%4").arg(x.type).arg(x.major).arg(x.minor).arg(x.revision);
}
QString str(const tFcsDateTime &t)
{
    return QString::asprintf(
        "%d-%d-%d %d:%d:%d", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

const QString kMarker = QStringLiteral("sigGNCFMVersion(238.9.9.9)");

// Every field differs from the defaults and from what the tests open with,
// so a field that an open must leave alone shows.
const QString kMarked = QStringLiteral("9|mark-com|1|2|3|4|mark-host|5|6|mark-tcp|7|8");

} // namespace

class TstZoMsgLooper : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ZoMsgLooper> looper;
    ZoPlaneConfig planeConfig;
    QUdpSocket gcpm;
    QStringList events;

    std::unique_ptr<QUdpSocket> peer;
    quint16 looperPort = 0;

    // Every emission of `signal` is logged as "name(arg,arg)".
    template <typename... A> void record(void (ZoMsgLooper::*signal)(A...), const char *name)
    {
        connect(looper.get(), signal, this, [this, name](A... a) {
            events << QStringLiteral("%1(%2)").arg(
                QLatin1String(name), QStringList {str(a)...}.join(QLatin1Char(',')));
        });
    }

    void connectAll()
    {
        record(&ZoMsgLooper::openPlaneComm, "openPlaneComm");
        record(&ZoMsgLooper::sigCloseComState, "sigCloseComState");
        record(&ZoMsgLooper::sigPlaneConnectionChanged, "sigPlaneConnectionChanged");
        record(&ZoMsgLooper::sigGNCFMVersion, "sigGNCFMVersion");
        record(&ZoMsgLooper::sigGNCEID, "sigGNCEID");
        record(&ZoMsgLooper::sigCANDevVersion, "sigCANDevVersion");
        record(&ZoMsgLooper::sigGNCCompileTime, "sigGNCCompileTime");
        record(&ZoMsgLooper::sigGNCUpgEraseFlashAck, "sigGNCUpgEraseFlashAck");
        record(&ZoMsgLooper::sigCANDevUpgEraseFlashAck, "sigCANDevUpgEraseFlashAck");
        record(&ZoMsgLooper::sigGNCUpgradeProgAck, "sigGNCUpgradeProgAck");
        record(&ZoMsgLooper::sigCANDevUpgradeProgAck, "sigCANDevUpgradeProgAck");
    }

    // Queues one command the way the workflow does.
    bool sendCommand(const QByteArray &cmd)
    {
        return looper->sendCommand(reinterpret_cast<const tdu1 *>(cmd.constData()), cmd.size());
    }

    // A protocol change from another thread takes effect on the looper's.
    bool setMode(tds4 mode, tdu1 variant = 0)
    {
        looper->setProtocol(mode, variant);
        return QTest::qWaitFor([&] {
            return looper->protocolMode() == mode && looper->moduleVariant() == variant;
        });
    }

    QByteArray readPeer(int timeoutMs = 2000)
    {
        if (!peer->hasPendingDatagrams() && !peer->waitForReadyRead(timeoutMs))
            return QByteArray();
        QByteArray d(int(peer->pendingDatagramSize()), '\0');
        quint16 port = 0;
        peer->readDatagram(d.data(), d.size(), nullptr, &port);
        looperPort = port;
        return d;
    }

    // Runs an open slot on the worker thread and returns once it has run,
    // before this thread has handled any event. Only the queued report may
    // change the shared record, here on this thread, so it must still be as
    // it was; false if it is not.
    template <typename F> bool openOnWorker(F open)
    {
        const QString before = zoLinkFields(planeConfig);
        QMetaObject::invokeMethod(looper.get(), open, Qt::BlockingQueuedConnection);
        if (zoLinkFields(planeConfig) == before)
            return true;
        qWarning("the worker thread wrote the shared link record");
        return false;
    }

    // Lets the reports of earlier opens in, then marks every field of the
    // shared record.
    void markRecord()
    {
        QCoreApplication::sendPostedEvents();
        planeConfig = zoLinkFromFields(kMarked);
    }

    // Opens a UDP link to a fresh peer; the looper's own port is learnt from
    // the source of a first command.
    bool openUdp()
    {
        peer = std::make_unique<QUdpSocket>();
        if (!peer->bind(QHostAddress(QHostAddress::LocalHost), 0))
            return false;
        events.clear();
        const quint16 peerPort = peer->localPort();
        if (!openOnWorker([l = looper.get(), peerPort] {
                l->onOpenPlaneUdp(QStringLiteral("127.0.0.1"), peerPort, 0);
            }))
            return false;
        if (!QTest::qWaitFor(
                [this] { return events.contains(QStringLiteral("openPlaneComm(0,1)")); }, 3000))
            return false;
        setMode(ZoMsgLooper::ModeApplication);
        sendCommand(hex("e20100"));
        return !readPeer().isEmpty() && looperPort != 0;
    }

    void toLooper(const QByteArray &bytes)
    {
        peer->writeDatagram(bytes, QHostAddress::LocalHost, looperPort);
    }

    // Everything sent before the marker has been decoded once the marker's
    // signal is back (frames decode in order).
    bool sync(bool bootloader)
    {
        toLooper(bootloader ? parameters(238, 9, 9, 9) : appFrame(sub(0xE2, hex("ee090909"))));
        if (!QTest::qWaitFor([this] { return events.contains(kMarker); }, 3000))
            return false;
        events.removeOne(kMarker);
        return true;
    }

    bool connectedOnUdp()
    {
        if (!openUdp())
            return false;
        toLooper(appFrame(sub(0x77, hex("00"))));
        if (!sync(false))
            return false;
        return events.removeAll(QStringLiteral("sigPlaneConnectionChanged(1)")) == 1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(gcpm.bind(QHostAddress(QHostAddress::LocalHost), 0));
        qputenv("TOLVANE_GCPM_HOST", "127.0.0.1");
        qputenv("TOLVANE_GCPM_PORT", QByteArray::number(gcpm.localPort()));
        looper = std::make_unique<ZoMsgLooper>();
        QVERIFY(!looper->planeConfigWriter());
        looper->setPlaneConfig(&planeConfig);
        // The record is written on this thread, never on the worker's.
        QVERIFY(looper->planeConfigWriter());
        QCOMPARE(looper->planeConfigWriter()->thread(), QThread::currentThread());
        connectAll();
        looper->startLooper();
        QTRY_VERIFY(looper->isReady());
        QVERIFY(connectedOnUdp());
    }

    void cleanupTestCase()
    {
        QMetaObject::invokeMethod(looper.get(), [l = looper.get()] { l->onTerminateLooper(); });
        QVERIFY(looper->wait(3000));
        looper.reset();
    }

    // Every reply of the table against exactly the signals it must give.
    void replies_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("variant");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");
        auto rowIn = [](int mode, int variant, const QByteArray &name, const QByteArray &bytes,
                         const QStringList &expected = {}) {
            QTest::newRow(name.constData()) << mode << variant << bytes << expected;
        };
        auto row = [&](const char *name, const QByteArray &bytes,
                       const QStringList &expected = {}) { rowIn(0, 0, name, bytes, expected); };

        // Application frames. Each parser's own refusals are the codec's
        // test; one refused reply per kind shows the looper stays silent.
        row("version", appFrame(sub(0xE2, hex("2a010203"))), {"sigGNCFMVersion(42.1.2.3)"});
        row("version status 5 gives zeros", appFrame(sub(0xE2, hex("05"))),
            {"sigGNCFMVersion(0.0.0.0)"});
        row("version 3 bytes", appFrame(sub(0xE2, hex("010203"))));
        row("compile time", appFrame(sub(0xE3, hex("e8070c06151e05"))),
            {"sigGNCCompileTime(2024-12-6 21:30:5)"});
        row("compile time 6 bytes", appFrame(sub(0xE3, hex("e8070c06151e"))));
        row("eid", appFrame(sub(0xEB, hex("01abcdef"))), {"sigGNCEID(01ABCDEF)"});
        row("eid status byte", appFrame(sub(0xEB, hex("07"))));
        row("eid empty", appFrame(sub(0xEB, QByteArray())));
        row("unknown type", appFrame(sub(0x77, hex("2a010203"))));
        row("bad crc", QByteArray(appFrame(sub(0xE2, hex("2a010203"))).chopped(1) + '\x00'));
        row("sub-message past the body", appFrame(hex("e20a2a010203")));
        row("two sub-messages one frame",
            appFrame(sub(0xEB, hex("beef")) + sub(0xE2, hex("2a010203"))),
            {"sigGNCEID(BEEF)", "sigGNCFMVersion(42.1.2.3)"});

        // CAN pass-through, identity and long form.
        row("can identity f1", canReply(0xF1, hex("2e10341201020305")),
            {"sigCANDevVersion(46.1.2.3,5,1234)"});
        row("can identity f0", canReply(0xF0, hex("251000ab07080900")),
            {"sigCANDevVersion(37.7.8.9,0,ab00)"});
        row("can identity marker", canReply(0xF1, hex("2e11341201020305")));
        row("can identity 7 bytes", canReply(0xF1, hex("2e103412010203")));
        row("can id below f0", canReply(0xEF, hex("2e10341201020305")));
        row("can id only", canReply(0x6F1, QByteArray()));
        row("6f1 erase", canReply(0x6F1, hex("812100")), {"sigCANDevUpgEraseFlashAck()"});
        row("6f1 program", canReply(0x6F1, hex("81310a00")), {"sigCANDevUpgradeProgAck(320)"});
        row("6f1 program cut", canReply(0x6F1, hex("81310a")));
        row("6f1 marker", canReply(0x6F1, hex("802100")));
        row("6f2 erase", canReply(0x6F2, hex("812100")), {"sigCANDevUpgEraseFlashAck()"});
        row("6f2 program", canReply(0x6F2, hex("81310501")), {"sigCANDevUpgradeProgAck(8352)"});
        // 0x81 0x22, then the version record at 24..27 of 50 bytes.
        const QByteArray longVersion
            = hex("8122") + QByteArray(22, '\0') + hex("4d030405") + QByteArray(22, '\0');
        row("6f2 version", canReply(0x6F2, longVersion), {"sigCANDevVersion(77.3.4.5,0,)"});
        row("6f2 version 49", canReply(0x6F2, longVersion.left(49)));
        row("6f2 marker", canReply(0x6F2, hex("822100")));
        row("6f2 unknown command", canReply(0x6F2, hex("815a00")));
        row("6f3", canReply(0x6F3, hex("812100")));

        // CAN pass-through, short form (module variant 3).
        rowIn(0, 3, "v3 6f1 erase", canReply(0x6F1, hex("4f022100")),
            {"sigCANDevUpgEraseFlashAck()"});
        rowIn(0, 3, "v3 6f1 erase n0 long", canReply(0x6F1, hex("4f02210099")),
            {"sigCANDevUpgEraseFlashAck()"});
        rowIn(0, 3, "v3 6f1 erase n1", canReply(0x6F1, hex("4f02210199")));
        rowIn(0, 3, "v3 6f1 program", canReply(0x6F1, hex("4f0231020a00")),
            {"sigCANDevUpgradeProgAck(320)"});
        rowIn(0, 3, "v3 6f1 program cut", canReply(0x6F1, hex("4f0231020a")));
        rowIn(0, 3, "v3 6f1 version", canReply(0x6F1, hex("4f0241044f010203")),
            {"sigCANDevVersion(79.1.2.3,2,2)"});
        rowIn(0, 3, "v3 6f1 version cut", canReply(0x6F1, hex("4f0241044f0102")));
        rowIn(0, 3, "v3 6f1 unknown", canReply(0x6F1, hex("4f025a00")));
        rowIn(0, 3, "v3 6f1 three bytes", canReply(0x6F1, hex("4f0221")));
        // With a transfer's device named (bits 8 and up: type, number), an
        // acknowledgement from another bootloader on the bus is not its own.
        rowIn(0, 3 | 0x4F0200, "v3 6f1 program, the device in flight",
            canReply(0x6F1, hex("4f0231020a00")), {"sigCANDevUpgradeProgAck(320)"});
        rowIn(0, 3 | 0x4F0200, "v3 6f1 program, another number", canReply(0x6F1, hex("4f0131020a00")));
        rowIn(0, 0x560300, "bus program, its twin", busReply(0xFC, hex("560131020b00")));
        rowIn(0, 0x560300, "bus erase, its twin", busReply(0xFC, hex("56012100")));
        rowIn(0, 3, "v3 6f2 logged only", canReply(0x6F2, hex("812100")));
        rowIn(0, 3, "v3 identity still read", canReply(0xF1, hex("2e10341201020305")),
            {"sigCANDevVersion(46.1.2.3,5,1234)"});

        // Bus pass-through.
        row("bus identity", busReply(0xFA, hex("5683341201020300")),
            {"sigCANDevVersion(86.1.2.3,3,3)"});
        row("bus identity 7", busReply(0xFA, hex("56833412010203")));
        row("bus erase", busReply(0xFC, hex("56012100")), {"sigCANDevUpgEraseFlashAck()"});
        row("bus program", busReply(0xFC, hex("560131020b00")), {"sigCANDevUpgradeProgAck(352)"});
        row("bus version", busReply(0xFC, hex("56044104560a0b0c")),
            {"sigCANDevVersion(86.10.11.12,4,4)"});
        row("bus short cut", busReply(0xFC, hex("560121")));
        row("bus selector fb", busReply(0xFB, hex("56012100")));
        row("bus one byte", appFrame(sub(0x9B, hex("a0"))));

        // Bootloader replies on the direct link.
        for (int mode : {2, 3}) {
            const QByteArray m = QByteArray::number(mode);
            rowIn(mode, 0, "boot erase " + m, boot(hex("8121")), {"sigGNCUpgEraseFlashAck()"});
            rowIn(
                mode, 0, "boot program " + m, boot(hex("81310a00")), {"sigGNCUpgradeProgAck(320)"});
        }
        rowIn(2, 0, "boot key mode ack", boot(hex("81320a00")));
        rowIn(2, 0, "boot program cut", boot(hex("81310a")));
        rowIn(2, 0, "boot parameters", parameters(41, 2, 20, 1), {"sigGNCFMVersion(41.2.20.1)"});
        rowIn(2, 0, "boot parameters 47", parameters(41, 2, 20, 1, 47));
        rowIn(2, 0, "boot marker", boot(hex("8021")));
        rowIn(2, 0, "boot six bytes", boot(hex("81")));
        rowIn(2, 0, "application frame in boot mode", appFrame(sub(0xE2, hex("2a010203"))));
        row("boot frame in application mode", boot(hex("8121")));
    }
    void replies()
    {
        QFETCH(int, mode);
        QFETCH(int, variant);
        QFETCH(QByteArray, bytes);
        // Above the variant's byte: the peer's type and number.
        looper->setTransferPeer(ZoDeviceKey(tdu1(variant >> 16), tdu1(variant >> 8)));
        QVERIFY(setMode(mode, tdu1(variant)));
        events.clear();
        toLooper(bytes);
        QVERIFY(sync(mode >= 2));
        QVERIFY(setMode(0));
        looper->setTransferPeer(ZoDeviceKey());
        QTEST(events, "expected");
    }

    // Frames that split and join across datagrams (the last one holds two
    // whole frames) still decode once, in order, past a frame too long to hold.
    void splitStream()
    {
        const QByteArray a = appFrame(sub(0xE2, hex("2a010203")));
        const QByteArray b = appFrame(sub(0xEB, hex("0102")));
        // A 257-byte frame fits neither a codec slot nor a queue record.
        const QByteArray oversized
            = withCrc(hex("ab0efe") + sub(0xE2, hex("2a010203")) + QByteArray(246, '\x77'));
        QCOMPARE(oversized.size(), 257);
        const QByteArray all = oversized + a + b;
        events.clear();
        for (int i = 0; i < all.size(); i += 50)
            toLooper(all.mid(i, 50));
        QVERIFY(sync(false));
        QCOMPARE(events, (QStringList {"sigGNCFMVersion(42.1.2.3)", "sigGNCEID(0102)"}));
    }

    // The first frame's address sub-message decides the prefix of every
    // later command frame; the sequence sub-message follows it.
    void addressPrefix_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("prefix");
        QTest::newRow("8 bytes") << sub(0x00, hex("0102030478563412"))
                                 << hex("00087856341200000000");
        QTest::newRow("4 bytes") << sub(0x00, hex("44332211")) << hex("00084433221100000000");
        QTest::newRow("zero address") << sub(0x00, hex("0102030400000000")) << QByteArray();
        QTest::newRow("6 bytes") << sub(0x00, hex("010203040506")) << QByteArray();
        QTest::newRow("other type first") << sub(0x77, hex("0102030478563412")) << QByteArray();
    }
    void addressPrefix()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, prefix);
        QVERIFY(openUdp());
        toLooper(appFrame(first + sub(0xE2, hex("2a010203"))));
        QTRY_VERIFY(events.contains(QStringLiteral("sigGNCFMVersion(42.1.2.3)")));
        // Captured once per connection: a later address changes nothing.
        toLooper(appFrame(sub(0x00, hex("01020304efbeadde"))));

        sendCommand(hex("e20100"));
        const QByteArray f1 = readPeer();
        QVERIFY(f1.size() > 3 + prefix.size() + 3);
        const tdu1 seq = tdu1(f1[3 + prefix.size() + 2]);
        QCOMPARE(f1, appFrame(prefix + hex("1002") + char(seq) + '\x00' + hex("e20100")));

        // Entering the bootloader carries no sequence number and uses none.
        const QByteArray enter = hex("e1080000000000000000");
        sendCommand(enter);
        QCOMPARE(readPeer(), appFrame(prefix + enter));
        sendCommand(hex("e30100"));
        QCOMPARE(readPeer(),
            appFrame(prefix + hex("1002") + char(tdu1(seq + 1)) + '\x00' + hex("e30100")));
    }

    // The bootloader protocol sends frames as they are; a mode outside both
    // protocols neither sends nor decodes.
    void sendModes()
    {
        QVERIFY(setMode(ZoMsgLooper::ModeCoreBootloader));
        const QByteArray leave = hex("eb9006ffff50");
        sendCommand(leave);
        QCOMPARE(readPeer(), leave);
        events.clear();
        for (int mode : {-1, 7}) {
            QVERIFY(setMode(mode));
            toLooper(appFrame(sub(0xE2, hex("2a010203"))));
            sendCommand(leave);
        }
        QTest::qWait(200);
        QVERIFY(!peer->hasPendingDatagrams());
        QVERIFY(setMode(0));
        QVERIFY(sync(false));
        QCOMPARE(events, QStringList());
    }

    void reopenReplacesLink()
    {
        QVERIFY(connectedOnUdp());
        QVERIFY(looper->isConnected());
        const quint16 oldPort = looperPort;
        auto oldPeer = std::move(peer);
        markRecord();
        QVERIFY(openUdp());
        QVERIFY(!looper->isConnected());
        QVERIFY(!events.contains(QStringLiteral("sigCloseComState(1)")));
        QVERIFY(looperPort != oldPort);
        // The old socket is gone: its port can be taken again.
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress::AnyIPv4, oldPort, QAbstractSocket::DontShareAddress));
        QVERIFY(!oldPeer->hasPendingDatagrams());
        toLooper(appFrame(sub(0x77, hex("00"))));
        QVERIFY(sync(false));
        QCOMPARE(events.count(QStringLiteral("sigPlaneConnectionChanged(1)")), 1);
        // The UDP fields only; the serial and TCP client ones keep their marks.
        const QString udp = QStringLiteral("0|mark-com|1|2|3|4|127.0.0.1|%1|0|mark-tcp|7|8")
                                .arg(peer->localPort());
        QTRY_COMPARE(zoLinkFields(planeConfig), udp);
    }

    // A command sent while no link is open is dropped: it must not reach
    // the next link, maybe another aircraft.
    void closedLinkDropsCommands()
    {
        QVERIFY(connectedOnUdp());
        events.clear();
        QMetaObject::invokeMethod(looper.get(), [l = looper.get()] { l->onClosePlaneComm(); });
        QTRY_COMPARE(events, (QStringList {"sigCloseComState(1)", "sigPlaneConnectionChanged(0)"}));
        QVERIFY(sendCommand(hex("e20100")));
        QTRY_COMPARE(looper->queuedCommands(), 0);
        QVERIFY(openUdp());
        QTest::qWait(100);
        QVERIFY(!peer->hasPendingDatagrams());
    }

    // Silence of two seconds is reported, and again every second after.
    void dataLinkCheck()
    {
        QVERIFY(connectedOnUdp());
        events.clear();
        QTRY_COMPARE_WITH_TIMEOUT(
            events.count(QStringLiteral("sigPlaneConnectionChanged(0)")), 2, 7000);
        QVERIFY(!looper->isConnected());
        toLooper(appFrame(sub(0x77, hex("00"))));
        QVERIFY(sync(false));
        QVERIFY(events.endsWith(QStringLiteral("sigPlaneConnectionChanged(1)")));
    }

    void serialLink()
    {
        ZoTestPty pty;
        QVERIFY(pty.isValid());
        events.clear();
        const QString name = pty.slaveName();
        markRecord();
        QVERIFY(
            openOnWorker([l = looper.get(), name] { l->onOpenPlaneSerial(name, 115200, 8, 0, 1); }));
        QTRY_VERIFY(events.contains(QStringLiteral("openPlaneComm(1,1)")));
        QVERIFY(pty.write(appFrame(sub(0xE2, hex("2a010203"))) + appFrame(sub(0xEB, hex("a1b2")))));
        QTRY_COMPARE(events,
            (QStringList {"openPlaneComm(1,1)", "sigPlaneConnectionChanged(1)",
                "sigGNCFMVersion(42.1.2.3)", "sigGNCEID(A1B2)"}));
        sendCommand(hex("e30100"));
        const QByteArray got = pty.read(12, 2000);
        QCOMPARE(got.size(), 12);
        QCOMPARE(got, appFrame(hex("1002") + got.mid(5, 1) + '\x00' + hex("e30100")));
        // The serial fields only; the UDP and TCP client ones keep their marks.
        const QString serial
            = QStringLiteral("1|%1|115200|8|0|1|mark-host|5|6|mark-tcp|7|8").arg(name);
        QTRY_COMPARE(zoLinkFields(planeConfig), serial);

        // A failed open records its settings all the same.
        QVERIFY(openOnWorker([l = looper.get()] {
            l->onOpenPlaneSerial(QStringLiteral("/dev/does-not-exist"), 57600, 7, 2, 2);
        }));
        QTRY_VERIFY(events.contains(QStringLiteral("openPlaneComm(1,0)")));
        const QString failed
            = QStringLiteral("1|/dev/does-not-exist|57600|7|2|2|mark-host|5|6|mark-tcp|7|8");
        QTRY_COMPARE(zoLinkFields(planeConfig), failed);
        QVERIFY(openUdp());
    }

    // TCP client: stream bursts larger than a codec chunk, GCPM polls while
    // the link is open, one failure report when the peer hangs up.
    void tcpLink()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        while (gcpm.hasPendingDatagrams())
            gcpm.receiveDatagram();
        events.clear();
        const quint16 port = server.serverPort();
        markRecord();
        QVERIFY(openOnWorker([l = looper.get(), port] {
            l->onOpenPlaneTCPClient(QStringLiteral("127.0.0.1"), port, 0);
        }));
        QVERIFY(server.waitForNewConnection(3000));
        std::unique_ptr<QTcpSocket> conn(server.nextPendingConnection());
        QTRY_COMPARE(events.count(QStringLiteral("openPlaneComm(2,1)")), 2);
        // The TCP client fields only; the serial and UDP ones keep their marks.
        const QString tcp
            = QStringLiteral("2|mark-com|1|2|3|4|mark-host|5|6|127.0.0.1|%1|0").arg(port);
        QTRY_COMPARE(zoLinkFields(planeConfig), tcp);

        QByteArray burst;
        QStringList want;
        for (int i = 0; i < 40; ++i) {
            burst += appFrame(sub(0xE2, QByteArray(1, char(1)) + char(i) + hex("0000")));
            want << QStringLiteral("sigGNCFMVersion(1.%1.0.0)").arg(i);
        }
        QVERIFY(burst.size() > 256);
        conn->write(burst);
        conn->flush();
        QTRY_COMPARE(events.filter(QStringLiteral("sigGNCFMVersion")), want);

        sendCommand(hex("e20100"));
        QTRY_VERIFY(conn->bytesAvailable() >= 12 || conn->waitForReadyRead(50));
        const QByteArray got = conn->readAll();
        QCOMPARE(got, appFrame(hex("1002") + got.mid(5, 1) + '\x00' + hex("e20100")));

        // No local address shares the server's segment here, so only polls.
        QVERIFY(gcpm.waitForReadyRead(2000));
        QCOMPARE(gcpm.receiveDatagram().data(), hex("abef03059f7d"));

        events.clear();
        conn->disconnectFromHost();
        QTRY_COMPARE(events.count(QStringLiteral("openPlaneComm(2,0)")), 1);
        QTest::qWait(300);
        QCOMPARE(events.count(QStringLiteral("openPlaneComm(2,0)")), 1);

        QMetaObject::invokeMethod(looper.get(), [l = looper.get()] { l->onClosePlaneComm(); });
        QTRY_VERIFY(events.contains(QStringLiteral("sigCloseComState(1)")));
        QTest::qWait(100);
        while (gcpm.hasPendingDatagrams())
            gcpm.receiveDatagram();
        QTest::qWait(1200);
        QVERIFY2(!gcpm.hasPendingDatagrams(), "GCPM polls go on after the link closed");

        // Nobody listens any more: the attempt is reported as failed.
        server.close();
        events.clear();
        QMetaObject::invokeMethod(looper.get(), [l = looper.get(), port] {
            l->onOpenPlaneTCPClient(QStringLiteral("127.0.0.1"), port, 0);
        });
        QTRY_VERIFY(events.contains(QStringLiteral("openPlaneComm(2,0)")));
        QVERIFY(!events.contains(QStringLiteral("openPlaneComm(2,1)")));
        QVERIFY(openUdp());
    }

    // The announce needs a local address with a broadcast address in the
    // server's segment; inside the private namespace a second loopback
    // address with one is added for the duration of the test.
    void gcpmAnnounce()
    {
        if (qEnvironmentVariable("TOLVANE_IN_NETNS") != QLatin1String("1"))
            QSKIP("the announce is only exercised inside the loopback-only namespace "
                  "(scripts/netns-run.sh)");
        const QStringList add {"addr", "add", "127.0.0.2/8", "brd", "+", "dev", "lo"};
        QProcess::execute(QStringLiteral("ip"), add);
        if (ZoUtils::findIpSameNetSegmentToIds(QStringLiteral("127.0.0.1"))
            != QLatin1String("127.0.0.2"))
            QSKIP("could not give loopback a second address with a broadcast address");
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        while (gcpm.hasPendingDatagrams())
            gcpm.receiveDatagram();
        events.clear();
        const quint16 port = server.serverPort();
        QMetaObject::invokeMethod(looper.get(), [l = looper.get(), port] {
            l->onOpenPlaneTCPClient(QStringLiteral("127.0.0.1"), port, 0);
        });
        QVERIFY(server.waitForNewConnection(3000));
        std::unique_ptr<QTcpSocket> conn(server.nextPendingConnection());
        const quint16 clientPort = conn->peerPort();
        QVERIFY(gcpm.waitForReadyRead(2000));
        const QByteArray announce = gcpm.receiveDatagram().data();
        QByteArray want = hex("abef09030200007f") + char(clientPort & 0xFF) + char(clientPort >> 8);
        const tdu2 crc = xmodem(want);
        want.append(char(crc & 0xFF)).append(char(crc >> 8));
        QProcess::execute(
            QStringLiteral("ip"), QStringList {"addr", "del", "127.0.0.2/8", "dev", "lo"});
        QCOMPARE(announce, want);
        QVERIFY(gcpm.waitForReadyRead(2000));
        QCOMPARE(gcpm.receiveDatagram().data(), hex("abef03059f7d"));
        QVERIFY(openUdp());
    }
};

QTEST_GUILESS_MAIN(TstZoMsgLooper)
#include "tst_zomsglooper.moc"
