#pragma once

#include <QWidget>

#include <memory>

#include "ZoTypes.h"

namespace Ui {
class ZoListItemForm;
}
class QListWidgetItem;
class ZoListItemBodyForm;
class ZoListItemHeaderForm;
class ZoModuleUpgradeInfo;

// One row of the upgrade list: a header over a body that folds away.
class ZoListItemForm : public QWidget
{
    Q_OBJECT
public:
    static constexpr int FoldedHeight = 46;
    static constexpr int HintWidth = 100;

    explicit ZoListItemForm(QListWidgetItem *item, QWidget *parent = nullptr);
    ~ZoListItemForm() override;

    void setLanguage(const QString &language);
    void setIndex(tds4 index);
    tds4 index() const { return m_index; }
    void setModule(const ZoModuleUpgradeInfo *module);
    tds4 projId() const { return m_projId; }
    void setExpanded(bool expanded);
    bool isExpanded() const { return m_isExpanded; }
    void setProgress(float progress);

    ZoListItemHeaderForm *header() const;
    ZoListItemBodyForm *body() const;
    QListWidgetItem *listItem() const { return m_item; }

Q_SIGNALS:
    void sigSelectChanged(tds4 index, bool isSelected);
    void sigUpgrade(tds4 projId, const QString &upgradeUrl, bool isStartUpgrade);

private:
    std::unique_ptr<Ui::ZoListItemForm> ui;
    QListWidgetItem *m_item; // owned by the list
    tds4 m_index = -1;
    tds4 m_projId = -1;
    bool m_isExpanded = false;
};
