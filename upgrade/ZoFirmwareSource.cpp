#include "ZoFirmwareSource.h"

#include "ZoFRMFileStore.h"
#include "ZoNimbraHttpHelper.h"

#include <QCryptographicHash>
#include <QTimer>

ZoFirmwareSource::ZoFirmwareSource(
    ZoFRMFileStore *store, const QString &cloudBaseUrl, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_cloud(new ZoNimbraHttpHelper(this))
{
    if (!cloudBaseUrl.isEmpty())
        m_cloud->setBaseUrl(cloudBaseUrl);
    connect(m_cloud, &ZoNimbraHttpHelper::sigDownloadResult, this,
        [this](bool ok, tdu1) { onCloudResult(ok); });
    connect(
        m_cloud, &ZoNimbraHttpHelper::sigFRMFileDownloaded, this, &ZoFirmwareSource::onCloudFile);
}

ZoFirmwareSource::~ZoFirmwareSource() = default;

void ZoFirmwareSource::setLocalFirmware(const QList<ZoFRMFileInfo> &files)
{
    m_offline = true;
    m_localFiles = files;
    for (const ZoFRMFileInfo &file : files)
        m_store->setFRMFileInfo(file);
}

bool ZoFirmwareSource::hasRequestInFlight() const
{
    return m_cloud->isRequestPending() || m_cloud->hasVersionReportsPending();
}

ZoFRMFileInfo ZoFirmwareSource::file(tdu1 type, bool &found) const
{
    return m_store->getFRMFileInfo(type, found);
}

QString ZoFirmwareSource::fileSha256(tdu1 type) const
{
    bool found = false;
    const ZoFRMFileInfo f = file(type, found);
    if (!found || f.bytes().isNull())
        return QString();
    return QString::fromLatin1(
        QCryptographicHash::hash(f.bytes(), QCryptographicHash::Sha256).toHex());
}

void ZoFirmwareSource::fetch(tdu1 fid, int cloudBranch, const QString &key)
{
    m_fetching = true;
    if (m_offline) {
        // Queued, as the cloud's answers would be.
        QTimer::singleShot(0, this, [this] { offerLocalFirmware(); });
        return;
    }
    m_cloud->requestFirmware(fid, cloudBranch, key);
}

void ZoFirmwareSource::offerLocalFirmware()
{
    for (const ZoFRMFileInfo &file : qAsConst(m_localFiles))
        Q_EMIT sigTargetReady(file);
    onCloudResult(true);
}

void ZoFirmwareSource::onCloudFile(const ZoFRMFileInfo &file)
{
    Q_EMIT sigTargetReady(file);
}

void ZoFirmwareSource::onCloudResult(bool ok)
{
    // Only the fetch under way ends: the result of one given up on must not
    // touch a run.
    if (!m_fetching)
        return;
    m_fetching = false;
    Q_EMIT sigFetchFinished(ok);
}

void ZoFirmwareSource::reportVersion(const tVersion &version, const QString &serial)
{
    if (m_reporting)
        m_cloud->editVersion(version, serial);
}
