#pragma once

#include <QWidget>

namespace Ui {
class ZoAddGNCForm;
}

// Banner shown when no flight controller answered, offering to name one by
// hand.
class ZoAddGNCForm : public QWidget
{
    Q_OBJECT

public:
    explicit ZoAddGNCForm(QWidget *parent = nullptr);
    ~ZoAddGNCForm() override;

Q_SIGNALS:
    void sigSelectGNC();

private Q_SLOTS:
    void on_btnAddGNC_clicked();

private:
    Ui::ZoAddGNCForm *ui;
};
