#include "ZoDictionary.h"
#include "ZoMessageBox.h"
#include "ZoPlatform.h"
#include "ZoStartup.h"
#include "ZoTestFiles.h"
#include "ZoTvkInstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

static const char *const CloudUrl = "http://127.0.0.1:1";

// Each case gets a scratch installation: an application folder (where the
// stand-in updater lives) and a separate working directory (configuration
// and dictionaries).
class tst_ZoStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Whatever a test does, the updater's check address stays on loopback.
        qputenv("TOLVANE_CLOUD_URL", CloudUrl);
    }

    void init()
    {
        m_app = std::make_unique<QTemporaryDir>();
        m_work = std::make_unique<QTemporaryDir>();
        m_previousDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_work->path()));
        ZoMessageBox::setTestResponder(
            [](const ZoMessageBox::Request &) { return int(QMessageBox::Ok); });
        ZoMessageBox::clearShownRequests();
    }

    void cleanup()
    {
        ZoMessageBox::setTestResponder(ZoMessageBox::Responder());
        QDir::setCurrent(m_previousDir);
        qunsetenv("TOLVANE_FAKE_UPDATER_LOG");
        qunsetenv("TOLVANE_FAKE_UPDATER_EXIT");
    }

    void runHandsOverToWindowOrWarns_data()
    {
        QTest::addColumn<QString>("updaterExit"); // empty: no updater installed
        QTest::addColumn<bool>("windowShown");

        QTest::newRow("updater exits 0") << QStringLiteral("0") << true;
        QTest::newRow("updater exits 2: the window still opens") << QStringLiteral("2") << true;
        QTest::newRow("updater crashes") << QStringLiteral("crash") << false;
        QTest::newRow("updater missing") << QString() << false;
    }
    void runHandsOverToWindowOrWarns()
    {
        QFETCH(QString, updaterExit);
        QFETCH(bool, windowShown);
        const QString argsLog = m_work->filePath(QStringLiteral("updater-args.txt"));
        if (!updaterExit.isEmpty()) {
            QVERIFY(QFile::copy(QStringLiteral(TOLVANE_FAKE_UPDATER), updaterPath()));
            qputenv("TOLVANE_FAKE_UPDATER_LOG", argsLog.toLocal8Bit());
            qputenv("TOLVANE_FAKE_UPDATER_EXIT", updaterExit.toLatin1());
        }

        bool windowRan = false;
        const int result = ZoStartup::run(environment(), [&windowRan]() {
            windowRan = true;
            return 42;
        });

        QCOMPARE(windowRan, windowShown);
        QCOMPARE(result, windowShown ? 42 : 0);
        if (!updaterExit.isEmpty()) {
            QStringList recorded
                = QString::fromLocal8Bit(zoReadFile(argsLog)).split(QLatin1Char('\n'));
            QCOMPARE(recorded.takeLast(), QString());
            QCOMPARE(recorded, ZoStartup::updaterArguments(QStringLiteral("Tolvane")));
        }

        const QList<ZoMessageBox::Request> shown = ZoMessageBox::shownRequests();
        QCOMPARE(shown.size(), windowShown ? 0 : 1);
        if (!windowShown) {
            QCOMPARE(shown.first().icon, QMessageBox::Warning);
            QCOMPARE(shown.first().text,
                QStringLiteral("LabFirmwareUpdateToolStartFailedPleaseReinstall"));
        }
    }

    void runInstallsTheConfiguredDictionary()
    {
        const QString built = QStringLiteral(TOLVANE_BINARY_DIR "/dict/FlashbayUpdate_zh_CN.qm");
        if (!QFile::exists(built))
            QSKIP("no dictionaries built (lrelease missing)");
        QVERIFY(QDir().mkpath(m_work->filePath(QStringLiteral("dict"))));
        QVERIFY(
            QFile::copy(built, m_work->filePath(QStringLiteral("dict/FlashbayUpdate_zh_CN.qm"))));
        QVERIFY(QFile::copy(QStringLiteral(TOLVANE_BINARY_DIR "/dict/FlashbayUpdate_en_US.qm"),
            m_work->filePath(QStringLiteral("dict/FlashbayUpdate_en_US.qm"))));
        QVERIFY(zoWriteFile(m_work->filePath(QStringLiteral("sysconfig.xml")),
            "<config><lan isset=\"1\" language=\"zh_CN\"/></config>"));

        // No updater: the warning comes in the configured language.
        QCOMPARE(ZoStartup::run(environment(), []() { return 42; }), 0);
        const QList<ZoMessageBox::Request> shown = ZoMessageBox::shownRequests();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().title, QString::fromUtf8("\xe8\xad\xa6\xe5\x91\x8a")); // "warning"
        // The dictionary does not outlive the sequence.
        QCOMPARE(QObject::tr("LabWarning"), QStringLiteral("LabWarning"));
    }

    void copyCoverFile_data()
    {
        QTest::addColumn<QString>("staged"); // empty: nothing staged
        QTest::addColumn<QString>("current"); // empty: none; "<dir>": a folder in its place
        QTest::addColumn<bool>("replaced");

        QTest::newRow("staged copy replaces the old updater")
            << QStringLiteral("new") << QStringLiteral("old") << true;
        QTest::newRow("staged copy without an old updater")
            << QStringLiteral("new") << QString() << true;
        QTest::newRow("nothing staged") << QString() << QStringLiteral("old") << false;
        QTest::newRow("old updater cannot be removed")
            << QStringLiteral("new") << QStringLiteral("<dir>") << false;
    }
    void copyCoverFile()
    {
        QFETCH(QString, staged);
        QFETCH(QString, current);
        QFETCH(bool, replaced);
        const QString exe = ZoPlatform::executableName(QStringLiteral("ZoHaldenUpdate"));
        const QString stagingDir = m_app->filePath(QStringLiteral("updateExeDir"));
        const QString stagedPath = stagingDir + QLatin1Char('/') + exe;
        // Not marked runnable, as an archive made on another system leaves it.
        if (!staged.isEmpty())
            QVERIFY(zoWriteFile(stagedPath, staged.toLatin1()));
        if (current == QStringLiteral("<dir>"))
            QVERIFY(QDir().mkpath(updaterPath() + QStringLiteral("/keep")));
        else if (!current.isEmpty())
            QVERIFY(zoWriteFile(updaterPath(), current.toLatin1()));

        QCOMPARE(ZoStartup::copyCoverFile(m_app->path()), replaced);

        if (replaced) {
            QCOMPARE(zoReadFile(updaterPath()), staged.toLatin1());
            QVERIFY(QFileInfo(updaterPath()).isExecutable());
            QVERIFY(!QFile::exists(stagedPath));
            QVERIFY(!QFileInfo::exists(stagingDir));
        } else if (!staged.isEmpty()) {
            // The staged file waits for the next start.
            QCOMPARE(zoReadFile(stagedPath), staged.toLatin1());
        }
        if (current == QStringLiteral("old") && !replaced)
            QCOMPARE(zoReadFile(updaterPath()), QByteArray("old"));
        if (current == QStringLiteral("<dir>"))
            QVERIFY(QFileInfo::exists(updaterPath() + QStringLiteral("/keep")));
        // Nothing half-done is left beside the updater.
        const QStringList left
            = QDir(m_app->path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &name : left)
            QVERIFY2(name == exe || name == QStringLiteral("updateExeDir"), qPrintable(name));
    }

    // Which files, the first winning, a language is read from: "w/" the
    // working directory's dict/, "a/" the one beside the program.
    void dictionaryLayers_data()
    {
        QTest::addColumn<QString>("files");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("layers");

        const auto row
            = [](const char *name, const char *files, const char *language, const char *layers) {
                  QTest::newRow(name) << QString::fromLatin1(files) << QString::fromLatin1(language)
                                      << QString::fromLatin1(layers);
              };
        row("working folder first, English under the language", "w/zh_CN a/zh_CN a/en_US", "zh_CN",
            "w/zh_CN a/zh_CN a/en_US");
        row("language only beside the program", "w/en_US a/zh_CN", "zh_CN", "a/zh_CN w/en_US");
        row("unknown language reads English", "w/en_US w/zh_CN", "fr_FR", "w/en_US");
        row("no English at all", "w/de_DE", "fr_FR", "");
        row("not a language code", "w/en_US w/x", "x", "w/en_US");
        row("nothing anywhere", "", "en_US", "");
    }
    void dictionaryLayers()
    {
        QFETCH(QString, files);
        QFETCH(QString, language);
        QFETCH(QString, layers);
        const auto path = [this](const QString &file) {
            return (file.startsWith(QLatin1Char('w')) ? m_work : m_app)->path()
                + QStringLiteral("/dict/FlashbayUpdate_") + file.mid(2) + QStringLiteral(".qm");
        };
        for (const QString &f : files.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            QVERIFY(zoWriteFile(path(f), "x"));
        QStringList expected;
        for (const QString &f : layers.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            expected << path(f);
        QCOMPARE(ZoDictionary::layers(
                     QStringLiteral("FlashbayUpdate"), language, m_work->path(), m_app->path()),
            expected);
    }

    void languageFromConfigurationOrLocale()
    {
        // No sysconfig.xml: the locale's name becomes the language in memory.
        QCOMPARE(ZoStartup::loadConfiguration(QStringLiteral("fr_FR")), QStringLiteral("fr_FR"));
        QCOMPARE(ZoTvkInstance::instance()->language(), QStringLiteral("fr_FR"));
        QVERIFY(!QFile::exists(m_work->filePath(QStringLiteral("sysconfig.xml"))));

        QVERIFY(zoWriteFile(m_work->filePath(QStringLiteral("sysconfig.xml")),
            "<config><lan isset=\"1\" language=\"zh_CN\"/></config>"));
        QCOMPARE(ZoStartup::loadConfiguration(QStringLiteral("fr_FR")), QStringLiteral("zh_CN"));
    }

private:
    ZoStartup::Environment environment() const
    {
        ZoStartup::Environment env;
        env.applicationDir = m_app->path();
        env.applicationFilePath
            = m_app->filePath(ZoPlatform::executableName(QStringLiteral("Tolvane")));
        env.applicationName = QStringLiteral("Tolvane");
        env.workingDir = m_work->path();
        env.arguments = QStringList {env.applicationFilePath};
        env.systemLocale = QStringLiteral("en_US");
        return env;
    }

    QString updaterPath() const
    {
        return m_app->filePath(ZoPlatform::executableName(QStringLiteral("ZoHaldenUpdate")));
    }

    std::unique_ptr<QTemporaryDir> m_app;
    std::unique_ptr<QTemporaryDir> m_work;
    QString m_previousDir;
};

QTEST_MAIN(tst_ZoStartup)
#include "tst_zostartup.moc"
