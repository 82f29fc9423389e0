#include "ZoConfigUtils.h"

#include "ZoPlaneConfig.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QTextStream>

Q_LOGGING_CATEGORY(lcConfigUtils, "tolvane.config")

ZoConfigUtils::ZoConfigUtils()
    : m_planeConfig(std::make_unique<ZoPlaneConfig>())
{
}

ZoConfigUtils::~ZoConfigUtils() = default;

void ZoConfigUtils::setIgnoreDevices(const QList<tds4> &ids)
{
    m_ignoreDevices.clear();
    for (tds4 id : ids) {
        if (!m_ignoreDevices.contains(id))
            m_ignoreDevices.append(id);
    }
}

bool ZoConfigUtils::loadConfig(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return false;
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcConfigUtils) << "Couldn't open load file.";
        return false;
    }

    QDomDocument document;
    QString message;
    int line = 0;
    int column = 0;
    if (!document.setContent(&file, false, &message, &line, &column)) {
        qCDebug(lcConfigUtils).noquote().nospace()
            << "Fail to setContent: " << message << ", " << line << ", " << column;
        return false;
    }
    if (document.isNull())
        return false;
    return parse(document.documentElement());
}

bool ZoConfigUtils::parse(const QDomElement &root)
{
    const QDomElement connection = root.firstChildElement(QStringLiteral("connection"));
    if (!connection.isNull()) {
        if (!m_planeConfig)
            m_planeConfig = std::make_unique<ZoPlaneConfig>();
        // A bad link field keeps the remaining fields; the language still loads.
        m_planeConfig->load(connection);
    }

    const QDomElement lan = root.firstChildElement(QStringLiteral("lan"));
    if (lan.isNull())
        return false;
    if (lan.attribute(QStringLiteral("isset")) == QLatin1String("1"))
        m_language = lan.attribute(QStringLiteral("language"));
    else
        m_language = QLocale::system().name();

    const QDomElement ignore = root.firstChildElement(QStringLiteral("ignoreDevices"));
    if (ignore.isNull())
        return true;
    m_ignoreDevices.clear();
    for (QDomElement dev = ignore.firstChildElement(QStringLiteral("devId")); !dev.isNull();
         dev = dev.nextSiblingElement(QStringLiteral("devId"))) {
        const tds4 id = dev.text().toInt(nullptr, 10);
        if (!m_ignoreDevices.contains(id))
            m_ignoreDevices.append(id);
    }
    return true;
}

bool ZoConfigUtils::saveConfig(const QString &path)
{
    if (!QFile::exists(path)) {
        qCDebug(lcConfigUtils).noquote().nospace() << "The file{" << path << "} doesn't exist!";
        QDir().mkpath(QFileInfo(path).absolutePath());
    }

    // The new content goes to a temporary file beside the old one and only
    // replaces it once completely written, so a failed save never leaves the
    // user with an empty or half-written file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qCWarning(lcConfigUtils).noquote() << "Couldn't open load file." << path;
        return false;
    }

    QDomDocument document;
    document.appendChild(document.createProcessingInstruction(
        QStringLiteral("xml"), QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    QDomElement root = document.createElement(QStringLiteral("config"));
    document.appendChild(root);

    if (!write(root, document)) {
        qCDebug(lcConfigUtils) << "saveConfig failed";
        file.cancelWriting();
        return false;
    }

    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    document.save(stream, 4, QDomNode::EncodingFromTextStream);
    stream.flush();
    if (stream.status() != QTextStream::Ok || !file.commit()) {
        qCWarning(lcConfigUtils).noquote() << "saveConfig failed:" << path << file.errorString();
        return false;
    }
    return true;
}

bool ZoConfigUtils::write(QDomElement &root, QDomDocument &document)
{
    QDomElement connection = root.firstChildElement(QStringLiteral("connection"));
    if (connection.isNull()) {
        connection = document.createElement(QStringLiteral("connection"));
        root.appendChild(connection);
    }
    if (m_planeConfig)
        m_planeConfig->save(connection, document);

    QDomElement lan = root.firstChildElement(QStringLiteral("lan"));
    if (lan.isNull()) {
        lan = document.createElement(QStringLiteral("lan"));
        root.appendChild(lan);
    }
    lan.setAttribute(QStringLiteral("isset"), QStringLiteral("1"));
    lan.setAttribute(QStringLiteral("language"), m_language);

    if (!m_ignoreDevices.isEmpty()) {
        QDomElement ignore = root.firstChildElement(QStringLiteral("ignoreDevices"));
        if (ignore.isNull()) {
            ignore = document.createElement(QStringLiteral("ignoreDevices"));
            root.appendChild(ignore);
        }
        QDomElement dev = ignore.firstChildElement(QStringLiteral("devId"));
        for (tds4 id : qAsConst(m_ignoreDevices)) {
            if (dev.isNull()) {
                dev = document.createElement(QStringLiteral("devId"));
                ignore.appendChild(dev);
            }
            dev.appendChild(document.createTextNode(QString::number(id)));
            dev = dev.nextSiblingElement(QStringLiteral("devId"));
        }
    }
    return true;
}
