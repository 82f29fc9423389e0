#pragma once

#include "ZoCliOptions.h"
#include "ZoCliPrinter.h"
#include "ZoCliRunner.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class ZoRunJournal;

// tolvane-cli with several --link: one ZoCliRunner per link in this process,
// all at once, each with its own engine, link record and firmware store, and
// one run journal for all (each aircraft's entries under its EID).
// Each aircraft goes through its phases on its own and one's failure stops
// no other; the fleet only holds them at the start of their upgrades until
// every one knows its core (two links to one aircraft are refused there,
// before anything is flashed) and a flashing slot is free (--jobs), then
// prints one table per aircraft, writes the combined report and ends with
// the worst of their exit codes.
class ZoCliFleet : public QObject
{
    Q_OBJECT
public:
    explicit ZoCliFleet(const ZoCliOptions &options, QObject *parent = nullptr);
    ~ZoCliFleet() override;

    void start();
    // Every aircraft is stopped as a lone run would be.
    void interrupt(int request);

    // The worst of the aircraft's exit codes: a stop from outside, then a
    // refusal (two links to one aircraft, then the campaign's lock), a
    // failed upgrade, an unverified one, a catalogue failure, an
    // aircraft not found, success.
    static int worstExitCode(const QList<int> &codes);

Q_SIGNALS:
    void sigFinished(int exitCode);

private:
    struct Member
    {
        QString link;
        std::unique_ptr<ZoCliRunner> runner;
        bool waiting = false;
        bool released = false;
        bool finished = false;
    };

    void onAwaiting(Member *m);
    void onFinished(Member *m);
    void settle();
    void finishAll();
    QJsonObject reportJson(const QString &result, int code) const;

    ZoCliOptions m_options;
    ZoCliPrinter m_out;
    std::unique_ptr<ZoRunJournal> m_journal; // the runners' one journal; outlives them
    QList<Member *> m_members; // owned
    bool m_gateOpen = false;
    bool m_done = false;
};
