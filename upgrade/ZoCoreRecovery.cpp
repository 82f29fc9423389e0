#include "ZoCoreRecovery.h"

#include "ZoBootCommands.h"
#include "ZoMsgLooper.h"
#include "ZoPlaneSearch.h"
#include "ZoProtocolLease.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

ZoCoreRecovery::ZoCoreRecovery(
    ZoBootCommands *commands, ZoProtocolLease *lease, ZoPlaneSearch *search, QObject *parent)
    : QObject(parent)
    , m_commands(commands)
    , m_lease(lease)
    , m_search(search)
{
    m_listen.setSingleShot(true);
    connect(&m_ask, &QTimer::timeout, this, &ZoCoreRecovery::ask);
    connect(&m_listen, &QTimer::timeout, this, [this] {
        stop();
        qCDebug(lcUpgrade) << "no core answers from its bootloader either";
        if (m_search->isAutoMode())
            m_search->candidateChecked(false);
        else
            Q_EMIT sigSearchEnded(false, 0);
    });
    search->setCheckSilentLinks(true);
    connect(search, &ZoPlaneSearch::sigCandidateSilent, this, [this] {
        if (!start())
            m_search->candidateChecked(false);
    });
    setListenMs(1500);
}

void ZoCoreRecovery::setListenMs(int listenMs)
{
    m_listen.setInterval(listenMs);
    // A lost request or answer is asked again, a few times in the wait.
    m_ask.setInterval(qMax(1, listenMs / 5));
}

void ZoCoreRecovery::onSearchFinished(bool found, tds4 planeNum)
{
    // An automatic search asked each of its links on the way (and one that
    // was cancelled is over), the link of any other is still open.
    if (m_search->isAutoMode() || found || !start()) {
        cancel();
        Q_EMIT sigSearchEnded(found, planeNum);
    }
}

bool ZoCoreRecovery::start()
{
    // A lease held elsewhere (a device being added by hand) is not taken
    // from its holder.
    if (!m_lease->take(this, QStringLiteral("core recovery")))
        return false;
    qCDebug(lcUpgrade) << "no telemetry: asking for a core in its bootloader";
    m_listen.start();
    m_ask.start();
    ask();
    return true;
}

void ZoCoreRecovery::ask()
{
    if (m_lease->setMode(this, ZoMsgLooper::ModeCoreBootloader, 0))
        m_commands->coreReadParameters();
}

void ZoCoreRecovery::onCoreReport(tVersion version)
{
    if (!isActive())
        return;
    stop();
    qCInfo(lcUpgrade) << "a core of type" << version.type << "answers from its bootloader";
    Q_EMIT sigFound(version);
    if (m_search->isAutoMode())
        m_search->candidateChecked(true); // ends the search as found
    else
        Q_EMIT sigSearchEnded(true, 1);
}

void ZoCoreRecovery::cancel()
{
    if (isActive())
        stop();
}

void ZoCoreRecovery::stop()
{
    m_listen.stop();
    m_ask.stop();
    m_lease->release(this);
}
