#pragma once

#include "ZoPlaneConfig.h"
#include "ZoUpgradeTimings.h"

#include <QObject>
#include <QTimer>

#include <memory>

class ZoBootCommands;
class ZoCoreRecovery;
class ZoPlaneSearch;
class ZoProtocolLease;

// From a search to the catalogue of the core it found: which link is
// searched (every configured candidate, or one link the user pinned), and
// when the catalogue is due once the core was found (a pause after its
// identity, or a bound on waiting for one that never comes). The pause runs
// while the search still asks the modules, so that the catalogue is in when
// the search ends; a search that outlasts it is not waited for again. A search again
// after the link was closed waits a moment first. A search of one link that
// hears nothing asks for a core in its bootloader before it ends (its
// ZoCoreRecovery).
//
// Lives on the engine's thread; its timers are its own and end with it.
class ZoConnectionPhase : public QObject
{
    Q_OBJECT
public:
    enum class State : int {
        Idle, // nothing searched yet, or the link was closed
        Searching, // a core is sought (one found earlier over the open link keeps its state)
        NotFound, // the last search ended without a core
        Identifying, // a core was found; its identity (EID) is awaited
        Identified, // its identity came
        Catalogued, // the catalogue for it was asked in this search
    };
    Q_ENUM(State)

    // `configured` is the link record the automatic search reads; not owned.
    ZoConnectionPhase(ZoPlaneSearch *search, const ZoPlaneConfig *configured,
        ZoBootCommands *commands, ZoProtocolLease *lease, QObject *parent = nullptr);

    void setTimings(const ZoUpgradeTimings &timings);
    ZoCoreRecovery *recovery() const { return m_recovery; }
    State state() const { return m_state; }
    // How many searches ended without a core in this engine's life.
    int unfoundSearches() const { return m_unfound; }
    // The link searched: the pinned one, else the configured record (which
    // the looper keeps at the link it found).
    const ZoPlaneConfig &link() const { return m_pinned ? *m_pinned : *m_configured; }

    // The pinned link when there is one, else every configured candidate.
    void startSearch();
    // Only this link, from now on.
    void searchLink(const ZoPlaneConfig &link);
    // The user's own search of one link (the search form's).
    void searchingByHand();
    // After the link was closed: a new search, after a short pause.
    void searchAgainSoon();

    // The search ended. Found: the identity is asked for (returns true) unless
    // it came already, and the catalogue is due after the wait that fits,
    // unless it was due in the search already.
    bool finished(bool found);
    // The core told its identity; `repeated`: the same one as before.
    void identified(bool repeated);
    // The catalogue due in the search was asked for: not again at its end.
    void catalogueAsked();
    // The link was closed: whatever was awaited is over.
    void closed();

Q_SIGNALS:
    // The engine shows it is searching.
    void sigSearching();
    void sigCatalogueDue();

private:
    ZoPlaneSearch *m_search;
    const ZoPlaneConfig *m_configured;
    ZoCoreRecovery *m_recovery;
    std::unique_ptr<ZoPlaneConfig> m_pinned;
    ZoUpgradeTimings m_timings;
    QTimer m_catalogueDue;
    QTimer m_searchAgain;
    State m_state = State::Idle;
    int m_unfound = 0;
};
