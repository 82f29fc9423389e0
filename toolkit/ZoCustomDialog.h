#pragma once

#include <QDialog>

class QVBoxLayout;
class ZoDialogWidget;
class ZoFramelessHelper;
class ZoTitleBar;

// A frameless, translucent dialog with the blue title bar on top and a
// content area below; callers put their widgets into contentLayout().
class ZoCustomDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ZoCustomDialog(
        bool maximizeAllowed = false, unsigned shadowWidth = 0, QWidget *parent = nullptr);

    unsigned shadowWidth() const { return m_shadowWidth; }
    ZoDialogWidget *dialogWidget() const { return m_dialogWidget; }
    ZoTitleBar *titleBar() const { return m_titleBar; }
    QWidget *contentWidget() const { return m_contentWidget; }
    QVBoxLayout *contentLayout() const { return m_contentLayout; }
    ZoFramelessHelper *framelessHelper() const { return m_framelessHelper; }

private:
    unsigned m_shadowWidth;
    ZoDialogWidget *m_dialogWidget;
    ZoTitleBar *m_titleBar;
    QWidget *m_contentWidget;
    QVBoxLayout *m_contentLayout;
    ZoFramelessHelper *m_framelessHelper;
};
