#pragma once

#include <QWidget>

// The dark body of a frameless dialog. Its background comes from its style
// sheet, painted by the background filling its dialog switches on.
class ZoDialogWidget : public QWidget
{
    Q_OBJECT

public:
    ZoDialogWidget(unsigned shadowWidth, bool maximizeAllowed, QWidget *parent = nullptr);

    unsigned shadowWidth() const { return m_shadowWidth; }
    bool maximizeAllowed() const { return m_maximizeAllowed; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    unsigned m_shadowWidth;
    bool m_maximizeAllowed;
};
