#pragma once

#include <QMargins>
#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;

// The blue bar of a frameless dialog: icon, title and minimize, maximize and
// close buttons. Installed as an event filter on the window it controls, it
// follows the window's title, icon and state.
class ZoTitleBar : public QWidget
{
    Q_OBJECT

public:
    ZoTitleBar(QWidget *parent, QWidget *window, QWidget *contentWidget, bool maximizeAllowed);

    void setMinimizeVisible(bool visible);
    void setMaximizeVisible(bool visible);

    QPushButton *minimizeButton() const { return m_minimizeButton; }
    QPushButton *maximizeButton() const { return m_maximizeButton; }
    QPushButton *closeButton() const { return m_closeButton; }
    QLabel *titleLabel() const { return m_titleLabel; }

signals:
    void ShowMaximized();
    void ShowNormal();
    void HeightChanged(int height);

public slots:
    void onClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateMaximize();
    void retranslate();

    QPointer<QWidget> m_window;
    QPointer<QWidget> m_content;
    bool m_maximizeAllowed;
    QMargins m_savedMargins {10, 10, 10, 10};
    QLabel *m_iconLabel;
    QLabel *m_titleLabel;
    QPushButton *m_minimizeButton;
    QPushButton *m_maximizeButton;
    QPushButton *m_closeButton;
};
