#include "ZoModuleFMInfoForm.h"
#include "ui_ZoModuleFMInfoForm.h"

#include "ZoUtils.h"

#include <QPixmap>

namespace {

const QString kTargetStyle = QStringLiteral("QLabel{background-color:%1; border-radius:10px;}");
const QString kTipStyle = QStringLiteral("QLabel{color:%1;}");
const QString kRed = QStringLiteral("#FF3300");
const QString kGreen = QStringLiteral("#00CC66");
const QString kOffer = QStringLiteral("#F29932");
const QString kAmber = QStringLiteral("#FFCC00");
const QString kBlue = QStringLiteral("#33AAFF");
const QString kGrey = QStringLiteral("#A0A0A0");
// In the version column of a device that told none.
const QString kNoVersion = QStringLiteral("\u2014");

} // namespace

ZoModuleFMInfoForm::ZoModuleFMInfoForm(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ZoModuleFMInfoForm)
{
    ui->setupUi(this);
    // Signal arguments by their alias names, for queued connections.
    qRegisterMetaType<tdu4>("tdu4");
}

ZoModuleFMInfoForm::~ZoModuleFMInfoForm()
{
    delete ui;
}

void ZoModuleFMInfoForm::init(const ZoDevFMInfo &record)
{
    m_info = record;
    const QPixmap icon(record.icon);
    if (!icon.isNull()) {
        ui->labelModuleIcon->setPixmap(icon.scaled(
            ui->labelModuleIcon->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        ui->labelModuleIcon->show();
    } else {
        ui->labelModuleIcon->clear();
    }
    ui->labelModuelName->setText(record.name);
    ui->labelModuelVersion->setText(ZoUtils::versionText(record.curVersion));
    ui->labelTarFMVersion->clear();
    ui->btnTarFMUpdateInfo->hide();
    ui->labelUpgradTip->hide();
    ui->widgetUpradePrg->hide();
    m_canUpgrade = false;
    if (hasState())
        showState();
}

void ZoModuleFMInfoForm::reset()
{
    m_info.tarVersion.type = 0;
    m_info.releaseNote.clear();
    ui->labelTarFMVersion->setStyleSheet(QString());
    ui->labelTarFMVersion->clear();
    ui->btnTarFMUpdateInfo->hide();
    ui->widgetUpradePrg->hide();
    ui->labelUpgradTip->setStyleSheet(QString());
    ui->labelUpgradTip->clear();
    ui->labelUpgradTip->show();
    if (hasState())
        showState();
}

void ZoModuleFMInfoForm::setCurVersion(const tVersion &version)
{
    m_info.curVersion = version;
    ui->labelModuelVersion->setText(ZoUtils::versionText(version));
}

void ZoModuleFMInfoForm::setTarget(
    const tVersion &tarVersion, const QString &releaseNote, bool canUpgrade)
{
    m_info.tarVersion = tarVersion;
    m_info.releaseNote = releaseNote;
    m_canUpgrade = canUpgrade;
    showState();
}

void ZoModuleFMInfoForm::setProgressRange(int min, int max)
{
    ui->widgetUpradePrg->setRange(min, max);
}

void ZoModuleFMInfoForm::setProgress(int value)
{
    ui->widgetUpradePrg->setValue(value);
    if (value < ui->widgetUpradePrg->maximum()) {
        ui->widgetUpradePrg->setVisible(value != 0);
        ui->labelUpgradTip->setVisible(value == 0);
        return;
    }
    // The full indicator stays in view even when no step was reported
    // between the first and the last block. The last block sent is not an
    // upgrade yet: the target turns green only when the device confirms it.
    ui->widgetUpradePrg->show();
    ui->labelUpgradTip->hide();
}

void ZoModuleFMInfoForm::setResult(bool ok)
{
    ui->widgetUpradePrg->setResult(ok);
    // A transfer that fails before its first block still has to show its
    // failure; the tip would otherwise keep offering the upgrade.
    ui->labelUpgradTip->hide();
    ui->widgetUpradePrg->show();
}

void ZoModuleFMInfoForm::setConfirming()
{
    // The image is on board, but only the device's own answer makes it
    // upgraded: the target keeps its red until then.
    ui->widgetUpradePrg->hide();
    if (m_info.tarVersion.type != 0)
        ui->labelTarFMVersion->setStyleSheet(kTargetStyle.arg(kRed));
    showTip(tr("LabConfirming"), kBlue);
}

void ZoModuleFMInfoForm::setMissing(bool missing)
{
    if (m_missing == missing)
        return;
    m_missing = missing;
    showState();
}

void ZoModuleFMInfoForm::setPhase(ZoDevicePhase::Phase phase)
{
    switch (phase) {
    case ZoDevicePhase::Entering:
        return showTip(tr("LabPhaseEntering"), kBlue);
    case ZoDevicePhase::Erasing:
        return showTip(tr("LabPhaseErasing"), kBlue);
    case ZoDevicePhase::Programming:
        return;
    case ZoDevicePhase::Leaving:
    case ZoDevicePhase::Restarting:
        return showTip(tr("LabPhaseRestarting"), kBlue);
    case ZoDevicePhase::Confirming:
        return showTip(tr("LabConfirming"), kBlue);
    }
}

void ZoModuleFMInfoForm::setRecord(const ZoDevFMInfo &record, bool due)
{
    const bool changed = record.presence != m_info.presence || record.result != m_info.result
        || record.confirmedVersion.type != m_info.confirmedVersion.type
        || record.confirmedVersion != m_info.confirmedVersion;
    m_info.curVersion = record.curVersion;
    m_info.presence = record.presence;
    m_info.result = record.result;
    m_info.confirmedVersion = record.confirmedVersion;
    if (!changed) {
        ui->labelModuelVersion->setText(m_info.presence == ZoDevFMInfo::Presence::NotAnswering
                ? kNoVersion
                : ZoUtils::versionText(m_info.curVersion));
        return;
    }
    // A result cleared for the next run leaves the offer as it stands now,
    // not as it stood before the device was flashed.
    m_canUpgrade = due;
    showState();
}

bool ZoModuleFMInfoForm::hasState() const
{
    return m_info.result != ZoDevFMInfo::Result::None
        || m_info.presence != ZoDevFMInfo::Presence::Answering;
}

void ZoModuleFMInfoForm::showTip(const QString &text, const QString &colour)
{
    ui->labelUpgradTip->setStyleSheet(colour.isEmpty() ? QString() : kTipStyle.arg(colour));
    ui->labelUpgradTip->setText(text);
    ui->labelUpgradTip->show();
}

void ZoModuleFMInfoForm::showState()
{
    using Presence = ZoDevFMInfo::Presence;
    using Result = ZoDevFMInfo::Result;
    const bool silent = m_info.presence == Presence::NotAnswering;
    const Result result = m_info.result;
    ui->labelModuelVersion->setText(silent ? kNoVersion : ZoUtils::versionText(m_info.curVersion));

    // A device that does not answer cannot be flashed: nothing is offered.
    const bool offered = m_info.tarVersion.type != 0 && !silent;
    if (offered) {
        const bool current
            = result == Result::Upgraded || (result == Result::None && !m_canUpgrade);
        ui->labelTarFMVersion->setStyleSheet(kTargetStyle.arg(current ? kGreen : kRed));
        ui->labelTarFMVersion->setText(ZoUtils::versionText(m_info.tarVersion));
    } else {
        ui->labelTarFMVersion->setStyleSheet(QString());
        ui->labelTarFMVersion->clear();
    }
    ui->btnTarFMUpdateInfo->setVisible(offered);

    // The result picture beside the short texts; the longer ones take the
    // whole column.
    const bool picture = result == Result::Upgraded || result == Result::Failed;
    if (picture)
        ui->widgetUpradePrg->setResult(result == Result::Upgraded);
    ui->widgetUpradePrg->setVisible(picture);
    switch (result) {
    case Result::Upgraded:
        showTip(tr("LabUpgradeDone"), kGreen);
        break;
    case Result::NotConfirmed: {
        // What it answered after its transfer, type 0 when it did not.
        const tVersion &reported = m_info.confirmedVersion;
        const QString answer = reported.type != 0
            ? tr("LabReports") + QLatin1Char(' ') + ZoUtils::versionText(reported)
            : tr("LabNoAnswer");
        showTip(tr("LabNotConfirmed") + QLatin1Char('\n') + answer, kAmber);
        break;
    }
    case Result::Failed:
        showTip(tr("LabUpgradeFailed"), kRed);
        break;
    case Result::Interrupted:
        showTip(m_info.presence == Presence::InBootloader
                ? tr("LabInterrupted") + QLatin1Char('\n') + tr("LabInBootloader")
                : tr("LabInterrupted"),
            kRed);
        break;
    case Result::None:
        if (silent && m_missing)
            showTip(tr("LabMissing"), kRed);
        else if (silent)
            showTip(tr("LabNotAnswering"), kGrey);
        else if (m_info.presence == Presence::InBootloader)
            showTip(tr("LabInBootloader"), kAmber);
        else if (offered)
            showTip(m_canUpgrade ? tr("LabCanUpgrade") : tr("LabUpgraded"),
                m_canUpgrade ? kOffer : QStringLiteral("white"));
        else
            showTip(QString(), QString());
        break;
    }
}

void ZoModuleFMInfoForm::on_btnTarFMUpdateInfo_clicked()
{
    Q_EMIT sigTarModFmVerInfo(m_info.tarVersion.type);
}
