#include "ZoSimAircraft.h"

#include "ZoSimCrc.h"
#include "ZoSimEventLog.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cstring>

namespace {

// The 6-byte constant that bus kinds 3 and 4 expect after type and device
// number in their enter-bootloader command.
const uint8_t kModuleKey[6] = {0x6A, 0x0C, 0xE3, 0x51, 0x97, 0x4B};

const uint8_t kTelemetryType = 0xA1;

QByteArray bytes(const uint8_t *p, size_t n)
{
    return QByteArray(reinterpret_cast<const char *>(p), int(n));
}

QString hex(const QByteArray &b)
{
    return QString::fromLatin1(b.toHex(' ').toUpper());
}

QString hexOf(const uint8_t *p, size_t n)
{
    return hex(bytes(p, n));
}

} // namespace

struct ZoSimAircraft::Link
{
    QString kind;
    ZoSimFrameParser app {ZoSimFrameParser::Kind::App};
    ZoSimFrameParser boot {ZoSimFrameParser::Kind::Boot};
};

// What the framing sub-messages of one request frame said.
struct ZoSimAircraft::Request
{
    int sequence = -1;
    qint64 address = -1;
};

ZoSimAircraft::ZoSimAircraft(const ZoSimScenario &scenario, ZoSimEventLog *log, QObject *parent)
    : QObject(parent)
    , m_scenario(scenario)
    , m_log(log)
{
    m_core = new ZoSimDevice(scenario.core, true, scenario.faultsFor(scenario.core),
        scenario.core.eraseMs >= 0 ? scenario.core.eraseMs : scenario.eraseMs, log, this, this);
    for (const ZoSimDeviceConfig &c : scenario.modules)
        m_modules.append(new ZoSimDevice(c, false, scenario.faultsFor(c),
            c.eraseMs >= 0 ? c.eraseMs : scenario.eraseMs, log, this, this));
    m_telemetryTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_telemetryTimer, &QTimer::timeout, this, &ZoSimAircraft::sendTelemetry);
    m_chaos = ZoSimChaos(scenario.chaosSeed);
    m_delayTimer.setSingleShot(true);
    m_delayTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_delayTimer, &QTimer::timeout, this, &ZoSimAircraft::flushDelayed);
    m_uptime.start();
}

ZoSimAircraft::~ZoSimAircraft() = default;

void ZoSimAircraft::setDumpDir(const QString &dir)
{
    m_core->setDumpDir(dir);
    for (ZoSimDevice *m : m_modules)
        m->setDumpDir(dir);
}

void ZoSimAircraft::start()
{
    QJsonArray mods;
    for (ZoSimDevice *m : m_modules)
        mods.append(QJsonObject {{QStringLiteral("dev"), m->name()},
            {QStringLiteral("busKind"), m->busKind()},
            {QStringLiteral("board"), ZoSimScenario::isCoreBoard(m->type())}});
    m_log->log(QStringLiteral("aircraft"),
        {{QStringLiteral("coreType"), int(m_core->type())},
            {QStringLiteral("addressMode"), m_scenario.addressMode},
            {QStringLiteral("telemetryMs"), m_scenario.telemetryMs},
            {QStringLiteral("eraseMs"), m_scenario.eraseMs},
            {QStringLiteral("rebootMs"), m_scenario.rebootMs}, {QStringLiteral("modules"), mods}});
    for (ZoSimDevice *d : QVector<ZoSimDevice *> {m_core} + m_modules)
        if (d->inBootloader())
            m_log->log(QStringLiteral("state"),
                {{QStringLiteral("dev"), d->name()},
                    {QStringLiteral("to"), QStringLiteral("bootloader")},
                    {QStringLiteral("why"), QStringLiteral("stranded")}});
    if (m_scenario.telemetryMs > 0)
        m_telemetryTimer.start(m_scenario.telemetryMs);
}

void ZoSimAircraft::endOfRun()
{
    m_core->endOfRun();
    for (ZoSimDevice *m : m_modules)
        m->endOfRun();
}

int ZoSimAircraft::attachLink(const QString &kind)
{
    const int id = m_nextLink++;
    auto l = std::make_shared<Link>();
    l->kind = kind;
    m_links[id] = std::move(l);
    return id;
}

void ZoSimAircraft::detachLink(int link)
{
    m_links.erase(link);
}

ZoSimDevice *ZoSimAircraft::module(uint8_t type, uint8_t node) const
{
    for (ZoSimDevice *m : m_modules)
        if (m->type() == type && m->node() == node)
            return m;
    return nullptr;
}

void ZoSimAircraft::ignored(const QString &reason, QJsonObject extra)
{
    extra[QStringLiteral("reason")] = reason;
    m_log->log(QStringLiteral("ignored"), extra);
}

void ZoSimAircraft::logFrame(int link, const QString &protocol, size_t length, bool taken)
{
    if (m_logFrames)
        m_log->log(QStringLiteral("frame"),
            {{QStringLiteral("link"), link}, {QStringLiteral("protocol"), protocol},
                {QStringLiteral("bytes"), qint64(length)}, {QStringLiteral("taken"), taken}});
}

void ZoSimAircraft::receive(int link, const QByteArray &data)
{
    auto it = m_links.find(link);
    if (it == m_links.end() || data.isEmpty())
        return;
    const std::shared_ptr<Link> keep = it->second;
    const auto *p = reinterpret_cast<const uint8_t *>(data.constData());
    // Both framings see every byte: a chunk can hold the frame that switches
    // the core between application and bootloader and the frame after it.
    keep->app.feed(p, size_t(data.size()), [this, link](const uint8_t *f, size_t n, bool ok) {
        if (m_links.count(link))
            onAppFrame(link, f, n, ok);
    });
    keep->boot.feed(p, size_t(data.size()), [this, link](const uint8_t *f, size_t n, bool ok) {
        if (m_links.count(link))
            onBootFrame(link, f, n, ok);
    });
}

// ---- application protocol ----

QByteArray ZoSimAircraft::frame(const QByteArray &body)
{
    QByteArray f;
    f.reserve(body.size() + 5);
    f.append(char(0xAB)).append(char(0x0E)).append(char(uint8_t(body.size() + 2))).append(body);
    const uint16_t crc
        = ZoSimCrc::modbus(reinterpret_cast<const uint8_t *>(f.constData()), size_t(f.size()));
    f.append(char(crc & 0xFF)).append(char(crc >> 8));
    return f;
}

QByteArray ZoSimAircraft::appFrame(const QByteArray &subMessages) const
{
    QByteArray body;
    const uint32_t a = m_scenario.address;
    const char own[4]
        = {char(a & 0xFF), char((a >> 8) & 0xFF), char((a >> 16) & 0xFF), char(a >> 24)};
    if (m_scenario.addressMode == 4) {
        body.append(char(0x00)).append(char(4)).append(own, 4);
    } else if (m_scenario.addressMode == 8) {
        // Destination first (the ground side, unaddressed), then the aircraft:
        // the program takes the aircraft's address from bytes 4-7.
        body.append(char(0x00)).append(char(8)).append(QByteArray(4, '\0')).append(own, 4);
    }
    body.append(subMessages);
    return frame(body);
}

void ZoSimAircraft::onAppFrame(int link, const uint8_t *f, size_t length, bool crcOk)
{
    if (crcOk)
        logFrame(
            link, QStringLiteral("application"), length, !m_core->inBootloader() && !rebooting());
    if (m_core->inBootloader() || rebooting()) {
        if (crcOk)
            ignored(rebooting() ? QStringLiteral("core restarting")
                                : QStringLiteral("core in bootloader"),
                {{QStringLiteral("frame"), hexOf(f, length)}});
        return;
    }
    if (!crcOk) {
        ++m_badCrc;
        m_log->log(QStringLiteral("badCrc"),
            {{QStringLiteral("link"), link},
                {QStringLiteral("protocol"), QStringLiteral("application")},
                {QStringLiteral("count"), m_badCrc}});
        return;
    }
    const uint8_t *body = f + 3;
    const size_t bodyLen = length - 5;
    Request rq;
    size_t pos = 0;
    while (pos < bodyLen) {
        if (pos + 2 > bodyLen || pos + 2 + body[pos + 1] > bodyLen) {
            ignored(QStringLiteral("sub-message runs past the frame"),
                {{QStringLiteral("frame"), hexOf(f, length)}});
            break;
        }
        const size_t n = body[pos + 1];
        handleSub(link, body[pos], body + pos + 2, n, rq);
        if (m_core->inBootloader())
            break; // whatever follows the enter-bootloader command is not for the application any
                   // more
        pos += 2 + n;
    }
}

void ZoSimAircraft::handleSub(int link, uint8_t type, const uint8_t *d, size_t n, Request &rq)
{
    auto request = [&](const QString &cmd, QJsonObject extra = QJsonObject()) {
        extra[QStringLiteral("dev")] = QStringLiteral("core");
        extra[QStringLiteral("cmd")] = cmd;
        extra[QStringLiteral("link")] = link;
        if (rq.sequence >= 0)
            extra[QStringLiteral("seq")] = rq.sequence;
        if (rq.address >= 0) {
            extra[QStringLiteral("address")] = rq.address;
            extra[QStringLiteral("addressOk")] = rq.address == qint64(m_scenario.address);
        }
        m_log->log(QStringLiteral("request"), extra);
    };
    switch (type) {
    case 0x00: // address sub-message: the aircraft's address in data bytes 0-3
        if (n >= 4)
            rq.address = qint64(uint32_t(d[0]) | (uint32_t(d[1]) << 8) | (uint32_t(d[2]) << 16)
                | (uint32_t(d[3]) << 24));
        return;
    case 0x10: // sequence sub-message
        if (n >= 1)
            rq.sequence = d[0];
        return;
    case 0xE2: {
        request(QStringLiteral("version"));
        const uint8_t *v = m_core->version();
        send(m_core, link, appFrame(QByteArray("\xE2\x04", 2) + bytes(v, 4)), false);
        return;
    }
    case 0xE3: {
        request(QStringLiteral("compileTime"));
        send(m_core, link, appFrame(QByteArray("\xE3\x07", 2) + bytes(m_core->compileTime(), 7)),
            false);
        return;
    }
    case 0xEB: {
        request(QStringLiteral("identity"));
        if (m_core->faults().noIdentity)
            return;
        QByteArray sub;
        sub.append(char(0xEB)).append(char(uint8_t(m_core->eid().size()))).append(m_core->eid());
        send(m_core, link, appFrame(sub), false);
        return;
    }
    case 0xE1:
        request(QStringLiteral("enterBootloader"), {{QStringLiteral("length"), qint64(n)}});
        m_core->enterBootloader(true, QStringLiteral("0xE1"));
        return;
    case 0x5B:
        handleCan(link, d, n);
        return;
    case 0x9B:
        handleBus(link, d, n);
        return;
    default:
        ignored(QStringLiteral("unknown sub-message"),
            {{QStringLiteral("type"), int(type)}, {QStringLiteral("data"), hexOf(d, n)}});
        return;
    }
}

// ---- modules behind the gateway ----

void ZoSimAircraft::canReply(ZoSimDevice *from, int link, uint16_t id, const QByteArray &payload)
{
    QByteArray sub;
    sub.append(char(0x5F))
        .append(char(uint8_t(payload.size() + 2)))
        .append(char(id & 0xFF))
        .append(char(id >> 8));
    sub.append(payload);
    send(from, link, appFrame(sub), false);
}

void ZoSimAircraft::busReply(
    ZoSimDevice *from, int link, uint8_t selector, const QByteArray &payload)
{
    QByteArray sub;
    sub.append(char(0x9B))
        .append(char(uint8_t(payload.size() + 2)))
        .append(char(0xA0))
        .append(char(selector));
    sub.append(payload);
    send(from, link, appFrame(sub), false);
}

void ZoSimAircraft::moduleVersionReply(ZoSimDevice *m, int link)
{
    m_log->log(QStringLiteral("request"),
        {{QStringLiteral("dev"), m->name()},
            {QStringLiteral("cmd"), QStringLiteral("versionQuery")}});
    const uint8_t *v = m->version();
    QByteArray p;
    if (m->busKind() == 4) {
        p.append(char(m->type()))
            .append(char(0x80 | m->node())); // the reply marks the index with bit 7
        p.append(char(m->serial() & 0xFF)).append(char(m->serial() >> 8));
        p.append(reinterpret_cast<const char *>(v + 1), 3).append(char(0));
        busReply(m, link, 0xFA, p);
    } else {
        p.append(char(m->type())).append(char(0x10));
        p.append(char(m->serial() & 0xFF)).append(char(m->serial() >> 8));
        p.append(reinterpret_cast<const char *>(v + 1), 3).append(char(m->node()));
        canReply(m, link, 0xF1, p);
    }
}

void ZoSimAircraft::moduleEnter(ZoSimDevice *m, bool keyOk, const QString &how)
{
    m_log->log(QStringLiteral("request"),
        {{QStringLiteral("dev"), m->name()},
            {QStringLiteral("cmd"), QStringLiteral("enterBootloader")},
            {QStringLiteral("via"), how}});
    m->enterBootloader(keyOk, how);
}

void ZoSimAircraft::moduleForceReport(ZoSimDevice *m, int link)
{
    m_log->log(QStringLiteral("request"),
        {{QStringLiteral("dev"), m->name()},
            {QStringLiteral("cmd"), QStringLiteral("forceReport")}});
    if (!m->inBootloader()) {
        ignored(QStringLiteral("not in bootloader"), {{QStringLiteral("dev"), m->name()}});
        return;
    }
    m->readParameters(link);
}

void ZoSimAircraft::moduleLeave(ZoSimDevice *m)
{
    m_log->log(QStringLiteral("request"),
        {{QStringLiteral("dev"), m->name()},
            {QStringLiteral("cmd"), QStringLiteral("leaveBootloader")}});
    if (!m->inBootloader()) {
        ignored(QStringLiteral("not in bootloader"), {{QStringLiteral("dev"), m->name()}});
        return;
    }
    m->leaveBootloader();
}

bool ZoSimAircraft::moduleKeyFrame(ZoSimDevice *m, int link, const uint8_t *keyAndHeader)
{
    m_log->log(QStringLiteral("request"),
        {{QStringLiteral("dev"), m->name()}, {QStringLiteral("cmd"), QStringLiteral("keyFrame")}});
    if (!m->inBootloader()) {
        ignored(QStringLiteral("not in bootloader"), {{QStringLiteral("dev"), m->name()}});
        return false;
    }
    m->keyFrame(link, keyAndHeader, keyAndHeader + 16);
    return true;
}

void ZoSimAircraft::handleCan(int link, const uint8_t *d, size_t n)
{
    if (n < 3) {
        ignored(
            QStringLiteral("CAN pass-through too short"), {{QStringLiteral("data"), hexOf(d, n)}});
        return;
    }
    const uint16_t word = uint16_t(d[0] | (d[1] << 8));
    const uint16_t id = word & 0x7FF;
    const uint8_t *p = d + 2;
    const size_t pn = n - 2;
    int answered = 0;
    auto canModules = [this](auto pred) {
        QVector<ZoSimDevice *> out;
        for (ZoSimDevice *m : m_modules)
            if ((m->busKind() == 2 || m->busKind() == 3) && pred(m))
                out.append(m);
        return out;
    };
    auto kind3 = [this, p, pn]() -> ZoSimDevice * {
        if (pn < 2)
            return nullptr;
        ZoSimDevice *m = module(p[0], p[1]);
        return m && m->busKind() == 3 ? m : nullptr;
    };

    switch (id) {
    case 0x0F0: // version query: type, 0x10, FF FF
        if (pn >= 2 && p[1] == 0x10) {
            for (ZoSimDevice *m : canModules([p](ZoSimDevice *m) {
                     return (m->type() == p[0] || p[0] == 0xFF) && !m->inBootloader();
                 })) {
                moduleVersionReply(m, link);
                ++answered;
            }
        }
        break;
    case 0x6F0: // enter bootloader, bus kind 2: type
        for (ZoSimDevice *m :
            canModules([p](ZoSimDevice *m) { return m->busKind() == 2 && m->type() == p[0]; })) {
            moduleEnter(m, true, QStringLiteral("CAN 0x6F0"));
            ++answered;
        }
        break;
    case 0x6F8: // enter bootloader, bus kind 3: type, device number, key
        if (ZoSimDevice *m = kind3()) {
            moduleEnter(
                m, pn >= 8 && std::memcmp(p + 2, kModuleKey, 6) == 0, QStringLiteral("CAN 0x6F8"));
            ++answered;
        }
        break;
    case 0x6F1: // force report / leave
        if (ZoSimDevice *m = kind3(); m && pn >= 3 && (p[2] == 0x41 || p[2] == 0x50)) {
            p[2] == 0x41 ? moduleForceReport(m, link) : moduleLeave(m);
            ++answered;
        } else if (p[0] == 0x22 || p[0] == 0x50) {
            for (ZoSimDevice *m2 :
                canModules([](ZoSimDevice *m) { return m->busKind() == 2 && m->inBootloader(); })) {
                p[0] == 0x22 ? moduleForceReport(m2, link) : moduleLeave(m2);
                ++answered;
            }
        }
        break;
    case 0x6F2: // transfer frames: addressed for kind 3, bare for kind 2
        if (ZoSimDevice *m = kind3(); m && pn >= 4 && (p[2] == '!' || p[2] == '1')) {
            ++answered;
            if (p[2] == '!' && p[3] == 0x30 && pn == 52)
                moduleKeyFrame(m, link, p + 4);
            else if (p[2] == '1' && pn >= 6 && size_t(p[3]) == pn - 4 && m->inBootloader())
                m->dataBlock(link, uint16_t(p[4] | (p[5] << 8)), p + 6, pn - 6, '1');
            else
                ignored(QStringLiteral("malformed addressed transfer frame"),
                    {{QStringLiteral("dev"), m->name()}, {QStringLiteral("data"), hexOf(p, pn)}});
        } else if (p[0] == '!' && pn == 49) {
            for (ZoSimDevice *m2 :
                canModules([](ZoSimDevice *m) { return m->busKind() == 2 && m->inBootloader(); })) {
                moduleKeyFrame(m2, link, p + 1);
                ++answered;
            }
        } else if (p[0] == '1' && pn >= 3) {
            for (ZoSimDevice *m2 :
                canModules([](ZoSimDevice *m) { return m->busKind() == 2 && m->inBootloader(); })) {
                m2->dataBlock(link, uint16_t(p[1] | (p[2] << 8)), p + 3, pn - 3, '1');
                ++answered;
            }
        }
        break;
    default:
        break;
    }
    if (answered == 0)
        ignored(QStringLiteral("no CAN module takes this"),
            {{QStringLiteral("id"), int(id)}, {QStringLiteral("data"), hexOf(p, pn)}});
}

void ZoSimAircraft::handleBus(int link, const uint8_t *d, size_t n)
{
    if (n < 3 || d[0] != 0xA0) {
        ignored(
            QStringLiteral("malformed bus pass-through"), {{QStringLiteral("data"), hexOf(d, n)}});
        return;
    }
    const uint8_t selector = d[1];
    const uint8_t *p = d + 2;
    const size_t pn = n - 2;
    int answered = 0;
    auto busModules = [this](auto pred) {
        QVector<ZoSimDevice *> out;
        for (ZoSimDevice *m : m_modules)
            if (m->busKind() == 4 && pred(m))
                out.append(m);
        return out;
    };
    ZoSimDevice *addressed = nullptr;
    if (pn >= 2)
        if (ZoSimDevice *m = module(p[0], p[1]); m && m->busKind() == 4)
            addressed = m;

    switch (selector) {
    case 0xFA: // version query: type, device number (0xFF: every number)
        if (pn >= 2) {
            for (ZoSimDevice *m : busModules([p](ZoSimDevice *m) {
                     return m->type() == p[0] && (m->node() == p[1] || p[1] == 0xFF)
                         && !m->inBootloader();
                 })) {
                moduleVersionReply(m, link);
                ++answered;
            }
        }
        break;
    case 0xFB: // enter bootloader: type, device number, key
        if (addressed) {
            moduleEnter(addressed, pn >= 8 && std::memcmp(p + 2, kModuleKey, 6) == 0,
                QStringLiteral("BUS 0xFB"));
            ++answered;
        }
        break;
    case 0xFC:
        if (addressed && pn >= 3 && (p[2] == '!' || p[2] == 0x41 || p[2] == 0x50 || p[2] == '1')) {
            ++answered;
            if (p[2] == 0x41)
                moduleForceReport(addressed, link);
            else if (p[2] == 0x50)
                moduleLeave(addressed);
            else if (p[2] == '!' && pn == 52 && p[3] == 0x30)
                moduleKeyFrame(addressed, link, p + 4);
            else if (p[2] == '1' && pn >= 6 && size_t(p[3]) == pn - 4 && addressed->inBootloader())
                addressed->dataBlock(link, uint16_t(p[4] | (p[5] << 8)), p + 6, pn - 6, '1');
            else
                ignored(QStringLiteral("malformed addressed transfer frame"),
                    {{QStringLiteral("dev"), addressed->name()},
                        {QStringLiteral("data"), hexOf(p, pn)}});
        } else if (pn >= 3 && p[0] == '1') {
            // Data frames reach the bus bare: the module in its bootloader takes them.
            for (ZoSimDevice *m : busModules([](ZoSimDevice *m) { return m->inBootloader(); })) {
                m->dataBlock(link, uint16_t(p[1] | (p[2] << 8)), p + 3, pn - 3, '1');
                ++answered;
            }
        }
        break;
    default:
        break;
    }
    if (answered == 0)
        ignored(QStringLiteral("no bus module takes this"),
            {{QStringLiteral("selector"), int(selector)}, {QStringLiteral("data"), hexOf(p, pn)}});
}

// ---- core bootloader ----

QByteArray ZoSimAircraft::bootReply(uint8_t command, const QByteArray &data)
{
    QByteArray f;
    f.append(char(0xEB)).append(char(0x90)).append(char(uint8_t(7 + data.size()))).append(2, '\0');
    f.append(char(0x81)).append(char(command)).append(data);
    const uint16_t crc = ZoSimCrc::modbus(
        reinterpret_cast<const uint8_t *>(f.constData()) + 6, size_t(f.size() - 6));
    f[3] = char(crc & 0xFF);
    f[4] = char(crc >> 8);
    return f;
}

void ZoSimAircraft::onBootFrame(int link, const uint8_t *f, size_t length, bool crcOk)
{
    if (crcOk)
        logFrame(link, QStringLiteral("bootloader"), length, m_core->inBootloader());
    if (!m_core->inBootloader()) {
        if (crcOk)
            ignored(QStringLiteral("core in application"),
                {{QStringLiteral("frame"), hexOf(f, length)}});
        return;
    }
    if (!crcOk) {
        ++m_badCrc;
        m_log->log(QStringLiteral("badCrc"),
            {{QStringLiteral("link"), link},
                {QStringLiteral("protocol"), QStringLiteral("bootloader")},
                {QStringLiteral("count"), m_badCrc}});
        return;
    }
    const uint8_t cmd = f[5];
    auto request = [&](const QString &name) {
        m_log->log(QStringLiteral("request"),
            {{QStringLiteral("dev"), QStringLiteral("core")}, {QStringLiteral("cmd"), name},
                {QStringLiteral("link"), link}});
    };
    switch (cmd) {
    case '!':
    case '#':
        if (length != 54) {
            ignored(QStringLiteral("key frame is not 54 bytes"),
                {{QStringLiteral("length"), qint64(length)}});
            return;
        }
        request(QStringLiteral("keyFrame"));
        m_core->keyFrame(link, f + 6, f + 22);
        return;
    case '1':
    case '2':
        if (length < 8) {
            ignored(QStringLiteral("data frame too short"),
                {{QStringLiteral("length"), qint64(length)}});
            return;
        }
        m_core->dataBlock(link, uint16_t(f[6] | (f[7] << 8)), f + 8, length - 8, cmd);
        return;
    case 0x22:
        request(QStringLiteral("readParameters"));
        m_core->readParameters(link);
        return;
    case 0x50:
        request(QStringLiteral("leaveBootloader"));
        m_core->leaveBootloader();
        if (m_scenario.rebootMs > 0) {
            m_silentUntil = m_uptime.elapsed() + m_scenario.rebootMs;
            m_log->log(QStringLiteral("state"),
                {{QStringLiteral("dev"), QStringLiteral("core")},
                    {QStringLiteral("to"), QStringLiteral("restarting")},
                    {QStringLiteral("ms"), m_scenario.rebootMs}});
        }
        return;
    default:
        ignored(
            QStringLiteral("unknown bootloader command"), {{QStringLiteral("command"), int(cmd)}});
        return;
    }
}

void ZoSimAircraft::deviceReply(
    ZoSimDevice *dev, int link, ZoSimDevice::Reply kind, uint16_t index, uint8_t command)
{
    if (!dev->isCore() && (m_core->inBootloader() || rebooting())) {
        ignored(QStringLiteral("gateway down: core in bootloader"),
            {{QStringLiteral("dev"), dev->name()}});
        return;
    }
    const char lo = char(index & 0xFF);
    const char hi = char(index >> 8);
    uint8_t params[48];
    dev->parameters(params);
    const QByteArray params48 = bytes(params, 48);
    const char t = char(dev->type());
    const char node = char(dev->node());
    QByteArray p;
    switch (dev->busKind()) {
    case 1:
        if (kind == ZoSimDevice::Reply::EraseDone)
            send(dev, link, bootReply('!', QByteArray()), true);
        else if (kind == ZoSimDevice::Reply::BlockAck)
            send(dev, link, bootReply(command, QByteArray().append(lo).append(hi)), true);
        else
            send(dev, link, bootReply(0x22, params48), true);
        return;
    case 2: // long form: 0x81, command, ...
        if (kind == ZoSimDevice::Reply::EraseDone)
            canReply(dev, link, 0x6F1, QByteArray("\x81!\x00", 3));
        else if (kind == ZoSimDevice::Reply::BlockAck)
            canReply(dev, link, 0x6F1,
                QByteArray("\x81"
                           "1",
                    2)
                    .append(lo)
                    .append(hi));
        else
            canReply(dev, link, 0x6F2, QByteArray("\x81\x22", 2) + params48);
        return;
    default: // short form: type, device number, command, data length, data
        p.append(t).append(node);
        if (kind == ZoSimDevice::Reply::EraseDone)
            p.append('!').append(char(0));
        else if (kind == ZoSimDevice::Reply::BlockAck)
            p.append('1').append(char(2)).append(lo).append(hi);
        else
            p.append('A').append(char(4)).append(params48.mid(22, 4));
        if (dev->busKind() == 3)
            canReply(dev, link, 0x6F1, p);
        else
            busReply(dev, link, 0xFC, p);
        return;
    }
}

void ZoSimAircraft::deviceCloseLink(ZoSimDevice *dev, int link)
{
    auto it = m_links.find(link);
    if (it == m_links.end() || it->second->kind != QLatin1String("tcp")) {
        ignored(QStringLiteral("closeAfterBlocks needs a TCP link"),
            {{QStringLiteral("dev"), dev->name()}});
        return;
    }
    m_log->log(QStringLiteral("link"),
        {{QStringLiteral("link"), link}, {QStringLiteral("state"), QStringLiteral("closing")}});
    Q_EMIT closeLinkRequested(link);
}

// ---- output ----

void ZoSimAircraft::send(ZoSimDevice *from, int link, QByteArray out, bool bootFrame)
{
    if (from->takeCorruptTurn() && out.size() > 5) {
        // The last data byte: an application frame then fails its CRC, a
        // bootloader reply (whose CRC nobody checks) carries a wrong value.
        const int at = bootFrame ? out.size() - 1 : out.size() - 3;
        out[at] = char(out[at] ^ 0x5A);
        m_log->log(QStringLiteral("fault"),
            {{QStringLiteral("dev"), from->name()},
                {QStringLiteral("fault"), QStringLiteral("corruptEvery")},
                {QStringLiteral("byte"), at}});
    }
    const ZoSimChaos::Fate fate = m_chaos.next(int(out.size()));
    if (!fate.text().isEmpty())
        m_log->log(QStringLiteral("chaos"),
            {{QStringLiteral("dev"), from->name()}, {QStringLiteral("link"), link},
                {QStringLiteral("what"), fate.text()}});
    if (fate.lost)
        return;
    if (fate.damagedAt >= 0)
        out[fate.damagedAt] = char(out[fate.damagedAt] ^ 0x5A);
    const int latency = from->faults().latencyMs + fate.delayMs;
    m_log->log(QStringLiteral("reply"),
        {{QStringLiteral("dev"), from->name()}, {QStringLiteral("link"), link},
            {QStringLiteral("delayMs"), latency}, {QStringLiteral("bytes"), hex(out)}});
    queue(link, fate.noiseBefore + out, latency);
    if (fate.repeatAfterMs >= 0)
        queue(link, out, latency + fate.repeatAfterMs);
}

void ZoSimAircraft::queue(int link, const QByteArray &bytes, int delayMs)
{
    if (delayMs <= 0) {
        Q_EMIT transmit(link, bytes);
        return;
    }
    const qint64 due = m_uptime.elapsed() + delayMs;
    auto pos = m_delayed.end();
    while (pos != m_delayed.begin() && std::prev(pos)->due > due)
        --pos;
    m_delayed.insert(pos, Delayed {due, link, bytes});
    m_delayTimer.start(int(qMax<qint64>(0, m_delayed.front().due - m_uptime.elapsed())));
}

void ZoSimAircraft::flushDelayed()
{
    const qint64 now = m_uptime.elapsed();
    while (!m_delayed.empty() && m_delayed.front().due <= now) {
        const Delayed d = m_delayed.front();
        m_delayed.pop_front();
        Q_EMIT transmit(d.link, d.bytes);
    }
    if (!m_delayed.empty())
        m_delayTimer.start(int(qMax<qint64>(0, m_delayed.front().due - now)));
}

void ZoSimAircraft::sendTelemetry()
{
    if (m_core->inBootloader() || rebooting())
        return; // the bootloader stays silent unless asked, and a restarting core says nothing
    ++m_telemetryCount;
    const uint32_t up = uint32_t(m_uptime.elapsed());
    QByteArray sub;
    sub.append(char(kTelemetryType)).append(char(8));
    for (int i = 0; i < 4; ++i)
        sub.append(char((m_telemetryCount >> (8 * i)) & 0xFF));
    for (int i = 0; i < 4; ++i)
        sub.append(char((up >> (8 * i)) & 0xFF));
    Q_EMIT transmit(0, appFrame(sub));
}
