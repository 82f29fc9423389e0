#pragma once

#include "ZoBusDevCfg.h"
#include "ZoConfigUtils.h"
#include "ZoTypes.h"

#include <QString>

class ZoPlaneConfig;

// The process-wide configuration: sysconfig.xml and busdevcfg.xml. Created
// on first use from any thread; lives until the process ends. Both files live
// in configDir(). Read and written on the main thread only.
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

    // The folder sysconfig.xml and busdevcfg.xml are read from and written
    // to (the run journal is kept beside them):
    //  - the working directory when it holds either file and may be written
    //    to: a portable copy, a build or demo folder, a production line's
    //    station folder;
    //  - else the user's own folder, $XDG_CONFIG_HOME/tolvane or
    //    ~/.config/tolvane, created on first use with the installation's
    //    sysconfig.xml and busdevcfg.xml (see setDefaultsDir()) wherever the
    //    user has none yet;
    //  - on Windows always the working directory, which the installer's
    //    shortcuts set to the program's folder.
    // Answered from the files at the time of the call; the programs never
    // change their working directory, so it is one folder for a whole run.
    static QString configDir();
    // True when configDir() is the user's own folder.
    static bool configIsPerUser();
    // Where a new per-user folder takes its first files from; the program's
    // own folder unless set. An empty dir restores that.
    static void setDefaultsDir(const QString &dir);
    static QString defaultsDir();

    static QString sysConfigPath();
    static QString busDevCfgPath();

    // A file the installation brings along (relativePath like
    // "audio/succ.wav" or "dict"): the working directory's when it has one,
    // as a portable copy or the build tree do, else the one beside the
    // program.
    static QString installedFile(const QString &relativePath);

private:
    ZoTvkInstance();
    ~ZoTvkInstance();

    ZoConfigUtils m_configUtils;
    ZoBusDevCfg m_busDevCfg;
};
