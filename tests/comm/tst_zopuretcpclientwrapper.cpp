#include "ZoPureTCPClientWrapper.h"
#include "ZoTestReceiver.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

class TstZoPureTCPClientWrapper : public QObject
{
    Q_OBJECT

private:
    static void aimAt(ZoPureTCPClientWrapper &link, quint16 port)
    {
        QVERIFY(link.setName(QStringLiteral("127.0.0.1")));
        QVERIFY(link.setHostAddress(QStringLiteral("127.0.0.1")));
        QVERIFY(link.setPort(0));
        link.hostPort = port;
    }
    static std::unique_ptr<QTcpSocket> accept(QTcpServer &server)
    {
        if (!server.hasPendingConnections() && !server.waitForNewConnection(2000))
            return nullptr;
        std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
        if (peer)
            peer->setParent(nullptr);
        return peer;
    }

private Q_SLOTS:
    void connectExchangeAndPeerClose()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress(QHostAddress::LocalHost), 0));
        ZoPureTCPClientWrapper link;
        ZoTestReceiver rx;
        link.addReceiver(&rx);
        aimAt(link, server.serverPort());
        QSignalSpy spy(&link, &ZoPureTCPClientWrapper::sigOpenCommSucc);

        QCOMPARE(zoSend(link, "early"), tds8(-1));
        QVERIFY(link.open());
        QVERIFY(link.isOpen());
        QVERIFY(link.boundPort() != 0);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toBool(), true);
        QVERIFY(!link.setHostAddress(QStringLiteral("127.0.0.2")));
        auto peer = accept(server);
        QVERIFY(peer);

        QCOMPARE(zoSend(link, "cmd"), tds8(3));
        QVERIFY(peer->waitForReadyRead(2000));
        QCOMPARE(peer->readAll(), QByteArray("cmd"));

        // More than one read buffer's worth arrives complete and in order.
        QByteArray bulk(12000, Qt::Uninitialized);
        for (int i = 0; i < bulk.size(); ++i)
            bulk[i] = char(i % 251);
        peer->write(bulk);
        peer->flush();
        QTRY_COMPARE(rx.all().size(), bulk.size());
        QCOMPARE(rx.all(), bulk);
        for (const ZoTestReceiver::Chunk &c : qAsConst(rx.chunks)) {
            QVERIFY(c.bytes.size() <= ZoPureTCPClientWrapper::ReadBufferSize);
            QCOMPARE(c.kind, ZoTestReceiver::Tcp);
        }

        // The socket reports a peer's close as an error and as a
        // disconnection; the listener hears about it once.
        peer->close();
        QTRY_VERIFY(!link.isOpen());
        QTest::qWait(100);
        QCOMPARE(spy.size(), 2);
        QCOMPARE(spy.at(1).at(0).toBool(), false);
        QCOMPARE(zoSend(link, "dead"), tds8(-1));

        // The same object connects again.
        QVERIFY(link.open());
        QCOMPARE(spy.size(), 3);
        QCOMPARE(spy.at(2).at(0).toBool(), true);
    }

    void closingOnPurposeIsSilent()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress(QHostAddress::LocalHost), 0));
        quint16 fixedPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress(QHostAddress::LocalHost), 0));
            fixedPort = probe.serverPort();
        }
        ZoPureTCPClientWrapper link;
        aimAt(link, server.serverPort());
        QVERIFY(link.setPort(fixedPort));
        QVERIFY(link.open());
        QCOMPARE(link.boundPort(), fixedPort);
        auto peer = accept(server);
        QVERIFY(peer);
        QSignalSpy spy(&link, &ZoPureTCPClientWrapper::sigOpenCommSucc);
        QVERIFY(link.close());
        QVERIFY(!link.isOpen());
        QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
        QTest::qWait(50);
        QCOMPARE(spy.size(), 0);

        // Our side closed first, so the fixed port is held a while longer;
        // the reconnect goes out from another port and reports success only.
        QVERIFY(link.open());
        QTest::qWait(50);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toBool(), true);
    }

    void openFails_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("reports"); // sigOpenCommSucc(false), at most once
        QTest::newRow("nobody listening") << false << "127.0.0.1" << 1;
        // A refused address replaces the good one: no attempt, nothing to report.
        QTest::newRow("malformed address") << true << "127.0.0.300" << 0;
    }
    void openFails()
    {
        QFETCH(bool, listening);
        QFETCH(QString, address);
        auto server = std::make_unique<QTcpServer>();
        QVERIFY(server->listen(QHostAddress(QHostAddress::LocalHost), 0));
        ZoPureTCPClientWrapper link;
        aimAt(link, server->serverPort());
        if (!listening)
            server.reset();
        QCOMPARE(link.setHostAddress(address), address == QLatin1String("127.0.0.1"));
        QSignalSpy spy(&link, &ZoPureTCPClientWrapper::sigOpenCommSucc);
        QVERIFY(!link.open());
        QVERIFY(!link.isOpen());
        QVERIFY(!server || !server->waitForNewConnection(100));
        QTest::qWait(50);
        QTEST(spy.size(), "reports");
        for (const QList<QVariant> &args : qAsConst(spy))
            QCOMPARE(args.at(0).toBool(), false);
    }
};

QTEST_GUILESS_MAIN(TstZoPureTCPClientWrapper)
#include "tst_zopuretcpclientwrapper.moc"
