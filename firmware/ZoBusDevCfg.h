#pragma once

#include "ZoTypes.h"

#include <QList>
#include <QString>

class QDomElement;

// Node ids of the bus modules that are addressed by node (tuning modules,
// type 77, and servos, type 86), read from busdevcfg.xml. Never written.
class ZoBusDevCfg
{
public:
    ZoBusDevCfg();
    virtual ~ZoBusDevCfg();

    // False when the file is missing, unreadable or malformed; the lists are
    // then left as they were.
    bool loadFile(const QString &path);
    // Replaces a list only when its element ("tunex", "servo") is present.
    bool parse(const QDomElement &root);

    const QList<tdu1> &tunexNodeIds() const { return m_tunexNodeIds; }
    const QList<tdu1> &servoNodeIds() const { return m_servoNodeIds; }

private:
    QList<tdu1> m_tunexNodeIds;
    QList<tdu1> m_servoNodeIds;
};
