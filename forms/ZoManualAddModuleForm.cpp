#include "ZoManualAddModuleForm.h"
#include "ui_ZoManualAddModuleForm.h"

ZoManualAddModuleForm::ZoManualAddModuleForm(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ZoManualAddModuleForm)
{
    ui->setupUi(this);
}

ZoManualAddModuleForm::~ZoManualAddModuleForm()
{
    delete ui;
}

void ZoManualAddModuleForm::on_btnAddModule_clicked()
{
    Q_EMIT sigSelecteModule();
}
