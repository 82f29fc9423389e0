#include "ZoModuleFMInfoForm.h"
#include "ui_ZoModuleFMInfoForm.h"

#include "ZoUtils.h"

#include <QPixmap>

namespace {

const QString kTargetStyle = QStringLiteral("QLabel{background-color:%1; border-radius:10px;}");
const QString kTipStyle = QStringLiteral("QLabel{color:%1;}");
const QString kRed = QStringLiteral("#FF3300");
const QString kGreen = QStringLiteral("#00CC66");

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
    ui->labelTarFMVersion->setStyleSheet(kTargetStyle.arg(canUpgrade ? kRed : kGreen));
    ui->labelTarFMVersion->setText(ZoUtils::versionText(tarVersion));
    ui->btnTarFMUpdateInfo->show();
    ui->widgetUpradePrg->hide();
    ui->labelUpgradTip->setStyleSheet(
        kTipStyle.arg(canUpgrade ? QStringLiteral("#F29932") : QStringLiteral("white")));
    ui->labelUpgradTip->setText(canUpgrade ? tr("LabCanUpgrade") : tr("LabUpgraded"));
    ui->labelUpgradTip->show();
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
    // The finished indicator stays in view even when no step was reported
    // between the first and the last block.
    ui->widgetUpradePrg->show();
    ui->labelUpgradTip->hide();
    ui->labelUpgradTip->setText(tr("LabUpgraded"));
    ui->labelTarFMVersion->setStyleSheet(kTargetStyle.arg(kGreen));
}

void ZoModuleFMInfoForm::setResult(bool ok)
{
    ui->widgetUpradePrg->setResult(ok);
    // A transfer that fails before its first block still has to show its
    // failure; the tip would otherwise keep offering the upgrade.
    ui->labelUpgradTip->hide();
    ui->widgetUpradePrg->show();
}

void ZoModuleFMInfoForm::on_btnTarFMUpdateInfo_clicked()
{
    Q_EMIT sigTarModFmVerInfo(m_info.tarVersion.type);
}
