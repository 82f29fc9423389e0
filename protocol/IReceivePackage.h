#pragma once

#include "ZoTypes.h"

// Receiver of the frames a codec cuts out of a byte stream. The frame pointer
// refers into the codec's receive ring and stays valid until ten further
// frames have been cut; keep a copy if you need it longer.
class IReceivePackage
{
public:
    virtual ~IReceivePackage() = default;

    // A frame whose CRC matches (the transfer protocol checks none and hands
    // every complete frame here). The length is the whole frame.
    virtual void onPackage(const tdu1 *frame, tdu2 length) = 0;
    // A frame whose CRC does not match; same arguments.
    virtual void onBadPackage(const tdu1 *frame, tdu2 length) = 0;
};
