#include "ZoUpgradeListWidget.h"

#include "ZoListItemForm.h"
#include "ZoModuleUpgradeInfo.h"

#include <QDesktopServices>
#include <QLoggingCategory>
#include <QUrl>

Q_LOGGING_CATEGORY(lcHaldenList, "haldenupdate.list")

namespace {

const char kListStyle[]
    = "QListWidget{border:none;background:transparent;color:black;border-radius:3px;outline:0px;}"
      "QListWidget::item{background:transparent;border-bottom:1px solid rgba(0, 0, 0, 208);}"
      "QListWidget::item:alternate{background:transparent;}"
      "QListWidget::item:selected{background:transparent;color:white;}"
      "QListWidget::item:hover{background:transparent;}"
      "QLabel{color:white;}"
      "QLineEdit{color:white;}"
      "QSpinBox{color:black;background:white;border:1px solid black;}"
      "QDoubleSpinBox{color:black;background:white;border:1px solid black;}"
      "QRadioButton{color:black;}";

} // namespace

ZoUpgradeListWidget::ZoUpgradeListWidget(QWidget *parent)
    : QListWidget(parent)
{
    setStyleSheet(QLatin1String(kListStyle));
}

void ZoUpgradeListWidget::addModule(ZoModuleUpgradeInfo *module)
{
    auto *item = new QListWidgetItem(this); // owned by the list
    auto *row = new ZoListItemForm(item, this);
    row->setLanguage(m_language);
    m_rows.append(row);
    connect(row, &ZoListItemForm::sigSelectChanged, this, &ZoUpgradeListWidget::onSelectChanged);
    connect(row, &ZoListItemForm::sigUpgrade, this, &ZoUpgradeListWidget::onUpgrade);
    setItemWidget(item, row);
    row->setModule(module);
    row->setIndex(count() - 1);
}

ZoListItemForm *ZoUpgradeListWidget::rowAt(tds4 index) const
{
    return index >= 0 && index < m_rows.size() ? m_rows.at(index) : nullptr;
}

void ZoUpgradeListWidget::onSelectChanged(tds4 index, bool isSelected)
{
    if (index != m_currentIndex) {
        if (ZoListItemForm *previous = rowAt(m_currentIndex))
            previous->setExpanded(false);
        if (ZoListItemForm *row = rowAt(index))
            row->setExpanded(true);
        m_currentIndex = index;
    } else if (ZoListItemForm *row = rowAt(m_currentIndex)) {
        row->setExpanded(isSelected);
    }
}

void ZoUpgradeListWidget::onUpgrade(tds4 projId, const QString &upgradeUrl, bool isStartUpgrade)
{
    qCDebug(lcHaldenList) << "ZoUpgradeListWidget::onUpgrade" << projId << upgradeUrl
                          << isStartUpgrade;
    if (projId == -1) {
        Q_EMIT sigUpgradeGcs(isStartUpgrade);
        return;
    }
    const QUrl url(upgradeUrl);
    if (url.isValid())
        QDesktopServices::openUrl(url);
}

void ZoUpgradeListWidget::setProgress(tds4 projId, float value)
{
    for (ZoListItemForm *row : qAsConst(m_rows))
        if (row->projId() == projId)
            row->setProgress(value);
}
