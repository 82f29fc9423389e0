#pragma once

#include "ZoFlashHistory.h"

#include <QList>
#include <QString>

class ZoCliOptions;

// tolvane-cli --history: the flash history read back, filtered as the options
// say, as a table, JSON or CSV on stdout; with --verify, its chain checked.
// Opens nothing when there is no history yet, and never writes to it: a
// damaged file is reported and left as it is.
class ZoCliHistory
{
public:
    // The exit code: 0, or ExitHistory when the history cannot be read or its
    // chain is broken.
    static int run(const ZoCliOptions &options, const QString &path);
    // The rows in `format` ("table", "json" or "csv"), each line ended.
    static QString render(const QList<ZoFlashHistory::Row> &rows, const QString &format);
};
