#pragma once

#include "ZoCliDevice.h"
#include "ZoDevicePhase.h"
#include "ZoTypes.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

#include <atomic>

class QThread;

// What tolvane-cli prints: its lines on stdout, complaints on stderr, the
// device table, and each transfer's progress, drawn in place on a terminal
// and printed every 10 % otherwise (a log file wants ten lines, not a
// thousand carriage returns).
//
// While one exists, Qt's log output closes an open progress line first, so
// that a log line never lands in the middle of one.
class ZoCliPrinter
{
public:
    // tty: stdout is a terminal. prefix: put before every line, as when
    // several aircraft share the output.
    explicit ZoCliPrinter(bool tty, const QString &prefix = QString());
    ~ZoCliPrinter();
    ZoCliPrinter(const ZoCliPrinter &) = delete;
    ZoCliPrinter &operator=(const ZoCliPrinter &) = delete;

    static bool stdoutIsTerminal();
    // The terminal cells `text` takes: East Asian wide and fullwidth
    // characters two, combining marks none, the rest one.
    static int displayWidth(const QString &text);

    // --progress json: stdout carries only one JSON object per line, each
    // with "t" (ms since start), "link" and "event"; every other line goes
    // to stderr.
    void setJsonEvents(const QString &link);
    void event(const QString &name, const QJsonObject &fields = QJsonObject());
    // An event about another link than the printer's own.
    void eventFor(const QString &link, const QString &name, const QJsonObject &fields);
    void deviceEvent(
        const QString &name, const ZoCliDevice &device, const QJsonObject &fields = QJsonObject());

    void say(const QString &line);
    void complain(const QString &line);
    // after: the columns of the run's outcome too; verifyRan: the VERIFIED
    // column says yes or NO rather than "-".
    // Silent optional modules are one line after it unless `verbose`.
    void table(const QList<ZoCliDevice> &devices, bool after);
    void setVerbose(bool verbose) { m_verbose = verbose; }

    // A transfer of `maximum` bytes begins.
    void progressBegins(ZoDeviceKey key, int maximum);
    // `now`: the engine's phase, rate and time left for the device.
    void progress(const ZoCliDevice &device, int value, int blocksSent, const ZoDevicePhase &now);
    // The device entered another phase: a JSON event, a line in a log.
    void phase(const ZoCliDevice &device, const ZoDevicePhase &now);
    // The transfer ended: a line drawn in place shows its last figures.
    void progressEnds(const ZoCliDevice &device, int blocksSent);

private:
    struct Progress
    {
        int maximum = 0;
        int value = 0;
        ZoDevicePhase now;
        int lastDecile = 0;
        qint64 drawnMs = -1;
    };

    static void onLogMessage(
        QtMsgType type, const QMessageLogContext &context, const QString &text);

    void draw(const ZoCliDevice &device, Progress &p, int blocksSent, bool final);
    void closeProgressLine();

    static ZoCliPrinter *s_active;
    static QtMessageHandler s_previousHandler;

    const bool m_tty;
    const QString m_prefix;
    bool m_json = false;
    bool m_verbose = false;
    QString m_link;
    QThread *const m_thread; // the one that prints
    QElapsedTimer m_clock;
    QMap<ZoDeviceKey, Progress> m_progress;
    ZoDeviceKey m_drawnKey; // whose progress the open line shows (null: nobody's)
    std::atomic<bool> m_lineOpen {false}; // stdout ends in a line drawn in place
};
