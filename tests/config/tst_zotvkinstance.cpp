#include "ZoPlaneConfig.h"
#include "ZoTestFiles.h"
#include "ZoTvkInstance.h"

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

class tst_ZoTvkInstance : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Must stay first: nothing may have touched the singleton before it.
    void firstUseFromManyThreads()
    {
        constexpr int threadCount = 8;
        std::atomic<bool> go {false};
        std::vector<ZoTvkInstance *> seen(threadCount, nullptr);
        std::vector<std::thread> threads;
        for (int i = 0; i < threadCount; ++i) {
            threads.emplace_back([&, i] {
                while (!go.load())
                    std::this_thread::yield();
                seen[size_t(i)] = ZoTvkInstance::instance();
            });
        }
        go = true;
        for (auto &t : threads)
            t.join();
        for (ZoTvkInstance *p : seen)
            QCOMPARE(p, ZoTvkInstance::instance());
        QVERIFY(ZoTvkInstance::instance()->planeConfig() != nullptr);
    }

    void filesFollowWorkingDirectory()
    {
        ZoTvkInstance *tvk = ZoTvkInstance::instance();
        QTemporaryDir a;
        QTemporaryDir b;
        QVERIFY(a.isValid() && b.isValid());
        const QByteArray sysA = "<config><connection type=\"1\"><com>ttyA</com></connection>"
                                "<lan isset=\"1\" language=\"en_US\"/>"
                                "<ignoreDevices><devId>44</devId></ignoreDevices></config>";
        QVERIFY(zoWriteFile(a.filePath(QStringLiteral("sysconfig.xml")), sysA));
        QVERIFY(zoWriteFile(a.filePath(QStringLiteral("busdevcfg.xml")),
            "<cfg><tunex><NodeId>1</NodeId><NodeId>2</NodeId></tunex></cfg>"));

        QVERIFY(QDir::setCurrent(a.path()));
        QVERIFY(tvk->loadSysConfig());
        QCOMPARE(tvk->language(), QStringLiteral("en_US"));
        QCOMPARE(tvk->planeConfig()->com, QStringLiteral("ttyA"));
        QVERIFY(tvk->isIgnoredDevice(44));
        QVERIFY(!tvk->isIgnoredDevice(46));
        QVERIFY(tvk->loadBusDevCfg());
        QCOMPARE(tvk->busDevCfg()->tunexNodeIds(), (QList<tdu1> {1, 2}));

        // The language is changed in memory only until the next save.
        tvk->setLanguage(QStringLiteral("zh_CN"));
        QCOMPARE(tvk->language(), QStringLiteral("zh_CN"));
        QCOMPARE(zoReadFile(a.filePath(QStringLiteral("sysconfig.xml"))), sysA);

        // Another working directory: nothing to load there, and the save lands there.
        QVERIFY(QDir::setCurrent(b.path()));
        QVERIFY(!tvk->loadSysConfig());
        QVERIFY(!tvk->loadBusDevCfg());
        tvk->planeConfig()->com = QStringLiteral("ttyB");
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("doesn't exist!$")));
        QVERIFY(tvk->saveSysConfig());
        QCOMPARE(zoReadFile(a.filePath(QStringLiteral("sysconfig.xml"))), sysA);
        const QByteArray sysB = zoReadFile(b.filePath(QStringLiteral("sysconfig.xml")));
        QVERIFY(sysB.contains("<com>ttyB</com>"));
        QVERIFY(sysB.contains("language=\"zh_CN\""));
        QVERIFY(sysB.contains("<devId>44</devId>"));
        QVERIFY(QDir::setCurrent(m_startDir));
    }

    void storeFromManyThreads()
    {
        // Each thread replaces its own fid over and over while reading the
        // others'; the mutex keeps the map whole and every replaced buffer is
        // freed exactly once (the sanitizer build checks the latter).
        constexpr int threadCount = 4;
        constexpr int rounds = 500;
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back([t] {
                ZoTvkInstance *tvk = ZoTvkInstance::instance();
                for (int r = 1; r <= rounds; ++r) {
                    ZoFRMFileInfo info;
                    info.fid = tdu1(100 + t);
                    info.setDataCopy(QByteArray(r % 64 + 1, char(t)));
                    tvk->setFRMFileInfo(info);
                    bool found = false;
                    tvk->getFRMFileInfo(tdu4(100 + (t + 1) % threadCount), found);
                }
            });
        }
        for (auto &t : threads)
            t.join();
        for (int t = 0; t < threadCount; ++t) {
            bool found = false;
            const ZoFRMFileInfo info
                = ZoTvkInstance::instance()->getFRMFileInfo(tdu4(100 + t), found);
            QVERIFY(found);
            QCOMPARE(info.size, tdu4(rounds % 64 + 1));
            QCOMPARE(info.data[0], tdu1(t));
        }
    }

    void cleanupTestCase() { QDir::setCurrent(m_startDir); }

private:
    QString m_startDir = QDir::currentPath();
};

QTEST_GUILESS_MAIN(tst_ZoTvkInstance)
#include "tst_zotvkinstance.moc"
