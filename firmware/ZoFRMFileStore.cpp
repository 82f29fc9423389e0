#include "ZoFRMFileStore.h"

ZoFRMFileStore::ZoFRMFileStore() = default;

ZoFRMFileStore::~ZoFRMFileStore()
{
    for (const ZoFRMFileInfo &info : qAsConst(m_files))
        if (!info.ownsData())
            ZoFRMFileInfo::freeData(info.data);
}

bool ZoFRMFileStore::setFRMFileInfo(const ZoFRMFileInfo &info)
{
    auto it = m_files.find(info.fid);
    if (it != m_files.end()) {
        // Storing a record fetched from here again must not free the buffer
        // it still points at. An owned buffer goes with its last record.
        if (it->data && it->data != info.data && !it->ownsData())
            ZoFRMFileInfo::freeData(it->data);
    }
    m_files.insert(info.fid, info);
    return true;
}

ZoFRMFileInfo ZoFRMFileStore::getFRMFileInfo(tdu4 fid, bool &found) const
{
    const auto it = m_files.constFind(fid);
    found = it != m_files.constEnd();
    return found ? *it : ZoFRMFileInfo();
}
