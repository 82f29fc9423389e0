#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTranslator>
#include <QtTest>

#include "ZoHaldenOfferForm.h"
#include "ZoHaldenUpdateForm.h"
#include "ZoListItemBodyForm.h"
#include "ZoListItemForm.h"
#include "ZoListItemHeaderForm.h"
#include "ZoMessageBox.h"
#include "ZoTestCloudSim.h"
#include "ZoTestFiles.h"
#include "ZoTestZip.h"
#include "ZoUpgradeListWidget.h"

// The updater's window against the cloud simulator, driven as a user would:
// buttons clicked, questions answered through the message box's test seam,
// the release installed into a scratch installation holding a stand-in
// application that records being ended and being started again.
namespace {

const char kQueryPath[] = "/app/api/uav/zoSoftwareUpgrade/getSoftwareUpgradeUrl";
const char kInstalled[] = "2.1.9.2";

} // namespace

class tst_ZoHaldenUpdateForm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        m_install = m_tmp->filePath(QStringLiteral("install"));
        QVERIFY(zoWriteFile(m_install + QStringLiteral("/config/app.ini"), "old settings"));
        static int serial = 0;
        m_appName
            = QStringLiteral("tolvapp%1-%2").arg(QCoreApplication::applicationPid()).arg(++serial);
        m_appPath = m_install + QLatin1Char('/') + m_appName;
        QVERIFY(QFile::copy(QStringLiteral(TOLVANE_PLATFORM_HELPER), m_appPath));
        QVERIFY(QFile::setPermissions(m_appPath, QFile::permissions(m_appPath) | QFile::ExeOwner));

        // The download lands in the working directory; it is not the installation.
        m_previousDir = QDir::currentPath();
        QVERIFY(QDir().mkpath(m_tmp->filePath(QStringLiteral("work"))));
        QVERIFY(QDir::setCurrent(m_tmp->filePath(QStringLiteral("work"))));

        m_answers.clear();
        ZoMessageBox::clearShownRequests();
        ZoMessageBox::setTestResponder([this](const ZoMessageBox::Request &) {
            return m_answers.isEmpty() ? int(QMessageBox::Yes) : m_answers.takeFirst();
        });
    }

    void cleanup()
    {
        ZoMessageBox::setTestResponder({});
        QDir::setCurrent(m_previousDir);
        if (m_app && m_app->state() != QProcess::NotRunning) {
            m_app->kill();
            m_app->waitForFinished(3000);
        }
        m_app.reset();
        m_sim.reset();
        m_tmp.reset();
    }

    void nothingToDoEndsWithoutWindow_data()
    {
        QTest::addColumn<QString>("offered"); // empty: the check cannot reach the cloud
        QTest::newRow("same version") << QString::fromLatin1(kInstalled);
        QTest::newRow("unreachable") << QString();
    }
    void nothingToDoEndsWithoutWindow()
    {
        QFETCH(QString, offered);
        ZoHaldenUpdateForm form;
        QSignalSpy exit(&form, &ZoHaldenUpdateForm::sigExitRequested);
        if (offered.isEmpty()) {
            form.setCurVersion(QLatin1String(kInstalled));
            form.startCheck(QStringLiteral("http://127.0.0.1:1") + QLatin1String(kQueryPath));
        } else {
            QVERIFY(serve(offered, 2, {{"x.txt", "x"}}));
            startCheck(form);
        }
        QVERIFY(exit.wait(10000));
        QCOMPARE(exit.count(), 1);
        QCOMPARE(exit.first().first().toInt(), 0);
        QVERIFY(!form.isVisible());
        QVERIFY(form.upgradeList()->rows().isEmpty());
        if (m_sim)
            QVERIFY(!m_sim->paths().contains(QStringLiteral("GET /releases/release.zip")));
    }

    void ordinaryReleaseInstallsAndRestarts()
    {
        QVERIFY(serve(QStringLiteral("2.1.10"), 2,
            {{"config/app.ini", "new settings"}, {"lib/", ""},
                {"lib/plugin.so", QByteArray(50000, 'p')}, {"README.txt", "2.1.10"}}));
        QVERIFY(startApplication());
        ZoHaldenUpdateForm form;
        QSignalSpy exit(&form, &ZoHaldenUpdateForm::sigExitRequested);
        startCheck(form);

        // The offer: one folded row with its button, nothing started yet.
        QTRY_VERIFY_WITH_TIMEOUT(form.isVisible(), 10000);
        QCOMPARE(form.upgradeList()->rows().size(), 1);
        ZoListItemForm *row = form.upgradeList()->rows().first();
        QCOMPARE(row->header()->findChild<QLabel *>(QStringLiteral("labName"))->text(),
            QStringLiteral("LabHaldenVersionTip V2.1.10"));
        QPushButton *button = rowButton(form);
        QVERIFY(button && button->isVisible());
        QCOMPARE(button->text(), QStringLiteral("BtnStartUpgrade"));
        QVERIFY(!row->isExpanded());
        QVERIFY(!form.isUpdating());
        QCOMPARE(m_app->state(), QProcess::Running);

        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(button->text(), QStringLiteral("BtnStopUpgrade"));
        QVERIFY(form.isUpdating());
        // The application was asked to stop before its files are replaced.
        QVERIFY(m_app->waitForFinished(5000));
        QCOMPARE(zoReadFile(m_tmp->filePath(QStringLiteral("app-marks"))), QByteArray("TERM\n"));

        QVERIFY(exit.wait(15000));
        QCOMPARE(exit.first().first().toInt(), 0);
        QCOMPARE(askedTexts(), QStringList {QStringLiteral("LabTip/MsgIsStartSoftwareProcess")});
        QCOMPARE(
            zoReadFile(m_install + QStringLiteral("/config/app.ini")), QByteArray("new settings"));
        QCOMPARE(zoReadFile(m_install + QStringLiteral("/lib/plugin.so")), QByteArray(50000, 'p'));
        QCOMPARE(zoReadFile(m_install + QStringLiteral("/README.txt")), QByteArray("2.1.10"));
        // The archive is gone from where it was downloaded.
        QCOMPARE(zoTreeOf(QDir::currentPath()), QStringList());
        // The application runs again, from the installation.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_appPath + QStringLiteral(".started")), 5000);
        QCOMPARE(m_sim->paths().count(QStringLiteral("GET /releases/release.zip")), 1);
    }

    void mandatoryReleaseStartsByItselfAndCloseAsks()
    {
        QVERIFY(serve(QStringLiteral("2.2.0"), 1, {{"README.txt", "2.2.0"}}));
        // Not now, then: do not leave; then leave.
        m_answers = {QMessageBox::No, QMessageBox::No, QMessageBox::Yes};
        ZoHaldenUpdateForm form;
        QSignalSpy exit(&form, &ZoHaldenUpdateForm::sigExitRequested);
        startCheck(form);

        QTRY_VERIFY_WITH_TIMEOUT(form.isVisible(), 10000);
        ZoListItemForm *row = form.upgradeList()->rows().first();
        QCOMPARE(row->header()->findChild<QLabel *>(QStringLiteral("labName"))->text(),
            QStringLiteral("LabHaldenIsUpdating V2.2.0"));
        // Nobody clicked: no button to click, and the update runs.
        QVERIFY(!rowButton(form)->isVisible());
        QVERIFY(form.isUpdating());
        QTRY_COMPARE_WITH_TIMEOUT(
            askedTexts(), QStringList {QStringLiteral("LabTip/MsgIsStartSoftwareProcess")}, 15000);
        QCOMPARE(zoReadFile(m_install + QStringLiteral("/README.txt")), QByteArray("2.2.0"));
        QVERIFY(!QFile::exists(m_appPath + QStringLiteral(".started")));

        form.close();
        QVERIFY(form.isVisible());
        QCOMPARE(exit.count(), 0);
        form.close();
        QCOMPARE(askedTexts().mid(1),
            QStringList({QStringLiteral("LabWarning/MsgGcsIsUpdatingConfirmToExit"),
                QStringLiteral("LabWarning/MsgGcsIsUpdatingConfirmToExit")}));
        QTRY_COMPARE(exit.count(), 1);
        QCOMPARE(exit.first().first().toInt(), 2);
    }

    // Either failure asks whether to try again; the user retries once, then
    // refuses. A download that failed once gets the archive on the retry; an
    // archive whose last entry is damaged changes no file, not even the
    // entries before it.
    void failureAsksToRetry_data()
    {
        QTest::addColumn<bool>("damaged");
        QTest::addColumn<QStringList>("asked");
        const QString retry = QStringLiteral("LabWarning/MsgConfirmToUpdateRetryBecause");
        QTest::newRow("download fails once")
            << false
            << QStringList {
                   retry + "DownloadFailed", QStringLiteral("LabTip/MsgIsStartSoftwareProcess")};
        QTest::newRow("damaged archive")
            << true << QStringList {retry + "UnZipFailed", retry + "UnZipFailed"};
    }
    void failureAsksToRetry()
    {
        QFETCH(bool, damaged);
        const QByteArray marker = "CORRUPT-ME-" + QByteArray(300, 'm');
        QVERIFY(serve(QStringLiteral("2.1.10"), 2,
            {{"config/app.ini", "new settings", {}, false},
                {"lib/plugin.so", "new plugin", {}, false}, {"README.txt", marker, {}, false}},
            damaged ? QStringList() : QStringList {"/releases/*:status=503,times=1"}));
        if (damaged) {
            QByteArray bytes = zoReadFile(m_tmp->filePath(QStringLiteral("release.zip")));
            bytes[bytes.indexOf(marker) + 5] = 'X'; // the last entry's CRC no longer matches
            QVERIFY(m_sim->writeFile(QStringLiteral("releases/release.zip"), bytes));
        }
        const QStringList before = zoTreeOf(m_install);
        m_answers = {QMessageBox::Yes, QMessageBox::No};
        ZoHaldenUpdateForm form;
        startCheck(form);
        QTRY_VERIFY_WITH_TIMEOUT(form.isVisible(), 10000);
        QTest::mouseClick(rowButton(form), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(askedTexts().size() >= 2, 15000);
        QTEST(askedTexts(), "asked");
        if (damaged) {
            QTRY_VERIFY(!form.isUpdating());
            QCOMPARE(zoTreeOf(m_install), before);
            QCOMPARE(zoReadFile(m_install + QStringLiteral("/config/app.ini")),
                QByteArray("old settings"));
            return;
        }
        QCOMPARE(m_sim->paths().count(QStringLiteral("GET /releases/release.zip")), 2);
        QCOMPARE(zoReadFile(m_install + QStringLiteral("/README.txt")), marker);
        // Refused a restart, the window stays open in the updating state.
        QVERIFY(form.isVisible());
        QVERIFY(form.isUpdating());
    }

    void offerLeavesInstallationAlone_data()
    {
        QTest::addColumn<int>("importance");
        QTest::newRow("ordinary release") << 2;
        QTest::newRow("mandatory release, still only offered") << 1;
    }
    void offerLeavesInstallationAlone()
    {
        QFETCH(int, importance);
        // The offer's texts with their numbers filled in; gone with the test.
        QTranslator english;
        QVERIFY(english.load(QStringLiteral(":/dict/ZoHaldenUpdate_en_US.qm")));
        QCoreApplication::installTranslator(&english);
        QVERIFY(serve(QStringLiteral("2.1.10"), importance, {{"README.txt", "2.1.10"}}));
        QVERIFY(startApplication());
        const QStringList before = zoTreeOf(m_install);
        ZoHaldenUpdateForm form;
        QSignalSpy exit(&form, &ZoHaldenUpdateForm::sigExitRequested);
        startCheck(form);
        // Under /usr: the package manager's to update, whoever may write there.
        form.setApplicationDir(QStringLiteral("/usr/lib/tolvane-not-here"));

        QTRY_VERIFY_WITH_TIMEOUT(form.isVisible(), 10000);
        QCOMPARE(form.updateMode(), ZoUpdateMode::OfferPackageManaged);
        ZoHaldenOfferForm *offer = form.offer();
        QVERIFY(offer && offer->isVisible() && form.upgradeList()->rows().isEmpty());
        const auto text = [offer](const char *name) {
            return offer->findChild<QLabel *>(QLatin1String(name))->text();
        };
        QCOMPARE(text("labTitle"), QStringLiteral("Version 2.1.10 is available"));
        QCOMPARE(text("labInstalled"), QStringLiteral("Installed: ") + QLatin1String(kInstalled));
        QVERIFY(text("labReason").contains(QStringLiteral("package manager")));
        QCOMPARE(offer->findChild<QLabel *>(QStringLiteral("labRequired"))->isVisible(),
            importance == 1);
        QCOMPARE(offer->findChild<QTextBrowser *>()->toPlainText(),
            QStringLiteral("Release notes of 2.1.10"));
        const QString address = m_sim->baseUrl() + QStringLiteral("/releases/release.zip");
        QCOMPARE(offer->findChild<QLineEdit *>()->text(), address);
        QTest::mouseClick(
            offer->findChild<QPushButton *>(QStringLiteral("btnCopyAddress")), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), address);

        // Not even asked to, the form fetches, extracts and ends nothing.
        form.on_btnUpgrade_clicked();
        QTest::qWait(1500);
        QVERIFY(!form.isUpdating());
        QVERIFY(!m_sim->paths().contains(QStringLiteral("GET /releases/release.zip")));
        QCOMPARE(m_app->state(), QProcess::Running);
        QCOMPARE(zoTreeOf(QDir::currentPath()), QStringList());
        QCOMPARE(zoTreeOf(m_install), before);
        QCOMPARE(askedTexts(), QStringList());

        QTest::mouseClick(
            offer->findChild<QPushButton *>(QStringLiteral("btnClose")), Qt::LeftButton);
        QTRY_COMPARE(exit.count(), 1);
        QCOMPARE(exit.first().first().toInt(), 0); // Tolvane goes on as after no release
        QCOMPARE(askedTexts(), QStringList());
    }

    void rowFoldsAndPaintsProgress()
    {
        ZoHaldenUpdateForm form;
        form.setLanguage(QStringLiteral("en_US"));
        ZoHaldenUpdateInfo info;
        info.version = QStringLiteral("9.0");
        info.description = QStringLiteral("line one\nline two\nline three");
        info.url = QStringLiteral("http://127.0.0.1:1/release.zip");
        form.onHaldenUpgradeTipDownloaded(info);
        QVERIFY(form.isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        ZoListItemForm *row = form.upgradeList()->rows().first();
        QCOMPARE(row->body()->text(), info.description + QStringLiteral("\n\n\n"));
        ZoListItemHeaderForm *header = row->header();
        const int folded = row->listItem()->sizeHint().height();

        QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(row->isExpanded());
        QVERIFY(row->body()->isVisible());
        // The whole notes fit, three lines and the blank ones after them.
        QVERIFY(row->listItem()->sizeHint().height() > folded + 3 * header->fontMetrics().height());
        QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!row->isExpanded());
        QVERIFY(!row->body()->isVisible());
        QCOMPARE(row->listItem()->sizeHint().height(), folded);

        // Download progress fills the header from the left; without a known
        // total nothing is painted.
        const QColor fill(0, 157, 254);
        form.onDownloadProgress(50, 100);
        QCOMPARE(header->progress(), 0.5f);
        QImage image = header->grab().toImage();
        QCOMPARE(image.pixelColor(2, image.height() - 2), fill);
        QVERIFY(image.pixelColor(image.width() - 2, image.height() - 2) != fill);
        form.onDownloadProgress(50, -1);
        QVERIFY(header->progress() < 0);
        image = header->grab().toImage();
        QVERIFY(image.pixelColor(2, image.height() - 2) != fill);
        form.onDownloadProgress(0, 0);
        QVERIFY(header->progress() < 0);
    }

private:
    // Serves one release of the given importance and archive.
    bool serve(const QString &version, int importance, const QList<ZoTestZipEntry> &archive,
        const QStringList &faults = {})
    {
        m_sim = std::make_unique<ZoTestCloudSim>();
        const QJsonObject release {{"match", QJsonObject {{"key", 7}}},
            {"cdt", "2026-12-01 08:00:00"}, {"importanceLevel", importance},
            {"description", "Release notes of " + version}, {"version", version},
            {"archive", "release.zip"}};
        const QByteArray json
            = QJsonDocument(QJsonObject {{"releases", QJsonArray {release}}}).toJson();
        const QString zip = m_tmp->filePath(QStringLiteral("release.zip"));
        if (!archive.isEmpty() && !zoWriteTestZip(zip, archive))
            return false;
        return m_sim->writeFile(QStringLiteral("releases.json"), json)
            && (archive.isEmpty()
                || m_sim->writeFile(QStringLiteral("releases/release.zip"), zoReadFile(zip)))
            && m_sim->start(false, faults);
    }

    // The application being updated, running as it does while its updater
    // works: it notes every request to stop and obeys it.
    bool startApplication()
    {
        m_app = std::make_unique<QProcess>();
        m_app->start(m_appPath,
            {QStringLiteral("term"), m_tmp->filePath(QStringLiteral("app-marks")),
                QStringLiteral("obey")});
        return m_app->waitForReadyRead(5000) && m_app->readAll().startsWith("ready");
    }

    void startCheck(ZoHaldenUpdateForm &form)
    {
        form.setApplicationDir(m_install);
        form.setLanguage(QStringLiteral("en_US"));
        form.setCurVersion(QLatin1String(kInstalled));
        form.setChannel(7);
        form.setName(QLatin1Char('"') + m_appName + QLatin1Char('"'));
        form.setCode(QString());
        form.startCheck(m_sim->baseUrl() + QLatin1String(kQueryPath));
    }

    QPushButton *rowButton(ZoHaldenUpdateForm &form) const
    {
        const QList<ZoListItemForm *> rows = form.upgradeList()->rows();
        return rows.isEmpty()
            ? nullptr
            : rows.first()->header()->findChild<QPushButton *>(QStringLiteral("btnUpgrade"));
    }

    QStringList askedTexts() const
    {
        QStringList out;
        for (const ZoMessageBox::Request &r : ZoMessageBox::shownRequests())
            out << r.title + QLatin1Char('/') + r.text;
        return out;
    }

    std::unique_ptr<QTemporaryDir> m_tmp;
    std::unique_ptr<ZoTestCloudSim> m_sim;
    std::unique_ptr<QProcess> m_app;
    QString m_install; // the installation the release goes into
    QString m_appName; // the application's executable, unique per test
    QString m_appPath; // and where it is installed
    QString m_previousDir;
    QList<int> m_answers; // given in order; Yes when they run out
};

QTEST_MAIN(tst_ZoHaldenUpdateForm)
#include "tst_zohaldenupdateform.moc"
