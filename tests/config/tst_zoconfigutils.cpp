#include "ZoConfigUtils.h"
#include "ZoPlaneConfig.h"
#include "ZoTestFiles.h"
#include "ZoTestPlaneConfig.h"
#include "ZoTestSysConfig.h"

#include <QDomDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

// Every field differs from the defaults, so a field the load left alone shows.
const QString sentinel = QStringLiteral("1|S|1|2|3|4|h|5|6|t|7|8");
const QString tcp = QStringLiteral("2|COM3|57600|7|2|3|127.0.0.1|14550|14551|127.0.0.2|5760|5761");

QString dataFile(const char *name)
{
    return QStringLiteral(TOLVANE_TEST_DATA_DIR "/config/") + QLatin1String(name);
}

class RefusingWriter : public ZoConfigUtils
{
public:
    bool write(QDomElement &, QDomDocument &) override { return false; }
};

} // namespace

class tst_ZoConfigUtils : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void planeConfigLoad_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("expected"); // starting from the sentinel

        QTest::newRow("tcp, all eleven") << tcp << true << tcp;
        QTest::newRow("empty com, parity truncated")
            << "2||57600|7|258|3|127.0.0.1|14550|14551|127.0.0.2|5760|5761" << true
            << "2||57600|7|2|3|127.0.0.1|14550|14551|127.0.0.2|5760|5761";
        QTest::newRow("no type") << "~" + tcp.mid(1) << false << sentinel;
        QTest::newRow("type not a number")
            << "udp" + tcp.mid(1) << false << "0|S|1|2|3|4|h|5|6|t|7|8";
        QTest::newRow("type 300 wraps to 44, past the last, keeps the fields")
            << "300" + tcp.mid(1) << false << "44|S|1|2|3|4|h|5|6|t|7|8";
        QTest::newRow("baud abc stores 0, stops")
            << "1|COM3|abc|7|2|3|a|1|1|b|1|1" << false << "1|COM3|0|2|3|4|h|5|6|t|7|8";
        QTest::newRow("missing host stops")
            << "0|COM3|9600|7|2|1|~|1|1|b|1|1" << false << "0|COM3|9600|7|2|1|h|5|6|t|7|8";
    }
    void planeConfigLoad()
    {
        QFETCH(QString, xml);

        QDomDocument doc;
        QVERIFY(doc.setContent(zoTestConnectionXml(xml)));
        ZoPlaneConfig config = zoLinkFromFields(sentinel);
        QTEST(config.load(doc.documentElement()), "result");
        QTEST(zoLinkFields(config), "expected");
    }

    void applyLink_data()
    {
        QTest::addColumn<QString>("used");
        QTest::addColumn<QString>("expected"); // starting from the sentinel

        // `tcp` with another type: only that type's fields come across.
        QTest::newRow("udp") << "0" + tcp.mid(1) << "0|S|1|2|3|4|127.0.0.1|14550|14551|t|7|8";
        QTest::newRow("serial") << "1" + tcp.mid(1) << "1|COM3|57600|7|2|3|h|5|6|t|7|8";
        QTest::newRow("tcp client") << tcp << "2|S|1|2|3|4|h|5|6|127.0.0.2|5760|5761";
        QTest::newRow("type 3 changes nothing") << "3" + tcp.mid(1) << sentinel;
    }
    void applyLink()
    {
        QFETCH(QString, used);

        ZoPlaneConfig config = zoLinkFromFields(sentinel);
        config.applyLink(zoLinkFromFields(used));
        QTEST(zoLinkFields(config), "expected");
    }

    void loadConfig_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file; "<folder>": a folder in its place
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("language"); // before: "xx_XX"
        QTest::addColumn<QList<tds4>>("ignore"); // before: {7}
        QTest::addColumn<int>("type"); // before: 0
        QTest::addColumn<bool>("malformed");

        const QString xx = QStringLiteral("xx_XX");
        const QString en = QStringLiteral("en_US");
        const QList<tds4> seven {7};
        const QByteArray conn = zoTestConnectionXml(tcp);
        const QByteArray lanEn = "<lan isset=\"1\" language=\"en_US\"/>";
        auto cfg = [](const QByteArray &body) {
            return "<?xml version=\"1.0\"?><config>" + body + "</config>";
        };
        auto ids
            = [](const QByteArray &body) { return "<ignoreDevices>" + body + "</ignoreDevices>"; };

        QTest::newRow("missing file") << QByteArray() << false << xx << seven << 0 << false;
        // A folder cannot be read as a file, even by root.
        QTest::newRow("unreadable") << QByteArray("<folder>") << false << xx << seven << 0 << false;
        QTest::newRow("truncated")
            << cfg(conn + lanEn).left(120) << false << xx << seven << 0 << true;
        QTest::newRow("connection, no lan") << cfg(conn) << false << xx << seven << 2 << false;
        QTest::newRow("isset 0: system locale")
            << cfg(conn + "<lan isset=\"0\" language=\"en_US\"/>") << true
            << QLocale::system().name() << seven << 2 << false;
        QTest::newRow("isset, no language")
            << cfg("<lan isset=\"1\"/>") << true << QString() << seven << 0 << false;
        QTest::newRow("duplicate ids dropped")
            << cfg(lanEn + ids("<devId>44</devId><devId>44</devId><devId>46</devId>")) << true << en
            << QList<tds4> {44, 46} << 0 << false;
        QTest::newRow("ids not numbers give 0")
            << cfg(lanEn + ids("<devId>x</devId><devId>-5</devId><devId/><other>9</other>")) << true
            << en << QList<tds4> {0, -5} << 0 << false;
        QTest::newRow("empty ignoreDevices clears")
            << cfg(lanEn + "<ignoreDevices/>") << true << en << QList<tds4> {} << 0 << false;
        QTest::newRow("bad link field, language still loads")
            << cfg("<connection type=\"1\"><com>COM1</com><baud>x</baud></connection>" + lanEn)
            << true << en << seven << 1 << false;
    }
    void loadConfig()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, language);
        QFETCH(int, type);
        QFETCH(bool, malformed);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sysconfig.xml"));
        if (content == "<folder>") {
            QVERIFY(QDir().mkdir(path));
            QTest::ignoreMessage(QtWarningMsg, "Couldn't open load file.");
        } else if (!content.isNull()) {
            QVERIFY(zoWriteFile(path, content));
        }
        if (malformed) {
            QTest::ignoreMessage(QtDebugMsg,
                QRegularExpression(QStringLiteral("^Fail to setContent: .+, \\d+, \\d+$")));
        }
        ZoConfigUtils utils;
        utils.setLanguage(QStringLiteral("xx_XX"));
        utils.setIgnoreDevices({7});
        QTEST(utils.loadConfig(path), "result");
        QCOMPARE(utils.language(), language);
        QTEST(utils.ignoreDevices(), "ignore");
        QCOMPARE(int(utils.planeConfig()->type), type);
    }

    void saveByteExact_data()
    {
        QTest::addColumn<QString>("expectedFile");
        QTest::addColumn<bool>("defaults");
        QTest::newRow("tcp, ignore list with a duplicate")
            << dataFile("sysconfig_tcp.xml") << false;
        QTest::newRow("defaults, no ignoreDevices") << dataFile("sysconfig_defaults.xml") << true;
    }
    void saveByteExact()
    {
        QFETCH(QString, expectedFile);
        QFETCH(bool, defaults);

        ZoConfigUtils utils;
        if (!defaults) {
            *utils.planeConfig() = zoLinkFromFields(tcp);
            utils.setLanguage(QStringLiteral("en_US"));
            utils.setIgnoreDevices({44, 44, 46});
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sysconfig.xml"));
        QVERIFY(zoWriteFile(path, "a longer previous content than nothing at all"));
        QVERIFY(utils.saveConfig(path));
        QCOMPARE(zoReadFile(path), zoReadFile(expectedFile));

        ZoConfigUtils reread;
        QVERIFY(reread.loadConfig(path));
        QCOMPARE(zoLinkFields(*reread.planeConfig()), zoLinkFields(*utils.planeConfig()));
        QCOMPARE(reread.ignoreDevices(), utils.ignoreDevices());
    }

    void saveCreatesMissingDirectory()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a/b/sysconfig.xml"));
        QTest::ignoreMessage(
            QtDebugMsg, qPrintable(QStringLiteral("The file{%1} doesn't exist!").arg(path)));
        ZoConfigUtils utils;
        QVERIFY(utils.saveConfig(path));
        QVERIFY(ZoConfigUtils().loadConfig(path));
    }

    void failedSaveKeepsPreviousFile_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("write() refuses") << QStringLiteral("refuse");
        QTest::newRow("disk full (file size limit)") << QStringLiteral("fsize");
        QTest::newRow("read-only directory") << QStringLiteral("readonly");
    }
    void failedSaveKeepsPreviousFile()
    {
        QFETCH(QString, failure);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sysconfig.xml"));
        const QByteArray previous = zoReadFile(dataFile("sysconfig_tcp.xml"));
        QVERIFY(zoWriteFile(path, previous));
        const auto rwx = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

        bool saved = true;
        if (failure == QLatin1String("refuse")) {
            QTest::ignoreMessage(QtDebugMsg, "saveConfig failed");
            saved = RefusingWriter().saveConfig(path);
        } else if (failure == QLatin1String("fsize")) {
            // Writes past 16 bytes fail with EFBIG, as on a full disk.
            rlimit old {};
            QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
            const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = old;
            small.rlim_cur = 16;
            QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
            QTest::ignoreMessage(
                QtWarningMsg, QRegularExpression(QStringLiteral("^saveConfig failed:")));
            saved = ZoConfigUtils().saveConfig(path);
            setrlimit(RLIMIT_FSIZE, &old);
            std::signal(SIGXFSZ, oldHandler);
        } else {
            QVERIFY(
                QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
            if (QFile(dir.filePath(QStringLiteral("probe"))).open(QIODevice::WriteOnly)) {
                QFile::setPermissions(dir.path(), rwx);
                QSKIP("directory permissions do not bind this user (root)");
            }
            QTest::ignoreMessage(
                QtWarningMsg, qPrintable(QStringLiteral("Couldn't open load file. ") + path));
            saved = ZoConfigUtils().saveConfig(path);
            QFile::setPermissions(dir.path(), rwx);
        }
        QVERIFY(!saved);
        QCOMPARE(zoReadFile(path), previous);
        // No temporary file is left beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
            QStringList {QStringLiteral("sysconfig.xml")});
    }
};

QTEST_GUILESS_MAIN(tst_ZoConfigUtils)
#include "tst_zoconfigutils.moc"
