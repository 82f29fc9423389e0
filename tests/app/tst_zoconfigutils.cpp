#include "ZoConfigUtils.h"
#include "ZoPlaneConfig.h"

#include <QDomDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace QTest {
template <> char *toString(const ZoPlaneConfig &c)
{
    const QString s = QStringLiteral("type=%1 com=%2 baud=%3 databits=%4 parity=%5 stopbits=%6 "
                                     "host=%7 hostport=%8 localPort=%9 tcp=%10:%11 local=%12")
                          .arg(c.type)
                          .arg(c.com)
                          .arg(c.baud)
                          .arg(c.databits)
                          .arg(c.parity)
                          .arg(c.stopbits)
                          .arg(c.host)
                          .arg(c.hostport)
                          .arg(c.localPort)
                          .arg(c.TcpServerHost)
                          .arg(c.TcpServerHostPort)
                          .arg(c.TcpClientLocalPort);
    return qstrdup(s.toUtf8().constData());
}
} // namespace QTest

namespace {

QString dataFile(const char *name)
{
    return QStringLiteral(TOLVANE_TEST_DATA_DIR "/config/") + QLatin1String(name);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Every field differs from the defaults, so a field the load left alone shows.
ZoPlaneConfig sentinel()
{
    ZoPlaneConfig c;
    c.type = 1;
    c.com = QStringLiteral("S");
    c.baud = 1;
    c.databits = 2;
    c.parity = 3;
    c.stopbits = 4;
    c.host = QStringLiteral("h");
    c.hostport = 5;
    c.localPort = 6;
    c.TcpServerHost = QStringLiteral("t");
    c.TcpServerHostPort = 7;
    c.TcpClientLocalPort = 8;
    return c;
}

const char *const fieldNames[] = {"com", "baud", "databits", "parity", "stopbits", "host",
    "hostport", "localPort", "TcpServerHost", "TcpServerHostPort", "TcpClientLocalPort"};

// A "connection" element; values[i] == nullptr leaves field i out.
QByteArray connectionXml(const char *typeAttr, const QVector<const char *> &values)
{
    QByteArray xml = "<connection";
    if (typeAttr)
        xml += QByteArray(" type=\"") + typeAttr + '"';
    xml += '>';
    for (int i = 0; i < values.size(); ++i) {
        if (values[i])
            xml += QByteArray("<") + fieldNames[i] + '>' + values[i] + "</" + fieldNames[i] + '>';
    }
    return xml + "</connection>";
}

const QVector<const char *> tcpValues
    = {"COM3", "57600", "7", "2", "3", "127.0.0.1", "14550", "14551", "127.0.0.2", "5760", "5761"};

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
    void planeConfigLoad_data();
    void planeConfigLoad();
    void loadConfig_data();
    void loadConfig();
    void loadUnreadableFile();
    void saveByteExact_data();
    void saveByteExact();
    void saveRoundTripsAwkwardText();
    void saveCreatesMissingDirectory();
    void failedSaveKeepsPreviousFile_data();
    void failedSaveKeepsPreviousFile();
};

void tst_ZoConfigUtils::planeConfigLoad_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<bool>("result");
    QTest::addColumn<ZoPlaneConfig>("expected");

    ZoPlaneConfig tcp;
    tcp.type = 2;
    tcp.com = QStringLiteral("COM3");
    tcp.baud = 57600;
    tcp.databits = 7;
    tcp.parity = 2;
    tcp.stopbits = 3;
    tcp.host = QStringLiteral("127.0.0.1");
    tcp.hostport = 14550;
    tcp.localPort = 14551;
    tcp.TcpServerHost = QStringLiteral("127.0.0.2");
    tcp.TcpServerHostPort = 5760;
    tcp.TcpClientLocalPort = 5761;
    QTest::newRow("tcp, all eleven fields") << connectionXml("2", tcpValues) << true << tcp;

    ZoPlaneConfig c = sentinel();
    c.type = 3;
    QTest::newRow("type 3 keeps every field") << connectionXml("3", tcpValues) << false << c;

    QTest::newRow("no type attribute") << connectionXml(nullptr, tcpValues) << false << sentinel();

    c = sentinel();
    c.type = 0;
    QTest::newRow("type not a number") << connectionXml("udp", tcpValues) << false << c;

    c = sentinel();
    c.type = 300 & 0xff;
    QTest::newRow("type 300 wraps to 44") << connectionXml("300", tcpValues) << false << c;

    c = sentinel();
    c.com = QStringLiteral("COM3");
    c.baud = 0;
    auto values = tcpValues;
    values[1] = "abc";
    QTest::newRow("baud abc stores 0 and stops") << connectionXml("1", values) << false << c;

    values = tcpValues;
    values[1] = "4294967296";
    QTest::newRow("baud above 32 bits") << connectionXml("1", values) << false << c;

    c = sentinel();
    c.com = QStringLiteral("COM3");
    c.baud = 57600;
    values = tcpValues;
    values[2] = "";
    QTest::newRow("empty databits stops") << connectionXml("1", values) << false << c;

    c = tcp;
    c.type = 0;
    c.host = sentinel().host;
    c.hostport = sentinel().hostport;
    c.localPort = sentinel().localPort;
    c.TcpServerHost = sentinel().TcpServerHost;
    c.TcpServerHostPort = sentinel().TcpServerHostPort;
    c.TcpClientLocalPort = sentinel().TcpClientLocalPort;
    values = tcpValues;
    values[5] = nullptr;
    QTest::newRow("missing host stops") << connectionXml("0", values) << false << c;

    c = tcp;
    c.com.clear();
    c.parity = 258 & 0xff;
    values = tcpValues;
    values[0] = "";
    values[3] = "258";
    QTest::newRow("empty com, parity truncated") << connectionXml("2", values) << true << c;
}

void tst_ZoConfigUtils::planeConfigLoad()
{
    QFETCH(QByteArray, xml);
    QFETCH(bool, result);
    QFETCH(ZoPlaneConfig, expected);

    QDomDocument doc;
    QVERIFY(doc.setContent(xml));
    ZoPlaneConfig config = sentinel();
    QCOMPARE(config.load(doc.documentElement()), result);
    QCOMPARE(config, expected);
}

void tst_ZoConfigUtils::loadConfig_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QList<tds4>>("ignore");
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("malformed");

    const QString before = QStringLiteral("xx_XX");
    const QList<tds4> beforeIds {7};
    const QByteArray tcp = connectionXml("2", tcpValues);
    const QByteArray lanEn = "<lan isset=\"1\" language=\"en_US\"/>";
    auto config = [](const QByteArray &body) {
        return "<?xml version=\"1.0\"?><config>" + body + "</config>";
    };

    QTest::newRow("missing file") << QByteArray() << false << before << beforeIds << 0 << false;
    QTest::newRow("empty file") << QByteArray("") << false << before << beforeIds << 0 << true;
    QTest::newRow("truncated") << config(tcp + lanEn).left(120) << false << before << beforeIds << 0
                               << true;
    QTest::newRow("not xml") << QByteArray("baud=115200\n") << false << before << beforeIds << 0
                             << true;
    QTest::newRow("connection without lan")
        << config(tcp) << false << before << beforeIds << 2 << false;
    QTest::newRow("lan only") << config(lanEn) << true << QStringLiteral("en_US") << beforeIds << 0
                              << false;
    QTest::newRow("isset 0 means system locale")
        << config(tcp + "<lan isset=\"0\" language=\"en_US\"/>") << true << QLocale::system().name()
        << beforeIds << 2 << false;
    QTest::newRow("isset without language")
        << config("<lan isset=\"1\"/>") << true << QString() << beforeIds << 0 << false;
    QTest::newRow("duplicate ids dropped") << config(lanEn
        + "<ignoreDevices><devId>44</devId><devId>44</devId><devId>46</devId>"
          "</ignoreDevices>") << true << QStringLiteral("en_US")
                                           << QList<tds4> {44, 46} << 0 << false;
    QTest::newRow("ids not numbers give 0")
        << config(lanEn
               + "<ignoreDevices><devId>x</devId><devId>-5</devId><devId/>"
                 "<other>9</other></ignoreDevices>")
        << true << QStringLiteral("en_US") << QList<tds4> {0, -5} << 0 << false;
    QTest::newRow("empty ignoreDevices clears")
        << config(lanEn + "<ignoreDevices/>") << true << QStringLiteral("en_US") << QList<tds4> {}
        << 0 << false;
    QTest::newRow("bad link field still loads language")
        << config("<connection type=\"1\"><com>COM1</com><baud>x</baud></connection>" + lanEn)
        << true << QStringLiteral("en_US") << beforeIds << 1 << false;
}

void tst_ZoConfigUtils::loadConfig()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, result);
    QFETCH(QString, language);
    QFETCH(QList<tds4>, ignore);
    QFETCH(int, type);
    QFETCH(bool, malformed);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("sysconfig.xml"));
    if (!content.isNull())
        QVERIFY(writeFile(path, content));
    if (malformed) {
        QTest::ignoreMessage(
            QtDebugMsg, QRegularExpression(QStringLiteral("^Fail to setContent: .+, \\d+, \\d+$")));
    }

    ZoConfigUtils utils;
    utils.setLanguage(QStringLiteral("xx_XX"));
    utils.setIgnoreDevices({7});
    QCOMPARE(utils.loadConfig(path), result);
    QCOMPARE(utils.language(), language);
    QCOMPARE(utils.ignoreDevices(), ignore);
    QCOMPARE(int(utils.planeConfig()->type), type);
}

void tst_ZoConfigUtils::loadUnreadableFile()
{
    // A directory by the file's name exists but cannot be read as a file,
    // whoever runs the test.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sysconfig.xml"));
    QVERIFY(QDir().mkdir(path));
    QTest::ignoreMessage(QtWarningMsg, "Couldn't open load file.");
    ZoConfigUtils utils;
    QVERIFY(!utils.loadConfig(path));
}

void tst_ZoConfigUtils::saveByteExact_data()
{
    QTest::addColumn<QString>("expectedFile");
    QTest::addColumn<bool>("defaults");

    QTest::newRow("tcp, ignore list with a duplicate") << dataFile("sysconfig_tcp.xml") << false;
    QTest::newRow("defaults, no ignoreDevices element")
        << dataFile("sysconfig_defaults.xml") << true;
}

void tst_ZoConfigUtils::saveByteExact()
{
    QFETCH(QString, expectedFile);
    QFETCH(bool, defaults);

    ZoConfigUtils utils;
    if (!defaults) {
        ZoPlaneConfig *c = utils.planeConfig();
        c->type = 2;
        c->com = QStringLiteral("COM3");
        c->baud = 57600;
        c->databits = 7;
        c->parity = 2;
        c->stopbits = 3;
        c->host = QStringLiteral("127.0.0.1");
        c->hostport = 14550;
        c->localPort = 14551;
        c->TcpServerHost = QStringLiteral("127.0.0.2");
        c->TcpServerHostPort = 5760;
        c->TcpClientLocalPort = 5761;
        utils.setLanguage(QStringLiteral("en_US"));
        utils.setIgnoreDevices({44, 44, 46});
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sysconfig.xml"));
    QVERIFY(writeFile(path, "old content that is longer than nothing"));
    QVERIFY(utils.saveConfig(path));
    QCOMPARE(readAll(path), readAll(expectedFile));

    // Loading what was written gives back the same settings.
    ZoConfigUtils reread;
    QVERIFY(reread.loadConfig(path));
    QCOMPARE(*reread.planeConfig(), *utils.planeConfig());
    QCOMPARE(reread.language(), utils.language());
    QCOMPARE(reread.ignoreDevices(), utils.ignoreDevices());
}

void tst_ZoConfigUtils::saveRoundTripsAwkwardText()
{
    ZoConfigUtils utils;
    utils.planeConfig()->com = QStringLiteral("/dev/tty<&>\"'\u00e9");
    utils.planeConfig()->host = QStringLiteral("  spaced  ");
    utils.setLanguage(QStringLiteral("a\"b&c<d"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sysconfig.xml"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("doesn't exist!$")));
    QVERIFY(utils.saveConfig(path));

    ZoConfigUtils reread;
    QVERIFY(reread.loadConfig(path));
    QCOMPARE(*reread.planeConfig(), *utils.planeConfig());
    QCOMPARE(reread.language(), utils.language());
}

void tst_ZoConfigUtils::saveCreatesMissingDirectory()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a/b/sysconfig.xml"));
    QTest::ignoreMessage(
        QtDebugMsg, qPrintable(QStringLiteral("The file{%1} doesn't exist!").arg(path)));
    ZoConfigUtils utils;
    QVERIFY(utils.saveConfig(path));
    ZoConfigUtils reread;
    QVERIFY(reread.loadConfig(path));
}

void tst_ZoConfigUtils::failedSaveKeepsPreviousFile_data()
{
    QTest::addColumn<QString>("failure");
    QTest::newRow("write() refuses") << QStringLiteral("refuse");
    QTest::newRow("disk full (file size limit)") << QStringLiteral("fsize");
    QTest::newRow("read-only directory") << QStringLiteral("readonly");
}

void tst_ZoConfigUtils::failedSaveKeepsPreviousFile()
{
    QFETCH(QString, failure);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sysconfig.xml"));
    const QByteArray previous = readAll(dataFile("sysconfig_tcp.xml"));
    QVERIFY(writeFile(path, previous));

    std::unique_ptr<ZoConfigUtils> utils;
    if (failure == QLatin1String("refuse"))
        utils = std::make_unique<RefusingWriter>();
    else
        utils = std::make_unique<ZoConfigUtils>();
    utils->setLanguage(QStringLiteral("zh_CN"));

    bool saved = true;
    if (failure == QLatin1String("refuse")) {
        QTest::ignoreMessage(QtDebugMsg, "saveConfig failed");
        saved = utils->saveConfig(path);
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
        saved = utils->saveConfig(path);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
    } else {
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QFile probe(dir.filePath(QStringLiteral("probe")));
        if (probe.open(QIODevice::WriteOnly)) {
            probe.close();
            probe.remove();
            QFile::setPermissions(dir.path(),
                QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            QSKIP("directory permissions do not bind this user (root)");
        }
        QTest::ignoreMessage(
            QtWarningMsg, qPrintable(QStringLiteral("Couldn't open load file. ") + path));
        saved = utils->saveConfig(path);
        QFile::setPermissions(
            dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    QVERIFY(!saved);
    QCOMPARE(readAll(path), previous);
    // No temporary file is left behind beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
        QStringList {QStringLiteral("sysconfig.xml")});
}

QTEST_GUILESS_MAIN(tst_ZoConfigUtils)
#include "tst_zoconfigutils.moc"
