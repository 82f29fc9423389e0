#pragma once

#include "ZoTypes.h"

#include <QPixmap>
#include <QWidget>

namespace Ui {
class ZoSelectGNCForm;
}

// Lets the user name the flight controller by hand when the search found
// none: a core family and an airframe variant, which together give the
// firmware id to fetch.
class ZoSelectGNCForm : public QWidget
{
    Q_OBJECT

public:
    explicit ZoSelectGNCForm(QWidget *parent = nullptr);
    ~ZoSelectGNCForm() override;

Q_SIGNALS:
    void sigSelectedGNC(tdu4 devId);

private Q_SLOTS:
    void on_btnAdd_clicked();
    void on_btnCancel_clicked();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Ui::ZoSelectGNCForm *ui;
    QPixmap m_background;
};
