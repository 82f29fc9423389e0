#pragma once

#include <QWidget>

namespace Ui {
class ZoModuleFMHeaderForm;
}

// Column headings of the module section of the device list. Its columns line
// up with those of ZoModuleFMInfoForm.
class ZoModuleFMHeaderForm : public QWidget
{
    Q_OBJECT

public:
    explicit ZoModuleFMHeaderForm(QWidget *parent = nullptr);
    ~ZoModuleFMHeaderForm() override;

private:
    Ui::ZoModuleFMHeaderForm *ui;
};
