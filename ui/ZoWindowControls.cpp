#include "ZoWindowControls.h"

ZoWindowControls::ZoWindowControls(const ZoUpgradeWorkflow *engine, QObject *parent)
    : QObject(parent)
    , m_engine(engine)
{
    using E = ZoUpgradeWorkflow;
    connect(engine, &E::sigSearchFinished, this, [this](bool found) {
        // The catalogue may have come while the search still asked the
        // modules: the engine is ready with it as the search ends.
        const bool ready = found && m_engine->stage() == E::Stage::Ready
            && m_engine->targets().state() == ZoTargetIntake::State::Ready;
        change([found, ready](State &s) {
            s.branchVisible = s.branchEnabled = found;
            if (ready)
                s.upgradeEnabled = true;
        });
    });
    connect(engine, &E::sigCoreAddedByHand, this,
        [this] { change([](State &s) { s.branchVisible = s.branchEnabled = true; }); });
    connect(engine, &E::sigManualAddOffered, this,
        [this](bool offered) { change([offered](State &s) { s.manualAddEnabled = offered; }); });
    connect(engine, &E::sigCloseCom, this, [this] {
        change([](State &s) {
            s.upgradeEnabled = s.branchEnabled = false;
            s.coreHeaderEnabled = true;
        });
    });
    // The identity comes with the core's records, or before its row, which
    // then carries it; a cleared list forgets it.
    connect(engine, &E::sigRecordChanged, this, &ZoWindowControls::followIdentity);
    connect(&engine->roster(), &ZoDeviceRoster::sigRowAdded, this,
        &ZoWindowControls::followIdentity);
    connect(&engine->roster(), &ZoDeviceRoster::sigRowsCleared, this,
        &ZoWindowControls::followIdentity);
    connect(engine, &E::sigBranchSelected, this, [this](int branch) {
        change([branch](State &s) { s.customKeyVisible = branch == ZoTargetIntake::BranchCustom; });
    });
    // Read as the catalogue's result comes, before the engine's mode moves on.
    connect(&engine->targets(), &ZoTargetIntake::sigStateChanged, this,
        [this](ZoTargetIntake::State state) {
            if (state != ZoTargetIntake::State::Ready && state != ZoTargetIntake::State::Failed)
                return;
            const bool ready = m_engine->stage() == ZoUpgradeWorkflow::Stage::Ready;
            change([ready, state](State &s) {
                if (ready)
                    s.upgradeEnabled = state == ZoTargetIntake::State::Ready;
                else
                    s.customKeyVisible = false;
            });
        });
    connect(engine, &E::sigRunStarted, this, [this] {
        change([](State &s) {
            s.upgradeEnabled = s.branchEnabled = s.manualAddEnabled = s.coreHeaderEnabled = false;
        });
    });
    connect(engine, &E::sigRunEnded, this, [this](E::RunOutcome end) {
        if (end == E::RunOutcome::Completed || end == E::RunOutcome::FirmwareUnusable)
            return unlock();
        change([](State &s) { s.upgradeEnabled = s.branchEnabled = true; });
    });
}

void ZoWindowControls::change(const std::function<void(State &)> &how)
{
    how(m_state);
    Q_EMIT sigChanged();
}

void ZoWindowControls::unlock()
{
    change([](State &s) {
        s.upgradeEnabled = s.branchEnabled = s.manualAddEnabled = s.coreHeaderEnabled = true;
    });
}

void ZoWindowControls::followIdentity()
{
    const bool known = m_engine->history() && !m_engine->roster().core().serial.isEmpty();
    if (known != m_state.historyEnabled)
        change([known](State &s) { s.historyEnabled = known; });
}

void ZoWindowControls::runAborted()
{
    unlock();
}
