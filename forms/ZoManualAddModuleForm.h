#pragma once

#include <QWidget>

namespace Ui {
class ZoManualAddModuleForm;
}

// Row below the modules offering to add one that the search did not find.
class ZoManualAddModuleForm : public QWidget
{
    Q_OBJECT

public:
    explicit ZoManualAddModuleForm(QWidget *parent = nullptr);
    ~ZoManualAddModuleForm() override;

Q_SIGNALS:
    void sigSelecteModule();

private Q_SLOTS:
    void on_btnAddModule_clicked();

private:
    Ui::ZoManualAddModuleForm *ui;
};
