#pragma once

// Records what a data link hands its listeners, chunk by chunk. Header only:
// it needs the link interface, which only tests of the links and above have.

#include "IZoReceiveData.h"
#include "ZoPureWapper.h"

#include <QByteArray>
#include <QList>

class ZoTestReceiver : public IZoReceiveData
{
public:
    enum Kind { Udp, Tcp, Serial };
    struct Chunk
    {
        Kind kind;
        QByteArray bytes;
    };

    void onUdpData(const tdu1 *data, tds4 count) override { record(Udp, data, count); }
    void onTcpData(const tdu1 *data, tds4 count) override { record(Tcp, data, count); }
    void onSerialData(const tdu1 *data, tds4 count) override { record(Serial, data, count); }

    QList<int> sizes() const
    {
        QList<int> out;
        for (const Chunk &c : chunks)
            out.append(c.bytes.size());
        return out;
    }
    QByteArray all() const
    {
        QByteArray out;
        for (const Chunk &c : chunks)
            out += c.bytes;
        return out;
    }

    QList<Chunk> chunks;

private:
    void record(Kind kind, const tdu1 *data, tds4 count)
    {
        chunks.append({kind, QByteArray(reinterpret_cast<const char *>(data), count)});
    }
};

inline tds8 zoSend(ZoPureWapper &link, const QByteArray &bytes)
{
    return link.write(reinterpret_cast<const tdu1 *>(bytes.constData()), bytes.size());
}
