#include "ZoFRMFileInfo.h"
#include "ZoTestFirmware.h"
#include "ZoTestLooperPeer.h"
#include "ZoTransferSession.h"

#include <QtTest>

#include <algorithm>

// One core transfer over a real looper on loopback UDP, against a peer
// that plays the core's bootloader from a script: it acknowledges the key
// frame and each block, or loses or repeats acknowledgements (one for a
// block not in flight, whatever its offset, meets the same check).
namespace {

using Session = ZoTransferSession;

// A file whose header names `headerType` and an image of `length` bytes,
// of which `present` follow the header.
ZoFRMFileInfo firmware(int headerType, int length, int present)
{
    ZoFRMFileInfo info;
    info.setBytes(zoTestFirmwareBytes(tdu4(length), {tdu1(headerType), 1, 0, 0}, present));
    return info;
}

} // namespace

class TstZoTransferSession : public QObject
{
    Q_OBJECT

    ZoTestLooperPeer link;
    ZoMsgLooper *looper = nullptr;

    // The script of the row, and what the peer saw.
    QString script;
    tds4 lastOffset = 0;
    QList<tds4> offsets; // of every data block, in order
    int leaves = 0;
    int frames = 0; // of any kind, the enter command too

    void ack(tdu1 command, tds4 offset = 0)
    {
        const tdu2 block = tdu2(offset / 32);
        const char n = command == '!' ? 7 : 9;
        const char f[] = {char(0xEB), char(0x90), n, 0, 0, char(0x81), char(command),
            char(block & 0xFF), char(block >> 8)};
        link.send(QByteArray(f, n));
    }

    void onFrame(const QByteArray &d)
    {
        ++frames;
        // Bootloader frames only: the enter command is an application frame.
        if (d.size() < 6 || tdu1(d.at(0)) != 0xEB || tdu1(d.at(1)) != 0x90
            || int(tdu1(d.at(2))) != d.size())
            return;
        if (d.at(5) == 0x50)
            ++leaves;
        if (d.at(5) == '!' && !script.contains(QLatin1String("erase silent")))
            ack('!');
        if (d.at(5) != '1')
            return;
        const tds4 offset = (tdu1(d.at(6)) | tdu1(d.at(7)) << 8) * 32;
        offsets << offset;
        if (script.contains(QLatin1String("silent")) && !script.contains(QLatin1String("erase"))
            && (!script.contains(QLatin1String("last")) || offset == lastOffset))
            return;
        if (script == QLatin1String("lose 3") && offset == 3 * 128 && offsets.count(offset) == 1)
            return;
        ack('1', offset);
        if (script == QLatin1String("duplicate"))
            ack('1', offset);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(link.start(this, [this](const QByteArray &d) { onFrame(d); }));
        looper = link.looper.get();
    }

    void cleanupTestCase() { QVERIFY(link.stop()); }

    // Each row: the image, the peer's script (or the lease another part
    // holds), and how the transfer ends.
    // Whatever the end, the link speaks the application protocol again, the
    // peer saw every block the session counts, the blocks went out in
    // order, and the owner heard of progress at most every 33 ms, the last
    // report naming the last acknowledged offset.
    void transfer_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("resends");
        const int done = int(Session::Outcome::Completed);
        const int max = Session::MaxResends;
        QTest::newRow("completes") << 1000 << "" << done << 0;
        QTest::newRow("large image") << 64 * 1024 << "" << done << 0;
        QTest::newRow("erase unacknowledged") << 1000 << "erase silent" << done << 0;
        QTest::newRow("one lost ack") << 1000 << "lose 3" << done << 1;
        QTest::newRow("late duplicates") << 1000 << "duplicate" << done << 0;
        QTest::newRow("core restarts before its last ack") << 1000 << "silent last" << done << max;
        QTest::newRow("silent") << 1000 << "silent" << int(Session::Outcome::NoAnswer) << max;
        QTest::newRow("lease held") << 1000 << "held" << int(Session::Outcome::SendFailed) << 0;
        QTest::newRow("cancelled before it began")
            << 1000 << "cancel" << int(Session::Outcome::Cancelled) << 0;
    }

    void transfer()
    {
        QFETCH(int, bytes);
        QFETCH(QString, script);
        QFETCH(int, outcome);
        QFETCH(int, resends);
        Session::Plan plan;
        QVERIFY(Session::makePlan(
            firmware(80, bytes, bytes), 80, 0, true, ZoDeviceKey(80), plan, nullptr));
        this->script = script;
        lastOffset = plan.pageCount * Session::PageBytes;
        offsets.clear();
        leaves = frames = 0;

        // The owner's side: queued reports on this thread.
        Session::Timings timings;
        timings.enterBootloaderMs = 50;
        timings.eraseMs = 300;
        timings.blockMs = 100;
        auto *session = new Session(looper, link.lease.get(), plan, timings);
        const int other = 0; // a probe, say
        QVERIFY(
            script != QLatin1String("held") || link.lease->take(&other, QStringLiteral("probe")));
        QList<int> progress;
        QList<Session::Outcome> ends;
        Session::Stats stats;
        connect(session, &Session::sigProgress, this, [&](ZoDeviceKey, int v) { progress << v; });
        connect(session, &Session::sigFinished, this,
            [&](ZoDeviceKey, Session::Outcome o, const Session::Stats &s) {
                stats = s;
                ends << o;
            });
        QElapsedTimer clock;
        clock.start();
        // Cancelled before it began: the looper's thread is held until the
        // cancel is in, or begin() could run first and rightly send.
        QSemaphore held, go;
        QObject there;
        there.moveToThread(looper);
        if (script == QLatin1String("cancel"))
            QMetaObject::invokeMethod(&there, [&] { held.release(), go.acquire(); });
        held.acquire(script == QLatin1String("cancel"));
        session->start();
        if (script == QLatin1String("cancel"))
            session->cancel(), go.release();
        // A real event loop: the peer answers at once, not between polls.
        QEventLoop loop;
        connect(session, &Session::sigFinished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        QVERIFY(!ends.isEmpty());
        const qint64 elapsed = clock.elapsed();
        session->dispose();
        link.lease->release(&other);
        QTest::qWait(50); // what the peer still has to read

        QCOMPARE(ends, QList<Session::Outcome> {Session::Outcome(outcome)});
        QCOMPARE(stats.resends, resends);
        QCOMPARE(offsets.size(), stats.blocksSent);
        QCOMPARE(looper->protocolMode(), tds4(ZoMsgLooper::ModeApplication));
        QList<tds4> sent = offsets;
        sent.erase(std::unique(sent.begin(), sent.end()), sent.end());
        QCOMPARE(sent.size() + resends, offsets.size());
        for (int i = 0; i < sent.size(); ++i)
            QCOMPARE(sent[i], i * Session::PageBytes);
        QVERIFY2(progress.size() <= 2 + elapsed / Session::ProgressIntervalMs,
            qPrintable(QStringLiteral("%1 in %2 ms").arg(progress.size()).arg(elapsed)));
        if (outcome == int(Session::Outcome::Completed)) {
            QCOMPARE(sent.last(), lastOffset);
            QCOMPARE(progress.last(), lastOffset);
            QCOMPARE(leaves, 3);
        } else {
            QCOMPARE(offsets.size(),
                script == QLatin1String("held") || script == QLatin1String("cancel")
                    ? 0
                    : 1 + Session::MaxResends);
            QVERIFY(script != QLatin1String("cancel") || frames == 0);
            QCOMPARE(leaves, 0);
        }
        if (bytes > 32 * 1024)
            QVERIFY(progress.size() < stats.blocksSent / 4);
    }

    // What makePlan takes and refuses: a header naming the device, a body
    // holding what the header says, an image a transfer can name. Exactly
    // the header's length is sent, then erased flash (0xFF) to the end of
    // its last page and one chunk past it.
    void plan_data()
    {
        QTest::addColumn<int>("headerType");
        QTest::addColumn<int>("length"); // in the header
        QTest::addColumn<int>("present"); // after the header; -1: no header
        QTest::addColumn<int>("pages"); // 0: refused
        const int largest = Session::MaxImageBytes / Session::PageBytes * Session::PageBytes;
        QTest::newRow("whole") << 80 << 300 << 300 << 3;
        QTest::newRow("short body") << 80 << 300 << 200 << 0;
        QTest::newRow("long body") << 80 << 300 << 400 << 3;
        QTest::newRow("no header") << 80 << 0 << -1 << 0;
        QTest::newRow("header names another type") << 81 << 300 << 300 << 0;
        QTest::newRow("empty image") << 80 << 0 << 0 << 0;
        QTest::newRow("largest") << 80 << largest << largest << largest / Session::PageBytes;
        QTest::newRow("one byte more") << 80 << largest + 1 << largest + 1 << 0;
    }

    void plan()
    {
        QFETCH(int, headerType);
        QFETCH(int, length);
        QFETCH(int, present);
        QFETCH(int, pages);
        ZoFRMFileInfo file = firmware(headerType, length, std::max(0, present));
        if (present < 0)
            file.setBytes(QByteArray(20, '\0'));
        Session::Plan plan;
        QString why;
        QCOMPARE(Session::makePlan(file, 80, 0, true, ZoDeviceKey(80), plan, &why), pages > 0);
        QCOMPARE(why.isEmpty(), pages > 0);
        if (pages == 0)
            return;
        QCOMPARE(plan.pageCount, pages);
        QCOMPARE(plan.chunkSize, tds4(Session::PageBytes));
        QCOMPARE(plan.image.size(), (pages + 1) * Session::PageBytes);
        const int sent = std::min(present, length);
        QCOMPARE(plan.image.left(sent), QByteArray(sent, char(0x5A)));
        QCOMPARE(plan.image.mid(sent), QByteArray(plan.image.size() - sent, char(0xFF)));
    }
};

QTEST_GUILESS_MAIN(TstZoTransferSession)
#include "tst_zotransfersession.moc"
