#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;
class ZoCliOptions;
class ZoCliPrinter;
class ZoUpgradeWorkflow;

// tolvane-cli --rollback once the aircraft is listed: the aircraft checked
// against --eid, the engine's rollback asked for, and its question answered:
// Yes with --yes, y/N from a terminal (read as it arrives, the event loop
// running on), refused when nobody can answer. Every way it ends without a
// run is one sigRefused; the run that follows is an ordinary run's. Lives on
// the runner's thread; nothing it is handed is owned.
class ZoCliRollback : public QObject
{
    Q_OBJECT
public:
    ZoCliRollback(const ZoCliOptions &options, ZoUpgradeWorkflow *engine, ZoCliPrinter *out,
        QObject *parent = nullptr);
    ~ZoCliRollback() override;

    // The aircraft found has `eid`.
    void begin(const QString &eid, const QString &linkText);
    // The engine's rollback question.
    void onQuestion(int id, const QString &text);
    static bool stdinIsTerminal();

Q_SIGNALS:
    // Nothing is flashed; `why` is said already.
    void sigRefused(QString why);
    // The terminal is asked: the run's bounds wait for the answer.
    void sigAskingUser();

private:
    void onTerminalLine();
    void answer(int button);

    const ZoCliOptions &m_options;
    ZoUpgradeWorkflow *m_engine;
    ZoCliPrinter *m_out;
    std::unique_ptr<QSocketNotifier> m_stdin;
    int m_question = 0;
};
