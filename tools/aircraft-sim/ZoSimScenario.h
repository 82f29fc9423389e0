#pragma once

#include "ZoSimFaults.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

// What is on board: the core, its modules, how replies are addressed, the
// telemetry period, the erase time and the failure switches.
struct ZoSimDeviceConfig
{
    uint8_t type = 0;
    uint8_t node = 0; // node id (bus kind 2) or device number (kinds 3 and 4); 0 for the core
    uint8_t version[3] = {1, 0, 0};
    uint8_t compileTime[7] = {0xE8, 0x07, 1, 1, 0, 0, 0}; // 2024-01-01 00:00:00
    uint16_t serial = 0;
    QByteArray eid; // core only
    int eraseMs = -1; // -1: the scenario's eraseMs
    bool bootloader = false; // starts in its bootloader, left there mid-transfer by an earlier run
    QJsonObject faultJson;
    QStringList faultFlags;

    QString name() const; // "TYPE.NODE" (the engine calls the core "core")
};

struct ZoSimScenario
{
    ZoSimScenario();

    ZoSimDeviceConfig core;
    QVector<ZoSimDeviceConfig> modules;
    int addressMode = 0; // 0 none, 4 or 8: the address sub-message in front of every reply
    uint32_t address = 0x01000A0A; // the aircraft's own address, little-endian on the wire
    int telemetryMs = 100; // 0: no telemetry
    int eraseMs = 1500;
    int rebootMs = 0; // silence of the core after it leaves its bootloader, as in a restart
    quint32 chaosSeed = 0; // a bad line from this seed (ZoSimChaos); 0: a clean one
    ZoSimFaults faults; // global

    // Reads a scenario file; keys not given keep their current value.
    bool load(const QByteArray &json, QString *error);

    // Command-line forms.
    bool setAddressMode(const QString &text, QString *error);
    bool addModule(const QString &text, QString *error); // TYPE:NODE:VERSION[:SERIAL]
    // [DEVICE:]name[=value]; DEVICE:bootloader starts that device in its bootloader.
    bool addFault(const QString &text, QString *error);

    ZoSimFaults faultsFor(const ZoSimDeviceConfig &dev) const;
    bool validate(QString *error) const;

    static int busKind(uint8_t type); // 1 core, 2 CAN, 3 CAN with device number, 4 serial bus
    static bool isCoreType(uint8_t type);
    static bool isCoreBoard(uint8_t type); // 44, 45, 83: boards of the core, reached like modules

    static bool parseVersion(const QString &text, uint8_t out[3]);
    static bool parseCompileTime(const QString &text, uint8_t out[7]);
    static bool parseHex(const QString &text, QByteArray *out);
};
