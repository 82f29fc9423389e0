#include "ZoPureUdpWapper.h"
#include "ZoTestReceiver.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

// Everything here stays on loopback: unicast peers on 127.0.0.1 and
// multicast groups in 239.255.0.0/16, which the test namespace routes to lo.
class TstZoPureUdpWapper : public QObject
{
    Q_OBJECT

private:
    static QByteArray nextDatagram(QUdpSocket &s, int timeoutMs = 2000)
    {
        if (!s.hasPendingDatagrams() && !s.waitForReadyRead(timeoutMs))
            return QByteArray();
        return s.receiveDatagram().data();
    }

private Q_SLOTS:
    void hostAddressText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        // The dotted-address reader has its own table; these show the link uses it.
        QTest::newRow("loopback") << "127.0.0.1" << true;
        QTest::newRow("octet above 255") << "192.168.1.300" << false;
        QTest::newRow("empty") << "" << false;
    }
    void hostAddressText()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        ZoPureUdpWapper link;
        QVERIFY(link.setPort(0));
        QCOMPARE(link.setHostAddress(text), accepted);
        // A refused address leaves the link closed instead of opening it
        // without a destination.
        QCOMPARE(link.open(), accepted);
        QCOMPARE(link.isOpen(), accepted);
    }

    void unicastBothWays()
    {
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
        ZoPureUdpWapper link;
        ZoTestReceiver rx;
        link.addReceiver(&rx);
        QVERIFY(link.setName(QStringLiteral("127.0.0.1")));
        QVERIFY(link.setHostAddress(QStringLiteral("127.0.0.1")));
        QVERIFY(link.setPort(0));
        link.hostPort = peer.localPort();
        QCOMPARE(zoSend(link, "early"), tds8(-1));
        QVERIFY(link.open());
        QVERIFY(link.boundPort() != 0);
        QVERIFY(!link.setPort(1));
        QVERIFY(!link.setName(QStringLiteral("x")));
        QVERIFY(!link.setHostAddress(QStringLiteral("127.0.0.2")));

        QCOMPARE(zoSend(link, "cmd"), tds8(3));
        QCOMPARE(nextDatagram(peer), QByteArray("cmd"));

        // Datagrams are passed on whole and in order; an empty one does not
        // hold up those behind it; 1000 bytes are not cut to a frame size.
        const QByteArray big(1000, '\x5a');
        for (const QByteArray &d : {QByteArray("one"), QByteArray(), QByteArray("two"), big})
            peer.writeDatagram(d, QHostAddress::LocalHost, link.boundPort());
        QTRY_COMPARE(rx.chunks.size(), 3);
        QCOMPARE(rx.chunks.at(0).bytes, QByteArray("one"));
        QCOMPARE(rx.chunks.at(1).bytes, QByteArray("two"));
        QCOMPARE(rx.chunks.at(2).bytes, big);
        QCOMPARE(rx.chunks.at(2).kind, ZoTestReceiver::Udp);

        QVERIFY(link.close());
        QVERIFY(!link.isOpen());
        QCOMPARE(zoSend(link, "late"), tds8(-1));
        QVERIFY(link.open()); // reopen the same object
        QCOMPARE(zoSend(link, "again"), tds8(5));
        QCOMPARE(nextDatagram(peer), QByteArray("again"));
    }

    void portAlreadyTaken()
    {
        QUdpSocket holder;
        QVERIFY(
            holder.bind(QHostAddress(QHostAddress::AnyIPv4), 0, QAbstractSocket::DontShareAddress));
        ZoPureUdpWapper link;
        QVERIFY(link.setHostAddress(QStringLiteral("127.0.0.1")));
        QVERIFY(link.setPort(holder.localPort()));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Fail to bind ")));
        QVERIFY(!link.open());
        QVERIFY(!link.isOpen());
        QVERIFY(link.setPort(70000));
        QVERIFY(!link.open());
    }

    void multicastGroup()
    {
        // Outside the namespace a group datagram would leave the machine.
        if (qEnvironmentVariable("TOLVANE_IN_NETNS") != QLatin1String("1"))
            QSKIP("multicast is only exercised inside the loopback-only namespace "
                  "(scripts/netns-run.sh)");
        const QHostAddress group(QStringLiteral("239.255.77.19"));
        {
            QUdpSocket probe;
            QVERIFY(probe.bind(
                QHostAddress(QHostAddress::AnyIPv4), 0, QAbstractSocket::ReuseAddressHint));
            if (!probe.joinMulticastGroup(group))
                QSKIP(qPrintable(
                    QStringLiteral("the kernel refuses to join %1 here (%2); run inside "
                                   "scripts/netns-run.sh, which routes 224.0.0.0/4 to lo")
                        .arg(group.toString(), probe.errorString())));
            probe.leaveMulticastGroup(group);
        }

        ZoPureUdpWapper link;
        ZoTestReceiver rx;
        link.addReceiver(&rx);
        QVERIFY(link.setHostAddress(group.toString()));
        QVERIFY(link.setPort(0));
        QVERIFY(link.open());

        // Nobody else is in the group yet: the datagram only arrives if the
        // link itself joined it.
        QUdpSocket sender;
        sender.setSocketOption(QAbstractSocket::MulticastLoopbackOption, 1);
        QVERIFY(sender.writeDatagram(QByteArray("from-group"), group, link.boundPort()) > 0);
        QTRY_COMPARE(rx.all(), QByteArray("from-group"));

        QUdpSocket peer;
        QVERIFY(
            peer.bind(QHostAddress(QHostAddress::AnyIPv4), 0, QAbstractSocket::ReuseAddressHint));
        QVERIFY(peer.joinMulticastGroup(group));
        link.hostPort = peer.localPort();
        QCOMPARE(zoSend(link, "to-group"), tds8(8));
        QCOMPARE(nextDatagram(peer), QByteArray("to-group"));
    }
};

QTEST_GUILESS_MAIN(TstZoPureUdpWapper)
#include "tst_zopureudpwapper.moc"
