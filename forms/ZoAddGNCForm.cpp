#include "ZoAddGNCForm.h"
#include "ui_ZoAddGNCForm.h"

ZoAddGNCForm::ZoAddGNCForm(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ZoAddGNCForm)
{
    ui->setupUi(this);
}

ZoAddGNCForm::~ZoAddGNCForm()
{
    delete ui;
}

void ZoAddGNCForm::on_btnAddGNC_clicked()
{
    Q_EMIT sigSelectGNC();
}
