#pragma once

#include <QList>
#include <QListWidget>
#include <QString>

#include "ZoTypes.h"

class ZoListItemForm;
class ZoModuleUpgradeInfo;

// The updater's list of offers, one foldable row each; at most one row is
// expanded at a time.
class ZoUpgradeListWidget : public QListWidget
{
    Q_OBJECT
public:
    explicit ZoUpgradeListWidget(QWidget *parent = nullptr);

    void addModule(ZoModuleUpgradeInfo *module);
    void setProgress(tds4 projId, float value);
    void setLanguage(const QString &language) { m_language = language; }

    tds4 currentExpandedIndex() const { return m_currentIndex; }
    QList<ZoListItemForm *> rows() const { return m_rows; }

Q_SIGNALS:
    void sigUpgradeGcs(bool isStartUpgrade);

public Q_SLOTS:
    void onSelectChanged(tds4 index, bool isSelected);
    void onUpgrade(tds4 projId, const QString &upgradeUrl, bool isStartUpgrade);

private:
    ZoListItemForm *rowAt(tds4 index) const;

    tds4 m_currentIndex = -1;
    QString m_language;
    QList<ZoListItemForm *> m_rows; // children of the list
};
