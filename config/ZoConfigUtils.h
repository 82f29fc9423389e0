#pragma once

#include "ZoTypes.h"

#include <QList>
#include <QString>
#include <memory>

class QDomDocument;
class QDomElement;
class ZoPlaneConfig;

// sysconfig.xml: link settings, interface language and the device ids the
// module lists leave out. Loading overlays what the file holds on the
// current values; nothing is reset first.
class ZoConfigUtils
{
public:
    ZoConfigUtils();
    virtual ~ZoConfigUtils();
    ZoConfigUtils(const ZoConfigUtils &) = delete;
    ZoConfigUtils &operator=(const ZoConfigUtils &) = delete;

    // False when the file is missing, unreadable, malformed or has no "lan".
    virtual bool loadConfig(const QString &path);
    virtual bool parse(const QDomElement &root);
    // Replaces the file atomically: when anything fails the previous file
    // stays as it was and false is returned.
    virtual bool saveConfig(const QString &path);
    virtual bool write(QDomElement &root, QDomDocument &document);

    ZoPlaneConfig *planeConfig() const { return m_planeConfig.get(); }

    QString language() const { return m_language; }
    void setLanguage(const QString &language) { m_language = language; }

    const QList<tds4> &ignoreDevices() const { return m_ignoreDevices; }
    // Keeps the first occurrence of each id, in order.
    void setIgnoreDevices(const QList<tds4> &ids);
    bool isIgnoredDevice(tds4 devId) const { return m_ignoreDevices.contains(devId); }

private:
    std::unique_ptr<ZoPlaneConfig> m_planeConfig;
    QString m_language;
    QList<tds4> m_ignoreDevices;
};
