#pragma once

#include "ZoCampaignGuard.h"
#include "ZoPlaneSearch.h"
#include "ZoTypes.h"

#include <QList>
#include <QString>
#include <QUrl>

class ZoFRMFileStore;
class ZoPlaneConfig;
class ZoRunJournal;
class ZoTvkInstance;

// What an engine is given instead of reaching for the process's
// configuration: two engines in one process share nothing but what their
// owners hand both of them.
struct ZoUpgradeEnvironment
{
    // The link settings record; the engine's looper writes the link it used
    // back into it on the engine's thread. Not owned; null: nothing is kept.
    ZoPlaneConfig *link = nullptr;
    // Where catalogue and offline files are kept. Not owned; null: the engine
    // keeps a store of its own.
    ZoFRMFileStore *store = nullptr;
    // "zh_CN" shows the Chinese release notes, anything else the English.
    QString language;
    // Bus module nodes (busdevcfg.xml) and the devices sysconfig.xml leaves
    // out of the expected module list.
    QList<tdu1> tunexNodes;
    QList<tdu1> servoNodes;
    QList<tds4> ignoredDevices;
    // Empty: the cloud client's own default (TOLVANE_CLOUD_URL or the maker's).
    QUrl cloudBaseUrl;
    // Where the run journal is kept; empty: in memory only, so a device left
    // in its bootloader is known to this engine alone.
    QString journalPath;
    // Where the flash history is kept; empty: no history.
    QString historyPath;
    // The folder of the images devices confirmed, and how much it holds;
    // empty: no cache (it needs the history).
    QString imageCacheDir;
    qint64 imageCacheBytes = qint64(512) << 20;
    // A journal the owner shares among the engines of one process, each
    // aircraft's entries under its EID, loaded by the owner. Not owned;
    // null: the engine keeps its own at journalPath.
    ZoRunJournal *journal = nullptr;
    // Put before the engine's warnings, as when several engines share one
    // process's log ("[link]"); empty: nothing.
    QString logLabel;
    // The serial ports a search tries; null: the system's.
    ZoPlaneSearch::PortEnumerator portEnumerator;
    // The campaign's pinned files (see ZoCampaignGuard); none: no lock.
    std::optional<ZoCampaignGuard::Pins> campaignLock;

    // What a program's configuration says. The link record and the store
    // stay the configuration's.
    static ZoUpgradeEnvironment from(ZoTvkInstance &config);
};
