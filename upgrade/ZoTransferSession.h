#pragma once

#include "ZoDeviceKey.h"
#include "ZoLogLabel.h"
#include "ZoTypes.h"
#include "ZoUpgradeTimings.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QVector>

#include <array>
#include <atomic>
#include <memory>

class QTimer;
class ZoBootCommands;
class ZoFRMFileInfo;
class ZoMsgLooper;
class ZoProtocolLease;

// One device's bootloader transfer: enter the bootloader, send the key frame
// (the bootloader erases), send the image block by block, each acknowledged
// by its offset and resent on silence, then leave the bootloader.
//
// It runs on the looper's thread: an acknowledgement is read, and the next
// block built and written, in one call on that thread, whatever the owner's
// thread is doing. The owner sees throttled progress and the end, through
// queued signals. Created on the owner's thread, it moves itself over in
// start(); the owner ends it with deleteLater() once finished (or with
// dispose(), which also works when the looper has stopped).
//
// It takes the protocol lease on the looper's thread before its first
// command and gives it back when it finishes or is disposed; refused (a
// probe or a manual add holds it), it sends nothing and finishes with
// SendFailed.
class ZoTransferSession : public QObject
{
    Q_OBJECT
public:
    enum class State : int { Idle, Entering, Erasing, Programming, Leaving, Done };
    enum class Outcome : int {
        Completed = 0, // the last block acknowledged, the bootloader told to leave
        NoAnswer, // a block went unacknowledged through every resend
        SendFailed, // the looper refused a frame (no link, no looper), or another held the lease
        Cancelled,
    };
    Q_ENUM(Outcome)

    using Timings = ZoUpgradeTimings;
    struct Stats
    {
        int blocksSent = 0;
        int resends = 0;
        qint64 startMs = 0;
        qint64 endMs = 0;
        // Steady clock, nanoseconds: the first data block written, the last
        // acknowledgement taken.
        qint64 firstBlockNs = 0;
        qint64 lastAckNs = 0;
        // Per acknowledged block: microseconds from its bytes' arrival to the
        // next block written.
        QVector<qint32> turnaroundUs;
    };
    // What to send: the device and its image.
    struct Plan
    {
        ZoDeviceKey key; // the record the device belongs to
        tdu1 devId = 0;
        tdu1 devNum = 0; // the number the device is addressed with
        bool core = false;
        std::array<tdu1, 48> header {};
        QByteArray image; // pageCount * 128 bytes, then one chunk of filler
        tds4 pageCount = 0;
        tds4 chunkSize = 0;
    };

    static constexpr int MaxResends = 4;
    static constexpr int PageBytes = 128;
    // A transfer names its blocks with 16 bits of 32-byte units, and no
    // device of this family holds more: whole pages, with room left for the
    // chunk of filler the last program message carries.
    static constexpr tds4 MaxImageBytes = (65535 * 32 / PageBytes - 1) * PageBytes;
    // The owner's thread hears of progress at most this often.
    static constexpr int ProgressIntervalMs = 33;

    // The plan for `file` on a device; false (and why) when the file does not
    // fit it: no header, a header naming another type, a body shorter than
    // the length its header names, or an image no transfer can name. Exactly
    // the header's length is sent.
    static bool makePlan(const ZoFRMFileInfo &file, tdu1 devId, tdu1 devNum, bool core,
        ZoDeviceKey key, Plan &plan, QString *why);

    ZoTransferSession(ZoMsgLooper *looper, ZoProtocolLease *lease, const Plan &plan,
        const Timings &timings);
    ~ZoTransferSession() override;

    // Put before the session's warnings (see ZoLogLabel); set before start().
    void setLogLabel(const ZoLogLabel &label) { m_label = label; }

    // On the owner's thread: moves to the looper's thread and begins there.
    void start();
    // Any thread: stops sending; finishes with Cancelled unless already done.
    void cancel();
    // On the owner's thread, instead of deleteLater(): waits for the looper's
    // thread to let go of it, or deletes at once when that thread has ended.
    void dispose();

    const Plan &plan() const { return m_plan; }
    // Readable from any thread while it runs.
    State state() const { return m_state.load(); }
    int blocksSent() const { return m_blocksSent.load(); }
    int resends() const { return m_resends.load(); }
    tds4 acknowledged() const { return m_acknowledged.load(); }

Q_SIGNALS:
    void sigProgress(ZoDeviceKey key, int value);
    // Each step of the transfer as it begins (ZoDevicePhase::Phase, Entering to
    // Leaving).
    void sigPhase(ZoDeviceKey key, int phase);
    void sigFinished(ZoDeviceKey key, ZoTransferSession::Outcome outcome, ZoTransferSession::Stats stats);

private:
    void begin();
    void onTimeout();
    void onEraseAck();
    void onProgramAck(tds4 size);
    bool sendKeyFrame();
    bool sendBlock();
    void leave();
    void finish(Outcome outcome);
    // The transfer peer is cleared and the lease released, if held.
    void letGo();
    void progress(int value, bool force = false);
    void setState(State state);

    ZoMsgLooper *m_looper;
    ZoProtocolLease *m_lease;
    Plan m_plan;
    Timings m_timings;
    ZoLogLabel m_label;
    std::unique_ptr<ZoBootCommands> m_commands;
    QTimer *m_timer;
    std::atomic<State> m_state {State::Idle};
    std::atomic<int> m_blocksSent {0};
    std::atomic<int> m_resends {0};
    std::atomic<tds4> m_acknowledged {0};
    tds4 m_offset = 0;
    int m_retries = 0;
    Stats m_stats;
    QElapsedTimer m_progressClock;
    int m_pendingProgress = -1;
    bool m_finished = false;
    // Set by cancel() from the owner's thread, read by begin(): a cancel
    // queued behind begin() would come after the enter command.
    std::atomic<bool> m_cancelRequested {false};
};

Q_DECLARE_METATYPE(ZoTransferSession::Stats)
