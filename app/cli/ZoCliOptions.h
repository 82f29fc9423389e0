#pragma once

#include "ZoCampaignGuard.h"
#include "ZoPlaneConfig.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// What tolvane-cli was asked to do, read from its command line and checked
// before anything is opened: a bad option is a usage error (exit 2) and must
// never start a search or touch an aircraft. Holds no engine.
class ZoCliOptions
{
public:
    enum Mode { ModeList, ModeUpgrade, ModeRollback };
    // The same numbering as the upgrade workflow's branch box.
    enum Branch { BranchStable = 0, BranchDevelopment = 1, BranchCustom = 2 };

    // Parses the whole argument list (program name first). On false,
    // error() says what was wrong and names the option.
    bool parse(const QStringList &arguments);

    // udp:HOST:PORT[:LOCALPORT], tcp:HOST:PORT[:LOCALPORT] or
    // serial:DEVICE[:BAUD] into link; false with *error (without the option
    // name) for anything else. HOST is a dotted IPv4 address, as the links
    // take nothing else.
    static bool parseLink(const QString &text, ZoPlaneConfig &link, QString *error);
    static QString branchName(int branch);
    static QString helpText();

    QString error() const { return m_error; }

    bool helpRequested = false;
    bool autoLink = true;
    QString linkText = QStringLiteral("auto");
    ZoPlaneConfig link; // an explicit link; meaningless with autoLink
    // Every --link given, in order; more than one runs one aircraft per link
    // side by side (link and linkText then hold the first).
    QStringList linkTexts;
    QList<ZoPlaneConfig> links;
    int jobs = 0; // how many aircraft flash at once; 0: all of them
    bool jsonProgress = false; // --progress json
    bool verbose = false; // the table lists silent optional modules
    int branch = BranchStable;
    QString key;
    QString firmwareDir;
    Mode mode = ModeList;
    bool yes = false;
    QString reportPath;
    // --lock: the campaign's pinned files, read and checked here (a lock
    // that cannot be read is a usage error); --write-lock: where to pin them.
    QString lockPath;
    std::optional<ZoCampaignGuard::Pins> lock;
    QString writeLockPath;
    bool doctor = false; // check this machine instead of searching
    // --history: read the flash history instead of searching, filtered.
    bool history = false;
    bool verify = false;
    QString historyEid; // with --rollback: the aircraft it must be
    int historyType = -1; // -1: any
    int historyNumber = -1; // -1: any
    QDateTime since; // invalid: from the start
    QString format = QStringLiteral("table");
    // --station: flash each aircraft as it appears on a link, until stopped.
    bool station = false;
    int leaveAfterMs = 5000; // silence that tells an aircraft has left
    int firstBatch = 0; // 0: no campaign gate
    // Where serial adapters appear under their stable names; empty: not
    // watched.
    QString serialById = QStringLiteral("/dev/serial/by-id");
    QString labelPngDir;

private:
    bool fail(const QString &message);

    QString m_error;
};
