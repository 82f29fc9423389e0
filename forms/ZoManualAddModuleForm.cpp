#include "ZoManualAddModuleForm.h"
#include "ui_ZoManualAddModuleForm.h"

ZoManualAddModuleForm::ZoManualAddModuleForm(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ZoManualAddModuleForm)
{
    ui->setupUi(this);
    connect(ui->btnFold, &QPushButton::clicked, this, &ZoManualAddModuleForm::sigFoldToggled);
}

void ZoManualAddModuleForm::setFolded(int count, bool open)
{
    ui->btnFold->setVisible(count > 0);
    ui->labelNotFoundTip->setVisible(count == 0);
    ui->btnFold->setText((open ? QStringLiteral("▾ ") : QStringLiteral("▸ "))
        + tr("MsgOptionalSilent", nullptr, count));
}

ZoManualAddModuleForm::~ZoManualAddModuleForm()
{
    delete ui;
}

void ZoManualAddModuleForm::on_btnAddModule_clicked()
{
    Q_EMIT sigSelecteModule();
}
