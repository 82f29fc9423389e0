#include "ZoSimDevice.h"

#include "ZoSimEventLog.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QJsonValue>

#include <cstring>

namespace {

QString stateName(ZoSimDevice::State s)
{
    switch (s) {
    case ZoSimDevice::State::Application:
        return QStringLiteral("application");
    case ZoSimDevice::State::Bootloader:
        return QStringLiteral("bootloader");
    case ZoSimDevice::State::Erasing:
        return QStringLiteral("erasing");
    }
    return QString();
}

QString versionText(const uint8_t v[4])
{
    return QStringLiteral("%1:%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]);
}

} // namespace

ZoSimDevice::ZoSimDevice(const ZoSimDeviceConfig &cfg, bool isCore, const ZoSimFaults &faults,
    int eraseMs, ZoSimEventLog *log, Sink *sink, QObject *parent)
    : QObject(parent)
    , m_name(isCore ? QStringLiteral("core") : cfg.name())
    , m_isCore(isCore)
    , m_node(isCore ? 0 : cfg.node)
    , m_busKind(isCore ? 1 : ZoSimScenario::busKind(cfg.type))
    , m_version {cfg.type, cfg.version[0], cfg.version[1], cfg.version[2]}
    , m_serial(cfg.serial)
    , m_eid(cfg.eid)
    , m_faults(faults)
    , m_eraseMs(eraseMs)
    , m_log(log)
    , m_sink(sink)
{
    std::memcpy(m_compileTime, cfg.compileTime, 7);
    if (cfg.bootloader) {
        // Left erased and taking blocks by a run that ended mid-transfer.
        m_state = State::Bootloader;
        m_image.beginWithoutKey();
    }
    m_eraseTimer.setSingleShot(true);
    m_eraseTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_eraseTimer, &QTimer::timeout, this, &ZoSimDevice::onEraseTimeout);
}

void ZoSimDevice::parameters(uint8_t out[48]) const
{
    std::memset(out, 0, 48);
    for (int i = 0; i < 4; ++i)
        out[16 + i] = uint8_t(m_imageSize >> (8 * i));
    std::memcpy(out + 22, m_version, 4);
    std::memcpy(out + 30, m_compileTime, 7);
}

void ZoSimDevice::setState(State s, const QString &why)
{
    if (s == m_state)
        return;
    m_log->log(QStringLiteral("state"),
        {{QStringLiteral("dev"), m_name}, {QStringLiteral("from"), stateName(m_state)},
            {QStringLiteral("to"), stateName(s)}, {QStringLiteral("why"), why}});
    m_state = s;
}

bool ZoSimDevice::enterBootloader(bool keyOk, const QString &how)
{
    if (!keyOk || m_faults.refuseKey) {
        m_log->log(QStringLiteral("refused"),
            {{QStringLiteral("dev"), m_name}, {QStringLiteral("cmd"), how},
                {QStringLiteral("reason"),
                    keyOk ? QStringLiteral("fault refuseKey") : QStringLiteral("wrong key")}});
        return false;
    }
    if (m_state == State::Application)
        setState(State::Bootloader, how);
    return true;
}

void ZoSimDevice::logImage(const QString &why)
{
    // A stranded device's transfer that took nothing in this run is no image.
    if (m_imageLogged || !m_image.active() || (!m_image.keyed() && m_image.blocks() == 0))
        return;
    m_imageLogged = true;
    uint8_t v[4];
    m_image.headerVersion(v);
    const bool keyed = m_image.keyed();
    m_log->log(QStringLiteral("image"),
        {{QStringLiteral("dev"), m_name}, {QStringLiteral("devType"), int(m_version[0])},
            {QStringLiteral("keyFrame"), keyed},
            {QStringLiteral("headerType"), keyed ? QJsonValue(int(v[0])) : QJsonValue()},
            {QStringLiteral("headerVersion"),
                keyed ? QJsonValue(QStringLiteral("%1.%2.%3").arg(v[1]).arg(v[2]).arg(v[3]))
                      : QJsonValue()},
            {QStringLiteral("imageSize"),
                keyed ? QJsonValue(qint64(m_image.imageSize())) : QJsonValue()},
            {QStringLiteral("bytes"), m_image.bytesReceived()},
            {QStringLiteral("blocks"), m_image.blocks()},
            {QStringLiteral("complete"), m_image.complete()}, {QStringLiteral("why"), why}});
}

void ZoSimDevice::endOfRun()
{
    logImage(QStringLiteral("exit"));
}

void ZoSimDevice::keyFrame(int link, const uint8_t key[16], const uint8_t encryptedHeader[32])
{
    logImage(QStringLiteral("key frame"));
    m_image.begin(key, encryptedHeader);
    m_imageLogged = false;
    m_acks = 0;
    m_stalled = false;
    m_eraseLink = link;
    uint8_t v[4];
    m_image.headerVersion(v);
    m_log->log(QStringLiteral("transfer"),
        {{QStringLiteral("dev"), m_name},
            {QStringLiteral("imageSize"), qint64(m_image.imageSize())},
            {QStringLiteral("headerVersion"), versionText(v)},
            {QStringLiteral("eraseMs"), m_eraseMs}});
    setState(State::Erasing, QStringLiteral("key frame"));
    m_eraseTimer.start(m_eraseMs);
}

void ZoSimDevice::onEraseTimeout()
{
    setState(State::Bootloader, QStringLiteral("erase done"));
    if (m_faults.neverAckErase) {
        m_log->log(QStringLiteral("fault"),
            {{QStringLiteral("dev"), m_name},
                {QStringLiteral("fault"), QStringLiteral("neverAckErase")}});
        return;
    }
    m_sink->deviceReply(this, m_eraseLink, Reply::EraseDone, 0, '!');
}

void ZoSimDevice::dataBlock(
    int link, uint16_t index, const uint8_t *data, size_t length, uint8_t command)
{
    QJsonObject ev {{QStringLiteral("dev"), m_name},
        {QStringLiteral("cmd"), QStringLiteral("dataBlock")}, {QStringLiteral("index"), int(index)},
        {QStringLiteral("length"), qint64(length)}};
    if (m_state == State::Erasing || !m_image.active()) {
        ev[QStringLiteral("reason")] = m_state == State::Erasing ? QStringLiteral("still erasing")
                                                                 : QStringLiteral("no key frame");
        m_log->log(QStringLiteral("ignored"), ev);
        return;
    }
    if (m_stalled
        || (m_faults.stallAfterBlocks >= 0 && m_image.blocks() >= m_faults.stallAfterBlocks)) {
        if (!m_stalled)
            m_log->log(QStringLiteral("fault"),
                {{QStringLiteral("dev"), m_name},
                    {QStringLiteral("fault"), QStringLiteral("stallAfterBlocks")},
                    {QStringLiteral("blocks"), m_image.blocks()}});
        m_stalled = true;
        return;
    }
    const ZoSimImageAssembler::BlockKind kind = m_image.addBlock(index, data, length);
    ev[QStringLiteral("order")] = kind == ZoSimImageAssembler::BlockKind::InOrder
        ? QStringLiteral("in")
        : kind == ZoSimImageAssembler::BlockKind::Resend ? QStringLiteral("resend")
                                                         : QStringLiteral("out");
    m_log->log(QStringLiteral("request"), ev);
    if (m_image.complete())
        logImage(QStringLiteral("complete"));

    ++m_acks;
    if (m_faults.dropAckEvery > 0 && m_acks % m_faults.dropAckEvery == 0) {
        m_log->log(QStringLiteral("fault"),
            {{QStringLiteral("dev"), m_name},
                {QStringLiteral("fault"), QStringLiteral("dropAckEvery")},
                {QStringLiteral("index"), int(index)}});
    } else {
        m_sink->deviceReply(this, link, Reply::BlockAck, index, command);
    }
    if (m_faults.closeAfterBlocks >= 0 && m_image.blocks() == m_faults.closeAfterBlocks) {
        m_log->log(QStringLiteral("fault"),
            {{QStringLiteral("dev"), m_name},
                {QStringLiteral("fault"), QStringLiteral("closeAfterBlocks")},
                {QStringLiteral("blocks"), m_image.blocks()}});
        m_sink->deviceCloseLink(this, link);
    }
}

void ZoSimDevice::readParameters(int link)
{
    if (m_stalled)
        return;
    m_sink->deviceReply(this, link, Reply::Parameters, 0, 0x22);
}

void ZoSimDevice::leaveBootloader()
{
    m_eraseTimer.stop();
    logImage(QStringLiteral("leave bootloader"));
    // A stranded device that took nothing in this run has nothing to verify.
    const bool keyed = m_image.keyed();
    if (m_image.active() && (keyed || m_image.blocks() > 0)) {
        QJsonObject r = m_image.finish();
        r[QStringLiteral("dev")] = m_name;
        ++m_transfers;
        if (!m_dumpDir.isEmpty()) {
            const QString path = QDir(m_dumpDir).filePath(
                QStringLiteral("%1-%2.bin").arg(m_name).arg(m_transfers));
            QFile f(path);
            if (QDir().mkpath(m_dumpDir) && f.open(QIODevice::WriteOnly | QIODevice::Truncate)
                && f.write(m_image.image()) == qint64(m_image.image().size()))
                r[QStringLiteral("dumped")] = path;
            else
                r[QStringLiteral("dumpError")] = f.errorString();
        }
        uint8_t v[4];
        m_image.headerVersion(v);
        r[QStringLiteral("typeMatches")] = keyed ? QJsonValue(v[0] == m_version[0]) : QJsonValue();
        m_log->log(QStringLiteral("verify"), r);
        // The new firmware runs from now on. A module keeps its own type (it
        // is how the bus reaches it); the core takes the whole record, so a
        // core flashed with a sibling airframe's firmware reports that type.
        // Without a key frame in this run no header says what runs: the
        // stored record stays.
        if (keyed && m_faults.keepOldFirmware) {
            m_log->log(QStringLiteral("fault"),
                {{QStringLiteral("dev"), m_name},
                    {QStringLiteral("fault"), QStringLiteral("keepOldFirmware")}});
        } else if (keyed) {
            if (m_isCore)
                m_version[0] = v[0];
            std::memcpy(m_version + 1, v + 1, 3);
            m_image.headerCompileTime(m_compileTime);
            m_imageSize = m_image.imageSize();
        }
    }
    if (m_image.active())
        m_image.finish();
    m_stalled = false;
    setState(State::Application, QStringLiteral("leave bootloader"));
}

bool ZoSimDevice::takeCorruptTurn()
{
    ++m_replies;
    return m_faults.corruptEvery > 0 && m_replies % m_faults.corruptEvery == 0;
}
