#include "ZoSerialStableNames.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kByIdDir = QStringLiteral("/dev/serial/by-id");

} // namespace

ZoSerialStableNames::ZoSerialStableNames(const QString &root)
    : m_root(QDir::cleanPath(root))
{
    if (m_root == QLatin1String("/"))
        m_root.clear();
}

QMap<QString, QString> ZoSerialStableNames::byNode() const
{
    QMap<QString, QString> names;
    const QDir dir(m_root + kByIdDir);
    for (const QFileInfo &link :
        dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (!link.isSymLink())
            continue;
        // The links are relative ("../../ttyUSB0"); resolved inside the root,
        // a test's tree names the node as the real system would.
        QString node = QDir::cleanPath(link.symLinkTarget());
        if (!m_root.isEmpty()) {
            if (!node.startsWith(m_root + QLatin1Char('/')))
                continue;
            node = node.mid(m_root.size());
        }
        if (!names.contains(node))
            names.insert(node, kByIdDir + QLatin1Char('/') + link.fileName());
    }
    return names;
}

QString ZoSerialStableNames::stableNameOf(const QString &node) const
{
    return byNode().value(node);
}

QString ZoSerialStableNames::nodeOf(const QString &name) const
{
    if (!isStableName(name))
        return name;
    const QMap<QString, QString> names = byNode();
    for (auto it = names.cbegin(); it != names.cend(); ++it)
        if (it.value() == QDir::cleanPath(name))
            return it.key();
    return name;
}

bool ZoSerialStableNames::isStableName(const QString &name)
{
    return QDir::cleanPath(name).startsWith(kByIdDir + QLatin1Char('/'));
}
