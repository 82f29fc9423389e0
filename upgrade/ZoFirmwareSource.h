#pragma once

#include "ZoFRMFileInfo.h"
#include "ZoTypes.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class ZoFRMFileStore;
class ZoNimbraHttpHelper;

// Where targets come from: the maker's cloud (a branch, and the key of a
// custom one) or, offline, a folder's files that stand in for its catalogue.
// Every file that arrives is kept in the store; the version reports of
// flashed devices go to the cloud unless reporting is off.
class ZoFirmwareSource : public QObject
{
    Q_OBJECT
public:
    // The cloud's branch numbers.
    enum CloudBranch : int { CloudStable = 1, CloudDevelopment = 2, CloudCustom = 3 };

    // `store` is not owned and must outlive the source.
    ZoFirmwareSource(ZoFRMFileStore *store, const QString &cloudBaseUrl, QObject *parent = nullptr);
    ~ZoFirmwareSource() override;

    // Offline: these files answer every fetch from here on, and nothing is
    // asked of the cloud.
    void setLocalFirmware(const QList<ZoFRMFileInfo> &files);
    bool isOffline() const { return m_offline; }
    void setVersionReporting(bool on) { m_reporting = on; }
    bool versionReporting() const { return m_reporting; }

    // The catalogue of firmware id `fid` on a cloud branch (with the custom
    // branch's key). Ends with sigFetchFinished, queued even offline.
    void fetch(tdu1 fid, int cloudBranch, const QString &key);
    // A catalogue or file request, or a version report, is under way; a
    // program that quits now loses it.
    bool hasRequestInFlight() const;

    // The stored file for a device type.
    ZoFRMFileInfo file(tdu1 type, bool &found) const;
    // SHA-256 (lowercase hex) of that file's bytes; empty without one.
    QString fileSha256(tdu1 type) const;
    // Queued beside any fetch, which it never disturbs; nothing is sent
    // while reporting is off.
    void reportVersion(const tVersion &version, const QString &serial);

Q_SIGNALS:
    // One file of the catalogue; the store takes it from whoever applies it.
    void sigTargetReady(ZoFRMFileInfo file);
    void sigFetchFinished(bool ok);

private:
    void onCloudResult(bool ok);
    void onCloudFile(const ZoFRMFileInfo &file);
    void offerLocalFirmware();

    ZoFRMFileStore *m_store;
    ZoNimbraHttpHelper *m_cloud;
    bool m_offline = false;
    bool m_reporting = true;
    bool m_fetching = false;
    // Offered as they came: the store holds the same records.
    QList<ZoFRMFileInfo> m_localFiles;
};
