#include "ZoCoreFMHeaderForm.h"
#include "ui_ZoCoreFMHeaderForm.h"

#include "ZoUtils.h"

#include <QListView>

ZoCoreFMHeaderForm::ZoCoreFMHeaderForm(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ZoCoreFMHeaderForm)
{
    ui->setupUi(this);
    // Signal arguments by their alias names, for queued connections.
    qRegisterMetaType<tds4>("tds4");
    qRegisterMetaType<tdu1>("tdu1");
    ui->cmbProtType->setView(new QListView(ui->cmbProtType));
    ui->cmbBrisk2Type->setView(new QListView(ui->cmbBrisk2Type));
    // Nothing to choose until a core is known.
    ui->cmbProtType->setCurrentIndex(0);
    ui->cmbProtType->hide();
    ui->cmbProtType->setEnabled(false);
    ui->labelCoreType->clear();
    ui->cmbBrisk2Type->setCurrentIndex(0);
    ui->cmbBrisk2Type->hide();
}

ZoCoreFMHeaderForm::~ZoCoreFMHeaderForm()
{
    delete ui;
}

tds4 ZoCoreFMHeaderForm::protocolType() const
{
    return ZoUtils::protocolTypeOfIndex(m_protIndex);
}

void ZoCoreFMHeaderForm::setCore(const QString &name, const tVersion &version)
{
    m_version = version;
    ui->labelCoreType->setText(name);
    resetProtType(version.type);
    if (ZoUtils::isArno2(version.type)) {
        ui->cmbBrisk2Type->setCurrentIndex(0);
        ui->cmbBrisk2Type->show();
    } else {
        ui->cmbBrisk2Type->hide();
    }
}

void ZoCoreFMHeaderForm::resetProtType(tdu1 t)
{
    const int index = ZoUtils::coreProtocolIndex(t);
    if (index < 0) {
        ui->cmbProtType->hide();
        return;
    }
    m_protIndex = index;
    ui->cmbProtType->setCurrentIndex(index);
    ui->cmbProtType->show();
}

void ZoCoreFMHeaderForm::setBrisk2Type(tdu1 coreType, tdu1 type)
{
    if (!ZoUtils::isArno2(coreType)) {
        ui->cmbBrisk2Type->hide();
        return;
    }
    ui->cmbBrisk2Type->setCurrentIndex(type == 1 ? 1 : 0);
    ui->cmbBrisk2Type->show();
}

void ZoCoreFMHeaderForm::setEnabled(bool enabled)
{
    ui->cmbProtType->setEnabled(enabled);
    ui->cmbBrisk2Type->setEnabled(enabled);
}

void ZoCoreFMHeaderForm::on_cmbProtType_activated(int index)
{
    // An index outside the table (an emptied box) keeps the last valid one,
    // so protocolType() never answers 0.
    if (ZoUtils::protocolTypeOfIndex(index) == ZoUtils::AirframeNone)
        return;
    m_protIndex = index;
    Q_EMIT sigSelectGNCProtType(protocolType());
}

void ZoCoreFMHeaderForm::on_cmbBrisk2Type_activated(int index)
{
    Q_EMIT sigSelectBrisk2Type(index == 1 ? 1 : 0);
}
