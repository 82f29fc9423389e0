#include "ZoFcsProtocolBase.h"
#include "ZoFirmwareUpdateProtocol.h"
#include "ZoMsgLooper.h"
#include "ZoTestAircraftSim.h"

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

using Link = ZoTestAircraftSim::Link;

QString text(const QJsonObject &o, const char *key)
{
    return o.value(QLatin1String(key)).toString();
}
int num(const QJsonObject &o, const char *key)
{
    return o.value(QLatin1String(key)).toInt();
}

// "type:major.minor.revision", the form the scenario files write versions in.
QString versionText(const tVersion &v)
{
    return QStringLiteral("%1:%2.%3.%4").arg(v.type).arg(v.major).arg(v.minor).arg(v.revision);
}
QString moduleText(const tVersion &v, int idx, const QString &sn)
{
    return QStringLiteral("%1 idx %2 sn %3").arg(versionText(v)).arg(idx).arg(sn);
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

// ---- the simulator's side, as its scenario file describes it ----

struct SimModule
{
    Target target;
    QString version; // "type:major.minor.revision"
    QString serial;
};

struct Scenario
{
    tdu1 coreType = 0;
    QString version; // "type:major.minor.revision"
    QString compileTime; // "yyyy-MM-dd hh:mm:ss"
    QString eid;
    int addressMode = 0;
    tdu4 address = 0;
    QVector<SimModule> modules;
};

Scenario loadScenario(const QString &file)
{
    Scenario s;
    QFile f(QStringLiteral(TOLVANE_AIRCRAFT_SCENARIOS "/") + file);
    if (!f.open(QIODevice::ReadOnly))
        return s;
    const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    const QJsonObject core = o.value(QStringLiteral("core")).toObject();
    s.coreType = tdu1(num(core, "type"));
    s.version = QStringLiteral("%1:%2").arg(s.coreType).arg(text(core, "version"));
    s.compileTime = text(core, "compileTime");
    s.eid = text(core, "eid").toUpper();
    s.addressMode = text(o, "address").toInt();
    s.address = tdu4(text(o, "addressValue").toUInt(nullptr, 0));
    for (const QJsonValue &v : o.value(QStringLiteral("modules")).toArray()) {
        const QJsonObject m = v.toObject();
        const tdu1 type = tdu1(num(m, "type"));
        const int busKind = (type == 79 || type == 83) ? 3 : (type == 77 || type == 86) ? 4 : 2;
        const Target t {type, tdu1(num(m, "node")), busKind};
        s.modules << SimModule {t, QStringLiteral("%1:%2").arg(type).arg(text(m, "version")),
            // Bus modules report their device number as the serial.
            busKind == 4 ? QString::number(t.node)
                         : QString::number(text(m, "serial").toUInt(nullptr, 16), 16)};
    }
    return s;
}

using AircraftSim = ZoTestAircraftSim;

// ---- the workflow's side ----

// A firmware file: the 48-byte header (image length at 16, version at 22,
// compile time at 30) and the image.
QByteArray firmwareFile(tdu1 type, int imageSize, int seed)
{
    QByteArray f(48 + imageSize, '\0');
    for (int i = 0; i < 16; ++i)
        f[i] = char(0xA0 + i); // replaced by the session key on the wire
    for (int i = 0; i < 4; ++i)
        f[16 + i] = char((tdu4(imageSize) >> (8 * i)) & 0xFF);
    // V2.21.7, compiled 2026-03-14 15:09:26
    const char record[15] = {char(type), 2, 21, 7, 0, 0, 0, 0, char(0xEA), 0x07, 3, 14, 15, 9, 26};
    std::copy(record, record + 15, f.data() + 22);
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

// Eight CAN data bytes, led by `head`.
QByteArray eight(std::initializer_list<tdu1> head)
{
    QByteArray d(8, '\0');
    std::copy(head.begin(), head.end(), d.begin());
    return d;
}

const tdu1 kModuleKey[6] = {0x6A, 0x0C, 0xE3, 0x51, 0x97, 0x4B};

// Plays the upgrade sequence of one device the way the main window does:
// enter bootloader, wait, key frame (erase), blocks acknowledged by offset
// with resends on time-out, leave bootloader three times. Waits are short.
class UpgradeDriver : public QObject
{
    Q_OBJECT
public:
    tds4 coreProtocolMode = ZoMsgLooper::ModeModuleTransfer;

    explicit UpgradeDriver(ZoMsgLooper *looper)
        : l(looper)
    {
        // Acknowledgements count only from the kind of device being flashed.
        connect(
            l, &ZoMsgLooper::sigGNCUpgEraseFlashAck, this, [this] { erased |= target.isCore(); });
        connect(l, &ZoMsgLooper::sigCANDevUpgEraseFlashAck, this, [this] {
            ++canEraseAcks;
            erased |= !target.isCore();
        });
        connect(l, &ZoMsgLooper::sigGNCUpgradeProgAck, this, [this](tds4 n) {
            gncAcks << n;
            acked = target.isCore() ? n : acked;
        });
        connect(l, &ZoMsgLooper::sigCANDevUpgradeProgAck, this, [this](tds4 n) {
            canAcks << n;
            acked = target.isCore() ? acked : n;
        });
    }

    void send(const tdu1 *bytes, int n)
    {
        if (bytes && n > 0) {
            l->sendQueue.push(bytes, tdu2(n));
            Q_EMIT l->sigSendCmd();
        }
    }
    void sendApp(tdu1 *(ZoFcsProtocolBase::*builder)(tdu1 &))
    {
        tdu1 n = 0;
        const tdu1 *b = (l->fcsProtocol.load()->*builder)(n);
        send(b, n);
    }
    // The command set's CAN pass-through: id word (bit 15 set unless the
    // standard flag is given), then the CAN data.
    void sendCan(tdu2 id, bool standard, const QByteArray &data)
    {
        const tdu2 word = tdu2((id & 0x7FF) | (standard ? 0 : 0x8000));
        const QByteArray pkg = QByteArray(1, char(word & 0xFF)) + char(word >> 8) + data;
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
    // A command to a module's bootloader: over the bus for bus modules, as
    // CAN id 0x6F1 (control) or 0x6F2 (transfer frames) otherwise.
    void sendModuleBoot(const Target &t, bool transfer, const QByteArray &data)
    {
        if (t.busKind == 4)
            sendBus(0xFC, data);
        else
            sendCan(transfer ? 0x6F2 : 0x6F1, true, data);
    }
    // A bootloader control command: the long form names no device.
    void sendModuleControl(const Target &t, tdu1 command)
    {
        sendModuleBoot(t, false,
            t.busKind == 2 ? QByteArray(1, char(command)) : eight({t.type, t.node, command}));
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
        if (t.isCore())
            sendApp(&ZoFcsProtocolBase::makeEnterBootloader);
        else if (t.busKind == 2)
            sendCan(0x6F0, true, eight({t.type}));
        else if (t.busKind == 3)
            sendCan(0x6F8, true, keyed);
        else
            sendBus(0xFB, keyed);
    }
    void leaveBootloader(const Target &t)
    {
        if (!t.isCore())
            return sendModuleControl(t, 0x50);
        tdu1 frame[8] = {};
        tdu1 n = 0;
        l->updateProtocol.load()->buildLeaveBootloader(frame, n, true);
        send(frame, n);
    }

    // Asks a device in its bootloader for its stored version (the manual
    // add of a device that did not answer the search).
    void forceReport(const Target &t)
    {
        l->sendQueue.clear();
        l->moduleVariant = tdu1(t.isCore() ? 0 : t.busKind);
        if (!t.isCore())
            return sendModuleControl(t, t.busKind == 2 ? 0x22 : 0x41);
        l->protocolMode = ZoMsgLooper::ModeCoreBootloader;
        tdu1 frame[8] = {};
        tdu1 command = 0;
        tdu1 n = 0;
        l->updateProtocol.load()->buildReadParameters(frame, command, n, true);
        send(frame, n);
    }

    // The transfer of `file` into `t`, start to end; false when a block
    // stayed unacknowledged after four resends.
    bool flash(const Target &t, const QByteArray &file)
    {
        target = t;
        eraseTimedOut = false;
        timeouts = canEraseAcks = 0;
        gncAcks.clear();
        canAcks.clear();
        QByteArray header = file.left(48);
        tdu4 sizeField = 0;
        for (int i = 0; i < 4; ++i)
            sizeField |= tdu4(tdu1(file[16 + i])) << (8 * i);
        const int n = (std::max(file.size() - 48, int(sizeField)) + 127) / 128 * 128;
        pageCount = n / 128;
        // The last frame (offset pageCount * 128) lies past the image; it
        // carries zeros, as do the bytes that fill the last page.
        const QByteArray image = file.mid(48).leftJustified(n + 128, '\0', true);
        chunkSize = t.isCore() ? 128 : 64;
        reset();
        enterBootloader(t);
        QTest::qWait(100);

        ZoFirmwareUpdateProtocol *up = l->updateProtocol.load();
        up->setKeyMode(0);
        l->protocolMode = t.isCore() ? coreProtocolMode : ZoMsgLooper::ModeApplication;
        l->sendQueue.clear();
        l->moduleVariant = tdu1(t.busKind);
        tdu1 out[ZoFirmwareUpdateProtocol::MaxBlock + 8] = {};
        erased = false;
        sendBoot(out,
            up->buildKeyFrame(out, reinterpret_cast<tdu1 *>(header.data()), t.isCore(), t.type,
                t.node, t.busKind == 3 || t.busKind == 4));
        eraseTimedOut = !waitFor([this] { return erased; }, 1000);
        const tdu1 *img = reinterpret_cast<const tdu1 *>(image.constData());
        for (int offset = 0; offset <= pageCount * 128; offset += chunkSize) {
            acked = -1;
            for (int tries = 0;; ++tries) {
                sendBoot(out,
                    up->buildDataFrame(out, img, tdu4(offset), tdu2(chunkSize), t.isCore(), t.type,
                        t.node, t.busKind == 3));
                if (waitFor([&] { return acked == offset; }, 500))
                    break;
                ++timeouts;
                // The core may reset before acknowledging its last block.
                if (tries == 4 && t.isCore() && offset + chunkSize >= pageCount * 128)
                    break;
                if (tries == 4) {
                    reset();
                    return false;
                }
            }
        }
        for (int i = 0; i < 3; ++i)
            leaveBootloader(t);
        return true;
    }

    // What resetUpgradeState does to the looper.
    void reset()
    {
        l->protocolMode = ZoMsgLooper::ModeApplication;
        l->sendQueue.clear();
        l->moduleVariant = 0;
    }

    int expectedBlocks() const { return pageCount * 128 / chunkSize + 1; }

    bool eraseTimedOut = false;
    int timeouts = 0;
    int canEraseAcks = 0;
    int pageCount = 0;
    int chunkSize = 0;
    QVector<tds4> gncAcks;
    QVector<tds4> canAcks;

private:
    // Waits for `done` as the looper's signals arrive (QTest::qWaitFor
    // would add a pause of its own to every block).
    template <typename F> static bool waitFor(F done, int ms)
    {
        const QDeadlineTimer deadline(ms);
        QTimer wake; // so that the wait below ends when nothing arrives
        wake.start(10);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }

    // A transfer frame: directly to the core, wrapped for a module.
    void sendBoot(const tdu1 *frame, tdu2 n)
    {
        if (target.isCore())
            send(frame, n);
        else
            sendModuleBoot(target, true, QByteArray(reinterpret_cast<const char *>(frame), n));
    }

    ZoMsgLooper *l;
    Target target;
    bool erased = false;
    tds4 acked = -1;
};

// Every signal of the looper, as the window would receive it.
struct Received
{
    QVector<bool> connection;
    QStringList versions; // versionText
    QStringList compileTimes; // "yyyy-MM-dd hh:mm:ss"
    QStringList eids;
    QStringList modules; // moduleText
};

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

    // Opens the looper's link to the simulator and waits for its first
    // telemetry frame.
    bool openLink(Link link)
    {
        rx = Received();
        const tds4 port = sim->port;
        const tds4 local = sim->programUdpPort;
        const QString pty = sim->ptyPath;
        QMetaObject::invokeMethod(looper.get(), [l = looper.get(), link, port, local, pty] {
            if (link == ZoTestAircraftSim::Udp)
                l->onOpenPlaneUdp(QStringLiteral("127.0.0.1"), port, local);
            else if (link == ZoTestAircraftSim::Tcp)
                l->onOpenPlaneTCPClient(QStringLiteral("127.0.0.1"), port, 0);
            else
                l->onOpenPlaneSerial(pty, 115200, 8, 0, 1);
        });
        return QTest::qWaitFor([this] { return rx.connection.contains(true); }, 5000);
    }

    // The whole transfer of `file` into `t`; returns the simulator's
    // verification record.
    QJsonObject transfer(const Target &t, const QByteArray &file)
    {
        if (!driver->flash(t, file))
            return QJsonObject();
        // All three leave frames must be out before the looper goes back to
        // the application protocol (which empties its send queue); the device
        // takes the first, the repeats find it gone.
        (void)QTest::qWaitFor([&] { return leaveFrames(t) >= 3; }, 3000);
        driver->reset();
        const QList<QJsonObject> v = sim->events("verify", t.simName());
        return v.isEmpty() ? QJsonObject() : v.last();
    }

    // Nothing the program sent was misread by the aircraft.
    bool noMisreads() const
    {
        static const QStringList misreads {"sub-message runs past the frame", "unknown sub-message",
            "CAN pass-through too short", "malformed bus pass-through",
            "malformed addressed transfer frame", "key frame is not 54 bytes",
            "data frame too short", "unknown bootloader command"};
        bool ok = sim->events("badCrc").isEmpty();
        for (const QJsonObject &o : sim->events("ignored"))
            if (misreads.contains(text(o, "reason"))) {
                qWarning().noquote() << QJsonDocument(o).toJson(QJsonDocument::Compact);
                ok = false;
            }
        return ok;
    }

    int leaveFrames(const Target &t) const
    {
        int n = sim->events("request", t.simName(), QStringLiteral("leaveBootloader")).size();
        for (const QJsonObject &o : sim->events("ignored")) {
            if (t.isCore() && text(o, "frame") == QLatin1String("EB 90 06 FF FF 50"))
                ++n; // reached the core's application
            if (t.busKind == 2 && num(o, "id") == 0x6F1 && text(o, "data") == QLatin1String("50"))
                ++n; // the unaddressed form found no module left in its bootloader
        }
        return n;
    }

    // Asks the core for its version, compile time and identity, and waits
    // for all three.
    bool readIdentity()
    {
        driver->sendApp(&ZoFcsProtocolBase::makeVersionRequest);
        driver->sendApp(&ZoFcsProtocolBase::makeCompileTimeRequest);
        driver->sendApp(&ZoFcsProtocolBase::makeIdentityRequest);
        return QTest::qWaitFor(
            [this] {
                return !rx.versions.isEmpty() && !rx.compileTimes.isEmpty() && !rx.eids.isEmpty();
            },
            3000);
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
        connect(l, &ZoMsgLooper::sigGNCFMVersion, this,
            [this](tVersion v) { rx.versions << versionText(v); });
        connect(l, &ZoMsgLooper::sigGNCCompileTime, this, [this](tFcsDateTime t) {
            rx.compileTimes << QDateTime(
                QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second))
                                   .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        });
        connect(l, &ZoMsgLooper::sigGNCEID, this, [this](QString e) { rx.eids << e; });
        connect(l, &ZoMsgLooper::sigCANDevVersion, this,
            [this](tVersion v, tdu1 idx, QString sn) { rx.modules << moduleText(v, idx, sn); });
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

    void init() { sim = std::make_unique<AircraftSim>(); }

    void cleanup()
    {
        QMetaObject::invokeMethod(looper.get(), [l = looper.get()] { l->onClosePlaneComm(); });
        (void)QTest::qWaitFor([this] { return !looper->isConnected(); }, 2000);
        driver->reset();
        if (QTest::currentTestFailed()) {
            // What the aircraft saw last, to tell whose reading went wrong.
            const QList<QJsonObject> ev = sim->events();
            for (int i = std::max(0, int(ev.size()) - 25); i < ev.size(); ++i)
                qWarning().noquote() << QJsonDocument(ev[i]).toJson(QJsonDocument::Compact);
        }
        sim.reset();
    }

    // Discovery and identity on each link kind; with an address sub-message
    // in the aircraft's frames every later command carries the address.
    void identity_data()
    {
        QTest::addColumn<int>("link");
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QStringList>("extra");
        QTest::newRow("udp, 8-byte address") << int(ZoTestAircraftSim::Udp) << "arno2.json" << QStringList();
        QTest::newRow("tcp, no address") << int(ZoTestAircraftSim::Tcp) << "default.json" << QStringList();
        QTest::newRow("pty, no address") << int(ZoTestAircraftSim::Pty) << "default.json" << QStringList();
        QTest::newRow("tcp, 4-byte address")
            << int(ZoTestAircraftSim::Tcp) << "default.json"
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
        QVERIFY(sim->events("request").isEmpty());

        QVERIFY(readIdentity());
        QTest::qWait(100); // and no more
        QCOMPARE(rx.versions, QStringList {sc.version});
        QCOMPARE(rx.compileTimes, QStringList {sc.compileTime});
        QCOMPARE(rx.eids, QStringList {sc.eid});
        qInfo().noquote() << "found core" << sc.version << "compiled" << sc.compileTime << "EID"
                          << sc.eid;

        // What the aircraft saw: one request each, numbered in order, with
        // the address it announced when it announces one.
        int seq = -1;
        for (const char *cmd : {"version", "compileTime", "identity"}) {
            const QList<QJsonObject> r
                = sim->events("request", QStringLiteral("core"), QLatin1String(cmd));
            QCOMPARE(r.size(), 1);
            const QJsonObject &got = r.first();
            QVERIFY2(got.contains(QStringLiteral("seq")), "sequence sub-message missing");
            if (seq >= 0)
                QCOMPARE(num(got, "seq"), (seq + 1) % 256);
            seq = num(got, "seq");
            QCOMPARE(got.contains(QStringLiteral("address")), sc.addressMode != 0);
            QCOMPARE(got.value(QStringLiteral("address")).toVariant().toLongLong(),
                sc.addressMode != 0 ? qint64(sc.address) : 0);
            QCOMPARE(got.value(QStringLiteral("addressOk")).toBool(), sc.addressMode != 0);
        }
        QVERIFY(noMisreads());
    }

    // Every module answers the version query of its bus kind through the
    // core's CAN (0x5B out, 0x5F back) or bus (0x9B) pass-through.
    void moduleVersions_data()
    {
        QTest::addColumn<int>("link");
        QTest::addColumn<QString>("scenario");
        QTest::newRow("Emba2 over udp") << int(ZoTestAircraftSim::Udp) << "default.json";
        QTest::newRow("Arno2 over tcp, addressed") << int(ZoTestAircraftSim::Tcp) << "arno2.json";
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
            expected << QStringLiteral("%1 idx %2 sn %3")
                            .arg(m.version)
                            .arg(m.target.node)
                            .arg(m.serial);
            // CAN modules are asked by type (one query reaches every node of
            // it); bus modules by type and device number.
            if (m.target.busKind == 4 || !asked.contains(m.target.type)) {
                asked << m.target.type;
                driver->requestModuleVersion(m.target);
                QTest::qWait(20); // the send queue holds four commands
            }
        }
        QTRY_COMPARE_WITH_TIMEOUT(rx.modules.size(), expected.size(), 5000);
        QTest::qWait(200); // and no more
        QStringList got = rx.modules;
        got.sort();
        expected.sort();
        QCOMPARE(got, expected);
        QVERIFY(noMisreads());
        for (const QJsonObject &o : sim->events("ignored"))
            QVERIFY2(!text(o, "reason").endsWith(QLatin1String(" module takes this")),
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
        QString version = sc.version;
        for (const SimModule &m : sc.modules)
            if (m.target.type == t.type && m.target.node == t.node)
                version = m.version;
        QVERIFY(sim->start(ZoTestAircraftSim::Udp, QStringLiteral("default.json"), {}));
        QVERIFY(openLink(ZoTestAircraftSim::Udp));

        driver->enterBootloader(t);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QJsonObject &o : sim->events("state", t.simName()))
                    if (text(o, "to") == QLatin1String("bootloader"))
                        return true;
                return false;
            }(),
            3000);
        rx = Received();
        driver->forceReport(t);
        if (t.isCore()) {
            QTRY_COMPARE_WITH_TIMEOUT(rx.versions, QStringList {version}, 3000);
        } else {
            // The long form names no device; the short form carries the index.
            const bool longForm = busKind == 2;
            QTRY_COMPARE_WITH_TIMEOUT(rx.modules,
                QStringList {QStringLiteral("%1 idx %2 sn %3")
                                 .arg(version)
                                 .arg(longForm ? 0 : node)
                                 .arg(longForm ? QString() : QString::number(node))},
                3000);
        }
        driver->leaveBootloader(t);
        QTRY_VERIFY_WITH_TIMEOUT(
            !sim->events("request", t.simName(), QStringLiteral("leaveBootloader")).isEmpty(),
            3000);
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
        QTest::addColumn<QString>("fault");
        const int udp = int(ZoTestAircraftSim::Udp);
        const int tcp = int(ZoTestAircraftSim::Tcp);
        QTest::newRow("core over udp") << udp << 80 << 0 << 1 << 20000 << 3 << QString();
        QTest::newRow("core over tcp, mode 2") << tcp << 80 << 0 << 1 << 16384 << 2 << QString();
        QTest::newRow("core over pty") << int(ZoTestAircraftSim::Pty) << 80 << 0 << 1 << 12000 << 3 << QString();
        QTest::newRow("CAN module 38") << udp << 38 << 0 << 2 << 6000 << 3 << QString();
        QTest::newRow("CAN module 79.1") << tcp << 79 << 1 << 3 << 6000 << 3 << QString();
        QTest::newRow("bus module 77.2") << udp << 77 << 2 << 4 << 6000 << 3 << QString();
        QTest::newRow("core, every 16th ack dropped")
            << udp << 80 << 0 << 1 << 16000 << 3 << "core:drop-ack-every=16";
        QTest::newRow("bus module 86.3, every 9th ack dropped")
            << tcp << 86 << 3 << 4 << 4000 << 3 << "86.3:drop-ack-every=9";
        QTest::newRow("CAN module 38, every 7th reply corrupted")
            << udp << 38 << 0 << 2 << 4000 << 3 << "38:corrupt-every=7";
        QTest::newRow("CAN module 79.1, every 6th reply corrupted")
            << udp << 79 << 1 << 3 << 4000 << 3 << "79.1:corrupt-every=6";
    }

    void transfers()
    {
        QFETCH(int, link);
        QFETCH(int, type);
        QFETCH(int, node);
        QFETCH(int, busKind);
        QFETCH(int, imageSize);
        QFETCH(int, coreMode);
        QFETCH(QString, fault);
        const QStringList extra
            = fault.isEmpty() ? QStringList() : QStringList {QStringLiteral("--fault"), fault};
        QVERIFY(sim->start(Link(link), QStringLiteral("default.json"), extra));
        QVERIFY(openLink(Link(link)));

        const Target t {tdu1(type), tdu1(node), busKind};
        const QByteArray file = firmwareFile(t.type, imageSize, type * 256 + node);
        driver->coreProtocolMode = coreMode;
        const QJsonObject verify = transfer(t, file);
        QVERIFY2(!verify.isEmpty(), "transfer did not complete");
        qInfo().noquote() << "flashed" << t.simName() << "device verified:"
                          << QJsonDocument(verify).toJson(QJsonDocument::Compact);

        QCOMPARE(num(verify, "imageSize"), imageSize);
        QVERIFY(verify.value(QStringLiteral("complete")).toBool());
        QCOMPARE(num(verify, "gaps"), 0);
        QCOMPARE(num(verify, "outOfOrder"), 0);
        QCOMPARE(num(verify, "partialCipherBlocks"), 0);
        QVERIFY(verify.value(QStringLiteral("typeMatches")).toBool());
        QCOMPARE(text(verify, "headerVersion"), QStringLiteral("%1:2.21.7").arg(type));
        QCOMPARE(text(verify, "sha256"), sha256(file.mid(48)));
        // Every resend the device saw is one the driver made after a time-out.
        const int resends = num(verify, "resends");
        QCOMPARE(resends, driver->timeouts);
        QCOMPARE(num(verify, "blocks"), driver->expectedBlocks() + resends);

        const bool corrupting = fault.contains(QLatin1String("corrupt"));
        const QList<QJsonObject> faults = sim->events("fault", t.simName());
        // The erase was acknowledged, not waited out (only a corrupted reply may hide it).
        if (!corrupting)
            QVERIFY(!driver->eraseTimedOut);
        if (!corrupting) // no fault: no resend; a dropped acknowledgement: one resend each
            QCOMPARE(resends, faults.size());
        if (corrupting) {
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
                if (ev == QLatin1String("fault"))
                    afterFault = true;
                if (ev == QLatin1String("reply")) {
                    intact += inTransfer && !afterFault;
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
                = sim->events("request", QStringLiteral("core"), QStringLiteral("enterBootloader"));
            QCOMPARE(enter.size(), 1);
            QVERIFY(!enter.first().contains(QStringLiteral("seq")));
            QCOMPARE(num(enter.first(), "length"), 8);
        }

        // Back in its application the device reports the new firmware (asked
        // again when a corrupted reply was lost).
        rx = Received();
        for (int i = 0; i < 3 && rx.versions.isEmpty() && rx.modules.isEmpty(); ++i) {
            if (t.isCore())
                driver->sendApp(&ZoFcsProtocolBase::makeVersionRequest);
            else
                driver->requestModuleVersion(t);
            (void)QTest::qWaitFor(
                [this] { return !rx.versions.isEmpty() || !rx.modules.isEmpty(); }, 1000);
        }
        const QString now = QStringLiteral("%1:2.21.7").arg(type);
        if (t.isCore()) {
            QCOMPARE(rx.versions, QStringList {now});
        } else {
            QCOMPARE(rx.modules.size(), 1);
            QVERIFY2(rx.modules.first().startsWith(QStringLiteral("%1 idx %2 ").arg(now).arg(node)),
                qPrintable(rx.modules.first()));
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
        QVERIFY(openLink(ZoTestAircraftSim::Tcp));

        QVERIFY(readIdentity());
        QCOMPARE(rx.versions.first(), sc.version);
        qInfo().noquote() << QStringLiteral("FOUND core: type %1, firmware V%2, EID %3")
                                 .arg(sc.coreType)
                                 .arg(rx.versions.first().section(QLatin1Char(':'), 1),
                                     rx.eids.first());
        for (const SimModule &m : sc.modules) {
            rx.modules.clear();
            driver->requestModuleVersion(m.target);
            QTRY_VERIFY_WITH_TIMEOUT(!rx.modules.isEmpty(), 3000);
            qInfo().noquote()
                << QStringLiteral("FOUND module (bus kind %1): ").arg(m.target.busKind)
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
            QJsonDocument(QJsonObject {{QStringLiteral("fid"), int(sc.coreType)},
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
            if (type == sc.coreType)
                plan.append({Target {type, 0, 1}, file});
            for (const SimModule &m : sc.modules)
                if (m.target.type == type)
                    plan.prepend({m.target, file});
        }
        for (const auto &step : plan) {
            const Target &t = step.first;
            const QByteArray &file = step.second;
            const QJsonObject verify = transfer(t, file);
            QVERIFY2(!verify.isEmpty(), qPrintable(t.simName()));
            const bool same
                = text(verify, "sha256") == sha256(file.mid(48, num(verify, "imageSize")));
            qInfo().noquote() << QStringLiteral(
                "FLASHED %1 with V%2.%3.%4, SHA-256 %5; the device verified:")
                                     .arg(t.simName())
                                     .arg(tdu1(file[23]))
                                     .arg(tdu1(file[24]))
                                     .arg(tdu1(file[25]))
                                     .arg(same ? "matches the file" : "DIFFERS from the file")
                              << QJsonDocument(verify).toJson(QJsonDocument::Compact);
            QVERIFY(verify.value(QStringLiteral("complete")).toBool());
            QVERIFY(same);
            QTest::qWait(100); // the workflow's pause between devices, shortened
        }
        rx = Received();
        driver->sendApp(&ZoFcsProtocolBase::makeVersionRequest);
        QTRY_VERIFY_WITH_TIMEOUT(!rx.versions.isEmpty(), 3000);
        qInfo().noquote() << "REPORTED by the core, back in its application:"
                          << rx.versions.first();
        QVERIFY(noMisreads());
    }
};

QTEST_GUILESS_MAIN(TstLooperAircraftSim)
#include "tst_looper_aircraftsim.moc"
