#include "ZoTolMainWindow.h"
#include "ui_ZoTolMainWindow.h"

#include "ZoAddGNCForm.h"
#include "ZoCoreFMHeaderForm.h"
#include "ZoDataLinkSettingForm.h"
#include "ZoDeviceListView.h"
#include "ZoHistoryForm.h"
#include "ZoHistoryRecorder.h"
#include "ZoManualAddModuleForm.h"
#include "ZoMessageBox.h"
#include "ZoModuleFMHeaderForm.h"
#include "ZoModuleFMInfoForm.h"
#include "ZoPlaneSearch.h"
#include "ZoRoundWaterProgressBar.h"
#include "ZoSearchPlaneDeviceForm.h"
#include "ZoSelectGNCForm.h"
#include "ZoSelectModuleForm.h"
#include "ZoTvkInstance.h"
#include "ZoUtils.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QDir>
#include <QLayout>
#include <QListView>
#include <QListWidget>
#include <QMediaPlayer>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace {

// The not-found box's own buttons: brown, larger while hovered.
QString notFoundButtonStyle()
{
    const auto rule = [](const char *selector, const char *colour, int pointSize) {
        return QStringLiteral("%1{border:1px solid black;border-radius:5px;color:white;"
                              "font-family:\"Microsoft YaHei\";background-color:%2;"
                              "font-size:%3pt;}")
            .arg(QLatin1String(selector), QLatin1String(colour))
            .arg(pointSize);
    };
    return rule("QPushButton", "#CC9900", 10) + rule("QPushButton:hover", "#D1C18E", 12)
        + rule("QPushButton:pressed", "#98895D", 9);
}

QMessageBox::StandardButton standardButtonOf(int engineButton)
{
    switch (engineButton) {
    case ZoUpgradeWorkflow::ButtonYes:
        return QMessageBox::Yes;
    case ZoUpgradeWorkflow::ButtonNo:
        return QMessageBox::No;
    case ZoUpgradeWorkflow::ButtonCancel:
        return QMessageBox::Cancel;
    default:
        return QMessageBox::NoButton;
    }
}

// The dictionary's sentence with the device (and what it reports) in its
// places. Without a dictionary, or with one whose sentence lacks the places,
// they follow the key, as in the other boxes that name a device.
QString fillIn(const QString &text, const QString &device, const QString &reported = QString())
{
    if (!text.contains(QLatin1String("%1")))
        return QStringLiteral("%1:%2").arg(
            text, reported.isNull() ? device : device + QLatin1Char(' ') + reported);
    return reported.isNull() ? text.arg(device) : text.arg(device, reported);
}

int engineButtonOf(QMessageBox::StandardButton button)
{
    switch (button) {
    case QMessageBox::Yes:
        return ZoUpgradeWorkflow::ButtonYes;
    case QMessageBox::No:
        return ZoUpgradeWorkflow::ButtonNo;
    default:
        // A box closed through its title bar refuses, as Cancel does.
        return ZoUpgradeWorkflow::ButtonCancel;
    }
}

} // namespace

namespace {

ZoUpgradeEnvironment programEnvironment(ZoPlaneConfig *config)
{
    ZoUpgradeEnvironment env = ZoUpgradeEnvironment::from(*ZoTvkInstance::instance());
    if (config)
        env.link = config;
    return env;
}

} // namespace

ZoTolMainWindow::ZoTolMainWindow(ZoPlaneConfig *config, QWidget *parent)
    : ZoTolMainWindow(programEnvironment(config), parent)
{
}

ZoTolMainWindow::ZoTolMainWindow(const ZoUpgradeEnvironment &env, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ZoTolMainWindow)
{
    ui->setupUi(this);
    m_tipsHide.setSingleShot(true);
    m_tipsHide.setInterval(TipsHideMs);
    connect(&m_tipsHide, &QTimer::timeout, this, [this] { showTips(QString()); });
    setMouseTracking(true);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);

    // Signal arguments by their alias names, for queued connections across
    // the looper's thread.
    qRegisterMetaType<tVersion>("tVersion");
    qRegisterMetaType<tdu1>("tdu1");
    qRegisterMetaType<tdu2>("tdu2");
    qRegisterMetaType<ZoFRMFileInfo>("ZoFRMFileInfo");
    qRegisterMetaType<tFcsDateTime>("tFcsDateTime");
    qRegisterMetaType<tds4>("tds4");

    m_engine = new ZoUpgradeWorkflow(env, this);
    ZoUpgradeWorkflow *e = m_engine;
    m_controls = new ZoWindowControls(e, this);

    ui->labelSWVersion->setText(QStringLiteral("V%1").arg(QLatin1String(ProgramVersion)));
    ui->labelLogo->setStyleSheet(
        QStringLiteral("QLabel{image: url(:/resource/korvelhalden.png);};"));
    ui->cmbFMSvrBranchType->setView(new QListView(ui->cmbFMSvrBranchType));
    ui->cmbFMSvrBranchType->hide();
    ui->cmbFMSvrBranchType->setEnabled(false);
    ui->lineEditCustBranchKey->hide();
    ui->btnGetCustomBranch->hide();
    ui->labelDownloadTip->hide();
    ui->btnAllUpgrade->setEnabled(false);
    retranslate();
    showConnection(false);

    m_list = new ZoDeviceListView(ui->listWidgetModuleInfo, e, this);
    m_list->setEnabledParts(
        m_controls->state().coreHeaderEnabled, m_controls->state().manualAddEnabled);
    connect(m_list, &ZoDeviceListView::sigDetails, this,
        &ZoTolMainWindow::onShowModuleTarFMReleaseNote);
    connect(&e->run(), &ZoUpgradeRun::sigDevicePhase, this, &ZoTolMainWindow::onDevicePhase);
    connect(m_controls, &ZoWindowControls::sigChanged, this, &ZoTolMainWindow::onControlsChanged);
    connect(&e->targets(), &ZoTargetIntake::sigStateChanged, this,
        &ZoTolMainWindow::onCatalogueState);
    connect(e, &ZoUpgradeWorkflow::sigPlaySound, this, &ZoTolMainWindow::onPlaySound);
    connect(e, &ZoUpgradeWorkflow::sigWaitPopup, this, &ZoTolMainWindow::onWaitPopup);
    connect(
        e, &ZoUpgradeWorkflow::sigConnectionChanged, this, &ZoTolMainWindow::onConnectionChanged);
    connect(e, &ZoUpgradeWorkflow::sigSelectModules, this, &ZoTolMainWindow::onSelectModules);
    connect(e, &ZoUpgradeWorkflow::sigShowAddCore, this, &ZoTolMainWindow::onShowAddCore);
    connect(e, &ZoUpgradeWorkflow::sigCloseAddCore, this, &ZoTolMainWindow::onCloseAddCore);
    // Boxes wait for the user in a modal loop of their own; the engine must
    // not be inside one of its slots meanwhile, so they open from the event
    // loop instead of from within the signal.
    connect(e, &ZoUpgradeWorkflow::sigRunEnded, this, &ZoTolMainWindow::onRunEnded,
        Qt::QueuedConnection);
    connect(e, &ZoUpgradeWorkflow::sigInformation, this, &ZoTolMainWindow::onInformation,
        Qt::QueuedConnection);
    connect(&e->campaign(), &ZoCampaignGuard::sigWarning, this, &ZoTolMainWindow::onInformation,
        Qt::QueuedConnection);
    connect(e, &ZoUpgradeWorkflow::sigQuestion, this, &ZoTolMainWindow::onQuestion,
        Qt::QueuedConnection);
    connect(e->search(), &ZoPlaneSearch::sigSerialPortDenied, this, &ZoTolMainWindow::onSerialPortDenied,
        Qt::QueuedConnection);
    connect(e, &ZoUpgradeWorkflow::sigRollbackRefused, this,
        [this](QString why) { ZoMessageBox::information(this, tr("MsgInfo"), why); });
    // Once: the run goes on, and a box a device would bury the progress.
    if (const ZoHistoryRecorder *history = e->history())
        connect(
            history, &ZoHistoryRecorder::sigUnwritable, this,
            [this](const QString &why) {
                if (!std::exchange(m_historyWarned, true))
                    ZoMessageBox::warning(
                        this, tr("MsgInfo"), fillIn(tr("MsgHistoryUnwritable"), why));
            },
            Qt::QueuedConnection);
    if (const ZoHistoryRecorder *history = e->history())
        connect(
            history, &ZoHistoryRecorder::sigImageFromCache, this,
            [this](ZoDeviceKey key, tVersion version, bool sameAircraft) {
                int airframe = 0;
                const auto &records = m_engine->roster().records();
                const QString text = sameAircraft ? tr("MsgImageFromCacheThisAircraft")
                                                  : tr("MsgImageFromCacheOtherAircraft");
                onInformation(fillIn(text,
                    records.contains(key) ? records.value(key).name
                                          : ZoUtils::deviceName(key.type, airframe),
                    ZoUtils::versionText(version)));
            },
            Qt::QueuedConnection);

    m_linkSettings = new ZoDataLinkSettingForm(this);
    centre(m_linkSettings);
    m_linkSettings->hide();
    connect(e, &ZoUpgradeWorkflow::sigHideLinkSettings, m_linkSettings, &QWidget::hide);
    connect(m_linkSettings, &ZoDataLinkSettingForm::sigOpenComUdp, this,
        [this](QString host, tds4 hostPort, tds4 localPort) {
            stopRunFirst([=] { m_engine->onSearchOnspecUdpCom(host, hostPort, localPort); });
        });
    connect(m_linkSettings, &ZoDataLinkSettingForm::sigOpenComSerial, this,
        [this](QString com, tds4 baud, tds4 dataBits, tds4 parity, tds4 stopBits) {
            stopRunFirst(
                [=] { m_engine->onSearchOnSpecSPCom(com, baud, dataBits, parity, stopBits); });
        });
    connect(m_linkSettings, &ZoDataLinkSettingForm::sigOpenComTcpClient, this,
        [this](QString host, tds4 hostPort, tds4 localPort) {
            stopRunFirst([=] { m_engine->onSearchOnspecTcpClientCom(host, hostPort, localPort); });
        });
    connect(m_linkSettings, &ZoDataLinkSettingForm::sigCloseCom, this, [this] {
        stopRunFirst([this] { m_engine->onClosePlaneComm(); },
            [this] {
                // The form took the link for closed as its button was
                // clicked; it stays open.
                if (m_openLink >= 0)
                    m_linkSettings->onOpenCommState(m_openLink, true);
            });
    });
    connect(e, &ZoUpgradeWorkflow::sigLinkOpened, this,
        [this](int type, bool ok) { m_openLink = ok ? type : -1; });
    connect(e, &ZoUpgradeWorkflow::sigLinkClosed, this, [this] { m_openLink = -1; });
    connect(e, &ZoUpgradeWorkflow::sigLinkOpened, m_linkSettings,
        &ZoDataLinkSettingForm::onOpenCommState);
    connect(e, &ZoUpgradeWorkflow::sigLinkClosed, m_linkSettings,
        &ZoDataLinkSettingForm::onCloseCommState);
    connect(e->search(), &ZoPlaneSearch::sigPlaneConnectionFound, m_linkSettings,
        &ZoDataLinkSettingForm::onSynFoundConnection);

    m_searchForm = new ZoSearchPlaneDeviceForm(e, this);

    m_waitPopup = new ZoRoundWaterProgressBar(this);
    m_waitPopup->setFixedSize(200, 200);
    m_waitPopup->setRange(0, 100);
    m_waitPopup->hide();

    m_player = new QMediaPlayer(this);
    m_player->setVolume(100);

    centre(m_searchForm);
    m_searchForm->show();
    m_searchForm->raise();
    QTimer::singleShot(0, e, &ZoUpgradeWorkflow::startSearch);
}

ZoTolMainWindow::~ZoTolMainWindow()
{
    // The engine goes first, while every row it could still report to exists;
    // nothing of the window hears it on its way out.
    m_engine->disconnect(this);
    delete m_list;
    delete m_engine;
    m_engine = nullptr;
    delete ui;
}

// ---- texts ------------------------------------------------------------------

QString ZoTolMainWindow::viewText(const QString &key) const
{
    return QCoreApplication::translate("ZoTolMainWindow", key.toUtf8().constData());
}

void ZoTolMainWindow::retranslate()
{
    setWindowTitle(tr("WndAppName"));
    ui->labelTilte->setText(tr("WndAppName"));
    ui->labelCopyRight->setText(tr("MsgCopyRight"));
    // While a flash must not be cut, one plain line says so.
    ui->labelAlarmTip->setStyleSheet(m_holdPower
            ? QStringLiteral("color:#FF3300;font-size:14px;font-weight:bold;")
            : QStringLiteral("color:#F29932;font-size:11px;"));
    ui->labelAlarmTip->setText(m_holdPower
            ? tr("LabDoNotDisconnect")
            : QStringLiteral("1.%1\n2.%2").arg(tr("LabKeepOnPower"), tr("LabRestartAfterDone")));
    ui->labelConnState->setText(m_connected ? tr("LabConnected") : tr("LabUnConnected"));
    if (!m_tipsKey.isEmpty())
        ui->labelDownloadTip->setText(viewText(m_tipsKey));
}

void ZoTolMainWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        retranslate();
    }
    QWidget::changeEvent(event);
}

void ZoTolMainWindow::showConnection(bool connected)
{
    m_connected = connected;
    ui->labelConnState->setStyleSheet(connected ? QStringLiteral("color: rgb(0, 255, 0);")
                                                : QStringLiteral("color: rgb(200, 200, 200);"));
    ui->labelConnState->setText(connected ? tr("LabConnected") : tr("LabUnConnected"));
    ui->labelConnStateSignal->setStyleSheet(connected
            ? QStringLiteral("border-image: url(:/resource/connected.png);")
            : QStringLiteral("border-image: url(:/resource/disconnected.png);"));
}

void ZoTolMainWindow::onConnectionChanged(bool connected)
{
    showConnection(connected);
}

// ---- the device list ------------------------------------------------------------

ZoModuleFMInfoForm *ZoTolMainWindow::row(ZoDeviceKey key) const
{
    return m_list->row(key);
}

int ZoTolMainWindow::rowIndex(ZoDeviceKey key) const
{
    return m_list->rowIndex(key);
}

QList<QWidget *> ZoTolMainWindow::rowWidgets() const
{
    return m_list->rowWidgets();
}

void ZoTolMainWindow::onShowModuleTarFMReleaseNote(ZoDeviceKey key)
{
    const ZoDevFMInfo record = m_engine->roster().records().value(key);
    if (record.releaseNote.isEmpty())
        return;
    const tVersion &v = record.tarVersion;
    const QString name = m_engine->roster().shownName(key);
    ZoMessageBox::information(this, QStringLiteral("%1 %2").arg(name, tr("MsgDetailInfo")),
        QStringLiteral("%1 %2\n\n%3\n%4")
            .arg(name, QStringLiteral("V%1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision),
                tr("MsgReleaseNote"), record.releaseNote));
}

// ---- controls and tips ------------------------------------------------------------

void ZoTolMainWindow::onControlsChanged()
{
    const ZoWindowControls::State &c = m_controls->state();
    ui->btnAllUpgrade->setEnabled(c.upgradeEnabled);
    ui->btnHistory->setEnabled(c.historyEnabled);
    ui->cmbFMSvrBranchType->setVisible(c.branchVisible);
    ui->cmbFMSvrBranchType->setEnabled(c.branchEnabled);
    ui->lineEditCustBranchKey->setVisible(c.customKeyVisible);
    ui->btnGetCustomBranch->setVisible(c.customKeyVisible);
    m_list->setEnabledParts(c.coreHeaderEnabled, c.manualAddEnabled);
}

void ZoTolMainWindow::onCatalogueState(ZoTargetIntake::State state)
{
    using State = ZoTargetIntake::State;
    m_tipsHide.stop();
    switch (state) {
    case State::Fetching:
        showTips(QStringLiteral("MsgFirmDownloading"));
        break;
    case State::Ready:
    case State::Failed:
        // A result that comes outside the ready mode (a search, a run) is
        // no news about the targets on show.
        if (m_engine->stage() != ZoUpgradeWorkflow::Stage::Ready) {
            showTips(QString());
            break;
        }
        showTips(state == State::Ready ? QStringLiteral("MsgFirmDownloaded")
                                       : QStringLiteral("MsgFirmDownloadFailed"));
        m_tipsHide.start();
        break;
    default:
        showTips(QString());
        break;
    }
}

void ZoTolMainWindow::showTips(const QString &textKey)
{
    m_tipsKey = textKey;
    if (textKey.isEmpty()) {
        ui->labelDownloadTip->clear();
        ui->labelDownloadTip->hide();
        return;
    }
    ui->labelDownloadTip->setText(viewText(textKey));
    ui->labelDownloadTip->show();
}

void ZoTolMainWindow::on_btnAllUpgrade_clicked()
{
    m_engine->upgradeAll();
}

void ZoTolMainWindow::on_cmbFMSvrBranchType_activated(int index)
{
    m_engine->selectBranch(index);
}

void ZoTolMainWindow::on_btnGetCustomBranch_clicked()
{
    m_engine->fetchCustomBranch(ui->lineEditCustBranchKey->text());
}

// ---- boxes, sounds and popups ------------------------------------------------------

void ZoTolMainWindow::onDevicePhase(const ZoDevicePhase &now)
{
    if (m_holdPower != !now.mayPowerOff()) {
        m_holdPower = !now.mayPowerOff();
        retranslate();
    }
}

void ZoTolMainWindow::onRunEnded(ZoUpgradeWorkflow::RunOutcome outcome, ZoDeviceKey key)
{
    if (std::exchange(m_holdPower, false))
        retranslate();
    // The run's flashes are on the history now; an open view shows them, and
    // may roll back again.
    if (m_historyForm && m_historyForm->isVisible())
        loadHistory();
    using Outcome = ZoUpgradeWorkflow::RunOutcome;
    const auto &records = m_engine->roster().records();
    const ZoDevFMInfo record = records.value(key);
    int airframe = 0;
    const QString name
        = records.contains(key) ? record.name : ZoUtils::deviceName(key.type, airframe);
    QString text;
    switch (outcome) {
    case Outcome::Completed:
        text = QCoreApplication::translate("ZoUpgradeWorkflow", "MsgAllDevUpgraded");
        break;
    case Outcome::DeviceFailed:
        text = QCoreApplication::translate("ZoUpgradeWorkflow", "MsgUpgradeFailed");
        break;
    case Outcome::FirmwareUnusable:
        text = QStringLiteral("%1:%2").arg(
            QCoreApplication::translate("ZoUpgradeWorkflow", "MsgPrepareUpgradeFailed"), name);
        break;
    case Outcome::NotConfirmed:
        // What it answered after its transfer; type 0: it did not.
        if (record.confirmedVersion.type != 0)
            text = fillIn(tr("MsgRunNotConfirmedReports"), name,
                ZoUtils::versionText(record.confirmedVersion));
        else
            text = fillIn(tr("MsgRunNotConfirmedSilent"), name);
        break;
    case Outcome::StrandedWithoutTarget:
        text = fillIn(tr("MsgRunStrandedWithoutTarget"), name);
        break;
    case Outcome::JournalUnwritable:
        text = fillIn(tr("MsgRunJournalUnwritable"), name);
        break;
    case Outcome::CoreUnidentified:
        text = fillIn(tr("MsgRunCoreUnidentified"), name);
        break;
    case Outcome::LockRefused:
        text = fillIn(tr("MsgRunLockRefused"), name);
        break;
    case Outcome::LinkLost:
        // Lost between two devices, the link left none in its bootloader.
        text = !key.isNull() ? fillIn(tr("MsgRunLinkLostDevice"), name) : tr("MsgRunLinkLost");
        break;
    }
    ZoMessageBox::information(this, tr("MsgInfo"), text);
}

void ZoTolMainWindow::onInformation(QString text)
{
    ZoMessageBox::information(this, tr("MsgInfo"), text);
}

QString ZoTolMainWindow::buttonCaption(int question, int button) const
{
    // The not-found question's Yes searches again and its No adds a core.
    const bool notFound = question == ZoUpgradeWorkflow::QuestionNotFound;
    switch (button) {
    case ZoUpgradeWorkflow::ButtonYes:
        return notFound ? tr("BtnRetry") : tr("BtnYes");
    case ZoUpgradeWorkflow::ButtonNo:
        return notFound ? tr("BtnAdd") : tr("BtnMessageBoxNo");
    default:
        return tr("BtnCancel");
    }
}

void ZoTolMainWindow::onQuestion(int id, QString text, QList<int> buttons)
{
    QMessageBox::StandardButtons standard;
    for (int b : buttons)
        standard |= standardButtonOf(b);
    const bool notFound = id == ZoUpgradeWorkflow::QuestionNotFound;
    // Why nothing was found, when a port told: ahead of what to do next.
    if (notFound && !m_deniedNode.isEmpty())
        text = fillIn(tr("MsgSerialPortDenied"), std::exchange(m_deniedNode, QString()))
            + QStringLiteral("\n\n") + text;
    // Enter must not consent: a yes-or-no question defaults to No. The
    // not-found question's No adds a core by hand, so it has no default.
    const QMessageBox::StandardButton defaultButton
        = notFound || !(standard & QMessageBox::No) ? QMessageBox::NoButton : QMessageBox::No;
    ZoMessageBox box(
        this, notFound ? tr("MsgInfo") : tr("MsgConfirm"), text, standard, defaultButton);
    for (int b : buttons) {
        QAbstractButton *button = box.button(standardButtonOf(b));
        if (!button)
            continue;
        button->setText(buttonCaption(id, b));
        if (notFound)
            button->setStyleSheet(notFoundButtonStyle());
    }
    const QMessageBox::StandardButton answer = ZoMessageBox::showBox(box, QMessageBox::Question);
    m_engine->answer(id, engineButtonOf(answer));
}

void ZoTolMainWindow::onSerialPortDenied(QString node)
{
    // An automatic search reports the port as it ends unfound: its not-found
    // question is already queued behind this and tells it in the same box.
    // A port the user chose gets a box of its own, once nothing else took it
    // (two boxes at once would stack, the later one on top).
    m_deniedNode = node;
    QTimer::singleShot(0, this, [this] {
        if (m_deniedNode.isEmpty())
            return;
        ZoMessageBox::warning(this, tr("MsgInfo"),
            fillIn(tr("MsgSerialPortDenied"), std::exchange(m_deniedNode, QString())));
    });
}

void ZoTolMainWindow::onPlaySound(bool success)
{
    // A chime already sounding is not cut short by the next one.
    if (m_player->state() == QMediaPlayer::PlayingState)
        return;
    // From the working directory's audio/ (a portable copy, the build tree),
    // else from the installation: an installed program runs in any folder.
    const QString file
        = success ? QStringLiteral("audio/succ.wav") : QStringLiteral("audio/fail.wav");
    m_player->setMedia(QUrl::fromLocalFile(ZoTvkInstance::installedFile(file)));
    m_player->play();
}

void ZoTolMainWindow::onWaitPopup(bool visible, int value)
{
    m_waitPopup->setValue(value);
    if (!visible) {
        m_waitPopup->hide();
        return;
    }
    centre(m_waitPopup);
    m_waitPopup->show();
    m_waitPopup->raise();
}

// ---- forms ----------------------------------------------------------------------

void ZoTolMainWindow::centre(QWidget *child) const
{
    child->move((width() - child->width()) / 2, (height() - child->height()) / 2);
}

void ZoTolMainWindow::onSelectModules(QList<ZoDeviceKey> missing)
{
    if (missing.isEmpty()) {
        if (m_selectModule) {
            m_selectModule->setModules({});
            m_selectModule->hide();
        }
        return;
    }
    if (!m_selectModule) {
        m_selectModule = new ZoSelectModuleForm(this);
        connect(m_selectModule, &ZoSelectModuleForm::sigSelectedModule, m_engine,
            &ZoUpgradeWorkflow::onManSelectModule);
    }
    m_selectModule->setModules(missing);
    centre(m_selectModule);
    m_selectModule->show();
    m_selectModule->raise();
}

void ZoTolMainWindow::onShowAddCore(bool instead)
{
    if (instead) {
        // What the user typed into the link settings stays for next time.
        m_linkSettings->applySettings();
        m_linkSettings->hide();
    }
    if (!m_addCore) {
        m_addCore = new ZoAddGNCForm(this);
        connect(m_addCore, &ZoAddGNCForm::sigSelectGNC, this,
            &ZoTolMainWindow::onShowSelectGNCDeviceForm);
    }
    centre(m_addCore);
    m_addCore->stackUnder(m_linkSettings);
    m_addCore->show();
}

void ZoTolMainWindow::onCloseAddCore()
{
    if (m_addCore)
        m_addCore->hide();
}

void ZoTolMainWindow::onShowSelectGNCDeviceForm()
{
    if (!m_selectCore) {
        m_selectCore = new ZoSelectGNCForm(this);
        connect(m_selectCore, &ZoSelectGNCForm::sigSelectedGNC, m_engine,
            &ZoUpgradeWorkflow::onManSelectCoreGNCDevice);
    }
    centre(m_selectCore);
    m_selectCore->show();
    m_selectCore->raise();
}

// ---- the window -----------------------------------------------------------------

void ZoTolMainWindow::on_btnDLSetting_clicked()
{
    m_linkSettings->setVisible(!m_linkSettings->isVisible());
    if (m_linkSettings->isVisible())
        m_linkSettings->raise();
}

void ZoTolMainWindow::on_btnHistory_clicked()
{
    // Read afresh at each opening: a run may have added to it since.
    if (!m_historyForm) {
        m_historyForm = new ZoHistoryForm(this);
        // What the latest run changed goes back; the engine names it and asks.
        auto *rollBack = new QPushButton(tr("BtnRollBack"), m_historyForm);
        rollBack->setObjectName(QStringLiteral("btnRollBack"));
        m_historyForm->buttonRow()->insertWidget(1, rollBack);
        connect(rollBack, &QPushButton::clicked, this, [this] {
            m_historyForm->hide();
            m_engine->rollBack();
        });
    }
    // Over everything below the title row, which keeps the window's own buttons.
    m_historyForm->setGeometry(rect().adjusted(10, ui->btnDLSetting->y(), -10, -10));
    loadHistory();
    m_historyForm->show();
    m_historyForm->raise();
}

void ZoTolMainWindow::loadHistory()
{
    m_historyForm->showAircraft(m_engine->history()->path(), m_engine->roster().core().serial);
    m_historyForm->findChild<QPushButton *>(QStringLiteral("btnRollBack"))
        ->setEnabled(!m_historyForm->rows().isEmpty() && !m_engine->isUpgrading());
}

void ZoTolMainWindow::on_btnMinWnd_clicked()
{
    if (!isMinimized())
        showMinimized();
}

bool ZoTolMainWindow::confirmClose()
{
    if (!m_engine->isUpgrading())
        return true;
    return ZoMessageBox::warning(this, tr("MsgPleaseConfirm"), tr("MsgExitOrNot"),
               QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel)
        == QMessageBox::Yes;
}

// Closing or reopening the link under a run would end its transfer halfway,
// leaving the device in its bootloader (and a run caught between two devices
// would end as if it had succeeded). The question waits for the event loop:
// the form settles its own state once its click has returned, and the
// refusal puts that state back.
void ZoTolMainWindow::stopRunFirst(std::function<void()> action, std::function<void()> refused)
{
    if (!m_engine->isUpgrading()) {
        action();
        return;
    }
    QTimer::singleShot(0, this, [this, action, refused] {
        if (confirmStopRun())
            action();
        else if (refused)
            refused();
    });
}

bool ZoTolMainWindow::confirmStopRun()
{
    // The run may have ended since the click.
    if (!m_engine->isUpgrading())
        return true;
    if (ZoMessageBox::warning(this, tr("MsgPleaseConfirm"), tr("MsgStopUpgradeOrNot"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        != QMessageBox::Yes)
        return false;
    // Nothing more is sent before the link changes; the device in flight
    // stays in its bootloader until a run flashes it again.
    m_engine->abortRun();
    m_controls->runAborted();
    return true;
}

void ZoTolMainWindow::on_btnCloseWnd_clicked()
{
    if (!confirmClose())
        return;
    m_engine->shutdown();
    // Asked once is enough: the close event that follows must not ask again.
    m_closing = true;
    close();
    m_closing = false;
}

void ZoTolMainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_closing && !confirmClose()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void ZoTolMainWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragging = true;
        m_dragOffset = event->globalPos() - pos();
    }
    QWidget::mousePressEvent(event);
}

void ZoTolMainWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton))
        move(event->globalPos() - m_dragOffset);
    QWidget::mouseMoveEvent(event);
}

void ZoTolMainWindow::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragging = false;
    QWidget::mouseReleaseEvent(event);
}

void ZoTolMainWindow::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    const QPixmap background(QStringLiteral(":/resource/titleBar.png"));
    if (background.isNull())
        painter.fillRect(rect(), QColor(0x1F, 0x23, 0x29));
    else
        painter.drawPixmap(rect(), background);
}
