#include "ZoPlaneConfig.h"
#include "ZoTestFiles.h"
#include "ZoTestSysConfig.h"
#include "ZoTvkInstance.h"

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>
#include <unistd.h>
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

        // Another working directory with bus nodes only: still its own
        // configuration folder, and the save lands there.
        QVERIFY(zoWriteFile(b.filePath(QStringLiteral("busdevcfg.xml")),
            "<cfg><tunex><NodeId>5</NodeId></tunex></cfg>"));
        QVERIFY(QDir::setCurrent(b.path()));
        QVERIFY(!tvk->loadSysConfig());
        QVERIFY(tvk->loadBusDevCfg());
        QCOMPARE(tvk->busDevCfg()->tunexNodeIds(), (QList<tdu1> {5}));
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

    // Which folder holds the configuration, from what the working directory
    // and the user's folder hold; the installation's defaults are copied
    // into a user's folder only where it lacks them, and saving link
    // settings writes into the folder chosen.
    void configFolderFollowsWhatIsThere_data()
    {
        QTest::addColumn<QStringList>("inWorkDir");
        QTest::addColumn<QStringList>("usersOwn");
        QTest::addColumn<bool>("readOnlyWorkDir");
        QTest::addColumn<bool>("perUser");
        const auto row = [](const char *name, const char *inWorkDir, const char *usersOwn,
                             bool readOnly, bool perUser) {
            const auto files = [](const char *s) {
                return QString::fromLatin1(s).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            };
            QTest::newRow(name) << files(inWorkDir) << files(usersOwn) << readOnly << perUser;
        };
        const char *both = "sysconfig.xml busdevcfg.xml";
        row("work dir with sysconfig.xml", "sysconfig.xml", "", false, false);
        row("work dir with bus nodes only", "busdevcfg.xml", "", false, false);
        row("empty work dir: user's folder made and seeded", "", "", false, true);
        row("user's own settings kept, bus nodes seeded", "", "sysconfig.xml", false, true);
        row("user's own files both kept", "", both, false, true);
        row("read-only folder with settings: the user's", both, "", true, true);
    }
    void configFolderFollowsWhatIsThere()
    {
        QFETCH(QStringList, inWorkDir);
        QFETCH(QStringList, usersOwn);
        QFETCH(bool, readOnlyWorkDir);
        QFETCH(bool, perUser);
        if (readOnlyWorkDir && ::geteuid() == 0)
            QSKIP("root writes to a read-only folder");
        QTemporaryDir root;
        const QString work = root.filePath(QStringLiteral("work"));
        const QString install = root.filePath(QStringLiteral("install"));
        const QString user = root.filePath(QStringLiteral("xdg/tolvane"));
        QVERIFY(QDir().mkpath(work));
        const QByteArray installedSys = sysconfig("ttyInstalled");
        const QByteArray installedBus = "<cfg><tunex><NodeId>7</NodeId></tunex></cfg>";
        QVERIFY(zoWriteFile(install + QStringLiteral("/sysconfig.xml"), installedSys));
        QVERIFY(zoWriteFile(install + QStringLiteral("/busdevcfg.xml"), installedBus));
        for (const QString &name : inWorkDir)
            QVERIFY(zoWriteFile(work + QLatin1Char('/') + name, "<cfg/>"));
        const QByteArray mine = sysconfig("ttyMine");
        for (const QString &name : usersOwn)
            QVERIFY(zoWriteFile(user + QLatin1Char('/') + name, mine));
        if (readOnlyWorkDir)
            QVERIFY(QFile::setPermissions(work, QFile::ReadOwner | QFile::ExeOwner));
        qputenv("XDG_CONFIG_HOME", root.filePath(QStringLiteral("xdg")).toLocal8Bit());
        ZoTvkInstance::setDefaultsDir(install);
        QVERIFY(QDir::setCurrent(work));
        auto restore = qScopeGuard([&] {
            QFile::setPermissions(work, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            ZoTvkInstance::setDefaultsDir(QString());
            qunsetenv("XDG_CONFIG_HOME");
            QDir::setCurrent(m_startDir);
        });

        const QString chosen = perUser ? user : work;
        QCOMPARE(ZoTvkInstance::configIsPerUser(), perUser);
        QCOMPARE(ZoTvkInstance::configDir(), chosen);
        QCOMPARE(ZoTvkInstance::sysConfigPath(), chosen + QStringLiteral("/sysconfig.xml"));
        QCOMPARE(ZoTvkInstance::busDevCfgPath(), chosen + QStringLiteral("/busdevcfg.xml"));
        QCOMPARE(QFileInfo::exists(user), perUser);
        if (perUser) {
            const QByteArray sysNow = zoReadFile(user + QStringLiteral("/sysconfig.xml"));
            const QByteArray busNow = zoReadFile(user + QStringLiteral("/busdevcfg.xml"));
            QCOMPARE(
                sysNow, usersOwn.contains(QStringLiteral("sysconfig.xml")) ? mine : installedSys);
            QCOMPARE(
                busNow, usersOwn.contains(QStringLiteral("busdevcfg.xml")) ? mine : installedBus);
            QVERIFY(QFileInfo(user + QStringLiteral("/sysconfig.xml")).isWritable());
        }

        ZoTvkInstance *tvk = ZoTvkInstance::instance();
        tvk->planeConfig()->host = QStringLiteral("127.0.0.9");
        QVERIFY(tvk->saveSysConfig());
        QVERIFY(zoReadFile(chosen + QStringLiteral("/sysconfig.xml"))
                    .contains("<host>127.0.0.9</host>"));
        QCOMPARE(zoReadFile(install + QStringLiteral("/sysconfig.xml")), installedSys);
        if (perUser) // the working directory's own files stay as they were
            QCOMPARE(QFileInfo::exists(work + QStringLiteral("/sysconfig.xml")),
                inWorkDir.contains(QStringLiteral("sysconfig.xml")));
        // The next start reads back what was saved, from the same folder.
        tvk->planeConfig()->host.clear();
        QVERIFY(tvk->loadSysConfig());
        QCOMPARE(tvk->planeConfig()->host, QStringLiteral("127.0.0.9"));
    }

    void cleanupTestCase() { QDir::setCurrent(m_startDir); }

private:
    static QByteArray sysconfig(const char *com)
    {
        return zoTestSysConfig(QStringLiteral("1|") + QLatin1String(com), QStringLiteral("en_US"));
    }

    QString m_startDir = QDir::currentPath();
};

QTEST_GUILESS_MAIN(tst_ZoTvkInstance)
#include "tst_zotvkinstance.moc"
