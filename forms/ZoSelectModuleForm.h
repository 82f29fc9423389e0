#pragma once

#include "ZoTypes.h"

#include <QList>
#include <QPixmap>
#include <QWidget>

class ZoPrivateSelectePrefPushButton;

namespace Ui {
class ZoSelectModuleForm;
}

// Lets the user name a bus module by hand: one button per module the core
// may carry, in a three-column grid. Reports the chosen module's type code.
class ZoSelectModuleForm : public QWidget
{
    Q_OBJECT

public:
    explicit ZoSelectModuleForm(QWidget *parent = nullptr);
    ~ZoSelectModuleForm() override;

    // ids as the catalogue lists them: node id in bits 16 to 23, type code
    // in the low byte.
    void setModules(QList<int> ids);

    tdu1 selectedId() const { return m_selectedId; }
    // Grid buttons in the order of the ids given to setModules.
    QList<ZoPrivateSelectePrefPushButton *> buttons() const;

Q_SIGNALS:
    void sigSelectedModule(tdu1 devId);

public Q_SLOTS:
    // An index that matches no button selects nothing.
    void onModuleIconClicked(int index);

private Q_SLOTS:
    void on_btnAddMod_clicked();
    void on_btnCancel_clicked();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Entry
    {
        int id = 0;
        ZoPrivateSelectePrefPushButton *button = nullptr;
    };

    Ui::ZoSelectModuleForm *ui;
    QList<Entry> m_entries;
    tdu1 m_selectedId = 0;
    QPixmap m_background;
};
