#pragma once

// The cloud client under test, pointed at a ZoTestCloudSim, with everything
// it emitted in order and when its result came. Header only, like the
// simulator's rig: the tests that use it link the cloud client.

#include "ZoNimbraHttpHelper.h"
#include "ZoTestCloudSim.h"
#include "ZoTestFirmware.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QSslCertificate>
#include <QSslConfiguration>

struct ZoTestCloudClient
{
    QStringList events;
    QList<ZoFRMFileInfo> files;
    QElapsedTimer clock; // runs from the client's making
    qint64 resultAtMs = -1;
    ZoNimbraHttpHelper helper; // declared last: gone before the lists

    // timeoutMs 0 leaves the client's own download timeout; without
    // trustSim the simulator's self-signed certificate is refused.
    explicit ZoTestCloudClient(const ZoTestCloudSim &sim, int timeoutMs = 0, bool trustSim = true)
    {
        helper.setBaseUrl(sim.baseUrl());
        if (timeoutMs > 0)
            helper.setDownloadTimeout(timeoutMs);
        if (trustSim) {
            QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
            tls.setCaCertificates(
                tls.caCertificates() + QSslCertificate::fromPath(ZoTestCloudSim::certPath()));
            helper.setSslConfiguration(tls);
        }
        QObject::connect(
            &helper, &ZoNimbraHttpHelper::sigFRMFileDownloaded, [this](ZoFRMFileInfo info) {
                files << info;
                events << QStringLiteral("file %1").arg(info.fid);
            });
        QObject::connect(
            &helper, &ZoNimbraHttpHelper::sigDownloadResult, [this](bool succ, tdu1 code) {
                events << QStringLiteral("result %1 %2").arg(succ).arg(code);
                resultAtMs = clock.elapsed();
            });
        clock.start();
    }
};

// The catalogue of fid 4 the simulator answers with.
inline bool zoWriteCatalogue(ZoTestCloudSim &sim, const QJsonArray &firmwares, int branch = 1,
    const QString &special = QString())
{
    const QJsonObject catalogue {{QStringLiteral("fid"), 4}, {QStringLiteral("branch"), branch},
        {QStringLiteral("special"), special}, {QStringLiteral("firmwares"), firmwares}};
    return sim.writeFile(QStringLiteral("catalog.json"),
        QJsonDocument(QJsonObject {{QStringLiteral("catalogues"), QJsonArray {catalogue}}})
            .toJson());
}
