#include "ZoIpv4Address.h"

#include <QtTest>

class TstZoIpv4Address : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<uint>("value");
        QTest::newRow("plain") << "192.168.0.5" << true << 0xC0A80005u;
        QTest::newRow("all zero") << "0.0.0.0" << true << 0u;
        QTest::newRow("all 255") << "255.255.255.255" << true << 0xFFFFFFFFu;
        QTest::newRow("three-digit parts") << "100.200.250.199" << true << 0x64C8FAC7u;

        // One row per way of being refused: no digits between dots, too few or
        // too many parts, a part above 255 or of four digits, a character
        // that is neither digit nor dot, a leading zero.
        QTest::newRow("empty") << "" << false << 0u;
        QTest::newRow("empty part") << "1..2.3.4" << false << 0u;
        QTest::newRow("three parts") << "1.2.3" << false << 0u;
        QTest::newRow("five parts") << "1.2.3.4.5" << false << 0u;
        QTest::newRow("256") << "256.0.0.1" << false << 0u;
        QTest::newRow("four digits") << "1.2.3.1000" << false << 0u;
        QTest::newRow("leading blank") << " 1.2.3.4" << false << 0u;
        QTest::newRow("sign") << "1.2.3.+4" << false << 0u;
        QTest::newRow("hexadecimal") << "0x7f.0.0.1" << false << 0u;
        QTest::newRow("letter") << "1.2.3.a" << false << 0u;
        // Others read these as octal ("010" is 8): refused, not guessed.
        QTest::newRow("leading zero") << "01.2.3.4" << false << 0u;
        QTest::newRow("Arabic-Indic digit") << QString::fromUtf8("1.2.3.\u0664") << false << 0u;
        QTest::newRow("full-width dot") << QString::fromUtf8("1.2.3\uFF0E4") << false << 0u;
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(uint, value);
        tdu4 got = 0xDEADBEEF;
        QCOMPARE(ZoIpv4Address::parse(text, &got), ok);
        // A refused text leaves the output alone.
        QCOMPARE(uint(got), ok ? value : 0xDEADBEEFu);
        QCOMPARE(ZoIpv4Address::parse(text, nullptr), ok);
    }
};

QTEST_GUILESS_MAIN(TstZoIpv4Address)
#include "tst_zoipv4address.moc"
