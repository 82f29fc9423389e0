#pragma once

// Shared by the aircraft simulator's tests: plays the program's side of the
// wire in-process against a ZoSimAircraft and records what it says.

#include "ZoSimAes.h"
#include "ZoSimAircraft.h"
#include "ZoSimCrc.h"
#include "ZoSimEventLog.h"
#include "ZoSimScenario.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QObject>

#include <memory>

// fromHex skips the blanks that keep hand-worked frames readable.
inline QByteArray hexBytes(const char *text)
{
    return QByteArray::fromHex(text);
}

// The program's first version request, and the core's answer in rigScenario().
inline const QByteArray kVersionRequest = hexBytes("AB 0E 09 10 02 01 00 E2 01 00 07 2F");
inline const QByteArray kVersionReply = hexBytes("AB 0E 08 E2 04 50 02 13 03 92 38");

// Scenario used by most cases: a core with one module of each bus kind.
inline ZoSimScenario rigScenario()
{
    ZoSimScenario sc;
    sc.core.type = 80;
    ZoSimScenario::parseVersion(QStringLiteral("2.19.3"), sc.core.version);
    ZoSimScenario::parseCompileTime(QStringLiteral("2024-05-17 13:45:09"), sc.core.compileTime);
    sc.core.eid = hexBytes("0011AABB");
    sc.addressMode = 0;
    sc.address = 0x01020304;
    sc.telemetryMs = 0;
    sc.eraseMs = 20;
    sc.addModule(QStringLiteral("38:0:3.1.0:1234"), nullptr);
    sc.addModule(QStringLiteral("79:2:1.2.3:42"), nullptr);
    sc.addModule(QStringLiteral("77:1:1.0.4:1234"), nullptr);
    return sc;
}

struct AcSimRig
{
    explicit AcSimRig(const ZoSimScenario &sc)
    {
        log.setSilent(true);
        QObject::connect(
            &log, &ZoSimEventLog::logged, [this](const QJsonObject &o) { events << o; });
        aircraft = std::make_unique<ZoSimAircraft>(sc, &log);
        link = aircraft->attachLink(QStringLiteral("test"));
        QObject::connect(
            aircraft.get(), &ZoSimAircraft::transmit, [this](int to, const QByteArray &b) {
                if (to == link || to == 0)
                    out << b;
            });
        aircraft->start();
    }

    void send(const QByteArray &bytes) { aircraft->receive(link, bytes); }

    // The next frame the aircraft sends, waiting up to timeoutMs.
    QByteArray take(int timeoutMs = 1000)
    {
        QElapsedTimer t;
        t.start();
        while (out.isEmpty() && t.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return out.isEmpty() ? QByteArray() : out.takeFirst();
    }

    QList<QJsonObject> eventsOf(const QString &name) const
    {
        QList<QJsonObject> r;
        for (const QJsonObject &o : events)
            if (o.value(QStringLiteral("event")).toString() == name)
                r << o;
        return r;
    }

    ZoSimEventLog log;
    std::unique_ptr<ZoSimAircraft> aircraft;
    int link = 0;
    QList<QByteArray> out;
    QList<QJsonObject> events;
};

// ---- the program's side of the wire ----

inline QByteArray appRequest(const QByteArray &body)
{
    QByteArray f;
    f.append(char(0xAB)).append(char(0x0E)).append(char(body.size() + 2)).append(body);
    const uint16_t c
        = ZoSimCrc::modbus(reinterpret_cast<const uint8_t *>(f.constData()), size_t(f.size()));
    return f.append(char(c & 0xFF)).append(char(c >> 8));
}

inline QByteArray sub(uint8_t type, const QByteArray &data)
{
    return QByteArray().append(char(type)).append(char(data.size())).append(data);
}

inline QByteArray canSend(uint16_t word, const QByteArray &payload)
{
    return appRequest(
        sub(0x5B, QByteArray().append(char(word & 0xFF)).append(char(word >> 8)) + payload));
}

inline QByteArray busSend(uint8_t selector, const QByteArray &payload)
{
    return appRequest(sub(0x9B, QByteArray().append(char(0xA0)).append(char(selector)) + payload));
}

inline QByteArray bootRequest(uint8_t cmd, const QByteArray &data)
{
    QByteArray f;
    f.append(char(0xEB)).append(char(0x90)).append(char(6 + data.size()));
    const uint16_t c = data.isEmpty()
        ? 0xFFFF
        : ZoSimCrc::modbus(
            reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size()));
    return f.append(char(c & 0xFF)).append(char(c >> 8)).append(char(cmd)).append(data);
}

inline QByteArray encrypt(const QByteArray &key, QByteArray plain)
{
    ZoSimAes aes;
    aes.setKey(reinterpret_cast<const uint8_t *>(key.constData()));
    aes.encrypt(reinterpret_cast<uint8_t *>(plain.data()), size_t(plain.size()));
    return plain;
}

// A firmware header: size at 16, version at 22, compile time at 30.
inline QByteArray firmwareHeader(uint32_t size, const uint8_t version[4], const uint8_t compile[7])
{
    QByteArray h(48, '\0');
    for (int i = 0; i < 4; ++i)
        h[16 + i] = char((size >> (8 * i)) & 0xFF);
    for (int i = 0; i < 4; ++i)
        h[22 + i] = char(version[i]);
    for (int i = 0; i < 7; ++i)
        h[30 + i] = char(compile[i]);
    return h;
}

// 16 key bytes followed by header bytes 16-47 encrypted: what every key frame form carries.
inline QByteArray keyPayload(const QByteArray &key, const QByteArray &header)
{
    return key + encrypt(key, header.mid(16, 32));
}

inline QByteArray testImage(int size, int seed)
{
    QByteArray img(size, '\0');
    uint32_t x = uint32_t(seed) * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        img[i] = char(x >> 16);
    }
    return img;
}
