#pragma once

// An Emba2 aircraft for the end-to-end tests of the workflow and the window:
// the devices on board, the scenario the aircraft simulator runs them from,
// and a stable catalogue offering the sample firmware for each (from the
// build's sample directory, TOLVANE_CLOUDSIM_SAMPLE_DIR). Header only.

#include "ZoTestCloudSim.h"
#include "ZoDeviceKey.h"
#include "ZoTypes.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>

struct ZoTestDevice
{
    int type;
    int node;
    QString from; // version the aircraft runs
    QString file; // firmware the cloud offers, in the sample directory
    QString to;

    // The workflow's key: serial-bus modules (77, 86) keep their number.
    ZoDeviceKey key() const
    {
        return ZoDeviceKey(tdu1(type), type == 77 || type == 86 ? tdu1(node) : tdu1(0));
    }
    // How the aircraft simulator names it in its log.
    QString simName() const
    {
        return type == 80 ? QStringLiteral("core") : QStringLiteral("%1.%2").arg(type).arg(node);
    }
};

// An Emba2 core with its data board and one module of each transfer path:
// CAN (38), CAN by device number (79 at node 1), serial bus (77 node 2, 86 node 3).
inline const QList<ZoTestDevice> &zoTestFleet()
{
    static const QList<ZoTestDevice> fleet {
        {80, 0, "1.7.5", "emba2-80-1.8.2.bin", "1.8.2"},
        {83, 0, "1.1.0", "emba2db-83-1.2.0.bin", "1.2.0"},
        {38, 0, "1.0.0", "compass-38-1.0.7.bin", "1.0.7"},
        {79, 1, "1.2.3", "hesk24s-79-3.1.2.bin", "3.1.2"},
        {77, 2, "1.0.4", "tunex-77-2.0.4.bin", "2.0.4"},
        {86, 3, "1.0.9", "servo-86-1.1.1.bin", "1.1.1"},
    };
    return fleet;
}

inline QByteArray zoTestSampleFile(const QString &name)
{
    return zoReadFile(QStringLiteral(TOLVANE_CLOUDSIM_SAMPLE_DIR "/files/") + name);
}

// SHA-256 of the image the file's header announces.
inline QString zoTestImageSha(const QByteArray &file)
{
    tdu4 n = 0;
    for (int i = 0; i < 4; ++i)
        n |= tdu4(tdu1(file[16 + i])) << (8 * i);
    return QString::fromLatin1(
        QCryptographicHash::hash(file.mid(48, int(n)), QCryptographicHash::Sha256).toHex());
}

// The aircraft simulator's scenario for `devices`, written to `path`.
inline bool zoTestWriteScenario(const QString &path, const QList<ZoTestDevice> &devices)
{
    QJsonArray modules;
    QJsonObject core;
    for (const ZoTestDevice &d : devices) {
        if (d.type == 80) {
            core = QJsonObject {{"type", 80}, {"version", d.from},
                {"compileTime", "2024-05-17 13:45:09"}, {"eid", "3A0F2C5D00170043"}};
            continue;
        }
        modules.append(QJsonObject {{"type", d.type}, {"node", d.node}, {"version", d.from},
            {"serial", QStringLiteral("%1%2").arg(d.type).arg(d.node)}});
    }
    return zoWriteFile(path,
        QJsonDocument(QJsonObject {{"address", "none"}, {"core", core}, {"modules", modules}})
            .toJson());
}

// The cloud's stable catalogue for the core: one file per device type.
// `wrongHeader`: that type's file names another type in its header.
inline bool zoTestServeCatalogue(
    ZoTestCloudSim &cloud, const QList<ZoTestDevice> &devices, int wrongHeader = 0)
{
    QJsonArray firmwares;
    for (const ZoTestDevice &d : devices) {
        QByteArray file = zoTestSampleFile(d.file);
        if (file.size() < 48)
            return false;
        if (d.type == wrongHeader)
            file[22] = char(wrongHeader + 1);
        if (!cloud.writeFile(QStringLiteral("files/") + d.file, file))
            return false;
        firmwares.append(QJsonObject {{"fid", d.type}, {"nickName", d.file},
            {"nickNameEn", d.file}, {"upgradeDescription", QStringLiteral("说明")},
            {"UpgradeDescriptionEn", "notes"}, {"version", d.to}, {"upgradeFile", d.file}});
    }
    const QJsonObject catalogue {{"catalogues",
        QJsonArray {QJsonObject {{"fid", 80}, {"branch", 1}, {"firmwares", firmwares}}}}};
    return cloud.writeFile(QStringLiteral("catalog.json"), QJsonDocument(catalogue).toJson());
}
