#pragma once

#include "ZoFRMFileInfo.h"
#include "ZoTypes.h"

#include <QMap>

// The in-memory firmware store: one record per fid. Not locked: whoever holds
// one uses it on one thread.
class ZoFRMFileStore
{
public:
    ZoFRMFileStore();
    ~ZoFRMFileStore();
    ZoFRMFileStore(const ZoFRMFileStore &) = delete;
    ZoFRMFileStore &operator=(const ZoFRMFileStore &) = delete;

    // Replaces the record under info.fid; copies fetched earlier keep the
    // bytes they share. Always true.
    bool setFRMFileInfo(const ZoFRMFileInfo &info);
    ZoFRMFileInfo getFRMFileInfo(tdu4 fid, bool &found) const;

    int count() const { return m_files.size(); }

private:
    QMap<tdu4, ZoFRMFileInfo> m_files;
};
