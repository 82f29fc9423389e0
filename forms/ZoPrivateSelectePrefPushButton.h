#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class ZoPrivateSelectePrefPushButton;
}

// One device in the module selection grid: icon, name, a border and a check
// mark that tell whether it is the chosen one. Pressing it anywhere reports
// its grid index.
class ZoPrivateSelectePrefPushButton : public QWidget
{
    Q_OBJECT

public:
    explicit ZoPrivateSelectePrefPushButton(QWidget *parent = nullptr);
    ~ZoPrivateSelectePrefPushButton() override;

    // An icon path containing "_pressed" names the selected look of the
    // picture without that suffix and starts the button selected.
    void setup(int index, const QString &iconPath, const QString &name);
    void setSelected(bool on);

    int index() const { return m_index; }
    bool isSelected() const;
    QString iconStyle() const { return m_iconStyle; }

Q_SIGNALS:
    void sigbtnClicked(int index);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    QString fittedName(const QString &name);

    Ui::ZoPrivateSelectePrefPushButton *ui;
    int m_index = 0;
    QString m_iconStyle;
};
