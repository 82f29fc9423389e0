#pragma once

#include "ZoLogLabel.h"
#include "ZoDeviceKey.h"
#include "ZoTypes.h"
#include "ZoUpgradeTimings.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

class ZoBootCommands;
class ZoMsgLooper;

// Reads a device back after its transfer: a device counts as upgraded only
// when it reports, from its application, exactly the image it was sent.
// A module is asked its version until it answers; the core is given time to
// restart, then asked its version and compile time, and must name the same
// hardware identity as before (a link that comes back may lead elsewhere).
class ZoDeviceConfirmation : public QObject
{
    Q_OBJECT
public:
    enum class Verdict : int {
        Confirmed = 0,
        WrongVersion, // it answered with another type or version
        Silent, // it never answered
        OtherAircraft, // the core that answered has another identity
    };
    Q_ENUM(Verdict)

    using Timings = ZoUpgradeTimings;
    struct Target
    {
        ZoDeviceKey key;
        tdu1 devId = 0;
        tdu1 devNum = 0;
        bool core = false;
        tVersion version; // from the image's header
        tFcsDateTime compileTime; // from the image's header
        bool checkCompileTime = false; // a build of the same version counts as another
        QString eid; // the core's identity before the run; empty when it never told
        // Twins of a CAN type all take its broadcast image: the serials of
        // every one that did, each of which must report the target (empty:
        // the one device decides).
        QStringList serials;
    };

    ZoDeviceConfirmation(ZoMsgLooper *looper, ZoBootCommands *commands, QObject *parent = nullptr);

    void setTimings(const Timings &timings) { m_timings = timings; }
    void setLogLabel(const QString &label) { m_label.text = label; }
    void start(const Target &target);
    void cancel();
    bool isActive() const { return m_active; }
    // What the twin with this serial reported in the last read-back (type 0:
    // nothing).
    tVersion twinReport(const QString &serial) const { return m_twinReports.value(serial); }

Q_SIGNALS:
    // `reported` is what the device said last (type 0: nothing).
    void sigFinished(ZoDeviceKey key, ZoDeviceConfirmation::Verdict verdict, tVersion reported,
        tFcsDateTime reportedTime);
    // The device's first answer from its application in this read-back: it
    // has restarted.
    void sigAnswered(ZoDeviceKey key);

private:
    void query();
    void answered();
    void onModuleReport(tVersion version, tdu1 index, const QString &serial);
    void onTwinReport(tVersion version, const QString &serial);
    void onCoreVersion(tVersion version);
    void onCoreCompileTime(tFcsDateTime time);
    void onEid(const QString &eid);
    void decideCore();
    void finish(Verdict verdict);

    ZoBootCommands *m_commands;
    Timings m_timings;
    ZoLogLabel m_label;
    Target m_target;
    bool m_answered = false;
    QTimer m_query;
    QTimer m_deadline;
    bool m_active = false;
    tVersion m_reported;
    tFcsDateTime m_reportedTime;
    bool m_timeKnown = false;
    QString m_eid;
    QHash<QString, tVersion> m_twinReports;
};
