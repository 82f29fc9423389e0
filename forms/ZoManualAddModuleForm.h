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

    // `count` silent optional modules folded away (0: none, the row says
    // only that a module may be added); `open`: they are shown.
    void setFolded(int count, bool open);

Q_SIGNALS:
    void sigSelecteModule();
    void sigFoldToggled();

private Q_SLOTS:
    void on_btnAddModule_clicked();

private:
    Ui::ZoManualAddModuleForm *ui;
};
