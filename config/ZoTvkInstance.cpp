#include "ZoTvkInstance.h"

#include <QDir>
#include <QMutexLocker>

ZoTvkInstance *ZoTvkInstance::instance()
{
    // Function-local static: initialised exactly once even when the first
    // calls race on several threads, destroyed at process exit.
    static ZoTvkInstance theInstance;
    return &theInstance;
}

ZoTvkInstance::ZoTvkInstance() = default;

ZoTvkInstance::~ZoTvkInstance() = default;

QString ZoTvkInstance::sysConfigPath()
{
    return QDir::currentPath() + QStringLiteral("/sysconfig.xml");
}

QString ZoTvkInstance::busDevCfgPath()
{
    return QDir::currentPath() + QStringLiteral("/busdevcfg.xml");
}

bool ZoTvkInstance::loadSysConfig()
{
    return m_configUtils.loadConfig(sysConfigPath());
}

bool ZoTvkInstance::saveSysConfig()
{
    return m_configUtils.saveConfig(sysConfigPath());
}

bool ZoTvkInstance::loadBusDevCfg()
{
    return m_busDevCfg.loadFile(busDevCfgPath());
}

QString ZoTvkInstance::language() const
{
    return m_configUtils.language();
}

void ZoTvkInstance::setLanguage(const QString &language)
{
    m_configUtils.setLanguage(language);
}

ZoPlaneConfig *ZoTvkInstance::planeConfig()
{
    return m_configUtils.planeConfig();
}

ZoBusDevCfg *ZoTvkInstance::busDevCfg()
{
    return &m_busDevCfg;
}

bool ZoTvkInstance::isIgnoredDevice(tds4 devId) const
{
    return m_configUtils.isIgnoredDevice(devId);
}

QList<tds4> ZoTvkInstance::ignoreDevices() const
{
    return m_configUtils.ignoreDevices();
}

bool ZoTvkInstance::setFRMFileInfo(const ZoFRMFileInfo &info)
{
    QMutexLocker lock(&m_mutex);
    return m_frmStore.setFRMFileInfo(info);
}

ZoFRMFileInfo ZoTvkInstance::getFRMFileInfo(tdu4 fid, bool &found)
{
    QMutexLocker lock(&m_mutex);
    return m_frmStore.getFRMFileInfo(fid, found);
}
