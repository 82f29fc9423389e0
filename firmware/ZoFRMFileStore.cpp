#include "ZoFRMFileStore.h"

ZoFRMFileStore::ZoFRMFileStore() = default;

ZoFRMFileStore::~ZoFRMFileStore() = default;

bool ZoFRMFileStore::setFRMFileInfo(const ZoFRMFileInfo &info)
{
    m_files.insert(info.fid, info);
    return true;
}

ZoFRMFileInfo ZoFRMFileStore::getFRMFileInfo(tdu4 fid, bool &found) const
{
    const auto it = m_files.constFind(fid);
    found = it != m_files.constEnd();
    return found ? *it : ZoFRMFileInfo();
}
