#pragma once

#include "ZoDeviceKey.h"
#include "ZoTypes.h"

#include <QList>
#include <QPixmap>
#include <QWidget>

class ZoPrivateSelectePrefPushButton;

namespace Ui {
class ZoSelectModuleForm;
}

// Lets the user name a bus module by hand: one button per module the core
// may carry, in a three-column grid. Reports the chosen module: its type and,
// for a module addressed by node, which node.
class ZoSelectModuleForm : public QWidget
{
    Q_OBJECT

public:
    explicit ZoSelectModuleForm(QWidget *parent = nullptr);
    ~ZoSelectModuleForm() override;

    void setModules(const QList<ZoDeviceKey> &modules);

    // Null while nothing is selected.
    ZoDeviceKey selected() const { return m_selected; }
    // Grid buttons in the order of the modules given to setModules.
    QList<ZoPrivateSelectePrefPushButton *> buttons() const;

Q_SIGNALS:
    void sigSelectedModule(ZoDeviceKey module);

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
        ZoDeviceKey module;
        ZoPrivateSelectePrefPushButton *button = nullptr;
    };

    Ui::ZoSelectModuleForm *ui;
    QList<Entry> m_entries;
    ZoDeviceKey m_selected;
    QPixmap m_background;
};
