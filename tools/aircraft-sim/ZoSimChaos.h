#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

// A bad line, reproducibly: from its seed, what becomes of each reply frame
// the aircraft sends. Some are lost, some damaged (one byte changed), some
// held back, some sent a second time a while later, and some follow a burst
// of noise bytes on the wire. The same seed and the same traffic give the
// same line. On the aircraft's thread.
class ZoSimChaos
{
public:
    // 0: a clean line.
    explicit ZoSimChaos(quint32 seed = 0);
    bool isOn() const { return m_on; }

    struct Fate
    {
        bool lost = false;
        int damagedAt = -1; // the byte changed, -1: none
        int delayMs = 0;
        int repeatAfterMs = -1; // sent again that much later, -1: once
        QByteArray noiseBefore;

        // What happened, for the event log ("lost", "damaged delayed", ...);
        // empty when the frame goes out as it is.
        QString text() const;
    };
    // The fate of a frame of `size` bytes. Everything the line does to it is
    // drawn here, so that a seed replays exactly.
    Fate next(int size);

private:
    bool chance(int percent) { return int(m_random.bounded(100)) < percent; }

    bool m_on;
    QRandomGenerator m_random;
};
