#pragma once

#include "ZoFRMFileInfo.h"
#include "ZoTypes.h"

#include <QMap>

// The in-memory firmware store: one record per fid, owning the unowned data
// buffers of the records stored in it (records made with setDataCopy() own
// theirs). Not locked itself; ZoTvkInstance guards it with its mutex.
class ZoFRMFileStore
{
public:
    ZoFRMFileStore();
    ~ZoFRMFileStore();
    ZoFRMFileStore(const ZoFRMFileStore &) = delete;
    ZoFRMFileStore &operator=(const ZoFRMFileStore &) = delete;

    // Replaces the record under info.fid, freeing the old record's unowned
    // buffer unless the new record carries the very same buffer; an owned
    // one stays while other copies of the record hold it. Always true.
    bool setFRMFileInfo(const ZoFRMFileInfo &info);
    ZoFRMFileInfo getFRMFileInfo(tdu4 fid, bool &found) const;

    int count() const { return m_files.size(); }

private:
    QMap<tdu4, ZoFRMFileInfo> m_files;
};
