#include "ZoPureWapper.h"

ZoPureWapper::ZoPureWapper(QObject *parent)
    : QObject(parent)
{
}

ZoPureWapper::~ZoPureWapper() = default;

bool ZoPureWapper::clear()
{
    return true;
}

bool ZoPureWapper::isOpen() const
{
    return opened;
}

void ZoPureWapper::addReceiver(IZoReceiveData *receiver)
{
    if (receiver && !receivers.contains(receiver))
        receivers.append(receiver);
}

bool ZoPureWapper::removeReceiver(IZoReceiveData *receiver)
{
    if (!receiver)
        return false;
    return receivers.removeOne(receiver);
}
