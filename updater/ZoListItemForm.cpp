#include "ZoListItemForm.h"
#include "ui_ZoListItemForm.h"

#include "ZoListItemBodyForm.h"
#include "ZoListItemHeaderForm.h"
#include "ZoModuleUpgradeInfo.h"

#include <QListWidgetItem>
#include <QTextBrowser>
#include <QTextDocument>
#include <QtMath>

ZoListItemForm::ZoListItemForm(QListWidgetItem *item, QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ZoListItemForm>())
    , m_item(item)
{
    ui->setupUi(this);
    connect(ui->wgtHead, &ZoListItemHeaderForm::sigSelectChanged, this,
        &ZoListItemForm::sigSelectChanged);
    connect(ui->wgtHead, &ZoListItemHeaderForm::sigUpgrade, this, &ZoListItemForm::sigUpgrade);
    ui->wgtBody->hide();
    ui->wgtBody->textBrowser()->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->wgtBody->textBrowser()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_item->setSizeHint(QSize(HintWidth, FoldedHeight));
}

ZoListItemForm::~ZoListItemForm() = default;

ZoListItemHeaderForm *ZoListItemForm::header() const
{
    return ui->wgtHead;
}

ZoListItemBodyForm *ZoListItemForm::body() const
{
    return ui->wgtBody;
}

void ZoListItemForm::setLanguage(const QString &language)
{
    ui->wgtHead->setLanguage(language);
    ui->wgtBody->setLanguage(language);
}

void ZoListItemForm::setIndex(tds4 index)
{
    m_index = index;
    ui->wgtHead->setIndex(index);
    ui->wgtBody->setIndex(index);
}

void ZoListItemForm::setModule(const ZoModuleUpgradeInfo *module)
{
    m_projId = module->projId;
    ui->wgtBody->setModule(module);
    ui->wgtHead->setModule(module);
}

void ZoListItemForm::setExpanded(bool expanded)
{
    m_isExpanded = expanded;
    ui->wgtHead->setSelected(expanded);
    ui->wgtBody->setVisible(expanded);

    // The notes are shown whole, without scroll bars of their own: the row
    // grows to the height the text takes at the width the row has, measured
    // on a copy laid out as the browser will lay it out.
    QTextBrowser *browser = ui->wgtBody->textBrowser();
    browser->ensurePolished();
    const int frame = 2 * browser->frameWidth();
    QTextDocument measure;
    measure.setDefaultFont(browser->font());
    measure.setDocumentMargin(browser->document()->documentMargin());
    measure.setPlainText(browser->toPlainText());
    measure.setTextWidth(qMax(width(), HintWidth) - frame);
    const int bodyHeight = qMax(FoldedHeight, qCeil(measure.size().height()) + frame);
    browser->setFixedHeight(bodyHeight);
    ui->wgtBody->resize(ui->wgtBody->width(), bodyHeight);
    m_item->setSizeHint(
        QSize(HintWidth, expanded ? FoldedHeight + bodyHeight : FoldedHeight));
}

void ZoListItemForm::setProgress(float progress)
{
    ui->wgtHead->setProgress(progress);
}
