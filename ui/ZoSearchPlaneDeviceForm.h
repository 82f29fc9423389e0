#pragma once

#include <QPixmap>
#include <QWidget>

class ZoUpgradeWorkflow;

namespace Ui {
class ZoSearchPlaneDeviceForm;
}

// The panel shown over the main window while the aircraft is searched for:
// what is being tried, how far the search has come and a Cancel button. The
// search itself is the engine's; this only shows it.
class ZoSearchPlaneDeviceForm : public QWidget
{
    Q_OBJECT

public:
    explicit ZoSearchPlaneDeviceForm(ZoUpgradeWorkflow *engine, QWidget *parent = nullptr);
    ~ZoSearchPlaneDeviceForm() override;

    static constexpr int FormWidth = 410;
    static constexpr int FormHeight = 170;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private Q_SLOTS:
    void on_btnCancel_clicked();
    void onDescriptionChanged(const QString &textKey);
    void onProgressChanged(int value, int maximum);
    void onActiveChanged(bool active);

private:
    void showDescription();

    Ui::ZoSearchPlaneDeviceForm *ui;
    ZoUpgradeWorkflow *m_engine;
    QString m_descriptionKey;
    QPixmap m_background;
};
