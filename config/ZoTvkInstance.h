#pragma once

#include "ZoBusDevCfg.h"
#include "ZoConfigUtils.h"
#include "ZoFRMFileInfo.h"
#include "ZoFRMFileStore.h"
#include "ZoTypes.h"

#include <QMutex>
#include <QString>

class ZoPlaneConfig;

// The process-wide configuration: sysconfig.xml, busdevcfg.xml and the
// in-memory firmware store. Created on first use from any thread; lives
// until the process ends. Both files are looked up in the current working
// directory at the time of each call.
//
// The configuration is read and written on the main thread only; the mutex
// guards the firmware store alone.
class ZoTvkInstance
{
public:
    static ZoTvkInstance *instance();

    ZoTvkInstance(const ZoTvkInstance &) = delete;
    ZoTvkInstance &operator=(const ZoTvkInstance &) = delete;

    bool loadSysConfig();
    bool saveSysConfig();
    bool loadBusDevCfg();

    QString language() const;
    // In memory only; written with the next saveSysConfig().
    void setLanguage(const QString &language);

    ZoPlaneConfig *planeConfig();
    ZoBusDevCfg *busDevCfg();
    bool isIgnoredDevice(tds4 devId) const;
    // The device ids of sysconfig.xml that the module lists leave out.
    QList<tds4> ignoreDevices() const;

    // Stores the record under info.fid (see ZoFRMFileStore for who frees
    // which buffer). Always true.
    bool setFRMFileInfo(const ZoFRMFileInfo &info);
    // A copy sharing the stored buffer, or a default record with found false.
    // A buffer set by hand stays valid only until the next setFRMFileInfo for
    // the same fid: copy the bytes needed for a transfer at once.
    ZoFRMFileInfo getFRMFileInfo(tdu4 fid, bool &found);

    static QString sysConfigPath();
    static QString busDevCfgPath();

private:
    ZoTvkInstance();
    ~ZoTvkInstance();

    ZoConfigUtils m_configUtils;
    ZoBusDevCfg m_busDevCfg;
    QMutex m_mutex;
    ZoFRMFileStore m_frmStore;
};
