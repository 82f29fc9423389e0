#include "ZoSimChaos.h"

#include <QStringList>

ZoSimChaos::ZoSimChaos(quint32 seed)
    : m_on(seed != 0)
    , m_random(seed)
{
}

ZoSimChaos::Fate ZoSimChaos::next(int size)
{
    Fate f;
    if (!m_on)
        return f;
    // Rare enough that a transfer gets through its resends, often enough
    // that every kind of trouble meets every phase of a run.
    if (chance(4)) {
        f.lost = true;
        return f;
    }
    if (size > 0 && chance(3))
        f.damagedAt = int(m_random.bounded(size));
    if (chance(5))
        f.delayMs = 50 + int(m_random.bounded(400));
    if (chance(3))
        f.repeatAfterMs = 100 + int(m_random.bounded(600));
    if (chance(5)) {
        f.noiseBefore.resize(1 + int(m_random.bounded(16)));
        for (char &c : f.noiseBefore)
            c = char(m_random.bounded(256));
    }
    return f;
}

QString ZoSimChaos::Fate::text() const
{
    QStringList what;
    if (lost)
        what << QStringLiteral("lost");
    if (damagedAt >= 0)
        what << QStringLiteral("damaged");
    if (delayMs > 0)
        what << QStringLiteral("delayed");
    if (repeatAfterMs >= 0)
        what << QStringLiteral("repeated");
    if (!noiseBefore.isEmpty())
        what << QStringLiteral("noise");
    return what.join(QLatin1Char(' '));
}
