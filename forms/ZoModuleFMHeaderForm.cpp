#include "ZoModuleFMHeaderForm.h"
#include "ui_ZoModuleFMHeaderForm.h"

ZoModuleFMHeaderForm::ZoModuleFMHeaderForm(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ZoModuleFMHeaderForm)
{
    ui->setupUi(this);
}

ZoModuleFMHeaderForm::~ZoModuleFMHeaderForm()
{
    delete ui;
}
