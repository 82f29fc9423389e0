#pragma once

#include "ZoUpgradeWorkflow.h"

#include <QObject>

// What the main window enables and shows besides its rows, decided from what
// the engine reports it can do: a found core offers the branch box, a
// selected custom branch its key, a catalogue in hand the upgrade button; a
// run locks everything until it ends, and a run that did not complete leaves
// only the upgrade and the branch open (what is on board is no longer known).
// The flash history opens for an aircraft whose identity (EID) is known.
//
// Lives on the window's thread, beside the engine it listens to.
class ZoWindowControls : public QObject
{
    Q_OBJECT
public:
    struct State
    {
        bool upgradeEnabled = false;
        bool branchVisible = false;
        bool branchEnabled = false;
        bool customKeyVisible = false;
        bool manualAddEnabled = true;
        bool coreHeaderEnabled = true;
        // A history is kept and the found aircraft told its identity.
        bool historyEnabled = false;
    };

    explicit ZoWindowControls(const ZoUpgradeWorkflow *engine, QObject *parent = nullptr);

    const State &state() const { return m_state; }
    // The window stopped the run itself (the engine tells no one).
    void runAborted();

Q_SIGNALS:
    void sigChanged();

private:
    void change(const std::function<void(State &)> &how);
    void unlock();
    void followIdentity();

    const ZoUpgradeWorkflow *m_engine;
    State m_state;
};
