#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "ZoPlatform.h"
#include "ZoTestCloudSim.h"
#include "ZoTestFiles.h"
#include "ZoTestSysConfig.h"
#include "ZoTestWait.h"
#include "ZoTestXvfb.h"
#include "ZoTestZip.h"

// The self-update as it happens in the field, with the real programs on a
// private X display: Tolvane, installed in a folder of its own, runs
// ZoHaldenUpdate; the cloud offers a mandatory release; the updater ends
// Tolvane, installs the archive (which stages a newer updater, since a
// running updater cannot replace itself) and, once the user agrees, starts
// Tolvane again, which puts the staged updater in place and opens its window.
namespace {

const char kQueryPath[] = "POST /app/api/uav/zoSoftwareUpgrade/getSoftwareUpgradeUrl";
const char kArchivePath[] = "GET /releases/release.zip";

QByteArray releases(const QString &version, int importance)
{
    QJsonArray list;
    if (!version.isEmpty())
        list.append(QJsonObject {{"match", QJsonObject {{"key", 7}}},
            {"cdt", "2026-12-07 06:00:00"}, {"importanceLevel", importance},
            {"description", "Hand-off test release"}, {"version", version},
            {"archive", "release.zip"}});
    return QJsonDocument(QJsonObject {{"releases", list}}).toJson();
}

} // namespace

class tst_HaldenUpdateHandOff : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mandatoryReleaseRestartsTheApplication();
    void cleanup();

private:
    QString m_appName;
};

void tst_HaldenUpdateHandOff::cleanup()
{
    // The restarted application is nobody's child; it carries a name of its
    // own, so ending it by name touches nothing else.
    if (!m_appName.isEmpty())
        ZoPlatform::killProcessesByName(m_appName, 1000);
}

void tst_HaldenUpdateHandOff::mandatoryReleaseRestartsTheApplication()
{
    if (!ZoTestXvfb::available())
        QSKIP("needs Xvfb and xdotool");
    ZoTestXvfb x;
    QVERIFY(x.start());

    // The installation, which is also the working directory, as the desktop
    // entry starts it. Links and the cloud on loopback only.
    QTemporaryDir tmp;
    const QString inst = tmp.filePath(QStringLiteral("install"));
    QVERIFY(QDir().mkpath(inst + QStringLiteral("/dict")));
    m_appName = QStringLiteral("TolvaneHandOff%1").arg(QCoreApplication::applicationPid());
    const QString app = inst + QLatin1Char('/') + m_appName;
    const QString updater = inst + QStringLiteral("/ZoHaldenUpdate");
    QVERIFY(QFile::copy(QStringLiteral(TOLVANE_PROGRAM), app));
    QVERIFY(QFile::copy(QStringLiteral(TOLVANE_UPDATER), updater));
    for (const QString &lang : {QStringLiteral("en_US"), QStringLiteral("zh_CN")}) {
        const QString qm = QStringLiteral("/FlashbayUpdate_%1.qm").arg(lang);
        QVERIFY(QFile::copy(QStringLiteral(TOLVANE_DICT_DIR) + qm, inst + QStringLiteral("/dict") + qm));
    }
    QVERIFY(zoWriteFile(inst + QStringLiteral("/sysconfig.xml"),
        zoTestSysConfig(QStringLiteral("1|none|57600|8|0|1|127.0.0.1|9|0|127.0.0.1|9|0"),
            QStringLiteral("en_US"))));

    // The release: a newer updater staged for the next start, and a file of
    // its own. The staged updater is the real one with a mark appended, so
    // that it still runs and can be told from the installed one.
    const QByteArray staged = zoReadFile(QStringLiteral(TOLVANE_UPDATER)) + "\nSTAGED-2.1.9.3\n";
    const QString zip = tmp.filePath(QStringLiteral("release.zip"));
    QVERIFY(zoWriteTestZip(zip,
        {{"updateExeDir/ZoHaldenUpdate", staged, {}, true, 0755},
            {"RELEASE.txt", "2.1.9.3"}}));
    ZoTestCloudSim cloud;
    QVERIFY(cloud.writeFile(QStringLiteral("releases.json"), releases(QStringLiteral("2.1.9.3"), 1)));
    QVERIFY(cloud.writeFile(QStringLiteral("releases/release.zip"), zoReadFile(zip)));
    QVERIFY(cloud.start());

    QProcessEnvironment env = x.environment();
    env.insert(QStringLiteral("TOLVANE_CLOUD_URL"), cloud.baseUrl());
    QProcess tolvane;
    tolvane.setProcessEnvironment(env);
    tolvane.setWorkingDirectory(inst);
    tolvane.setProcessChannelMode(QProcess::ForwardedChannels);
    tolvane.start(app, QStringList());
    QVERIFY(tolvane.waitForStarted(5000));

    // The mandatory release installs by itself: Tolvane is ended, the files
    // land, and the updater asks whether to start the software.
    const QString question = x.waitForWindow(QStringLiteral("^Tip$"), 60000);
    QVERIFY2(!question.isEmpty(), "the restart question never appeared");
    QVERIFY(tolvane.waitForFinished(10000));
    QCOMPARE(zoReadFile(inst + QStringLiteral("/RELEASE.txt")), QByteArray("2.1.9.3"));
    QCOMPARE(zoReadFile(inst + QStringLiteral("/updateExeDir/ZoHaldenUpdate")), staged);
    QVERIFY(x.windows(QStringLiteral("Tolvane Firmware Upgrade")).isEmpty());
    QCOMPARE(cloud.paths().count(QLatin1String(kArchivePath)), 1);
    // The archive is gone from the installation it was downloaded into.
    QVERIFY(!QFile::exists(inst + QStringLiteral("/release.zip")));

    // Installed now: the next check finds nothing newer.
    QVERIFY(cloud.writeFile(QStringLiteral("releases.json"), releases(QString(), 0)));
    // A key pressed while the box is still being mapped can be lost: press
    // again until the box has gone, as a user would.
    for (int i = 0; i < 20 && !x.windows(QStringLiteral("^Tip$")).isEmpty(); ++i) {
        x.pressKeys(question, {QStringLiteral("Return")});
        QThread::msleep(500);
    }
    QVERIFY(x.windows(QStringLiteral("^Tip$")).isEmpty());

    const QString window = x.waitForWindow(QStringLiteral("^Tolvane Firmware Upgrade$"), 60000);
    QVERIFY2(!window.isEmpty(), "the application did not come back");
    QVERIFY(x.screenshot(QStringLiteral(TOLVANE_BINARY_DIR "/tests/handoff-restarted.png")));
    // It put the staged updater in place and ran it once more.
    QCOMPARE(zoReadFile(updater), staged);
    QVERIFY(QFileInfo(updater).isExecutable());
    QVERIFY(!QFile::exists(inst + QStringLiteral("/updateExeDir/ZoHaldenUpdate")));
    QCOMPARE(cloud.paths().count(QLatin1String(kQueryPath)), 2);
    QCOMPARE(cloud.paths().count(QLatin1String(kArchivePath)), 1);
    // Ended while its display still exists.
    QVERIFY(ZoPlatform::killProcessesByName(m_appName, 3000));
}

QTEST_GUILESS_MAIN(tst_HaldenUpdateHandOff)
#include "tst_haldenupdatehandoff.moc"
