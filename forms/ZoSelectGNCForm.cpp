#include "ZoSelectGNCForm.h"

#include "ZoFormBackground.h"
#include "ui_ZoSelectGNCForm.h"

#include "ZoUtils.h"

#include <QDebug>
#include <QListView>

namespace {

// The core families offered, in the order of the name box.
const tdu1 kFamilyCodes[] = {6, 9, 41, 33, 47, 23, 80};
const int kFamilyCount = int(sizeof(kFamilyCodes) / sizeof(kFamilyCodes[0]));

} // namespace

ZoSelectGNCForm::ZoSelectGNCForm(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ZoSelectGNCForm)
    , m_background(QStringLiteral(":/resource/selectgncbkg.png"))
{
    ui->setupUi(this);
    // Signal arguments by their alias names, for queued connections.
    qRegisterMetaType<tdu4>("tdu4");
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    ui->cmbGNCProtType->setView(new QListView(ui->cmbGNCProtType));
    ui->cmbGNCName->setView(new QListView(ui->cmbGNCName));
    for (int airframe = ZoUtils::AirframeMR; airframe <= ZoUtils::AirframeQP; ++airframe)
        ui->cmbGNCProtType->addItem(ZoUtils::airframeName(airframe));
    for (tdu1 code : kFamilyCodes) {
        int airframe = ZoUtils::AirframeNone;
        ui->cmbGNCName->addItem(ZoUtils::deviceName(code, airframe));
    }
}

ZoSelectGNCForm::~ZoSelectGNCForm()
{
    delete ui;
}

void ZoSelectGNCForm::on_btnAdd_clicked()
{
    const int airframeIndex = ui->cmbGNCProtType->currentIndex();
    const int airframe = airframeIndex >= 0 && airframeIndex < 3 ? airframeIndex + 1 : 0;
    const int nameIndex = ui->cmbGNCName->currentIndex();
    const tdu1 family = nameIndex >= 0 && nameIndex < kFamilyCount ? kFamilyCodes[nameIndex] : 0;
    const tdu4 devId = ZoUtils::firmwareIdFor(family, airframe);
    int ignored = ZoUtils::AirframeNone;
    qDebug().noquote() << "ZoSelectGNCForm::on_btnAdd_clicked() -"
                       << ZoUtils::deviceName(tdu1(devId), ignored);
    Q_EMIT sigSelectedGNC(devId);
    close();
}

void ZoSelectGNCForm::on_btnCancel_clicked()
{
    close();
}

void ZoSelectGNCForm::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    ZoFormBackground::paint(this, m_background);
}
