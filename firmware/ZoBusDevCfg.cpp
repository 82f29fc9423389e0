#include "ZoBusDevCfg.h"

#include <QDomDocument>
#include <QDomElement>
#include <QFile>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcBusDevCfg, "tolvane.config")

namespace {

// An absent element leaves the list alone; a present one, even empty,
// replaces it. Ids are bytes on the bus, so only the low 8 bits count.
void readNodeIds(const QDomElement &root, const QString &name, QList<tdu1> &ids)
{
    const QDomElement group = root.firstChildElement(name);
    if (group.isNull())
        return;
    ids.clear();
    for (QDomElement node = group.firstChildElement(QStringLiteral("NodeId")); !node.isNull();
         node = node.nextSiblingElement(QStringLiteral("NodeId"))) {
        const tdu1 id = static_cast<tdu1>(node.text().toInt(nullptr, 10));
        if (!ids.contains(id))
            ids.append(id);
    }
}

} // namespace

ZoBusDevCfg::ZoBusDevCfg() = default;

ZoBusDevCfg::~ZoBusDevCfg() = default;

bool ZoBusDevCfg::loadFile(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return false;
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcBusDevCfg) << "Couldn't open load file.";
        return false;
    }

    QDomDocument document;
    QString message;
    int line = 0;
    int column = 0;
    if (!document.setContent(&file, &message, &line, &column)) {
        qCDebug(lcBusDevCfg).noquote().nospace()
            << "Fail to setContent: " << message << ", " << line << ", " << column;
        return false;
    }
    if (document.isNull())
        return false;
    return parse(document.documentElement());
}

bool ZoBusDevCfg::parse(const QDomElement &root)
{
    readNodeIds(root, QStringLiteral("tunex"), m_tunexNodeIds);
    readNodeIds(root, QStringLiteral("servo"), m_servoNodeIds);
    return true;
}
