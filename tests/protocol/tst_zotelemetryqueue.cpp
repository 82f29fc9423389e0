#include "ZoProtocolTestUtil.h"
#include "ZoTelemetryQueue.h"

#include <QThread>
#include <QtTest>

#include <atomic>

class TstZoTelemetryQueue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pushPopInOrder()
    {
        ZoTelemetryQueue q;
        q.configure(256, 5);
        const QByteArray a("abc"), b("defgh");
        QVERIFY(q.push(u(a), tdu2(a.size())));
        QVERIFY(q.push(u(b), tdu2(b.size())));
        QCOMPARE(q.size(), 2);
        tdu2 n = 0;
        const tdu1 *p = q.pop(n);
        QCOMPARE(bytes(p, n), a);
        tdu1 out[256];
        QCOMPARE(int(q.popInto(out, sizeof out)), b.size());
        QCOMPARE(bytes(out, tdu2(b.size())), b);
        QVERIFY(!q.pop(n));
        QCOMPARE(int(n), 0);
        QCOMPARE(int(q.popInto(out, sizeof out)), 0);
    }

    // A ring of five holds four; the fifth push drops the oldest.
    void fullRingDropsOldest()
    {
        ZoTelemetryQueue q;
        q.configure(256, 5);
        for (tdu1 i = 1; i <= 6; ++i)
            q.push(&i, 1);
        QCOMPARE(q.size(), 4);
        tdu1 out[4];
        for (tdu1 want = 3; want <= 6; ++want) {
            QCOMPARE(int(q.popInto(out, sizeof out)), 1);
            QCOMPARE(out[0], want);
        }
        QCOMPARE(q.size(), 0);
    }

    void refusedRecords_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("nullData");
        QTest::addColumn<bool>("stored");
        QTest::newRow("null") << 4 << true << false;
        QTest::newRow("empty") << 0 << false << false;
        QTest::newRow("fits") << 256 << false << true;
        QTest::newRow("257 bytes") << 257 << false << false;
        QTest::newRow("258 bytes") << 258 << false << false;
    }
    void refusedRecords()
    {
        QFETCH(int, length);
        QFETCH(bool, nullData);
        QFETCH(bool, stored);
        ZoTelemetryQueue q;
        q.configure(256, 3);
        // The neighbouring record must survive an oversized push untouched.
        const QByteArray guard(256, char(0x5A));
        q.push(u(guard), 256);
        const QByteArray data(length, char(0xA5));
        const tdu1 *r = q.push(nullData ? nullptr : u(data), tdu2(length));
        QCOMPARE(r != nullptr, stored);
        tdu1 out[300];
        QCOMPARE(int(q.popInto(out, sizeof out)), 256);
        QCOMPARE(bytes(out, 256), guard);
        QCOMPARE(q.size(), stored ? 1 : 0);
    }

    void configure()
    {
        ZoTelemetryQueue q;
        const tdu1 one = 1;
        QVERIFY(!q.push(&one, 1)); // item size 0 after construction
        q.configure(16, 0); // capacity 0 keeps the old one
        QCOMPARE(int(q.capacity()), 10);
        QVERIFY(q.push(&one, 1));
        q.configure(16, 10); // unchanged: the queued record stays
        QCOMPARE(q.size(), 1);
        q.clear();
        QCOMPARE(q.size(), 0);
    }

    // One producer, one consumer: every record arrives whole and in order.
    void twoThreads()
    {
        ZoTelemetryQueue q;
        q.configure(256, 64);
        std::atomic<bool> done {false};
        QThread *producer = QThread::create([&] {
            tdu1 rec[200];
            for (int i = 0; i < 20000; ++i) {
                while (q.size() > 50)
                    QThread::yieldCurrentThread();
                const tdu2 n = tdu2(1 + i % 200);
                for (int k = 0; k < n; ++k)
                    rec[k] = tdu1(i + k);
                q.push(rec, n);
            }
            done = true;
        });
        producer->start();
        int next = 0;
        bool ok = true;
        tdu1 out[256];
        while (next < 20000 && ok) {
            const tdu2 n = q.popInto(out, sizeof out);
            if (n == 0) {
                if (done && q.size() == 0)
                    break;
                continue;
            }
            ok = n == tdu2(1 + next % 200);
            for (int k = 0; ok && k < n; ++k)
                ok = out[k] == tdu1(next + k);
            ++next;
        }
        producer->wait();
        delete producer;
        QVERIFY(ok);
        QCOMPARE(next, 20000);
    }
};

QTEST_GUILESS_MAIN(TstZoTelemetryQueue)
#include "tst_zotelemetryqueue.moc"
