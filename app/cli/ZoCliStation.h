#pragma once

#include "ZoCliLabel.h"
#include "ZoCliOptions.h"
#include "ZoCliPrinter.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <memory>

class QSocketNotifier;
class ZoCliLinkPresence;
class ZoCliRunner;
class ZoRunJournal;

// tolvane-cli --station: a production line's program that stays up and
// upgrades each aircraft as it appears. Each link (every --link, and every
// serial adapter that appears under the watched by-id folder, named by its
// stable name) is a bay: its ZoCliLinkPresence tells when an aircraft
// arrives, a ZoCliRunner (a fleet member, as in ZoCliFleet, one journal for
// all) serves it, and the bay takes nothing new before that aircraft has
// left. An EID this station already upgraded and confirmed is skipped.
//
// The campaign gate (--first-batch N): the first N aircraft are a trial; no
// further one starts before they have ended, and if any of them failed none
// starts at all until a person gives the go-ahead (goAhead()).
//
// A stop (Ctrl-C, SIGTERM) interrupts the runs under way as a lone run is
// interrupted, then prints every aircraft served, writes the report and ends.
//
// Everything here lives on the main thread.
class ZoCliStation : public QObject
{
    Q_OBJECT
public:
    explicit ZoCliStation(const ZoCliOptions &options, QObject *parent = nullptr);
    ~ZoCliStation() override;

    void start();
    void interrupt(int request);
    // A person's go-ahead: opens a closed gate. `by` says how it came
    // ("key", "SIGUSR1").
    void goAhead(const QString &by);

Q_SIGNALS:
    void sigFinished(int exitCode);

private:
    enum class Gate {
        Trial, // the first batch is under way
        Open,
        Closed, // the first batch failed; waits for a person
    };

    struct Bay
    {
        enum State {
            Watching, // for an aircraft to arrive
            Queued, // arrived; waits for the gate or a flashing slot
            Running,
            Leaving, // served; waits for it to go
            Stopped,
        };
        QString link;
        ZoPlaneConfig config;
        State state = Watching;
        std::unique_ptr<ZoCliLinkPresence> presence;
        std::unique_ptr<ZoCliRunner> runner;
        bool trial = false; // counted in the first batch
        QString skipped; // why its aircraft is not flashed; empty: it is
    };

    // An aircraft the station saw, as the summary and the report tell it.
    struct Served
    {
        QString link;
        QString eid;
        QString result;
        int exitCode = 0;
        QString label;
        QJsonObject record;
    };

    Bay *addBay(const QString &linkText, const ZoPlaneConfig &config);
    void scanSerialFolder();
    void onArrived(Bay *bay);
    void onLeft(Bay *bay);
    void onAwaiting(Bay *bay);
    void onRunFinished(Bay *bay);
    void pump();
    bool mayStart() const;
    void startRun(Bay *bay);
    void judgeTrial();
    void readKeys();
    void finishAll();
    int running() const;

    ZoCliOptions m_options;
    ZoCliPrinter m_out;
    std::unique_ptr<ZoRunJournal> m_journal; // the runners' one journal; outlives them
    QList<Bay *> m_bays; // owned
    QList<Served> m_served;
    QHash<QString, QDateTime> m_confirmed; // EID: when it was confirmed
    Gate m_gate = Gate::Open;
    int m_trialStarted = 0;
    int m_trialEnded = 0;
    QStringList m_trialFailed;
    int m_stopRequest = 0; // 0: running
    bool m_done = false;
    QTimer m_serialScan;
    QSocketNotifier *m_keys = nullptr; // owned as a child
};
