#pragma once

#include <QMap>
#include <QString>

// The names the system gives serial adapters under /dev/serial/by-id. Made of
// the adapter's vendor, product and serial number, such a name stays with the
// adapter, where the ttyUSB numbers of two identical adapters may swap from
// one plug-in to the next. Read from a root folder handed in ("/" on a real
// system, a scratch tree in a test); empty where the folder does not exist.
// A value type, read anew on each call; usable from any thread.
class ZoSerialStableNames
{
public:
    explicit ZoSerialStableNames(const QString &root = QStringLiteral("/"));

    // Each node ("/dev/ttyUSB0") and its stable name ("/dev/serial/by-id/usb-…").
    QMap<QString, QString> byNode() const;
    // The stable name of `node`; empty when it has none.
    QString stableNameOf(const QString &node) const;
    // The node a name opens: a stable name resolved, any other name as given.
    QString nodeOf(const QString &name) const;
    // Whether `name` is one of the stable names' form (and so survives a
    // renumbering).
    static bool isStableName(const QString &name);

private:
    QString m_root;
};
