#pragma once

#include "ZoSimFaults.h"
#include "ZoSimImageAssembler.h"
#include "ZoSimScenario.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

class ZoSimEventLog;

// One device on board (the core or a module): its running firmware, its
// bootloader and the transfer it is receiving. It knows nothing of the wire
// shapes; the aircraft wraps its answers for the device's bus kind.
class ZoSimDevice : public QObject
{
    Q_OBJECT
public:
    enum class State { Application, Bootloader, Erasing };
    enum class Reply { EraseDone, BlockAck, Parameters };

    // Where the device's answers go (the aircraft).
    class Sink
    {
    public:
        virtual ~Sink() = default;
        virtual void deviceReply(
            ZoSimDevice *dev, int link, Reply kind, uint16_t index, uint8_t command)
            = 0;
        virtual void deviceCloseLink(ZoSimDevice *dev, int link) = 0;
    };

    ZoSimDevice(const ZoSimDeviceConfig &cfg, bool isCore, const ZoSimFaults &faults, int eraseMs,
        ZoSimEventLog *log, Sink *sink, QObject *parent = nullptr);

    const QString &name() const { return m_name; }
    bool isCore() const { return m_isCore; }
    uint8_t type() const { return m_version[0]; }
    uint8_t node() const { return m_node; }
    int busKind() const { return m_busKind; }
    State state() const { return m_state; }
    bool inBootloader() const { return m_state != State::Application; }
    bool transferActive() const { return m_image.active(); }
    const uint8_t *version() const { return m_version; } // type, major, minor, revision
    QByteArray versionBytes() const
    {
        return QByteArray(reinterpret_cast<const char *>(m_version), 4);
    }
    const uint8_t *compileTime() const { return m_compileTime; }
    uint16_t serial() const { return m_serial; }
    const QByteArray &eid() const { return m_eid; }
    const ZoSimFaults &faults() const { return m_faults; }
    void setDumpDir(const QString &dir) { m_dumpDir = dir; }

    // The 48-byte stored parameters: the firmware header layout, image size at
    // 16, running version at 22, compile time at 30.
    void parameters(uint8_t out[48]) const;

    // Requests. link says where the answer goes.
    bool enterBootloader(bool keyOk, const QString &how);
    void keyFrame(int link, const uint8_t key[16], const uint8_t encryptedHeader[32]);
    void dataBlock(int link, uint16_t index, const uint8_t *data, size_t length, uint8_t command);
    void readParameters(int link);
    void leaveBootloader();
    // Logs the image still being received, as the simulator stops.
    void endOfRun();

    // True when this reply is the Nth of the corrupt fault; counts every reply.
    bool takeCorruptTurn();

private:
    void setState(State s, const QString &why);
    void onEraseTimeout();
    // The "image" event for the transfer under way, once per transfer.
    void logImage(const QString &why);

    QString m_name;
    bool m_isCore;
    uint8_t m_node;
    int m_busKind;
    uint8_t m_version[4];
    uint8_t m_compileTime[7];
    uint32_t m_imageSize = 0;
    uint16_t m_serial;
    QByteArray m_eid;
    ZoSimFaults m_faults;
    int m_eraseMs;
    ZoSimEventLog *m_log;
    Sink *m_sink;
    State m_state = State::Application;
    ZoSimImageAssembler m_image;
    QTimer m_eraseTimer;
    int m_eraseLink = 0;
    int m_acks = 0;
    int m_replies = 0;
    bool m_stalled = false;
    bool m_imageLogged = false;
    int m_transfers = 0;
    QString m_dumpDir;
};
