// The cloud client with its real timeout and size limit, against the cloud
// simulator sending firmware files the way a poor link does. Slow by nature
// (a timeout of 10 s must pass), so apart from the other cloud client tests,
// and the slow cases run side by side.

#include "ZoTestCloudClient.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

namespace {

// One client on its own simulator, whose catalogue's only entry is fid 4
// with firmware file fw4.bin.
struct Download
{
    ZoTestCloudSim sim;
    std::unique_ptr<ZoTestCloudClient> client;

    bool serve(const QByteArray &firmware)
    {
        const QJsonObject entry {{"fid", 4}, {"version", "2.1.9"}, {"upgradeFile", "fw4.bin"}};
        return zoWriteCatalogue(sim, QJsonArray {entry})
            && sim.writeFile(QStringLiteral("files/fw4.bin"), firmware);
    }

    // The client keeps its own timeout.
    bool start(const QString &fault = QString())
    {
        if (!sim.start(
                false, fault.isEmpty() ? QStringList() : QStringList {"/files/fw4.bin:" + fault}))
            return false;
        client = std::make_unique<ZoTestCloudClient>(sim);
        client->helper.requestFirmware(4, 1, QString());
        return true;
    }

    bool ended() const { return client && client->resultAtMs >= 0; }
};

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(size).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

} // namespace

class tst_ZoNimbraHttpHelperField : public QObject
{
    Q_OBJECT

private slots:
    // A 3 MiB file at 280000 bytes/s takes about 11 s, more than the timeout,
    // and is never silent for more than 100 ms: it must arrive. Beside it, a
    // file that stops after its first MiB must end with the firmware timeout,
    // and not before 10 s have passed.
    void slowAndStalledDownloads()
    {
        QCOMPARE(ZoNimbraHttpHelper::DefaultTimeoutMs, 10000);
        const QByteArray firmware = randomBytes(3 * 1024 * 1024);
        Download slow;
        Download stalled;
        QVERIFY(slow.serve(firmware));
        QVERIFY(stalled.serve(firmware));
        QVERIFY(slow.start(QStringLiteral("rate=280000")));
        QVERIFY(stalled.start(QStringLiteral("stall=60,stallAt=1048576")));

        QTRY_VERIFY_WITH_TIMEOUT(slow.ended() && stalled.ended(), 40000);

        const ZoTestCloudClient &s = *slow.client;
        QCOMPARE(s.events, (QStringList {"file 4", "result 1 4"}));
        QVERIFY2(s.resultAtMs > 10500, qPrintable(QString::number(s.resultAtMs)));
        QVERIFY(s.files.at(0).bytes() == firmware);

        const qint64 stalledAt = stalled.client->resultAtMs;
        QCOMPARE(stalled.client->events, QStringList {"result 0 3"});
        QVERIFY2(stalledAt >= 10000 && stalledAt < 14000, qPrintable(QString::number(stalledAt)));
    }

    void oversizedFileRefused_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("log");
        // 65 MiB: announced, or found out while it comes.
        QTest::newRow("Content-Length")
            << QString() << "/files/fw4.bin announcing 68157440 bytes, more than 67108864";
        // The whole file, then silence instead of the end of the reply: only a
        // refusal while it comes gives the failure result rather than the timeout.
        QTest::newRow("no Content-Length") << "chunked,stall=60,stallAt=68157440"
                                           << "/files/fw4.bin past";
    }
    void oversizedFileRefused()
    {
        QFETCH(QString, fault);
        QFETCH(QString, log);

        Download big;
        QVERIFY(big.serve(QByteArray()));
        {
            // Sparse: the test does not hold the file itself.
            QFile file(big.sim.filePath("files/fw4.bin"));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.resize(ZoNimbraHttpHelper::MaxReplyBytes + 1024 * 1024));
        }
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(QStringLiteral("^ZoNimbraHttpHelper::download refuse http://.*")
                + QRegularExpression::escape(log)));

        QVERIFY(big.start(fault));
        QTRY_VERIFY_WITH_TIMEOUT(big.ended(), 30000);
        QCOMPARE(big.client->events, QStringList {"result 0 1"});
        QVERIFY(big.client->files.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_ZoNimbraHttpHelperField)
#include "tst_zonimbrahttphelper_field.moc"
