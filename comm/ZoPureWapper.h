#pragma once

#include "IZoReceiveData.h"
#include "ZoTypes.h"

#include <QList>
#include <QObject>
#include <QString>

// A byte pipe to the aircraft. The message looper holds the current link
// through this interface without knowing its kind; a link knows nothing of
// frames and hands every received run of bytes to its listeners.
//
// A link lives on one thread (the looper's): it is created, opened, read,
// written and deleted there, and its listeners are called there. The listener
// list is not locked for that reason.
class ZoPureWapper : public QObject
{
    Q_OBJECT
public:
    explicit ZoPureWapper(QObject *parent = nullptr);
    ~ZoPureWapper() override;

    virtual bool open() = 0;
    virtual bool close() = 0;
    // The number of bytes written, or -1 when nothing could be written.
    virtual tds8 write(const tdu1 *data, tds4 length) = 0;
    // Error code of the port or socket (Qt's enumeration), 0 without one.
    virtual int error() const = 0;
    virtual QString errorString() const = 0;
    // Drops buffered data.
    virtual bool clear();
    virtual bool isOpen() const;
    // Appends a listener unless it is null or already listening.
    virtual void addReceiver(IZoReceiveData *receiver);
    // False when the listener is null or was not listening.
    virtual bool removeReceiver(IZoReceiveData *receiver);

protected:
    tds4 readCount = 0;
    bool opened = false;
    QList<IZoReceiveData *> receivers;
};
