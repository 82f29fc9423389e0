#include "ZoTypes.h"

#include <QtTest>

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
};

QTEST_GUILESS_MAIN(tst_ZoTypes)
#include "tst_zotypes.moc"
