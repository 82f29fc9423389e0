#pragma once

#include "ZoTypes.h"

// Listener of a data link. A link calls the operation of its own kind with
// every run of bytes it received, on the thread the link lives on. The bytes
// belong to the link and are valid only for the duration of the call.
class IZoReceiveData
{
public:
    virtual ~IZoReceiveData() = default;

    virtual void onUdpData(const tdu1 *data, tds4 count) = 0;
    virtual void onTcpData(const tdu1 *data, tds4 count) = 0;
    virtual void onSerialData(const tdu1 *data, tds4 count) = 0;
};
