#pragma once

#include <QString>
#include <QWidget>

#include <memory>

#include "ZoTypes.h"

namespace Ui {
class ZoListItemHeaderForm;
}
class ZoModuleUpgradeInfo;

// The always visible part of an upgrade-list row: the offer's title, the
// Upgrade/Stop button, the fold marker, and the download progress painted
// behind them.
class ZoListItemHeaderForm : public QWidget
{
    Q_OBJECT
public:
    explicit ZoListItemHeaderForm(QWidget *parent = nullptr);
    ~ZoListItemHeaderForm() override;

    void setIndex(tds4 index);
    tds4 index() const { return m_index; }
    void setLanguage(const QString &language) { m_language = language; }
    void setSelected(bool selected);
    bool isSelected() const { return m_isSelected; }
    // Title, button and, for a mandatory release, the upgrade's start.
    void setModule(const ZoModuleUpgradeInfo *module);
    // A negative value paints no progress.
    void setProgress(float progress);
    float progress() const { return m_progress; }
    bool isUpgrading() const { return m_isUpgrading; }
    tds4 projId() const { return m_projId; }

Q_SIGNALS:
    void sigSelectChanged(tds4 index, bool isSelected);
    void sigUpgrade(tds4 projId, const QString &upgradeUrl, bool isStartUpgrade);

public Q_SLOTS:
    void on_btnUpgrade_clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void toggleUpgrading();

    std::unique_ptr<Ui::ZoListItemHeaderForm> ui;
    tds4 m_index = -1;
    QString m_language;
    bool m_isSelected = false;
    tds4 m_projId = -1;
    QString m_upgradeUrl;
    float m_progress = -1.0f;
    bool m_isUpgrading = false;
};
