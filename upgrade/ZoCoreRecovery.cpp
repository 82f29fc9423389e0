#include "ZoCoreRecovery.h"

#include "ZoBootCommands.h"
#include "ZoMsgLooper.h"
#include "ZoPlaneSearch.h"
#include "ZoProtocolLease.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

ZoCoreRecovery::ZoCoreRecovery(ZoBootCommands *commands, ZoProtocolLease *lease,
    const ZoPlaneSearch *search, QObject *parent)
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
        Q_EMIT sigSearchEnded(false, 0);
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
    // Only a link still open can be asked, and a lease held elsewhere (a
    // device being added by hand) is not taken from its holder.
    if (found || m_search->isAutoMode() || !m_lease->take(this, QStringLiteral("core recovery")))
        return Q_EMIT sigSearchEnded(found, planeNum);
    qCDebug(lcUpgrade) << "no telemetry: asking for a core in its bootloader";
    m_listen.start();
    m_ask.start();
    ask();
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
