#include "ZoTypes.h"

#include <QtTest>
#include <cstring>

class tst_ZoTypes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void versionOrderIgnoresTypeByte()
    {
        const tVersion a {44, 2, 20, 0};
        const tVersion b {45, 2, 20, 0};
        QVERIFY(a == b);
        const tVersion older {44, 2, 19, 255};
        QVERIFY(older < a);
        QVERIFY(tVersion({0, 1, 255, 255}) < tVersion({0, 2, 0, 0}));
        QVERIFY(tVersion({0, 2, 0, 1}) > tVersion({0, 2, 0, 0}));
    }

    void wireLayout()
    {
        const unsigned char bytes[7] = {0xE9, 0x07, 12, 6, 21, 30, 59};
        tFcsDateTime t;
        std::memcpy(&t, bytes, sizeof t);
        QCOMPARE(int(t.year), 2025);
        QCOMPARE(int(t.month), 12);
        QCOMPARE(int(t.second), 59);
        const unsigned char vb[4] = {44, 2, 20, 7};
        tVersion v;
        std::memcpy(&v, vb, sizeof v);
        QCOMPARE(int(v.type), 44);
        QCOMPARE(int(v.revision), 7);
    }
};

QTEST_GUILESS_MAIN(tst_ZoTypes)
#include "tst_zotypes.moc"
