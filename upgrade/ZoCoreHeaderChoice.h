#pragma once

#include "ZoDeviceKey.h"
#include "ZoTypes.h"

#include <QObject>
#include <QString>

class ZoDeviceRoster;

// The two choices the core header offers: the airframe protocol type a core
// runs (its firmware id follows from it), and on a core with data and
// feature boards, which board it carries. Each choice changes records, and
// may ask for a catalogue or for a board to be added by hand.
class ZoCoreHeaderChoice : public QObject
{
    Q_OBJECT
public:
    explicit ZoCoreHeaderChoice(ZoDeviceRoster *roster, QObject *parent = nullptr);

    // The core's protocol type (1, 2, 3, 258), 0 when it offers none.
    tds4 protocolType() const { return m_protocolType; }
    // A core of this type answered: its own protocol type.
    void resetFor(tdu1 coreType);

    // The user picked a protocol type for the core on the roster: the record
    // it names loses its target until the catalogue of its firmware id comes
    // (sigFetch). Refused while a board waits.
    void pickProtocolType(tds4 protocolType);
    // The user picked the board type (0 none, 1 the feature board).
    void pickBoardType(tdu1 type);

Q_SIGNALS:
    void sigProtocolTypeReset(tdu1 coreType);
    void sigBoardType(tdu1 type);
    void sigTargetCleared(ZoDeviceKey key);
    void sigFetch(tdu1 firmwareId);
    void sigAddModule(ZoDeviceKey module);
    // An information box: the engine's text key.
    void sigInform(QString key);

private:
    ZoDeviceRoster *m_roster;
    tds4 m_protocolType = 0;
};
