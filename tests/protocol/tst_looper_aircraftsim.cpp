#include "ZoFcsProtocolBase.h"
#include "ZoFirmwareUpdateProtocol.h"
#include "ZoMsgLooper.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

#include <algorithm>
#include <memory>

// The looper and both codecs against the independent aircraft simulator,
// which runs as its own process on loopback ports or a pseudo-terminal. The
// simulator's JSON-lines event log says what it received; assertions rest on
// those facts (sequence numbers, addresses, block order, image digest), not
// on timing. UpgradeDriver plays the upgrade workflow's part of a transfer
// with shorter waits than the real one.
namespace {

enum class Link { Udp, Tcp, Pty };

QString text(const QJsonObject &o, const char *key)
{
    return o.value(QLatin1String(key)).toString();
}

// ---- the simulator's side, as its scenario file describes it ----

struct SimModule
{
    tdu1 type = 0;
    tdu1 node = 0;
    int busKind = 2;
    tdu1 version[3] = {};
    tdu2 serial = 0;
};

struct Scenario
{
    tdu1 coreType = 0;
    tdu1 version[3] = {};
    tFcsDateTime compileTime;
    QString eid;
    int addressMode = 0;
    tdu4 address = 0;
    QVector<SimModule> modules;
};

int busKindOf(tdu1 type)
{
    if (type == 79 || type == 83)
        return 3;
    if (type == 77 || type == 86)
        return 4;
    return 2;
}

bool parseVersion(const QString &t, tdu1 out[3])
{
    const QStringList p = t.split(QLatin1Char('.'));
    if (p.size() != 3)
        return false;
    for (int i = 0; i < 3; ++i)
        out[i] = tdu1(p[i].toUInt());
    return true;
}

Scenario loadScenario(const QString &file)
{
    Scenario s;
    QFile f(QStringLiteral(TOLVANE_AIRCRAFT_SCENARIOS "/") + file);
    if (!f.open(QIODevice::ReadOnly))
        return s;
    const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    const QJsonObject core = o.value(QStringLiteral("core")).toObject();
    s.coreType = tdu1(core.value(QStringLiteral("type")).toInt());
    parseVersion(text(core, "version"), s.version);
    const QDateTime ct
        = QDateTime::fromString(text(core, "compileTime"), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    s.compileTime.year = tdu2(ct.date().year());
    s.compileTime.month = tdu1(ct.date().month());
    s.compileTime.day = tdu1(ct.date().day());
    s.compileTime.hour = tdu1(ct.time().hour());
    s.compileTime.minute = tdu1(ct.time().minute());
    s.compileTime.second = tdu1(ct.time().second());
    s.eid = text(core, "eid").toUpper();
    s.addressMode = text(o, "address").toInt();
    s.address = tdu4(text(o, "addressValue").toUInt(nullptr, 0));
    for (const QJsonValue &v : o.value(QStringLiteral("modules")).toArray()) {
        const QJsonObject m = v.toObject();
        SimModule sm;
        sm.type = tdu1(m.value(QStringLiteral("type")).toInt());
        sm.node = tdu1(m.value(QStringLiteral("node")).toInt());
        sm.busKind = busKindOf(sm.type);
        parseVersion(text(m, "version"), sm.version);
        sm.serial = tdu2(text(m, "serial").toUInt(nullptr, 16));
        s.modules << sm;
    }
    return s;
}

// One simulator process with its event log in a temporary directory.
class AircraftSim
{
public:
    ~AircraftSim() { stop(); }

    bool start(Link link, const QString &scenario, const QStringList &extra)
    {
        if (!dir.isValid())
            return false;
        logPath = dir.filePath(QStringLiteral("events.jsonl"));
        ptyPath = dir.filePath(QStringLiteral("ttyAircraft"));
        QStringList args {QStringLiteral("--scenario"),
            QStringLiteral(TOLVANE_AIRCRAFT_SCENARIOS "/") + scenario,
            QStringLiteral("--telemetry-ms"), QStringLiteral("50"), QStringLiteral("--erase-ms"),
            QStringLiteral("60"), QStringLiteral("--log"), logPath};
        switch (link) {
        case Link::Udp: {
            // Telemetry needs a destination before the program says anything:
            // reserve a port for the looper and name it as the simulator's peer.
            QUdpSocket probe;
            if (!probe.bind(QHostAddress(QHostAddress::LocalHost), 0))
                return false;
            looperUdpPort = probe.localPort();
            probe.close();
            args << QStringLiteral("--udp") << QStringLiteral("0") << QStringLiteral("--udp-peer")
                 << QStringLiteral("127.0.0.1:%1").arg(looperUdpPort);
            break;
        }
        case Link::Tcp:
            args << QStringLiteral("--tcp") << QStringLiteral("0");
            break;
        case Link::Pty:
            args << QStringLiteral("--pty") << ptyPath;
            break;
        }
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(TOLVANE_AIRCRAFT_SIM), args + extra);
        if (!process.waitForStarted(5000))
            return false;
        return QTest::qWaitFor(
            [&] {
                if (link == Link::Pty)
                    return QFileInfo(ptyPath).isSymLink() && !eventsOf("aircraft").isEmpty();
                for (const QJsonObject &o : eventsOf("link"))
                    if (text(o, "state") == QLatin1String("listening"))
                        port = quint16(o.value(QStringLiteral("port")).toInt());
                return port != 0 && !eventsOf("aircraft").isEmpty();
            },
            5000);
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(2000);
        }
    }

    QList<QJsonObject> events() const
    {
        QList<QJsonObject> r;
        QFile f(logPath);
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray &l : f.readAll().split('\n'))
                if (!l.isEmpty())
                    r << QJsonDocument::fromJson(l).object();
        return r;
    }

    QList<QJsonObject> eventsOf(const char *name) const
    {
        QList<QJsonObject> r;
        for (const QJsonObject &o : events())
            if (text(o, "event") == QLatin1String(name))
                r << o;
        return r;
    }

    // Requests of one command, in the order they arrived.
    QList<QJsonObject> requests(const QString &dev, const QString &cmd) const
    {
        QList<QJsonObject> r;
        for (const QJsonObject &o : eventsOf("request"))
            if (text(o, "dev") == dev && text(o, "cmd") == cmd)
                r << o;
        return r;
    }

    // The latest verification of a device.
    QJsonObject verification(const QString &dev) const
    {
        QJsonObject last;
        for (const QJsonObject &o : eventsOf("verify"))
            if (text(o, "dev") == dev)
                last = o;
        return last;
    }

    // A simulator started by someone else (scripts/demo-e2e.sh).
    void attach(quint16 tcpPort, const QString &log)
    {
        port = tcpPort;
        logPath = log;
    }

    QTemporaryDir dir;
    QProcess process;
    QString logPath;
    QString ptyPath;
    quint16 port = 0;
    quint16 looperUdpPort = 0;
};

// ---- the workflow's side ----

// A firmware file: the 48-byte header (image length at 16, version at 22,
// compile time at 30) and the image.
QByteArray firmwareFile(tdu1 type, tdu1 major, tdu1 minor, tdu1 revision, int imageSize, int seed)
{
    QByteArray f(48 + imageSize, '\0');
    for (int i = 0; i < 16; ++i)
        f[i] = char(0xA0 + i); // replaced by the session key on the wire
    for (int i = 0; i < 4; ++i)
        f[16 + i] = char((tdu4(imageSize) >> (8 * i)) & 0xFF);
    f[22] = char(type);
    f[23] = char(major);
    f[24] = char(minor);
    f[25] = char(revision);
    const char compile[7] = {char(0xEA), 0x07, 3, 14, 15, 9, 26}; // 2026-03-14 15:09:26
    std::copy(compile, compile + 7, f.data() + 30);
    tdu4 x = tdu4(seed) * 2654435761u + 7;
    for (int i = 48; i < f.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        f[i] = char(x >> 24);
    }
    return f;
}

QString sha256(const QByteArray &b)
{
    return QString::fromLatin1(QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex());
}

struct Target
{
    tdu1 type = 0;
    tdu1 node = 0;
    int busKind = 1; // 1 core, 2 CAN, 3 CAN with device number, 4 serial bus

    bool isCore() const { return busKind == 1; }
    QString simName() const
    {
        return isCore() ? QStringLiteral("core") : QStringLiteral("%1.%2").arg(type).arg(node);
    }
};

const tdu1 kModuleKey[6] = {0x6A, 0x0C, 0xE3, 0x51, 0x97, 0x4B};

// Plays the upgrade sequence of one device the way the main window does:
// enter bootloader, wait, key frame (erase), blocks acknowledged by offset
// with resends on time-out, leave bootloader three times. Waits are short.
class UpgradeDriver : public QObject
{
    Q_OBJECT
public:
    int enterWaitMs = 100;
    int eraseTimeoutMs = 1000;
    int programTimeoutMs = 500;
    tds4 coreProtocolMode = ZoMsgLooper::ModeModuleTransfer;

    explicit UpgradeDriver(ZoMsgLooper *looper)
        : l(looper)
    {
        stepTimer.setSingleShot(true);
        connect(&stepTimer, &QTimer::timeout, this, &UpgradeDriver::onTimeout);
        connect(l, &ZoMsgLooper::sigGNCUpgEraseFlashAck, this, [this] {
            if (windowMode == 6)
                onEraseAck();
        });
        connect(l, &ZoMsgLooper::sigCANDevUpgEraseFlashAck, this, [this] {
            ++canEraseAcks;
            if (windowMode == 5)
                onEraseAck();
        });
        connect(l, &ZoMsgLooper::sigGNCUpgradeProgAck, this, [this](tds4 n) {
            gncAcks << n;
            if (windowMode == 6)
                onProgramAck(n);
        });
        connect(l, &ZoMsgLooper::sigCANDevUpgradeProgAck, this, [this](tds4 n) {
            canAcks << n;
            if (windowMode == 5)
                onProgramAck(n);
        });
    }

    void send(const tdu1 *bytes, int n)
    {
        if (bytes && n > 0) {
            l->sendQueue.push(bytes, tdu2(n));
            Q_EMIT l->sigSendCmd();
        }
    }
    void send(const QByteArray &b)
    {
        send(reinterpret_cast<const tdu1 *>(b.constData()), b.size());
    }

    // The command set's CAN pass-through: id word (bit 15 set unless the
    // standard flag is given), then the CAN data.
    void sendCan(tdu2 id, bool standard, const QByteArray &data)
    {
        QByteArray pkg;
        const tdu2 word = tdu2((id & 0x7FF) | (standard ? 0 : 0x8000));
        pkg.append(char(word & 0xFF)).append(char(word >> 8)).append(data);
        tdu1 n = tdu1(pkg.size());
        const tdu1 *sub = l->fcsProtocol.load()->makeCanSend(
            reinterpret_cast<const tdu1 *>(pkg.constData()), n);
        send(sub, n);
    }
    void sendBus(tdu1 selector, const QByteArray &data)
    {
        tdu1 n = tdu1(data.size());
        const tdu1 *sub = l->fcsProtocol.load()->makeBusSend(
            selector, reinterpret_cast<const tdu1 *>(data.constData()), n);
        send(sub, n);
    }
    static QByteArray eight(std::initializer_list<tdu1> head)
    {
        QByteArray d(8, '\0');
        int i = 0;
        for (tdu1 b : head)
            d[i++] = char(b);
        return d;
    }
    static QByteArray addressed(tdu1 type, tdu1 node, tdu1 command)
    {
        return eight({type, node, command});
    }

    void requestModuleVersion(const Target &t)
    {
        if (t.busKind == 4)
            sendBus(0xFA, QByteArray().append(char(t.type)).append(char(t.node)));
        else
            sendCan(0x0F0, false, eight({t.type, 0x10, 0xFF, 0xFF}));
    }
    void enterBootloader(const Target &t)
    {
        QByteArray keyed = eight({t.type, t.node});
        std::copy(kModuleKey, kModuleKey + 6, keyed.data() + 2);
        switch (t.busKind) {
        case 1: {
            tdu1 n = 0;
            const tdu1 *sub = l->fcsProtocol.load()->makeEnterBootloader(n);
            send(sub, n);
            break;
        }
        case 2:
            sendCan(0x6F0, true, eight({t.type}));
            break;
        case 3:
            sendCan(0x6F8, true, keyed);
            break;
        default:
            sendBus(0xFB, keyed);
            break;
        }
    }
    void leaveBootloader(const Target &t)
    {
        switch (t.busKind) {
        case 1: {
            tdu1 frame[8] = {};
            tdu1 n = 0;
            l->updateProtocol.load()->buildLeaveBootloader(frame, n, true);
            send(frame, n);
            break;
        }
        case 2:
            sendCan(0x6F1, true, QByteArray(1, char(0x50)));
            break;
        case 3:
            sendCan(0x6F1, true, addressed(t.type, t.node, 0x50));
            break;
        default:
            sendBus(0xFC, addressed(t.type, t.node, 0x50));
            break;
        }
    }

    // Asks a device in its bootloader for its stored version (the manual
    // add of a device that did not answer the search).
    void forceReport(const Target &t)
    {
        l->sendQueue.clear();
        l->moduleVariant = tdu1(t.isCore() ? 0 : t.busKind);
        switch (t.busKind) {
        case 1: {
            l->protocolMode = ZoMsgLooper::ModeCoreBootloader;
            tdu1 frame[8] = {};
            tdu1 command = 0;
            tdu1 n = 0;
            l->updateProtocol.load()->buildReadParameters(frame, command, n, true);
            send(frame, n);
            break;
        }
        case 2:
            sendCan(0x6F1, true, QByteArray(1, char(0x22)));
            break;
        case 3:
            sendCan(0x6F1, true, addressed(t.type, t.node, 0x41));
            break;
        default:
            sendBus(0xFC, addressed(t.type, t.node, 0x41));
            break;
        }
    }

    // Starts the transfer of `file` into `t`; done/failed report the end.
    void start(const Target &t, const QByteArray &file)
    {
        target = t;
        done = failed = false;
        timeouts = retries = 0;
        offset = 0;
        eraseTimedOut = false;
        canEraseAcks = 0;
        gncAcks.clear();
        canAcks.clear();
        header = file.left(48);
        const tdu4 sizeField = tdu4(tdu1(file[16])) | (tdu4(tdu1(file[17])) << 8)
            | (tdu4(tdu1(file[18])) << 16) | (tdu4(tdu1(file[19])) << 24);
        int n = file.size() - 48 >= int(sizeField) ? file.size() - 48 : int(sizeField);
        n = (n + 127) / 128 * 128;
        pageCount = n / 128;
        // The last frame (offset pageCount * 128) lies past the image; it
        // carries zeros, as do the bytes that fill the last page.
        image = file.mid(48).leftJustified(n + 128, '\0', true);
        windowMode = t.isCore() ? 6 : 5;
        chunkSize = t.isCore() ? 128 : 64;
        l->protocolMode = ZoMsgLooper::ModeApplication;
        l->sendQueue.clear();
        l->moduleVariant = 0;
        enterBootloader(t);
        step = 5;
        stepTimer.start(enterWaitMs);
    }

    // What resetUpgradeState does to the looper.
    void reset()
    {
        stepTimer.stop();
        step = 0;
        windowMode = 4;
        l->protocolMode = ZoMsgLooper::ModeApplication;
        l->sendQueue.clear();
        l->moduleVariant = 0;
    }

    int expectedBlocks() const { return pageCount * 128 / chunkSize + 1; }

    Target target;
    bool done = false;
    bool failed = false;
    bool eraseTimedOut = false;
    int timeouts = 0;
    int canEraseAcks = 0;
    int pageCount = 0;
    int chunkSize = 0;
    QVector<tds4> gncAcks;
    QVector<tds4> canAcks;

private:
    void sendEraseFlash()
    {
        ZoFirmwareUpdateProtocol *up = l->updateProtocol.load();
        up->setKeyMode(0);
        tdu1 out[64] = {};
        QByteArray h = header;
        tdu1 *h48 = reinterpret_cast<tdu1 *>(h.data());
        if (windowMode == 6) {
            l->protocolMode = coreProtocolMode;
            l->sendQueue.clear();
            l->moduleVariant = tdu1(target.busKind);
            const tdu2 n = up->buildKeyFrame(out, h48, true, target.type, 0, false);
            send(out, n);
        } else {
            l->protocolMode = ZoMsgLooper::ModeApplication;
            l->sendQueue.clear();
            l->moduleVariant = tdu1(target.busKind);
            const bool addr = target.busKind == 3 || target.busKind == 4;
            const tdu2 n = up->buildKeyFrame(out, h48, false, target.type, target.node, addr);
            const QByteArray frame(reinterpret_cast<const char *>(out), n);
            if (target.busKind == 4)
                sendBus(0xFC, frame);
            else
                sendCan(0x6F2, true, frame);
        }
        step = 7;
        stepTimer.start(eraseTimeoutMs);
    }

    void sendProgramData()
    {
        ZoFirmwareUpdateProtocol *up = l->updateProtocol.load();
        up->setKeyMode(0);
        tdu1 out[ZoFirmwareUpdateProtocol::MaxBlock + 8] = {};
        const tdu1 *img = reinterpret_cast<const tdu1 *>(image.constData());
        if (windowMode == 6) {
            const tdu2 n = up->buildDataFrame(
                out, img, tdu4(offset), tdu2(chunkSize), true, target.type, 0, false);
            send(out, n);
        } else {
            const tdu2 n = up->buildDataFrame(out, img, tdu4(offset), tdu2(chunkSize), false,
                target.type, target.node, target.busKind == 3);
            const QByteArray frame(reinterpret_cast<const char *>(out), n);
            if (target.busKind == 4)
                sendBus(0xFC, frame);
            else
                sendCan(0x6F2, true, frame);
        }
        step = 8;
        stepTimer.start(programTimeoutMs);
    }

    void onEraseAck()
    {
        if (step != 7)
            return;
        stepTimer.stop();
        sendProgramData();
    }

    void onProgramAck(tds4 size)
    {
        if (step != 8 || size != offset)
            return;
        stepTimer.stop();
        retries = 0;
        if (offset >= pageCount * 128) {
            finish();
            return;
        }
        offset += chunkSize;
        sendProgramData();
    }

    void onTimeout()
    {
        switch (step) {
        case 5:
            sendEraseFlash();
            break;
        case 7:
            eraseTimedOut = true;
            sendProgramData();
            break;
        case 8:
            ++timeouts;
            if (++retries <= 4) {
                sendProgramData();
            } else if (windowMode == 6 && offset + chunkSize >= pageCount * 128) {
                onProgramAck(offset);
            } else {
                failed = true;
                reset();
            }
            break;
        default:
            break;
        }
    }

    void finish()
    {
        step = 11;
        for (int i = 0; i < 3; ++i)
            leaveBootloader(target);
        done = true;
    }

    ZoMsgLooper *l;
    QTimer stepTimer;
    QByteArray header;
    QByteArray image;
    int windowMode = 4;
    int step = 0;
    int offset = 0;
    int retries = 0;
};

// Every signal of the looper, as the window would receive it.
struct Received
{
    QVector<bool> connection;
    QVector<tVersion> versions;
    QVector<tFcsDateTime> compileTimes;
    QStringList eids;
    QStringList modules; // "type:major.minor.revision idx sn"

    void clear() { *this = Received(); }
};

QString moduleText(tdu1 type, const tdu1 v[3], int idx, const QString &sn)
{
    return QStringLiteral("%1:%2.%3.%4 idx %5 sn %6")
        .arg(type)
        .arg(v[0])
        .arg(v[1])
        .arg(v[2])
        .arg(idx)
        .arg(sn);
}

} // namespace

class TstLooperAircraftSim : public QObject
{
    Q_OBJECT

private:
    QUdpSocket gcpmSink;
    std::unique_ptr<ZoMsgLooper> looper;
    std::unique_ptr<UpgradeDriver> driver;
    std::unique_ptr<AircraftSim> sim; // one per case, stopped after the link is closed
    Received rx;

    void sendApp(tdu1 *(ZoFcsProtocolBase::*builder)(tdu1 &))
    {
        tdu1 n = 0;
        const tdu1 *b = (looper->fcsProtocol.load()->*builder)(n);
        driver->send(b, n);
    }

    // Opens the looper's link to the simulator and waits for its first
    // telemetry frame.
    bool openLink(Link link)
    {
        rx.clear();
        ZoMsgLooper *l = looper.get();
        const tds4 port = sim->port;
        const tds4 local = sim->looperUdpPort;
        const QString pty = sim->ptyPath;
        QMetaObject::invokeMethod(l, [l, link, port, local, pty] {
            if (link == Link::Udp)
                l->onOpenPlaneUdp(QStringLiteral("127.0.0.1"), port, local);
            else if (link == Link::Tcp)
                l->onOpenPlaneTCPClient(QStringLiteral("127.0.0.1"), port, 0);
            else
                l->onOpenPlaneSerial(pty, 115200, 8, 0, 1);
        });
        return QTest::qWaitFor([this] { return rx.connection.contains(true); }, 5000);
    }

    void closeLink()
    {
        QMetaObject::invokeMethod(looper.get(), [l = looper.get()] { l->onClosePlaneComm(); });
        (void)QTest::qWaitFor([this] { return !looper->isConnected(); }, 2000);
        driver->reset();
    }

    // The whole transfer of `file` into `t`; returns the simulator's
    // verification record.
    QJsonObject transfer(const Target &t, const QByteArray &file)
    {
        driver->start(t, file);
        if (!QTest::qWaitFor([this] { return driver->done || driver->failed; }, 40000))
            return QJsonObject();
        // All three leave frames must be out before the looper goes back to
        // the application protocol (which empties its send queue); the device
        // takes the first, the repeats find it gone.
        (void)QTest::qWaitFor([&] { return leaveFrames(t) >= 3; }, 3000);
        driver->reset();
        return sim->verification(t.simName());
    }

    // Nothing the program sent was misread by the aircraft.
    bool noMisreads() const
    {
        static const char *const misreads[] = {"sub-message runs past the frame",
            "unknown sub-message", "CAN pass-through too short", "malformed bus pass-through",
            "malformed addressed transfer frame", "key frame is not 54 bytes",
            "data frame too short", "unknown bootloader command"};
        bool ok = sim->eventsOf("badCrc").isEmpty();
        for (const QJsonObject &o : sim->eventsOf("ignored"))
            for (const char *m : misreads)
                if (text(o, "reason") == QLatin1String(m)) {
                    qWarning().noquote() << QJsonDocument(o).toJson(QJsonDocument::Compact);
                    ok = false;
                }
        return ok;
    }

    static bool withoutCorruption(const QStringList &faults)
    {
        for (const QString &f : faults)
            if (f.contains(QLatin1String("corrupt")))
                return false;
        return true;
    }

    int leaveFrames(const Target &t) const
    {
        int n = sim->requests(t.simName(), QStringLiteral("leaveBootloader")).size();
        for (const QJsonObject &o : sim->eventsOf("ignored")) {
            if (t.isCore() && text(o, "frame") == QLatin1String("EB 90 06 FF FF 50"))
                ++n; // reached the core's application
            if (t.busKind == 2 && o.value(QStringLiteral("id")).toInt() == 0x6F1
                && text(o, "data") == QLatin1String("50"))
                ++n; // the unaddressed form found no module left in its bootloader
        }
        return n;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Every frame written is logged at debug level; keep the output readable.
        QLoggingCategory::setFilterRules(QStringLiteral("tolvane.*.debug=false"));
        // The looper announces itself while a TCP link is open: to a local
        // sink, whatever the environment says.
        QVERIFY(gcpmSink.bind(QHostAddress(QHostAddress::LocalHost), 0));
        qputenv("TOLVANE_GCPM_HOST", "127.0.0.1");
        qputenv("TOLVANE_GCPM_PORT", QByteArray::number(gcpmSink.localPort()));
        looper = std::make_unique<ZoMsgLooper>();
        ZoMsgLooper *l = looper.get();
        connect(l, &ZoMsgLooper::sigPlaneConnectionChanged, this,
            [this](bool c) { rx.connection << c; });
        connect(l, &ZoMsgLooper::sigGNCFMVersion, this, [this](tVersion v) { rx.versions << v; });
        connect(l, &ZoMsgLooper::sigGNCCompileTime, this,
            [this](tFcsDateTime t) { rx.compileTimes << t; });
        connect(l, &ZoMsgLooper::sigGNCEID, this, [this](QString e) { rx.eids << e; });
        connect(l, &ZoMsgLooper::sigCANDevVersion, this, [this](tVersion v, tdu1 idx, QString sn) {
            const tdu1 ver[3] = {v.major, v.minor, v.revision};
            rx.modules << moduleText(v.type, ver, idx, sn);
        });
        looper->startLooper();
        QTRY_VERIFY(looper->fcsProtocol.load() && looper->updateProtocol.load());
        driver = std::make_unique<UpgradeDriver>(l);
    }

    void cleanupTestCase()
    {
        driver.reset();
        QMetaObject::invokeMethod(looper.get(), [l = looper.get()] { l->onTerminateLooper(); });
        QVERIFY(looper->wait(3000));
        looper.reset();
    }

    void cleanup()
    {
        if (looper)
            closeLink();
        if (QTest::currentTestFailed() && sim) {
            // What the aircraft saw last, to tell whose reading went wrong.
            const QList<QJsonObject> ev = sim->events();
            for (int i = std::max(0, int(ev.size()) - 25); i < ev.size(); ++i)
                qWarning().noquote() << QJsonDocument(ev[i]).toJson(QJsonDocument::Compact);
        }
        sim.reset();
    }

    void init() { sim = std::make_unique<AircraftSim>(); }

    // Discovery and identity on each link kind; with an address sub-message
    // in the aircraft's frames every later command carries the address.
    void identity_data()
    {
        QTest::addColumn<int>("link");
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QStringList>("extra");
        QTest::newRow("udp, 8-byte address") << int(Link::Udp) << "arno2.json" << QStringList();
        QTest::newRow("tcp, no address") << int(Link::Tcp) << "default.json" << QStringList();
        QTest::newRow("pty, no address") << int(Link::Pty) << "default.json" << QStringList();
        QTest::newRow("tcp, 4-byte address")
            << int(Link::Tcp) << "default.json"
            << QStringList {"--address", "4", "--address-value", "0x12345678"};
    }

    void identity()
    {
        QFETCH(int, link);
        QFETCH(QString, scenario);
        QFETCH(QStringList, extra);
        Scenario sc = loadScenario(scenario);
        QVERIFY(sc.coreType != 0);
        if (!extra.isEmpty()) {
            sc.addressMode = extra.at(1).toInt();
            sc.address = extra.at(3).toUInt(nullptr, 0);
        }
        QVERIFY(sim->start(Link(link), scenario, extra));
        QVERIFY(openLink(Link(link)));
        // Nothing was asked yet: the telemetry alone made the link.
        QVERIFY(sim->eventsOf("request").isEmpty());

        sendApp(&ZoFcsProtocolBase::makeVersionRequest);
        sendApp(&ZoFcsProtocolBase::makeCompileTimeRequest);
        QTRY_COMPARE_WITH_TIMEOUT(rx.versions.size() + rx.compileTimes.size(), 2, 3000);
        sendApp(&ZoFcsProtocolBase::makeIdentityRequest);
        QTRY_COMPARE_WITH_TIMEOUT(rx.eids.size(), 1, 3000);

        const tVersion v = rx.versions.first();
        QCOMPARE(v.type, sc.coreType);
        QCOMPARE((QVector<int> {v.major, v.minor, v.revision}),
            (QVector<int> {sc.version[0], sc.version[1], sc.version[2]}));
        const tFcsDateTime t = rx.compileTimes.first();
        QCOMPARE((QVector<int> {t.year, t.month, t.day, t.hour, t.minute, t.second}),
            (QVector<int> {sc.compileTime.year, sc.compileTime.month, sc.compileTime.day,
                sc.compileTime.hour, sc.compileTime.minute, sc.compileTime.second}));
        QCOMPARE(rx.eids.first(), sc.eid);
        qInfo().noquote() << QStringLiteral(
            "found core type %1 V%2.%3.%4, compiled %5-%6-%7, EID %8")
                                 .arg(v.type)
                                 .arg(v.major)
                                 .arg(v.minor)
                                 .arg(v.revision)
                                 .arg(t.year)
                                 .arg(t.month, 2, 10, QLatin1Char('0'))
                                 .arg(t.day, 2, 10, QLatin1Char('0'))
                                 .arg(rx.eids.first());

        // What the aircraft saw: one request each, numbered in order, with
        // the address it announced when it announces one.
        QList<QJsonObject> got;
        for (const char *cmd : {"version", "compileTime", "identity"}) {
            const QList<QJsonObject> r = sim->requests(QStringLiteral("core"), QLatin1String(cmd));
            QCOMPARE(r.size(), 1);
            got << r.first();
        }
        for (int i = 0; i < got.size(); ++i) {
            QVERIFY2(got[i].contains(QStringLiteral("seq")), "sequence sub-message missing");
            if (i > 0)
                QCOMPARE(got[i].value(QStringLiteral("seq")).toInt(),
                    (got[i - 1].value(QStringLiteral("seq")).toInt() + 1) % 256);
            if (sc.addressMode == 0) {
                QVERIFY(!got[i].contains(QStringLiteral("address")));
            } else {
                QCOMPARE(got[i].value(QStringLiteral("address")).toVariant().toLongLong(),
                    qint64(sc.address));
                QVERIFY(got[i].value(QStringLiteral("addressOk")).toBool());
            }
        }
        QVERIFY(noMisreads());
    }

    // Every module answers the version query of its bus kind through the
    // core's CAN (0x5B out, 0x5F back) or bus (0x9B) pass-through.
    void moduleVersions_data()
    {
        QTest::addColumn<int>("link");
        QTest::addColumn<QString>("scenario");
        QTest::newRow("Emba2 over udp") << int(Link::Udp) << "default.json";
        QTest::newRow("Arno2 over tcp, addressed") << int(Link::Tcp) << "arno2.json";
    }

    void moduleVersions()
    {
        QFETCH(int, link);
        QFETCH(QString, scenario);
        const Scenario sc = loadScenario(scenario);
        QVERIFY(!sc.modules.isEmpty());
        QVERIFY(sim->start(Link(link), scenario, {}));
        QVERIFY(openLink(Link(link)));

        QStringList expected;
        QList<tdu1> asked;
        for (const SimModule &m : sc.modules) {
            expected << moduleText(m.type, m.version, m.node,
                m.busKind == 4 ? QString::number(m.node) : QString::number(m.serial, 16));
            // CAN modules are asked by type (one query reaches every node of
            // it); bus modules by type and device number.
            if (m.busKind == 4 || !asked.contains(m.type)) {
                asked << m.type;
                driver->requestModuleVersion(Target {m.type, m.node, m.busKind});
                QTest::qWait(20); // the send queue holds four commands
            }
        }
        QTRY_COMPARE_WITH_TIMEOUT(rx.modules.size(), expected.size(), 5000);
        QTest::qWait(200); // and no more
        QStringList got = rx.modules;
        got.sort();
        expected.sort();
        QCOMPARE(got, expected);
        for (const QString &m : got)
            qInfo().noquote() << "found module" << m;
        QVERIFY(noMisreads());
        for (const QJsonObject &o : sim->eventsOf("ignored"))
            QVERIFY2(text(o, "reason") != QLatin1String("no CAN module takes this")
                    && text(o, "reason") != QLatin1String("no bus module takes this"),
                QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    }

    // A device held in its bootloader reports its stored version: the core
    // in the bootloader protocol (0x22 parameters), modules in the long
    // (CAN, bus kind 2) or short form (kinds 3 and 4).
    void bootloaderReports_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("node");
        QTest::addColumn<int>("busKind");
        QTest::newRow("core") << 80 << 0 << 1;
        QTest::newRow("CAN module 46") << 46 << 0 << 2;
        QTest::newRow("CAN board 83.0") << 83 << 0 << 3;
        QTest::newRow("bus module 86.3") << 86 << 3 << 4;
    }

    void bootloaderReports()
    {
        QFETCH(int, type);
        QFETCH(int, node);
        QFETCH(int, busKind);
        const Scenario sc = loadScenario(QStringLiteral("default.json"));
        const Target t {tdu1(type), tdu1(node), busKind};
        tdu1 ver[3] = {sc.version[0], sc.version[1], sc.version[2]};
        for (const SimModule &m : sc.modules)
            if (m.type == t.type && m.node == t.node)
                std::copy(m.version, m.version + 3, ver);
        QVERIFY(sim->start(Link::Udp, QStringLiteral("default.json"), {}));
        QVERIFY(openLink(Link::Udp));

        driver->enterBootloader(t);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QJsonObject &o : sim->eventsOf("state"))
                    if (text(o, "dev") == t.simName()
                        && text(o, "to") == QLatin1String("bootloader"))
                        return true;
                return false;
            }(),
            3000);
        rx.clear();
        driver->forceReport(t);
        if (t.isCore()) {
            QTRY_COMPARE_WITH_TIMEOUT(rx.versions.size(), 1, 3000);
            const tVersion v = rx.versions.first();
            QCOMPARE((QVector<int> {v.type, v.major, v.minor, v.revision}),
                (QVector<int> {type, ver[0], ver[1], ver[2]}));
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(rx.modules.size(), 1, 3000);
            // The long form names no device; the short form carries the index.
            const bool longForm = busKind == 2;
            QCOMPARE(rx.modules.first(),
                moduleText(t.type, ver, longForm ? 0 : node,
                    longForm ? QString() : QString::number(node)));
        }
        driver->leaveBootloader(t);
        QTRY_VERIFY_WITH_TIMEOUT(
            !sim->requests(t.simName(), QStringLiteral("leaveBootloader")).isEmpty(), 3000);
        driver->reset();
        QVERIFY(noMisreads());
    }

    // Whole transfers into the core's bootloader and into a module of each
    // bus kind, verified by the simulator, then the new version reported.
    // Faults of the simulator make the driver resend; with a CRC around
    // module replies a corrupted one gives no signal at all.
    void transfers_data()
    {
        QTest::addColumn<int>("link");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("node");
        QTest::addColumn<int>("busKind");
        QTest::addColumn<int>("imageSize");
        QTest::addColumn<int>("coreMode");
        QTest::addColumn<QStringList>("faults");
        const QStringList none;
        QTest::newRow("core over udp") << int(Link::Udp) << 80 << 0 << 1 << 20000 << 3 << none;
        QTest::newRow("core over tcp, mode 2")
            << int(Link::Tcp) << 80 << 0 << 1 << 16384 << 2 << none;
        QTest::newRow("core over pty") << int(Link::Pty) << 80 << 0 << 1 << 12000 << 3 << none;
        QTest::newRow("CAN module 38") << int(Link::Udp) << 38 << 0 << 2 << 6000 << 3 << none;
        QTest::newRow("CAN module 79.1") << int(Link::Tcp) << 79 << 1 << 3 << 6000 << 3 << none;
        QTest::newRow("bus module 77.2") << int(Link::Udp) << 77 << 2 << 4 << 6000 << 3 << none;
        QTest::newRow("core, every 16th ack dropped") << int(
            Link::Udp) << 80 << 0 << 1 << 16000 << 3 << QStringList {"core:drop-ack-every=16"};
        QTest::newRow("bus module 86.3, every 9th ack dropped")
            << int(Link::Tcp) << 86 << 3 << 4 << 4000 << 3 << QStringList {"86.3:drop-ack-every=9"};
        QTest::newRow("CAN module 38, every 7th reply corrupted")
            << int(Link::Udp) << 38 << 0 << 2 << 4000 << 3 << QStringList {"38:corrupt-every=7"};
        QTest::newRow("CAN module 79.1, every 6th reply corrupted")
            << int(Link::Udp) << 79 << 1 << 3 << 4000 << 3 << QStringList {"79.1:corrupt-every=6"};
    }

    void transfers()
    {
        QFETCH(int, link);
        QFETCH(int, type);
        QFETCH(int, node);
        QFETCH(int, busKind);
        QFETCH(int, imageSize);
        QFETCH(int, coreMode);
        QFETCH(QStringList, faults);
        QStringList extra;
        for (const QString &f : faults)
            extra << QStringLiteral("--fault") << f;
        QVERIFY(sim->start(Link(link), QStringLiteral("default.json"), extra));
        QVERIFY(openLink(Link(link)));

        const Target t {tdu1(type), tdu1(node), busKind};
        const QByteArray file = firmwareFile(t.type, 2, 21, 7, imageSize, type * 256 + node);
        driver->coreProtocolMode = coreMode;
        const QJsonObject verify = transfer(t, file);
        QVERIFY2(driver->done, "transfer did not complete");
        QVERIFY(!verify.isEmpty());
        qInfo().noquote() << QStringLiteral(
            "flashed %1 (bus kind %2): %3 bytes in %4 blocks, %5 resends; "
            "device verified: complete %6, gaps %7, out of order %8, sha256 %9")
                                 .arg(t.simName())
                                 .arg(busKind)
                                 .arg(imageSize)
                                 .arg(verify.value(QStringLiteral("blocks")).toInt())
                                 .arg(verify.value(QStringLiteral("resends")).toInt())
                                 .arg(verify.value(QStringLiteral("complete")).toBool())
                                 .arg(verify.value(QStringLiteral("gaps")).toInt())
                                 .arg(verify.value(QStringLiteral("outOfOrder")).toInt())
                                 .arg(text(verify, "sha256"));

        QCOMPARE(verify.value(QStringLiteral("imageSize")).toInt(), imageSize);
        QVERIFY(verify.value(QStringLiteral("complete")).toBool());
        QCOMPARE(verify.value(QStringLiteral("gaps")).toInt(), 0);
        QCOMPARE(verify.value(QStringLiteral("outOfOrder")).toInt(), 0);
        QCOMPARE(verify.value(QStringLiteral("partialCipherBlocks")).toInt(), 0);
        QVERIFY(verify.value(QStringLiteral("typeMatches")).toBool());
        QCOMPARE(text(verify, "headerVersion"), QStringLiteral("%1:2.21.7").arg(type));
        QCOMPARE(text(verify, "sha256"), sha256(file.mid(48)));
        // Every resend the device saw is one the driver made after a time-out.
        const int resends = verify.value(QStringLiteral("resends")).toInt();
        QCOMPARE(resends, driver->timeouts);
        QCOMPARE(
            verify.value(QStringLiteral("blocks")).toInt(), driver->expectedBlocks() + resends);

        int dropped = 0;
        int corrupted = 0;
        for (const QJsonObject &o : sim->eventsOf("fault")) {
            if (text(o, "dev") != t.simName())
                continue;
            if (text(o, "fault") == QLatin1String("dropAckEvery"))
                ++dropped;
            if (text(o, "fault") == QLatin1String("corruptEvery"))
                ++corrupted;
        }
        // The erase was acknowledged, not waited out (only a corrupted reply may hide it).
        if (withoutCorruption(faults))
            QVERIFY(!driver->eraseTimedOut);
        if (faults.isEmpty())
            QCOMPARE(resends, 0);
        if (dropped > 0)
            QCOMPARE(resends, dropped);
        if (corrupted > 0) {
            QVERIFY(resends > 0);
            // A corrupted reply fails its CRC and is dropped by the codec: every
            // acknowledgement signal matches an intact reply of the device.
            int intact = 0;
            bool afterFault = false;
            bool inTransfer = false;
            for (const QJsonObject &o : sim->events()) {
                const QString ev = text(o, "event");
                if (ev == QLatin1String("transfer") && text(o, "dev") == t.simName())
                    inTransfer = true;
                if (ev == QLatin1String("verify"))
                    inTransfer = false;
                if (text(o, "dev") != t.simName())
                    continue;
                if (ev == QLatin1String("fault")
                    && text(o, "fault") == QLatin1String("corruptEvery"))
                    afterFault = true;
                if (ev == QLatin1String("reply")) {
                    if (inTransfer && !afterFault)
                        ++intact;
                    afterFault = false;
                }
            }
            QCOMPARE(driver->canAcks.size() + driver->canEraseAcks, intact);
        }
        for (tds4 a : t.isCore() ? driver->gncAcks : driver->canAcks)
            QVERIFY2(a % driver->chunkSize == 0 && a <= driver->pageCount * 128,
                qPrintable(QStringLiteral("acknowledged size %1").arg(a)));

        QCOMPARE(leaveFrames(t), 3);
        if (t.isCore()) {
            // The enter-bootloader command travels without a sequence number.
            const QList<QJsonObject> enter
                = sim->requests(QStringLiteral("core"), QStringLiteral("enterBootloader"));
            QCOMPARE(enter.size(), 1);
            QVERIFY(!enter.first().contains(QStringLiteral("seq")));
            QCOMPARE(enter.first().value(QStringLiteral("length")).toInt(), 8);
        }

        // Back in its application the device reports the new firmware (asked
        // again when a corrupted reply was lost).
        rx.clear();
        for (int i = 0; i < 3 && rx.versions.isEmpty() && rx.modules.isEmpty(); ++i) {
            if (t.isCore())
                sendApp(&ZoFcsProtocolBase::makeVersionRequest);
            else
                driver->requestModuleVersion(t);
            (void)QTest::qWaitFor(
                [this] { return !rx.versions.isEmpty() || !rx.modules.isEmpty(); }, 1000);
        }
        const tdu1 ver[3] = {2, 21, 7};
        if (t.isCore()) {
            QCOMPARE(rx.versions.size(), 1);
            const tVersion v = rx.versions.first();
            QCOMPARE((QVector<int> {v.type, v.major, v.minor, v.revision}),
                (QVector<int> {type, 2, 21, 7}));
        } else {
            QCOMPARE(rx.modules.size(), 1);
            const QString prefix = moduleText(t.type, ver, t.node, QString());
            QVERIFY2(rx.modules.first().startsWith(prefix), qPrintable(rx.modules.first()));
        }
        QVERIFY(noMisreads());
    }

    // The walk-through of scripts/demo-e2e.sh: against the aircraft it
    // started (TOLVANE_E2E_AIRCRAFT_TCP, TOLVANE_E2E_AIRCRAFT_LOG), with the
    // firmware the cloud simulator offers for the core found
    // (TOLVANE_E2E_CLOUD_URL), modules first and the core last.
    void demo()
    {
        const int port = qEnvironmentVariableIntValue("TOLVANE_E2E_AIRCRAFT_TCP");
        const QString log = qEnvironmentVariable("TOLVANE_E2E_AIRCRAFT_LOG");
        const QUrl cloud(qEnvironmentVariable("TOLVANE_E2E_CLOUD_URL"));
        if (port <= 0 || log.isEmpty())
            QSKIP("run by scripts/demo-e2e.sh");
        QVERIFY2(cloud.isEmpty() || cloud.host() == QLatin1String("127.0.0.1"), "loopback only");
        const Scenario sc = loadScenario(QStringLiteral("default.json"));
        sim->attach(quint16(port), log);
        QVERIFY(openLink(Link::Tcp));

        sendApp(&ZoFcsProtocolBase::makeVersionRequest);
        sendApp(&ZoFcsProtocolBase::makeCompileTimeRequest);
        sendApp(&ZoFcsProtocolBase::makeIdentityRequest);
        QTRY_VERIFY_WITH_TIMEOUT(
            !rx.versions.isEmpty() && !rx.compileTimes.isEmpty() && !rx.eids.isEmpty(), 3000);
        const tVersion core = rx.versions.first();
        QCOMPARE(core.type, sc.coreType);
        qInfo().noquote() << QStringLiteral("FOUND core: type %1, firmware V%2.%3.%4, EID %5")
                                 .arg(core.type)
                                 .arg(core.major)
                                 .arg(core.minor)
                                 .arg(core.revision)
                                 .arg(rx.eids.first());
        for (const SimModule &m : sc.modules) {
            rx.modules.clear();
            driver->requestModuleVersion(Target {m.type, m.node, m.busKind});
            QTRY_VERIFY_WITH_TIMEOUT(!rx.modules.isEmpty(), 3000);
            qInfo().noquote() << QStringLiteral("FOUND module (bus kind %1): ").arg(m.busKind)
                    + rx.modules.join(QLatin1String(", "));
        }
        if (cloud.isEmpty())
            return;

        // The catalogue of the core's family and its files, from the cloud simulator.
        QNetworkAccessManager nam;
        QNetworkRequest rq(
            cloud.resolved(QUrl(QStringLiteral("/app/api/user/firmware/getFirmware"))));
        rq.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        std::unique_ptr<QNetworkReply> reply(nam.post(rq,
            QJsonDocument(QJsonObject {{QStringLiteral("fid"), int(core.type)},
                              {QStringLiteral("type"), 1}, {QStringLiteral("special"), QString()}})
                .toJson(QJsonDocument::Compact)));
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 5000);
        const QJsonArray offered = QJsonDocument::fromJson(reply->readAll())
                                       .object()
                                       .value(QStringLiteral("data"))
                                       .toObject()
                                       .value(QStringLiteral("firmwares"))
                                       .toArray();
        QVERIFY(!offered.isEmpty());
        QList<QPair<Target, QByteArray>> plan;
        for (const QJsonValue &v : offered) {
            const QJsonObject f = v.toObject();
            const QUrl url(text(f, "upgradePath"));
            QVERIFY2(url.host() == QLatin1String("127.0.0.1"), "loopback only");
            std::unique_ptr<QNetworkReply> get(nam.get(QNetworkRequest(url)));
            QTRY_VERIFY_WITH_TIMEOUT(get->isFinished(), 5000);
            const QByteArray file = get->readAll();
            qInfo().noquote() << QStringLiteral("CLOUD offers %1 V%2 (%3 bytes)")
                                     .arg(text(f, "nickNameEn"), text(f, "version"))
                                     .arg(file.size());
            QVERIFY(file.size() >= 48);
            const tdu1 type = tdu1(file[22]);
            if (type == core.type)
                plan.append({Target {type, 0, 1}, file});
            for (const SimModule &m : sc.modules)
                if (m.type == type)
                    plan.prepend({Target {m.type, m.node, m.busKind}, file});
        }
        for (const auto &step : plan) {
            const Target &t = step.first;
            const QByteArray &file = step.second;
            const QJsonObject verify = transfer(t, file);
            QVERIFY2(driver->done, qPrintable(t.simName()));
            qInfo().noquote()
                << QStringLiteral(
                       "FLASHED %1 with V%2.%3.%4: %5 image bytes in %6 blocks; the device "
                       "verified: complete %7, gaps %8, out of order %9, SHA-256 %10")
                       .arg(t.simName())
                       .arg(tdu1(file[23]))
                       .arg(tdu1(file[24]))
                       .arg(tdu1(file[25]))
                       .arg(verify.value(QStringLiteral("imageSize")).toInt())
                       .arg(verify.value(QStringLiteral("blocks")).toInt())
                       .arg(verify.value(QStringLiteral("complete")).toBool() ? "yes" : "NO")
                       .arg(verify.value(QStringLiteral("gaps")).toInt())
                       .arg(verify.value(QStringLiteral("outOfOrder")).toInt())
                       .arg(text(verify, "sha256")
                                   == sha256(file.mid(
                                       48, int(verify.value(QStringLiteral("imageSize")).toInt())))
                               ? QStringLiteral("matches the file")
                               : QStringLiteral("DIFFERS from the file"));
            QVERIFY(verify.value(QStringLiteral("complete")).toBool());
            QCOMPARE(text(verify, "sha256"),
                sha256(file.mid(48, verify.value(QStringLiteral("imageSize")).toInt())));
            QTest::qWait(100); // the workflow's pause between devices, shortened
        }
        rx.clear();
        sendApp(&ZoFcsProtocolBase::makeVersionRequest);
        QTRY_VERIFY_WITH_TIMEOUT(!rx.versions.isEmpty(), 3000);
        const tVersion now = rx.versions.first();
        qInfo().noquote() << QStringLiteral(
            "REPORTED by the core, back in its application: V%1.%2.%3")
                                 .arg(now.major)
                                 .arg(now.minor)
                                 .arg(now.revision);
        QVERIFY(noMisreads());
    }
};

QTEST_GUILESS_MAIN(TstLooperAircraftSim)
#include "tst_looper_aircraftsim.moc"
