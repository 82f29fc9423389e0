#include "ZoConnectionPhase.h"

#include "ZoCoreRecovery.h"
#include "ZoPlaneSearch.h"

ZoConnectionPhase::ZoConnectionPhase(ZoPlaneSearch *search, const ZoPlaneConfig *configured,
    ZoBootCommands *commands, ZoProtocolLease *lease, QObject *parent)
    : QObject(parent)
    , m_search(search)
    , m_configured(configured)
    , m_recovery(new ZoCoreRecovery(commands, lease, search, this))
{
    connect(search, &ZoPlaneSearch::sigFinishSearch, m_recovery, &ZoCoreRecovery::onSearchFinished);
    for (QTimer *t : {&m_catalogueDue, &m_searchAgain})
        t->setSingleShot(true);
    connect(&m_catalogueDue, &QTimer::timeout, this, &ZoConnectionPhase::sigCatalogueDue);
    connect(&m_searchAgain, &QTimer::timeout, this, &ZoConnectionPhase::startSearch);
}

void ZoConnectionPhase::setTimings(const ZoUpgradeTimings &timings)
{
    m_timings = timings;
    m_recovery->setListenMs(timings.coreRecoveryMs);
}

void ZoConnectionPhase::startSearch()
{
    if (m_pinned) {
        searchLink(*m_pinned);
        return;
    }
    searchingByHand();
    m_search->searchConfigured(*m_configured);
}

void ZoConnectionPhase::searchLink(const ZoPlaneConfig &requested)
{
    // A copy first: `requested` may be the pinned record this replaces.
    const ZoPlaneConfig link = requested;
    m_pinned = std::make_unique<ZoPlaneConfig>(link);
    searchingByHand();
    m_search->searchLink(link);
}

void ZoConnectionPhase::searchingByHand()
{
    // A core found over a link that stays open keeps what it told: only a
    // closed link forgets it. Its catalogue is asked again after this search.
    if (m_state < State::Identifying)
        m_state = State::Searching;
    else if (m_state == State::Catalogued)
        m_state = State::Identified;
    Q_EMIT sigSearching();
}

void ZoConnectionPhase::searchAgainSoon()
{
    m_searchAgain.start(m_timings.researchDelayMs);
}

bool ZoConnectionPhase::finished(bool found)
{
    if (!found) {
        ++m_unfound;
        m_state = State::NotFound;
        return false;
    }
    if (m_state == State::Catalogued)
        return false;
    if (m_state == State::Identified) {
        if (!m_catalogueDue.isActive())
            m_catalogueDue.start(m_timings.identityToCatalogueMs);
        return false;
    }
    // A core that never tells its identity still gets its catalogue.
    m_state = State::Identifying;
    m_catalogueDue.start(m_timings.identityWaitMs);
    return true;
}

void ZoConnectionPhase::catalogueAsked()
{
    if (m_state == State::Identified)
        m_state = State::Catalogued;
}

void ZoConnectionPhase::identified(bool repeated)
{
    // Late answers to a read-back's questions change nothing, nor does the
    // identity told again after its catalogue was asked.
    if (repeated && m_state >= State::Identified)
        return;
    m_catalogueDue.start(m_timings.identityToCatalogueMs);
    m_state = State::Identified;
}

void ZoConnectionPhase::closed()
{
    m_recovery->cancel();
    m_catalogueDue.stop();
    m_state = State::Idle;
}
