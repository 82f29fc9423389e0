#include "ZoHaldenUpdateInfo.h"

void ZoHaldenUpdateInfo::clear()
{
    *this = ZoHaldenUpdateInfo();
}

bool ZoHaldenUpdateInfo::operator==(const ZoHaldenUpdateInfo &o) const
{
    return cdt == o.cdt && importanceLevel == o.importanceLevel && description == o.description
        && version == o.version && url == o.url;
}
