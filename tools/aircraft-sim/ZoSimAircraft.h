#pragma once

#include "ZoSimChaos.h"
#include "ZoSimDevice.h"
#include "ZoSimFrameParser.h"
#include "ZoSimScenario.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QVector>

#include <deque>
#include <map>
#include <memory>

class ZoSimEventLog;

// The simulated aircraft: the core's application firmware (version, compile
// time, identity, CAN and bus gateway, telemetry), its bootloader, and the
// modules behind it. Links hand it bytes with receive() and send what it
// emits with transmit(); link 0 in transmit() means every link (telemetry).
class ZoSimAircraft : public QObject, public ZoSimDevice::Sink
{
    Q_OBJECT
public:
    ZoSimAircraft(const ZoSimScenario &scenario, ZoSimEventLog *log, QObject *parent = nullptr);
    ~ZoSimAircraft() override;

    void setDumpDir(const QString &dir);
    // A "frame" event for every well-formed frame received, with its size on
    // the line: what a benchmark needs to tell the bytes a run must move
    // from the rest.
    void setLogFrames(bool on) { m_logFrames = on; }
    // Starts the telemetry stream.
    void start();
    // Logs the images the devices are still receiving (the run ends).
    void endOfRun();

    int attachLink(const QString &kind);
    void detachLink(int link);
    void receive(int link, const QByteArray &bytes);

    ZoSimDevice *core() const { return m_core; }
    ZoSimDevice *module(uint8_t type, uint8_t node) const;
    const QVector<ZoSimDevice *> &modules() const { return m_modules; }
    int badCrcFrames() const { return m_badCrc; }
    bool rebooting() const { return m_uptime.elapsed() < m_silentUntil; }

    // An application frame with the scenario's address sub-message in front.
    QByteArray appFrame(const QByteArray &subMessages) const;
    // AB 0E, length, body, CRC-16/MODBUS.
    static QByteArray frame(const QByteArray &body);
    // EB 90, length, CRC over bytes 6.., 0x81, command answered, data.
    static QByteArray bootReply(uint8_t command, const QByteArray &data);

    void deviceReply(ZoSimDevice *dev, int link, ZoSimDevice::Reply kind, uint16_t index,
        uint8_t command) override;
    void deviceCloseLink(ZoSimDevice *dev, int link) override;

Q_SIGNALS:
    void transmit(int link, const QByteArray &bytes);
    void closeLinkRequested(int link);

private:
    struct Link;
    struct Request;

    void onAppFrame(int link, const uint8_t *f, size_t length, bool crcOk);
    void onBootFrame(int link, const uint8_t *f, size_t length, bool crcOk);
    void handleSub(int link, uint8_t type, const uint8_t *d, size_t n, Request &rq);
    void handleCan(int link, const uint8_t *d, size_t n);
    void handleBus(int link, const uint8_t *d, size_t n);
    void moduleVersionReply(ZoSimDevice *m, int link);
    void moduleEnter(ZoSimDevice *m, bool keyOk, const QString &how);
    void moduleForceReport(ZoSimDevice *m, int link);
    void moduleLeave(ZoSimDevice *m);
    bool moduleKeyFrame(ZoSimDevice *m, int link, const uint8_t *keyAndHeader);
    void send(ZoSimDevice *from, int link, QByteArray bytes, bool bootFrame);
    void canReply(ZoSimDevice *from, int link, uint16_t id, const QByteArray &payload);
    void busReply(ZoSimDevice *from, int link, uint8_t selector, const QByteArray &payload);
    void flushDelayed();
    void queue(int link, const QByteArray &bytes, int delayMs);
    void sendTelemetry();
    void ignored(const QString &reason, QJsonObject extra = QJsonObject());
    void logFrame(int link, const QString &protocol, size_t length, bool taken);

    ZoSimScenario m_scenario;
    ZoSimEventLog *m_log;
    ZoSimDevice *m_core = nullptr;
    QVector<ZoSimDevice *> m_modules;
    std::map<int, std::shared_ptr<Link>>
        m_links; // shared: a fault may detach a link while its bytes are parsed
    int m_nextLink = 1;
    int m_badCrc = 0;
    bool m_logFrames = false;
    uint32_t m_telemetryCount = 0;
    QTimer m_telemetryTimer;
    QElapsedTimer m_uptime;
    qint64 m_silentUntil = 0; // the core restarts after its bootloader and says nothing until then

    struct Delayed
    {
        qint64 due;
        int link;
        QByteArray bytes;
    };
    std::deque<Delayed> m_delayed;
    QTimer m_delayTimer;
    ZoSimChaos m_chaos;
};
