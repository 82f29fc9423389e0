#include "ZoHaldenUpdateForm.h"
#include "ui_ZoHaldenUpdateForm.h"

#include "ZoApplicationUpgradeInfo.h"
#include "ZoHaldenOfferForm.h"
#include "ZoMessageBox.h"
#include "ZoModuleUpgradeInfo.h"
#include "ZoPlatform.h"
#include "ZoUpgradeListWidget.h"
#include "ZoZipHelper.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QThreadPool>
#include <QUrl>
#include <QtConcurrent>

Q_LOGGING_CATEGORY(lcHaldenForm, "haldenupdate.form")

// Where people get the application when a release names no address; set
// when the build is configured.
#ifndef TOLVANE_HOMEPAGE
#define TOLVANE_HOMEPAGE ""
#endif

namespace {

// Check states of checkResults.
constexpr tds4 kPending = 0;
constexpr tds4 kOffered = 1;
constexpr tds4 kNothingToDo = 2;

constexpr tds4 kMandatory = 1;

} // namespace

ZoHaldenUpdateForm::ZoHaldenUpdateForm(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ZoHaldenUpdateForm>())
    , m_applicationDir(QCoreApplication::applicationDirPath())
{
    qRegisterMetaType<ZoHaldenUpdateInfo>("ZoHaldenUpdateInfo");
    qRegisterMetaType<tds8>("tds8");
    qRegisterMetaType<tds4>("tds4");

    ui->setupUi(this);
    ui->progressBar->hide();
    ui->btnUpgrade->hide();

    connect(&m_httpHelper, &ZoHttpHelper::sigHaldenUpgradeTipDownloaded, this,
        &ZoHaldenUpdateForm::onHaldenUpgradeTipDownloaded);
    connect(&m_httpHelper, &ZoHttpHelper::sigDownloadFailed, this,
        &ZoHaldenUpdateForm::onDownloadTipFailed);
    connect(&m_downloadManager, &ZoDownloadManager::sigDownloadProgress, this,
        &ZoHaldenUpdateForm::onDownloadProgress);
    connect(&m_downloadManager, &ZoDownloadManager::sigDownloadFinished, this,
        &ZoHaldenUpdateForm::onDownloadFinished);
    connect(this, &ZoHaldenUpdateForm::sigUnZipProgressValueChanged, this,
        &ZoHaldenUpdateForm::onUnZipProgressValueChanged);
    connect(this, &ZoHaldenUpdateForm::sigUnZipFinished, this,
        &ZoHaldenUpdateForm::onUnZipFinished);
    connect(this, &ZoHaldenUpdateForm::sigCopyFilesProgressChanged, this,
        &ZoHaldenUpdateForm::onCopyFilesProgressChanged);
    connect(ui->wgtList, &ZoUpgradeListWidget::sigUpgradeGcs, this,
        &ZoHaldenUpdateForm::onUpgradeGcs);
}

ZoHaldenUpdateForm::~ZoHaldenUpdateForm()
{
    m_downloadManager.stop();
    m_unzipFuture.waitForFinished();
}

ZoUpgradeListWidget *ZoHaldenUpdateForm::upgradeList() const
{
    return ui->wgtList;
}

void ZoHaldenUpdateForm::setLanguage(const QString &language)
{
    m_language = language;
    ui->wgtList->setLanguage(language);
}

void ZoHaldenUpdateForm::startCheck(const QString &url)
{
    m_httpHelper.checkUpgrade(m_channel, m_code, url);
}

bool ZoHaldenUpdateForm::isNewerVersion(const QString &offered, const QString &installed)
{
    const QStringList a = offered.split(QLatin1Char('.'));
    const QStringList b = installed.split(QLatin1Char('.'));
    for (int i = 0; i < qMax(a.size(), b.size()); ++i) {
        // toLongLong gives 0 for anything that is no decimal number.
        const qlonglong x = i < a.size() ? a.at(i).toLongLong() : 0;
        const qlonglong y = i < b.size() ? b.at(i).toLongLong() : 0;
        if (x != y)
            return x > y;
    }
    return false;
}

void ZoHaldenUpdateForm::checkIsQuit(tds4 key, tds4 state)
{
    qCDebug(lcHaldenForm) << "ZoHaldenUpdateForm::checkIsQuit" << key << state;
    m_checkResults[key] = state;
    bool show = false;
    for (auto it = m_checkResults.cbegin(); it != m_checkResults.cend(); ++it) {
        if (it.value() == kOffered) {
            show = true;
            break;
        }
        if (it.value() == kPending)
            return;
    }
    qCDebug(lcHaldenForm) << "ZoHaldenUpdateForm::checkIsQuit" << (show ? "show" : "quit");
    if (show)
        this->show();
    else
        requestExit(0);
}

void ZoHaldenUpdateForm::requestExit(int exitCode)
{
    if (m_exitRequested)
        return;
    m_exitRequested = true;
    Q_EMIT sigExitRequested(exitCode);
}

void ZoHaldenUpdateForm::onDownloadTipFailed(const QString &errStr)
{
    qCDebug(lcHaldenForm).noquote() << QStringLiteral("ZoHaldenUpdateForm::onDownloadTipFailed ") + errStr;
    checkIsQuit(0, kNothingToDo);
}

void ZoHaldenUpdateForm::onHaldenUpgradeTipDownloaded(const ZoHaldenUpdateInfo &info)
{
    m_info = info;
    const bool newer = isNewerVersion(m_info.version, m_curVersion);
    if (newer) {
        qCDebug(lcHaldenForm).noquote()
            << QStringLiteral(
                   "ZoHaldenUpdateForm::onHaldenUpgradeTipDownloaded \n%1\n%2\n%3\n%4\n%5")
                   .arg(m_info.cdt)
                   .arg(m_info.importanceLevel)
                   .arg(m_info.description, m_info.version, m_info.url);
        // Asked only now: a start without a newer release touches nothing.
        m_mode = ZoUpdateMode::forInstallation(m_applicationDir);
        if (ZoUpdateMode::isOfferOnly(m_mode)) {
            showOffer();
            checkIsQuit(0, kOffered);
            return;
        }
        const bool mandatory = m_info.importanceLevel == kMandatory;
        auto *module = new ZoModuleUpgradeInfo(this);
        module->projId = -1;
        module->title = QStringLiteral("%1 V%2").arg(
            mandatory ? tr("LabHaldenIsUpdating") : tr("LabHaldenVersionTip"), m_info.version);
        ZoApplicationUpgradeInfo *app = module->addApplication();
        app->version = m_info.version;
        app->descriptionZh = m_info.description;
        app->descriptionEn = m_info.description;
        app->isUpgradeAvailable = true;
        app->isMandatory = mandatory;
        ui->wgtList->addModule(module);
    }
    checkIsQuit(0, newer ? kOffered : kNothingToDo);
}

// The list, the progress and the button stay hidden: nothing on the window
// can start a download.
void ZoHaldenUpdateForm::showOffer()
{
    ui->wgtList->hide();
    ui->labHaldenVersionTip->hide();
    m_offer = new ZoHaldenOfferForm(this);
    ui->vlMain->insertWidget(1, m_offer, 1);
    m_offer->setOffer(
        m_info, m_curVersion, m_mode, m_applicationDir, QString::fromUtf8(TOLVANE_HOMEPAGE));
    connect(m_offer, &ZoHaldenOfferForm::sigCloseRequested, this, &QWidget::close);
}

void ZoHaldenUpdateForm::onUpgradeGcs(bool isStartUpgrade)
{
    if (isStartUpgrade)
        startUpdate();
    else
        stopUpdate();
}

void ZoHaldenUpdateForm::on_btnUpgrade_clicked()
{
    if (!m_isUpdating)
        startUpdate();
    else
        stopUpdate();
}

void ZoHaldenUpdateForm::startUpdate()
{
    // Not the updater's installation: neither fetched nor extracted over it,
    // and the application is left running.
    if (ZoUpdateMode::isOfferOnly(m_mode))
        return;
    m_isUpdating = true;
    ui->btnUpgrade->setText(tr("BtnStopUpdate"));
    ui->progressBar->setValue(0);
    const QUrl url = QUrl::fromEncoded(m_info.url.toLocal8Bit());
    if (url.isValid())
        m_downloadManager.append(url);
    else
        qCWarning(lcHaldenForm).noquote()
            << "ZoHaldenUpdateForm::startUpdate - the offered address is no URL:" << m_info.url;
    // The files of a running program cannot be replaced everywhere, and the
    // new version must not find the old one still running.
    ZoPlatform::killProcessesByName(m_name);
}

void ZoHaldenUpdateForm::stopUpdate()
{
    m_isUpdating = false;
    ui->btnUpgrade->setText(tr("BtnStartUpdate"));
    m_downloadManager.stop();
    ui->progressBar->setValue(0);
    ui->btnUpgrade->setEnabled(true);
    ui->wgtList->setProgress(-1, -1.0f);
}

void ZoHaldenUpdateForm::onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    // Without a known total there is no ratio to show.
    const float ratio = bytesTotal > 0 ? float(bytesReceived) / float(bytesTotal) : -1.0f;
    ui->wgtList->setProgress(-1, ratio);
    ui->progressBar->setValue(ratio >= 0.0f ? int(ratio * 100.0f) : 0);
}

void ZoHaldenUpdateForm::onDownloadFinished(const QString &filename, bool isSucc)
{
    qCDebug(lcHaldenForm) << "ZoHaldenUpdateForm::onDownloadFinished " << isSucc << filename;
    if (isSucc) {
        m_zipFileName = filename;
        ui->btnUpgrade->setEnabled(false);
        startUnzip();
        return;
    }
    if (ZoMessageBox::question(
            tr("LabWarning"), tr("MsgConfirmToUpdateRetryBecauseDownloadFailed"))
        == QMessageBox::Yes)
        startUpdate();
    else
        stopUpdate();
}

// The download manager writes into the working directory, which need not be
// the installation: the archive is taken from where it was written.
void ZoHaldenUpdateForm::startUnzip()
{
    const QString destDir = m_applicationDir + QLatin1Char('/');
    const QString zipPath = QFileInfo(m_zipFileName).absoluteFilePath();
    m_unzipFuture = QtConcurrent::run(QThreadPool::globalInstance(),
        [this, destDir, zipPath] { unzipWorker(destDir, zipPath); });
}

void ZoHaldenUpdateForm::unzipWorker(const QString &destDir, const QString &zipPath)
{
    ZoZipHelper zip;
    connect(
        &zip, &ZoZipHelper::sigUpZipProgress, &zip,
        [this](tds8 done, tds8 total) { Q_EMIT sigUnZipProgressValueChanged(done, total); },
        Qt::DirectConnection);
    connect(
        &zip, &ZoZipHelper::sigUpZipFinished, &zip,
        [this](bool ok) { Q_EMIT sigUnZipFinished(ok); }, Qt::DirectConnection);
    zip.upzip(zipPath, destDir);
}

void ZoHaldenUpdateForm::onUnZipProgressValueChanged(tds8 unzipFileNum, tds8 totalFileNum)
{
    if (totalFileNum > 0)
        ui->progressBar->setValue(int(double(unzipFileNum) / double(totalFileNum) * 100.0));
}

void ZoHaldenUpdateForm::onCopyFilesProgressChanged(tds4 currIndex, tds4 totalNum)
{
    if (totalNum > 0)
        ui->progressBar->setValue(int(double(currIndex) / double(totalNum) * 100.0));
}

void ZoHaldenUpdateForm::onUnZipFinished(bool isSucc)
{
    if (!isSucc) {
        if (ZoMessageBox::question(
                tr("LabWarning"), tr("MsgConfirmToUpdateRetryBecauseUnZipFailed"))
            == QMessageBox::Yes) {
            ui->btnUpgrade->setEnabled(false);
            startUnzip();
        } else {
            stopUpdate();
        }
        return;
    }
    qCDebug(lcHaldenForm) << "ZoHaldenUpdateForm::onUnZipFinished " << isSucc;
    QFile::remove(QFileInfo(m_zipFileName).absoluteFilePath());
    ui->btnUpgrade->setEnabled(true);
    if (ZoMessageBox::question(tr("LabTip"), tr("MsgIsStartSoftwareProcess")) == QMessageBox::Yes) {
        startApplication();
        checkIsQuit(0, kNothingToDo);
    }
}

void ZoHaldenUpdateForm::startApplication()
{
    // Fails whenever "-k" names a program file, as it does; the application
    // then starts in the working directory it had.
    QDir::setCurrent(m_applicationDir + QLatin1Char('/') + m_name);
    if (!ZoPlatform::startDetached(m_applicationDir, m_name, {}, QDir::currentPath()))
        qCWarning(lcHaldenForm).noquote()
            << "ZoHaldenUpdateForm::onUnZipFinished - cannot start" << m_name << "from"
            << m_applicationDir;
}

void ZoHaldenUpdateForm::closeEvent(QCloseEvent *event)
{
    qCDebug(lcHaldenForm) << "ZoHaldenUpdateForm::closeEvent";
    event->ignore();
    if (ZoUpdateMode::isOfferOnly(m_mode)) {
        requestExit(0);
        return;
    }
    if (m_isUpdating
        && ZoMessageBox::question(tr("LabWarning"), tr("MsgGcsIsUpdatingConfirmToExit"))
            != QMessageBox::Yes)
        return;
    m_downloadManager.stop();
    requestExit(m_info.importanceLevel == kMandatory ? 2 : 1);
}
