#include "ZoListItemHeaderForm.h"
#include "ui_ZoListItemHeaderForm.h"

#include "ZoApplicationUpgradeInfo.h"
#include "ZoModuleUpgradeInfo.h"

#include <QPainter>
#include <QStyleOption>

namespace {

const char kNotSelectedStyle[] = "QWidget{background: rgb(255, 255, 255);border-radius:0px;}"
                                 "QLabel{background: transparent; color: black; font:bold;}";
const char kSelectedStyle[] = "QWidget{background-color: rgb(255, 255, 255);border-radius:0px;}"
                              "QLabel{background-color: transparent; color: black;font:bold;}";
const char kFoldedMarker[] = "QLabel{background-image: url(:/resource/fold.png);"
                             "background-position: center;background-repeat: no-repeat;}";
const char kExpandedMarker[] = "QLabel{background-image: url(:/resource/unfold.png);"
                               "background-position: center;background-repeat: no-repeat;}";
const char kButtonStyle[]
    = "QPushButton {background:rgb(0, 157, 254);color: #FFFFFF;border-radius: 3px;}"
      "QPushButton:hover {background:#0057A9;color: #FFFFFF;}"
      "QPushButton:pressed {background:rgb(0,87,169);color: #FFFFFF;}"
      "QPushButton:disabled {background:#999999;color: #cccccc;}";

} // namespace

ZoListItemHeaderForm::ZoListItemHeaderForm(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ZoListItemHeaderForm>())
{
    ui->setupUi(this);
    ui->btnUpgrade->setStyleSheet(QLatin1String(kButtonStyle));
    ui->labExpand->setStyleSheet(QLatin1String(kFoldedMarker));
}

ZoListItemHeaderForm::~ZoListItemHeaderForm() = default;

void ZoListItemHeaderForm::setIndex(tds4 index)
{
    m_index = index;
    setStyleSheet(QLatin1String(kNotSelectedStyle));
}

void ZoListItemHeaderForm::setSelected(bool selected)
{
    m_isSelected = selected;
    setStyleSheet(QLatin1String(selected ? kSelectedStyle : kNotSelectedStyle));
    ui->labExpand->setStyleSheet(QLatin1String(selected ? kExpandedMarker : kFoldedMarker));
}

void ZoListItemHeaderForm::setModule(const ZoModuleUpgradeInfo *module)
{
    ui->labName->setText(module->title);
    ui->btnUpgrade->setText(module->projId == -1 ? tr("BtnStartUpgrade") : tr("BtnUpgradePage"));
    m_projId = module->projId;
    m_upgradeUrl = module->upgradeUrl;
    m_progress = -1.0f;
    for (const ZoApplicationUpgradeInfo *app : module->applications) {
        if (!app->isUpgradeAvailable)
            continue;
        if (app->isMandatory) {
            // Nobody may refuse or stop a mandatory release: it starts by
            // itself and the row offers no button.
            ui->btnUpgrade->hide();
            if (!m_isUpgrading)
                toggleUpgrading();
        } else {
            ui->btnUpgrade->show();
        }
    }
}

void ZoListItemHeaderForm::setProgress(float progress)
{
    m_progress = progress;
    update();
}

void ZoListItemHeaderForm::on_btnUpgrade_clicked()
{
    toggleUpgrading();
}

void ZoListItemHeaderForm::toggleUpgrading()
{
    m_isUpgrading = !m_isUpgrading;
    if (m_projId == -1)
        ui->btnUpgrade->setText(m_isUpgrading ? tr("BtnStopUpgrade") : tr("BtnStartUpgrade"));
    Q_EMIT sigUpgrade(m_projId, m_upgradeUrl, m_isUpgrading);
}

void ZoListItemHeaderForm::mousePressEvent(QMouseEvent *event)
{
    QWidget::mousePressEvent(event);
    Q_EMIT sigSelectChanged(m_index, !m_isSelected);
}

void ZoListItemHeaderForm::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    // Not a number fails this test too, so a report without a usable total
    // paints nothing.
    if (!(m_progress >= 0.0f))
        return;
    const float shown = qMin(m_progress, 1.0f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 157, 254));
    painter.drawRect(QRectF(0, 0, width() * double(shown), height()));
    painter.setPen(Qt::black);
    painter.drawText(rect(), Qt::AlignHCenter | Qt::AlignTop,
        QStringLiteral("%1%").arg(double(m_progress) * 100.0, 0, 'f', 1));
}
