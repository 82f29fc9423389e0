#include "ZoPureSerialPortWrapper.h"
#include "ZoTestLog.h"
#include "ZoTestPty.h"
#include "ZoTestReceiver.h"

#include <QtTest>

class TstZoPureSerialPortWrapper : public QObject
{
    Q_OBJECT

private:
    static QByteArray pattern(int n, int seed = 0)
    {
        QByteArray b(n, Qt::Uninitialized);
        for (int i = 0; i < n; ++i)
            b[i] = char((i * 7 + seed) & 0xFF);
        return b;
    }

private Q_SLOTS:
    void listenerList()
    {
        ZoPureSerialPortWrapper link;
        ZoTestReceiver a, b;
        link.addReceiver(&a);
        link.addReceiver(&a);
        link.addReceiver(nullptr);
        QVERIFY(!link.removeReceiver(&b));
        QVERIFY(!link.removeReceiver(nullptr));

        ZoTestPty pty;
        QVERIFY(pty.isValid());
        link.addReceiver(&b);
        QVERIFY(link.setName(pty.slaveName()));
        QVERIFY(link.open());
        QVERIFY(pty.write("xyz"));
        QTRY_COMPARE(b.all().size(), 3);
        QCOMPARE(a.chunks.size(), b.chunks.size()); // added twice, called once
        QCOMPARE(a.all(), QByteArray("xyz"));

        QVERIFY(link.removeReceiver(&a));
        QVERIFY(!link.removeReceiver(&a));
        QVERIFY(pty.write("q"));
        QTRY_COMPARE(b.all().size(), 4);
        QCOMPARE(a.all().size(), 3);
    }

    void badPortName()
    {
        ZoPureSerialPortWrapper link;
        QCOMPARE(zoSend(link, "abc"), tds8(-1)); // never opened
        QVERIFY(!link.close());
        QCOMPARE(link.error(), 0);
        QVERIFY(link.setName(QStringLiteral("/dev/tolvane-no-such-port")));
        QVERIFY(!link.open());
        QVERIFY(!link.isOpen());
        QVERIFY(link.error() != 0);
        QCOMPARE(zoSend(link, "abc"), tds8(-1));

        // The port object is kept, and picks up a new name.
        ZoTestPty pty;
        QVERIFY(link.setName(pty.slaveName()));
        QVERIFY(link.open());
    }

    void burstIsReadInBufferSizedChunks_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<int>>("chunks");
        QTest::newRow("300") << 300 << QList<int> {256, 44};
        QTest::newRow("256") << 256 << QList<int> {256};
        QTest::newRow("513") << 513 << QList<int> {256, 256, 1};
    }
    void burstIsReadInBufferSizedChunks()
    {
        QFETCH(int, size);
        QFETCH(QList<int>, chunks);
        ZoTestPty pty;
        ZoPureSerialPortWrapper link;
        ZoTestReceiver rx;
        link.addReceiver(&rx);
        QVERIFY(link.setName(pty.slaveName()));
        QVERIFY(link.open());

        // The whole burst is queued before the link sees any of it, and
        // nothing follows it: the tail must come without further input.
        const QByteArray burst = pattern(size);
        QVERIFY(pty.write(burst));
        QVERIFY(pty.waitQueued(size, 2000));
        QTRY_COMPARE(rx.all().size(), size);
        QCOMPARE(rx.sizes(), chunks);
        QCOMPARE(rx.all(), burst);
        QCOMPARE(rx.chunks.first().kind, ZoTestReceiver::Serial);
    }

    void openCloseReopen()
    {
        ZoTestPty pty;
        ZoPureSerialPortWrapper link;
        ZoTestReceiver rx;
        link.addReceiver(&rx);
        link.baud = 57600;
        QVERIFY(link.setName(pty.slaveName()));
        QVERIFY(link.open());
        QVERIFY(link.isOpen());
        QVERIFY(!link.setName(QStringLiteral("/dev/other"))); // refused while open

        QCOMPARE(zoSend(link, "ping"), tds8(4));
        QCOMPARE(pty.read(4, 2000), QByteArray("ping"));

        QVERIFY(link.close());
        QVERIFY(!link.isOpen());
        QVERIFY(!link.close());
        QCOMPARE(zoSend(link, "lost"), tds8(-1));

        QVERIFY(link.open());
        QVERIFY(pty.write("back"));
        QTRY_COMPARE(rx.all(), QByteArray("back"));
        QCOMPARE(zoSend(link, "pong"), tds8(4));
        QCOMPARE(pty.read(4, 2000), QByteArray("pong"));
    }

    // A pseudo-terminal has no low-latency setting: the link opens anyway
    // (and carries bytes, as above) and says so once per port however often
    // it is opened.
    void lowLatencyRefusedOncePerPort()
    {
        ZoTestPty pty, otherPty;
        QString why;
        QVERIFY(!ZoPureSerialPortWrapper::requestLowLatency(pty.masterFd(), &why));
        QVERIFY(!why.isEmpty());
        QVERIFY(!ZoPureSerialPortWrapper::requestLowLatency(-1, &why));

        ZoTestLogCapture log;
        const QString said = QStringLiteral("receive latency");
        ZoPureSerialPortWrapper link;
        QVERIFY(link.setName(pty.slaveName()));
        const bool firstOpen = link.open() && link.close() && link.open();
        const QStringList afterSamePort = log.lines().filter(said);
        const bool secondOpen = link.close() && link.setName(otherPty.slaveName()) && link.open();
        const QStringList latencyLines = log.lines().filter(said);

        QVERIFY(firstOpen && secondOpen);
        QCOMPARE(afterSamePort.size(), 1);
        QVERIFY2(afterSamePort.at(0).contains(pty.slaveName()), qPrintable(afterSamePort.at(0)));
        QCOMPARE(latencyLines.size(), 2);
        QVERIFY(latencyLines.at(1).contains(otherPty.slaveName()));
    }
};

QTEST_GUILESS_MAIN(TstZoPureSerialPortWrapper)
#include "tst_zopureserialportwrapper.moc"
