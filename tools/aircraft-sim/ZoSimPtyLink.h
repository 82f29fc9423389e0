#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class QSocketNotifier;

// A pseudo-terminal pair whose slave the program opens by name (PATH is made
// a symlink to it). At a baud rate other than 0 both directions move at most
// baud / 10 bytes a second, as a real 8N1 UART would.
class ZoSimPtyLink : public QObject
{
    Q_OBJECT
public:
    explicit ZoSimPtyLink(QObject *parent = nullptr);
    ~ZoSimPtyLink() override;

    // An empty path makes no symlink. A path that exists and is not a symlink
    // is refused, so a typo cannot replace a file.
    bool open(const QString &symlinkPath, int baud, QString *error);
    void close();

    QString slaveName() const { return m_slaveName; }
    int baud() const { return m_baud; }
    qint64 pendingOut() const { return m_out.size(); }

    // A droppable write (telemetry) is skipped while more than kBusyLine bytes
    // wait: like a UART nobody listens to, the line does not save up stale
    // frames in front of the next reply.
    void write(const QByteArray &bytes, bool droppable = false);

    static constexpr int kMaxPending = 256 * 1024;
    static constexpr int kBusyLine = 512;
    static constexpr qint64 kHandOverNs = 100000;

Q_SIGNALS:
    void received(const QByteArray &bytes);

private:
    void onReadable();
    void onWritable();
    void onTick();
    void pump();
    qint64 budget(qint64 startNs, qint64 moved) const;
    // When byte `index` of a run that started at startNs is on the wire.
    qint64 dueNs(qint64 startNs, qint64 index) const;
    // Has pump() run again after delayNs (negative: not at all).
    void armTick(qint64 delayNs);
    void startPacer();
    void stopPacer();
    void pacerLoop();

    int m_master = -1;
    int m_slave = -1;
    QString m_slaveName;
    QString m_symlink;
    int m_baud = 0;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    // The pacer thread wakes the link when the next byte is due. Qt's timers
    // count whole milliseconds: rounding every message's end up to the next
    // one would add most of a millisecond to each exchange at 115200 baud,
    // which a real line does not.
    std::thread m_pacer;
    std::mutex m_pacerMutex;
    std::condition_variable m_pacerWake;
    std::chrono::steady_clock::time_point m_pacerDue;
    bool m_pacerArmed = false;
    bool m_pacerStop = false;
    QElapsedTimer m_clock;
    QByteArray m_out;
    QByteArray m_in;
    qint64 m_outStart = 0;
    qint64 m_outSent = 0;
    qint64 m_inStart = 0;
    qint64 m_inDelivered = 0;
};
