#pragma once

#include <QDebug>
#include <QString>

// What goes before an engine's log lines when several engines share one
// process's log, as tolvane-cli's aircraft do: "[udp:127.0.0.1:14550]".
// Streamed into a QDebug it writes nothing when empty, so a lone engine's
// lines read as they always did.
struct ZoLogLabel
{
    QString text;
};

inline QDebug operator<<(QDebug d, const ZoLogLabel &label)
{
    if (!label.text.isEmpty())
        d << label.text;
    return d;
}
