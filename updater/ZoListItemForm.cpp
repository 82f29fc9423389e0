#include "ZoListItemForm.h"
#include "ui_ZoListItemForm.h"

#include "ZoListItemBodyForm.h"
#include "ZoListItemHeaderForm.h"
#include "ZoModuleUpgradeInfo.h"

#include <QAbstractTextDocumentLayout>
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

    // The notes are shown whole, without a scroll bar of their own: the row
    // grows to the laid-out text's height at the width the row has.
    QTextBrowser *browser = ui->wgtBody->textBrowser();
    QTextDocument *document = browser->document();
    const int available = qMax(width(), HintWidth) - 2 * browser->frameWidth();
    document->setTextWidth(available);
    const int bodyHeight = qCeil(document->size().height()) + 2 * browser->frameWidth();
    browser->setFixedHeight(bodyHeight);
    ui->wgtBody->resize(ui->wgtBody->width(), bodyHeight);
    m_item->setSizeHint(
        QSize(HintWidth, expanded ? FoldedHeight + bodyHeight : FoldedHeight));
}

void ZoListItemForm::setProgress(float progress)
{
    ui->wgtHead->setProgress(progress);
}
