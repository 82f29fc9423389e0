// The aircraft simulator's bytes on the wire, checked against frames worked
// out by hand (CRCs included), driven in-process.

#include "AcSimRig.h"
#include "ZoTestFiles.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QtTest>

namespace {

QString sha256(const QByteArray &b)
{
    return QString::fromLatin1(QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex());
}

} // namespace

class tst_AcSimWire : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aesKnownAnswer()
    {
        // FIPS-197 appendix C.1; a tail shorter than a block stays as it is.
        const QByteArray key = hexBytes("000102030405060708090a0b0c0d0e0f");
        QByteArray block = hexBytes("69c4e0d86a7b0430d8cdb78070b4c55a");
        ZoSimAes aes;
        aes.setKey(reinterpret_cast<const uint8_t *>(key.constData()));
        QCOMPARE(aes.decrypt(reinterpret_cast<uint8_t *>(block.data()), 16), size_t(16));
        QCOMPARE(block, hexBytes("00112233445566778899aabbccddeeff"));
        QByteArray partial(20, 'x');
        QCOMPARE(aes.decrypt(reinterpret_cast<uint8_t *>(partial.data()), 20), size_t(16));
        QCOMPARE(partial.mid(16), QByteArray(4, 'x'));
    }

    void applicationReplies_data()
    {
        QTest::addColumn<int>("addressMode");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        // Requests as the program frames them: sequence sub-message, then the command.
        QTest::newRow("version") << 0 << kVersionRequest << kVersionReply;
        QTest::newRow("compile time") << 0 << appRequest(hexBytes("10 02 02 00 E3 01 00"))
                                      << hexBytes("AB 0E 0B E3 07 E8 07 05 11 0D 2D 09 37 D7");
        QTest::newRow("identity") << 0 << appRequest(hexBytes("10 02 03 00 EB 02 00 00"))
                                  << hexBytes("AB 0E 08 EB 04 00 11 AA BB 01 86");
        QTest::newRow("8-byte address")
            << 8 << kVersionRequest
            << hexBytes("AB 0E 12 00 08 00 00 00 00 04 03 02 01 E2 04 50 02 13 03 39 DF");
        QTest::newRow("4-byte address")
            << 4 << kVersionRequest
            << hexBytes("AB 0E 0E 00 04 04 03 02 01 E2 04 50 02 13 03 78 3F");
        // The program puts the captured address in front of later requests.
        QTest::newRow("addressed request")
            << 8 << appRequest(hexBytes("00 08 04 03 02 01 00 00 00 00 10 02 07 00 E2 01 00"))
            << hexBytes("AB 0E 12 00 08 00 00 00 00 04 03 02 01 E2 04 50 02 13 03 39 DF");
    }
    void applicationReplies()
    {
        QFETCH(int, addressMode);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        ZoSimScenario sc = rigScenario();
        sc.addressMode = addressMode;
        AcSimRig rig(sc);
        // Split in two chunks: the frame is assembled across reads.
        rig.send(request.left(4));
        QVERIFY(rig.out.isEmpty());
        rig.send(request.mid(4));
        QCOMPARE(rig.take().toHex(' '), reply.toHex(' '));
        const QList<QJsonObject> req = rig.eventsOf(QStringLiteral("request"));
        QCOMPARE(req.size(), 1);
        QVERIFY(req.first().contains(QStringLiteral("seq")));
        if (QByteArray(QTest::currentDataTag()) == "addressed request")
            QVERIFY(req.first().value(QStringLiteral("addressOk")).toBool());
    }

    void badCrcIgnoredAndCounted()
    {
        AcSimRig rig(rigScenario());
        QByteArray bad = kVersionRequest;
        bad[10] = char(0x08);
        // Rubbish, then a false header whose length swallows the start of the bad
        // frame, then a good frame right behind the bad one: the parser steps back
        // into each failed frame and still finds the good one.
        rig.send(QByteArray(300, '\0') + hexBytes("AB 0E 05") + bad + kVersionRequest);
        QCOMPARE(rig.aircraft->badCrcFrames(), 2);
        QCOMPARE(rig.take(), kVersionReply);
        QVERIFY(rig.out.isEmpty());
        QCOMPARE(rig.eventsOf(QStringLiteral("badCrc")).size(), 2);
    }

    // The bootloader is silent; leaving it restarts the application, which loses
    // what arrives while it boots.
    void bootloaderSilencesApplication()
    {
        ZoSimScenario sc = rigScenario();
        sc.telemetryMs = 10;
        sc.rebootMs = 150;
        AcSimRig rig(sc);
        QCOMPARE(rig.take(500).left(4), hexBytes("AB 0E 0C A1"));
        rig.send(appRequest(hexBytes("E1 08 00 00 00 00 00 00 00 00")));
        QCOMPARE(rig.aircraft->core()->state(), ZoSimDevice::State::Bootloader);
        QTest::qWait(50);
        rig.out.clear();
        rig.send(kVersionRequest);
        QTest::qWait(60);
        QVERIFY2(rig.out.isEmpty(), "neither telemetry nor replies from the bootloader");

        rig.send(hexBytes("EB 90 06 FF FF 50"));
        QElapsedTimer t;
        t.start();
        QCOMPARE(rig.aircraft->core()->state(), ZoSimDevice::State::Application);
        rig.send(kVersionRequest);
        QCOMPARE(rig.take(1000).left(4), hexBytes("AB 0E 0C A1"));
        QVERIFY2(t.elapsed() >= 140, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(rig.eventsOf(QStringLiteral("request")).size(), 2); // enter and leave only
        rig.send(appRequest(hexBytes("E1 00"))); // the short form enters too
        QCOMPARE(rig.aircraft->core()->state(), ZoSimDevice::State::Bootloader);
    }

    void coreBootloaderTransfer()
    {
        QTemporaryDir dump;
        AcSimRig rig(rigScenario());
        rig.aircraft->setDumpDir(dump.path());
        rig.send(appRequest(hexBytes("E1 08 00 00 00 00 00 00 00 00")));

        const uint8_t newVersion[4] = {80, 2, 20, 1};
        const uint8_t newTime[7] = {0xE9, 0x07, 2, 3, 4, 5, 6};
        const QByteArray image = testImage(300, 1);
        const QByteArray header = firmwareHeader(300, newVersion, newTime);
        const QByteArray key = hexBytes("00112233445566778899AABBCCDDEEFF");

        QElapsedTimer t;
        t.start();
        rig.send(bootRequest('!', keyPayload(key, header)));
        QCOMPARE(rig.take(), hexBytes("EB 90 07 7F 58 81 21"));
        QVERIFY(t.elapsed() >= 19);

        QByteArray padded = image + QByteArray(384 - 300, '\xFF');
        for (int off = 0; off <= 384; off += 128) {
            const QByteArray chunk = off < 384 ? padded.mid(off, 128) : QByteArray(128, '\0');
            const QByteArray idx = QByteArray().append(char(off / 32)).append(char(0));
            rig.send(bootRequest('1', idx + encrypt(key, chunk)));
            const QByteArray ack = rig.take();
            QCOMPARE(ack.mid(5), hexBytes("81 31") + idx);
            if (off < 256)
                QCOMPARE(
                    ack.left(5), off ? hexBytes("EB 90 09 22 CF") : hexBytes("EB 90 09 20 0F"));
        }

        rig.send(hexBytes("EB 90 06 FF FF 22"));
        const QByteArray params = rig.take();
        QCOMPARE(params.size(), 55);
        QCOMPARE(params.left(3), hexBytes("EB 90 37"));
        QCOMPARE(params.mid(5, 2), hexBytes("81 22"));
        QCOMPARE(params.mid(7 + 22, 4), hexBytes("50 02 13 03")); // still the running firmware
        const uint16_t crc
            = ZoSimCrc::modbus(reinterpret_cast<const uint8_t *>(params.constData()) + 6, 49);
        QCOMPARE(uint8_t(params[3]), uint8_t(crc & 0xFF));

        rig.send(hexBytes("EB 90 06 FF FF 50"));
        QCOMPARE(rig.aircraft->core()->state(), ZoSimDevice::State::Application);
        const QList<QJsonObject> v = rig.eventsOf(QStringLiteral("verify"));
        QCOMPARE(v.size(), 1);
        QCOMPARE(
            zoFields(v[0], "imageSize gaps outOfOrder resends blocksBeyondImage headerVersion"),
            QStringLiteral("300 0 0 0 1 80:2.20.1"));
        QCOMPARE(zoText(v[0], "sha256"), sha256(image));
        QCOMPARE(zoReadFile(zoText(v[0], "dumped")), image);

        // The new firmware answers with the header's version and compile time.
        rig.send(kVersionRequest);
        QCOMPARE(rig.take().mid(3, 6), hexBytes("E2 04 50 02 14 01"));
        rig.send(appRequest(hexBytes("E3 01 00")));
        QCOMPARE(rig.take().mid(3, 9), hexBytes("E3 07 E9 07 02 03 04 05 06"));
    }

    void verificationReportsOrderGapsResends()
    {
        AcSimRig rig(rigScenario());
        rig.send(appRequest(hexBytes("E1 08 00 00 00 00 00 00 00 00")));
        const uint8_t ver[4] = {80, 3, 0, 0};
        const uint8_t tm[7] = {0xE9, 0x07, 1, 1, 1, 1, 1};
        const QByteArray key = hexBytes("0F0E0D0C0B0A09080706050403020100");
        rig.send(bootRequest('#', keyPayload(key, firmwareHeader(512, ver, tm)))); // key mode
        QVERIFY(!rig.take().isEmpty());
        // Blocks at 0, 256 (skips 128), 256 again, 384; 128 never comes.
        for (int off : {0, 256, 256, 384}) {
            QByteArray idx;
            idx.append(char(off / 32)).append(char(0));
            rig.send(bootRequest('2', idx + encrypt(key, testImage(128, off))));
            QCOMPARE(rig.take().mid(5, 2), hexBytes("81 32"));
        }
        rig.send(hexBytes("EB 90 06 FF FF 50"));
        const QJsonObject v = rig.eventsOf(QStringLiteral("verify")).value(0);
        QCOMPARE(zoFields(v, "blocks outOfOrder resends gaps complete"),
            QStringLiteral("4 1 1 1 false"));
        QCOMPARE(v.value(QStringLiteral("gapRanges")).toArray().at(0).toArray(),
            (QJsonArray {128, 256}));
    }

    void moduleVersionQueries_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("CAN 0x0F0 to kind 2")
            << canSend(0x80F0, hexBytes("26 10 FF FF 00 00 00 00"))
            << hexBytes("AB 0E 0E 5F 0A F1 00 26 10 34 12 03 01 00 00 6D 8A");
        QTest::newRow("BUS 0xFA to kind 4") << busSend(0xFA,
            hexBytes("4D 01")) << hexBytes("AB 0E 0E 9B 0A A0 FA 4D 81 34 12 01 00 04 00 22 CE");
        QTest::newRow("unknown module") << busSend(0xFA, hexBytes("4D 07")) << QByteArray();
    }
    void moduleVersionQueries()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        AcSimRig rig(rigScenario());
        rig.send(request);
        QCOMPARE(rig.take(reply.isEmpty() ? 50 : 1000).toHex(' '), reply.toHex(' '));
    }

    void moduleTransfer_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QByteArray>("enter");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("eraseAck");
        QTest::addColumn<QByteArray>("secondBlockAck");
        const QByteArray key6 = hexBytes("6A 0C E3 51 97 4B");
        QTest::newRow("kind 2, long form on 0x6F1")
            << "38.0" << canSend(0x06F0, hexBytes("26 00 00 00 00 00 00 00")) << 2
            << hexBytes("AB 0E 09 5F 05 F1 06 81 21 00 11 1F")
            << hexBytes("AB 0E 0A 5F 06 F1 06 81 31 02 00 F8 59");
        QTest::newRow("kind 3, short form on 0x6F1")
            << "79.2" << canSend(0x06F8, hexBytes("4F 02") + key6) << 3
            << hexBytes("AB 0E 0A 5F 06 F1 06 4F 02 21 00 2F 8E")
            << hexBytes("AB 0E 0C 5F 08 F1 06 4F 02 31 02 02 00 6A DC");
        QTest::newRow("kind 4, short form on 0xFC")
            << "77.1" << busSend(0xFB, hexBytes("4D 01") + key6) << 4
            << hexBytes("AB 0E 0A 9B 06 A0 FC 4D 01 21 00 06 00")
            << hexBytes("AB 0E 0C 9B 08 A0 FC 4D 01 31 02 02 00 F5 28");
    }
    void moduleTransfer()
    {
        QFETCH(QString, device);
        QFETCH(QByteArray, enter);
        QFETCH(int, kind);
        QFETCH(QByteArray, eraseAck);
        QFETCH(QByteArray, secondBlockAck);
        AcSimRig rig(rigScenario());
        const uint8_t type = uint8_t(device.section(QLatin1Char('.'), 0, 0).toUInt());
        const uint8_t node = uint8_t(device.section(QLatin1Char('.'), 1, 1).toUInt());
        ZoSimDevice *m = rig.aircraft->module(type, node);
        QVERIFY(m);
        rig.send(enter);
        QCOMPARE(m->state(), ZoSimDevice::State::Bootloader);

        // Kind 4 speaks on bus selector 0xFC, the others on CAN; kinds 3 and 4 put
        // the module's address in front of their commands.
        const QByteArray addr = QByteArray().append(char(type)).append(char(node));
        auto to = [&](uint16_t canWord, const QByteArray &payload, int waitMs = 1000) {
            rig.send(kind == 4 ? busSend(0xFC, payload) : canSend(canWord, payload));
            return rig.take(waitMs);
        };
        const QByteArray report
            = to(0x06F1, kind == 2 ? hexBytes("22") : addr + hexBytes("41 00 00 00 00 00"));
        if (kind == 2) {
            QCOMPARE(report.mid(3, 6), hexBytes("5F 34 F2 06 81 22")); // 50-byte payload on 0x6F2
            QCOMPARE(report.mid(7 + 24, 4),
                QByteArray().append(char(type)).append(hexBytes("03 01 00")));
        } else {
            QCOMPARE(report.right(10).left(8),
                addr + hexBytes("41 04") + QByteArray().append(char(type))
                    + m->versionBytes().mid(1));
        }

        const uint8_t ver[4] = {type, 9, 8, 7};
        const uint8_t tm[7] = {0xE9, 0x07, 1, 1, 1, 1, 1};
        const QByteArray key = hexBytes("A0A1A2A3A4A5A6A7A8A9AAABACADAEAF");
        const QByteArray kp = keyPayload(key, firmwareHeader(128, ver, tm));
        // Kinds 3 and 4 get the addressed key frame, kind 2 the bare one.
        QCOMPARE(
            to(0x06F2, kind == 2 ? QByteArray("!") + kp : addr + hexBytes("21 30") + kp).toHex(' '),
            eraseAck.toHex(' '));

        const QByteArray image = testImage(128, 7);
        for (int off = 0; off <= 128; off += 64) {
            const QByteArray data
                = encrypt(key, off < 128 ? image.mid(off, 64) : QByteArray(64, '\0'));
            const QByteArray idx = QByteArray().append(char(off / 32)).append(char(0));
            // Kind 3 carries addressed data frames (0x42: their length); 2 and 4 bare ones.
            const QByteArray ack
                = to(0x06F2, (kind == 3 ? addr + hexBytes("31 42") : QByteArray("1")) + idx + data);
            if (off == 64)
                QCOMPARE(ack.toHex(' '), secondBlockAck.toHex(' '));
            else
                QVERIFY(!ack.isEmpty());
        }
        to(0x06F1, kind == 2 ? hexBytes("50") : addr + hexBytes("50 00 00 00 00 00"), 0);
        QCOMPARE(m->state(), ZoSimDevice::State::Application);
        const QJsonObject v = rig.eventsOf(QStringLiteral("verify")).value(0);
        QCOMPARE(
            zoFields(v, "dev complete sha256"), device + QLatin1String(" true ") + sha256(image));
        QCOMPARE(m->versionBytes(), QByteArray().append(char(type)).append(hexBytes("09 08 07")));
        QCOMPARE(zoFields(rig.eventsOf(QStringLiteral("image")).value(0), "dev why headerType"),
            QStringLiteral("%1 complete %2").arg(device).arg(type));
    }
};

QTEST_GUILESS_MAIN(tst_AcSimWire)
#include "tst_acsimwire.moc"
