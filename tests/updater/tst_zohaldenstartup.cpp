#include <QTemporaryDir>
#include <QtTest>

#include "ZoHaldenStartup.h"
#include "ZoHaldenUpdateForm.h"
#include "ZoTestFiles.h"
#include "ZoUpdateMode.h"

#include <unistd.h>

// The updater's command line, its language file, its version comparison and
// whether an installation is its own to update: the decisions it takes
// before and right after the release check.
class tst_ZoHaldenStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parseOptions_data();
    void parseOptions();
    void readLanguageSetting_data();
    void readLanguageSetting();
    void isNewerVersion_data();
    void isNewerVersion();
    void updateMode_data();
    void updateMode();
};

void tst_ZoHaldenStartup::parseOptions_data()
{
    QTest::addColumn<QStringList>("arguments"); // after the program path
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("code");

    QTest::newRow("as Tolvane passes them")
        << QStringList {"-v", "2.1.9.2", "-k", "\"Tolvane\"", "-ct", "7", "-url", "http://h/q"}
        << "2.1.9.2" << -1 << "\"Tolvane\"" << "http://h/q" << 7 << "";
    QTest::newRow("nothing given") << QStringList {} << "" << -1 << "" << "" << -1 << "";
    QTest::newRow("url as the very last argument")
        << QStringList {"-v", "1.0", "-url"} << "1.0" << -1 << "" << "" << -1 << "";
    QTest::newRow("channel no number") << QStringList {"-ct", "seven", "-t", "x3"} << "" << 0
                                       << "" << "" << 0 << "";
    QTest::newRow("first occurrence wins")
        << QStringList {"-cc", "A", "-cc", "B"} << "" << -1 << "" << "" << -1 << "A";
    QTest::newRow("a value that looks like an option")
        << QStringList {"-k", "-v", "-v", "3"} << "-v" << -1 << "-v" << "" << -1 << "";
    QTest::newRow("after the elevated restart's marker")
        << QStringList {"runas", "-t", "12", "-cc", "xyz", "-ct", "-5"} << "" << 12 << "" << ""
        << -5 << "xyz";
    QTest::newRow("options are case-sensitive")
        << QStringList {"-V", "9", "-URL", "http://x"} << "" << -1 << "" << "" << -1 << "";
}

void tst_ZoHaldenStartup::parseOptions()
{
    QFETCH(QStringList, arguments);
    arguments.prepend(QStringLiteral("/opt/tolvane/ZoHaldenUpdate"));
    const ZoHaldenStartup::Options o = ZoHaldenStartup::parseOptions(arguments);
    QTEST(o.version, "version");
    QTEST(int(o.type), "type");
    QTEST(o.name, "name");
    QTEST(o.url, "url");
    QTEST(int(o.channel), "channel");
    QTEST(o.code, "code");
}

void tst_ZoHaldenStartup::readLanguageSetting_data()
{
    QTest::addColumn<QByteArray>("file"); // null: no file
    QTest::addColumn<QString>("expected");

    QTest::newRow("no file: the system's") << QByteArray() << "de_DE";
    QTest::newRow("chosen Chinese")
        << QByteArray("<config><ctrl isset=\"1\" language=\"zh_CN\"/></config>") << "zh_CN";
    QTest::newRow("not chosen: the system's, not the file's")
        << QByteArray("<config><ctrl isset=\"0\" language=\"zh_CN\"/></config>") << "de_DE";
    QTest::newRow("no ctrl element: no language")
        << QByteArray("<config><other isset=\"1\" language=\"zh_CN\"/></config>") << "";
    QTest::newRow("chosen without a language") << QByteArray("<a><ctrl isset=\"1\"/></a>") << "";
    QTest::newRow("malformed: the system's")
        << QByteArray("<config><ctrl isset=\"1\" language=\"zh_CN\">") << "de_DE";
    QTest::newRow("only the first ctrl counts")
        << QByteArray("<c><ctrl isset=\"1\" language=\"en_US\"/><ctrl isset=\"1\" "
                      "language=\"zh_CN\"/></c>")
        << "en_US";
}

void tst_ZoHaldenStartup::readLanguageSetting()
{
    QFETCH(QByteArray, file);
    QTemporaryDir app;
    QVERIFY(QDir(app.path()).mkpath(QStringLiteral("config")));
    if (!file.isNull())
        QVERIFY(zoWriteFile(app.filePath(QStringLiteral("config/sysconfig-language.xml")), file));
    QTEST(ZoHaldenStartup::readLanguageSetting(app.path(), QStringLiteral("de_DE")), "expected");
}

void tst_ZoHaldenStartup::isNewerVersion_data()
{
    QTest::addColumn<QString>("installed");
    QTest::addColumn<QString>("offered");
    QTest::addColumn<bool>("newer");

    QTest::newRow("a two-digit part") << "2.1.9.2" << "2.1.10" << true;
    QTest::newRow("a trailing zero is no change") << "2.1.9.2" << "2.1.9.2.0" << false;
    QTest::newRow("a longer offer") << "2.1.9" << "2.1.9.0.1" << true;
    QTest::newRow("the same") << "2.1.9.2" << "2.1.9.2" << false;
    QTest::newRow("older") << "2.1.9.2" << "2.1.9.1" << false;
    QTest::newRow("older, though longer") << "2.2" << "2.1.99.99" << false;
    QTest::newRow("nothing installed") << "" << "0.0.1" << true;
    QTest::newRow("nothing offered") << "2.1" << "" << false;
    QTest::newRow("letters count 0") << "2.x.1" << "2.0.1" << false;
    QTest::newRow("empty parts kept") << "2..1" << "2.0.2" << true;
}

void tst_ZoHaldenStartup::isNewerVersion()
{
    QFETCH(QString, installed);
    QFETCH(QString, offered);
    QTEST(ZoHaldenUpdateForm::isNewerVersion(offered, installed), "newer");
}

void tst_ZoHaldenStartup::updateMode_data()
{
    QTest::addColumn<QString>("folder"); // TMP: a fresh temporary folder
    QTest::addColumn<bool>("locked"); // TMP's mode bits forbid writing
    QTest::addColumn<int>("mode");

    const int self = ZoUpdateMode::SelfUpdate;
    const int managed = ZoUpdateMode::OfferPackageManaged;
    const int readOnly = ZoUpdateMode::OfferReadOnly;
    QTest::newRow("portable copy this user writes") << "TMP" << false << self;
    QTest::newRow("folder this user cannot write") << "TMP" << true << readOnly;
    QTest::newRow("listed by dpkg outside /usr") << "/etc/dpkg" << false << managed;
    QTest::newRow("under /usr, listed or not") << "/usr/lib/tolvane-not-here" << false << managed;
    QTest::newRow("reached through a link into /usr") << "TMP/usr-lib" << false << managed;
    QTest::newRow("/usr/local is the administrator's")
        << "/usr/local/lib/tolvane-not-here" << false << readOnly;
}

void tst_ZoHaldenStartup::updateMode()
{
    QFETCH(QString, folder);
    QFETCH(bool, locked);
    if (folder == QLatin1String("/etc/dpkg")
        && !QFile::exists(QStringLiteral("/var/lib/dpkg/info/dpkg.list")))
        QSKIP("dpkg does not keep this system's files");
    QTemporaryDir tmp;
    QVERIFY(QFile::link(QStringLiteral("/usr/lib"), tmp.filePath(QStringLiteral("usr-lib"))));
    folder.replace(QStringLiteral("TMP"), tmp.path());
    const QFileDevice::Permissions open = QFile::permissions(tmp.path());
    if (locked) {
        QVERIFY(QFile::setPermissions(tmp.path(), QFile::ReadOwner | QFile::ExeOwner));
        // Root writes through any mode bits; /proc takes a new file from nobody.
        if (::geteuid() == 0)
            folder = QStringLiteral("/proc/self");
    }
    const int mode = ZoUpdateMode::forInstallation(folder);
    QFile::setPermissions(tmp.path(), open);
    QTEST(mode, "mode");
    // The write probe leaves nothing behind.
    QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList {QStringLiteral("usr-lib")});
}

QTEST_GUILESS_MAIN(tst_ZoHaldenStartup)
#include "tst_zohaldenstartup.moc"
